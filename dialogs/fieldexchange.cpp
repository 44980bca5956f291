#include "fieldexchange.h"

#include "numbertext.h"
#include "windowservices.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <limits>

namespace {

// A field shows its text from the first character: setText leaves the cursor, and so the visible
// part of a long number, at the end. A text wider than its field is whole in the tooltip.
void ShowText(QLineEdit* field, const QString& text)
{
    constexpr int kTextMargins = 8; // the frame and the edit's own margins
    field->setText(text);
    field->setCursorPosition(0);
    const bool fits = field->fontMetrics().horizontalAdvance(text) + kTextMargins <= field->width();
    field->setToolTip(fits ? QString() : text);
}

QString FieldText(double value) { return QString::fromStdString(FormatFieldNumber(value)); }

} // namespace

CFieldExchange::CFieldExchange(QWidget* dialog, CWindowServices& services, Direction direction)
    : m_dialog(dialog)
    , m_services(services)
    , m_direction(direction)
{
}

bool CFieldExchange::Fail(QWidget* field, const QString& message)
{
    m_bFailed = true;
    m_services.ShowMessage(
        m_dialog, message, QStringLiteral("Glimmerset"), MessageIcon::Exclamation, MessageButtons::Ok);
    if (field) {
        field->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(field)) {
            edit->selectAll();
        }
    }
    return false;
}

bool CFieldExchange::Text(QPlainTextEdit* field, QString& value)
{
    if (m_bFailed) {
        return false;
    }
    if (m_direction == Direction::Write) {
        field->setPlainText(value);
    } else {
        value = field->toPlainText();
    }
    return true;
}

bool CFieldExchange::Integer(QLineEdit* field, int& value, int minimum, int maximum)
{
    if (m_bFailed) {
        return false;
    }
    if (m_direction == Direction::Write) {
        ShowText(field, QString::number(value));
        return true;
    }
    int parsed = 0;
    if (!ParseFieldInteger(field->text().toStdString(), parsed)) {
        return Fail(field, QString::fromLatin1(kEnterInteger));
    }
    if (parsed < minimum || parsed > maximum) {
        return Fail(field, QString::fromLatin1(kEnterIntegerBetween).arg(minimum).arg(maximum));
    }
    value = parsed;
    return true;
}

bool CFieldExchange::Number(QLineEdit* field, double& value)
{
    return Number(
        field, value, -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity());
}

bool CFieldExchange::Number(QLineEdit* field, double& value, double minimum, double maximum)
{
    if (m_bFailed) {
        return false;
    }
    if (m_direction == Direction::Write) {
        ShowText(field, FieldText(value));
        return true;
    }
    double parsed = 0;
    if (!ParseFieldNumber(field->text().toStdString(), parsed)) {
        return Fail(field, QString::fromLatin1(kEnterNumber));
    }
    if (!(parsed >= minimum && parsed <= maximum)) {
        return Fail(
            field, QString::fromLatin1(kEnterNumberBetween).arg(FieldText(minimum), FieldText(maximum)));
    }
    value = parsed;
    return true;
}

bool CFieldExchange::Check(QCheckBox* field, int& value)
{
    if (m_bFailed) {
        return false;
    }
    if (m_direction == Direction::Write) {
        field->setChecked(value != 0);
    } else {
        value = field->isChecked() ? 1 : 0;
    }
    return true;
}
