#include "fieldexchange.h"

#include "windowservices.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>

#include <charconv>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace {

constexpr int kNumberPrecision = 15;

// A field shows its text from the first character: setText leaves the cursor, and so the visible
// part of a long number, at the end.
void ShowText(QLineEdit* field, const QString& text)
{
    field->setText(text);
    field->setCursorPosition(0);
}

locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

} // namespace

CFieldExchange::CFieldExchange(QWidget* dialog, CWindowServices& services, Direction direction)
    : m_dialog(dialog)
    , m_services(services)
    , m_direction(direction)
{
}

QString CFieldExchange::FormatNumber(double value)
{
    // "%.*g" with precision 15, in the C locale whatever the process's, keeping the sign of a zero.
    char text[64];
    const auto result
        = std::to_chars(text, text + sizeof text, value, std::chars_format::general, kNumberPrecision);
    return QString::fromLatin1(text, result.ptr - text);
}

bool CFieldExchange::ParseInteger(const QString& text, int& value)
{
    // Blanks and tabs around the digits, nothing else; a zero starts with the digit 0.
    static const QRegularExpression pattern(QStringLiteral("^[ \\t]*([+-]?)([0-9]+)[ \\t]*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return false;
    }
    bool ok = false;
    const qlonglong parsed = (match.captured(1) + match.captured(2)).toLongLong(&ok);
    if (!ok || parsed < std::numeric_limits<int>::min() || parsed > std::numeric_limits<int>::max()) {
        return false;
    }
    if (parsed == 0 && !match.captured(1).isEmpty()) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool CFieldExchange::ParseNumber(const QString& text, double& value)
{
    // A decimal number at the start (after blanks); whatever follows it is ignored.
    static const QRegularExpression pattern(
        QStringLiteral("^[ \\t]*[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return false;
    }
    const QByteArray number = match.captured(0).toLatin1();
    value = strtod_l(number.constData(), nullptr, CLocale());
    return true;
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
    if (!ParseInteger(field->text(), parsed)) {
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
        ShowText(field, FormatNumber(value));
        return true;
    }
    double parsed = 0;
    if (!ParseNumber(field->text(), parsed)) {
        return Fail(field, QString::fromLatin1(kEnterNumber));
    }
    if (!(parsed >= minimum && parsed <= maximum)) {
        return Fail(field,
            QString::fromLatin1(kEnterNumberBetween).arg(FormatNumber(minimum), FormatNumber(maximum)));
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
