#include "statusline.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QStatusBar>
#include <QToolTip>

#include <algorithm>
#include <functional>

namespace {

// The window's texts of the status line (translated in the window's context, where the window's own
// status texts are).
QString Tr(const char* text) { return QCoreApplication::translate("CFractalDlg", text); }
const char* const kCopied = QT_TRANSLATE_NOOP("CFractalDlg", "已复制：");
const char* const kCoordinate = QT_TRANSLATE_NOOP("CFractalDlg", "坐标 %1, %2");
const char* const kWidth = QT_TRANSLATE_NOOP("CFractalDlg", "宽度 %1");
const char* const kScale = QT_TRANSLATE_NOOP("CFractalDlg", "缩放 %1");
const char* const kRendering = QT_TRANSLATE_NOOP("CFractalDlg", "渲染中 %1/%2");
const char* const kPreviewTime = QT_TRANSLATE_NOOP("CFractalDlg", "预览用时 %1 秒");
const char* const kDeepZoom = QT_TRANSLATE_NOOP("CFractalDlg", "深度缩放");

constexpr int kCoordinateDigits = 10; // significant digits of a coordinate, at most
constexpr int kWidthDigits = 6;       // of the width and the scale
constexpr int kFewestDigits = 2;
constexpr int kFieldPadding = 8; // around a field's text, in pixels
constexpr int kBarAbove = 3;     // QStatusBar's space above its fields
constexpr int kBarBelow = 2;
constexpr int kFieldGap = 6;     // between fields and at the line's ends, as the status bar lays them
constexpr int kTooltipLine = 64; // characters of a long number per tooltip line

// The numbers the fields are made for: coordinates at depth ("-0.7436438870…"), widths and scales of
// views far below the doubles' range. Longer ones show fewer digits.
const QString kLongCoordinate = QStringLiteral(u"-0.1234567890…");
const QString kLongWidth = QStringLiteral(u"2.5e-1000");
const QString kLongScale = QStringLiteral(u"9.766e-1004");

QString WidthText(const QString& width, const QString& ratio)
{
    QString text = Tr(kWidth).arg(width);
    if (!ratio.isEmpty()) {
        text += QStringLiteral("  ") + Tr(kScale).arg(ratio);
    }
    return text;
}

// A text that fits room: the first of the shapes tried from the most digits to the fewest, else the
// last one elided.
QString Fitting(const QFontMetrics& metrics, int room, int most, const std::function<QString(int)>& shape)
{
    for (int digits = most; digits > kFewestDigits; --digits) {
        const QString text = shape(digits);
        if (metrics.horizontalAdvance(text) <= room) {
            return text;
        }
    }
    return metrics.elidedText(shape(kFewestDigits), Qt::ElideRight, room);
}

// Long numbers broken into lines, so that a tooltip stays on the screen.
QString Wrapped(const QString& text)
{
    QString out;
    qsizetype run = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char(' ')) {
            run = 0;
        } else if (++run > kTooltipLine) {
            out += QLatin1Char('\n');
            run = 1;
        }
        out += c;
    }
    return out;
}

} // namespace

CStatusField::CStatusField(Click click, QWidget* parent)
    : QLabel(parent)
    , m_click(click)
{
    setTextFormat(Qt::PlainText);
}

void CStatusField::SetTexts(const QString& text, const QString& full)
{
    if (text != this->text()) {
        setText(text);
    }
    if (full != m_strFull) {
        m_strFull = full;
        setToolTip(Wrapped(full));
    }
}

int CStatusField::Room() const
{
    // A fixed field has its width before any layout has placed it.
    const int width = maximumWidth() < QWIDGETSIZE_MAX ? maximumWidth() : this->width();
    const QMargins m = contentsMargins();
    return std::max(0, width - m.left() - m.right() - 2 * margin());
}

void CStatusField::mousePressEvent(QMouseEvent* event)
{
    if (m_strFull.isEmpty() || event->button() != Qt::LeftButton) {
        return QLabel::mousePressEvent(event);
    }
    QString shown = toolTip();
    if (m_click == Click::Copy) {
        QApplication::clipboard()->setText(m_strFull);
        shown = Tr(kCopied) + QLatin1Char('\n') + shown;
    }
    QToolTip::showText(event->globalPosition().toPoint(), shown, this);
}

CStatusLine::CStatusLine(QStatusBar* bar, int width)
    : m_coordinate(new CStatusField(CStatusField::Click::Copy, bar))
    , m_width(new CStatusField(CStatusField::Click::Copy, bar))
    , m_state(new CStatusField(CStatusField::Click::Show, bar))
    , m_deep(new CStatusField(CStatusField::Click::Show, bar))
{
    // Each field as wide as its longest text in this language; the deep summary takes what is left,
    // and the coordinates give way when the language's texts are wider than the line.
    const QFontMetrics metrics(bar->font());
    const auto need
        = [&metrics](const QString& text) { return metrics.horizontalAdvance(text) + kFieldPadding; };
    const int state = std::max(need(Tr(kRendering).arg(37).arg(37)), need(Tr(kPreviewTime).arg(99.99)));
    const int widthField = need(WidthText(kLongWidth, kLongScale));
    const int deepLeast = need(Tr(kDeepZoom) + QStringLiteral(u"…"));
    const int spacing = 4 * kFieldGap + 2 * kFieldPadding;
    const int coordinate = std::min(need(Tr(kCoordinate).arg(kLongCoordinate, kLongCoordinate)),
        width - spacing - widthField - state - deepLeast);
    m_coordinate->setFixedWidth(
        std::max(coordinate, need(Tr(kCoordinate).arg(QStringLiteral("0"), QStringLiteral("0")))));
    m_width->setFixedWidth(widthField);
    m_state->setFixedWidth(state);
    m_deep->setMinimumWidth(0);
    m_deep->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(m_coordinate);
    bar->addWidget(m_width);
    bar->addWidget(m_state);
    bar->addWidget(m_deep, 1);
    // As tall as a line of text from the start (Chinese glyphs come from a font of their own): a text
    // arriving later never changes the window's size.
    m_deep->setText(Tr(kDeepZoom) + QStringLiteral("Wg"));
    const int height = std::max(m_deep->sizeHint().height(), metrics.height());
    m_deep->clear();
    for (CStatusField* field : { m_coordinate, m_width, m_state, m_deep }) {
        field->setFixedHeight(height);
    }
    bar->setFixedHeight(height + kBarAbove + kBarBelow);
}

QString CStatusLine::ShortNumber(const QString& number, int digits)
{
    const qsizetype e = number.indexOf(QLatin1Char('e'), 0, Qt::CaseInsensitive);
    const QString mantissa = e < 0 ? number : number.left(e);
    const QString exponent = e < 0 ? QString() : number.mid(e);
    QString kept;
    int significant = 0;
    bool point = false;
    bool cut = false;
    for (const QChar c : mantissa) {
        if (c == QLatin1Char('.')) {
            point = true;
        } else if (c.isDigit()) {
            // Digits before the point always stay: cutting them would change the number's size.
            if (significant > 0 || c != QLatin1Char('0')) {
                ++significant;
            }
            if (point && significant > digits) {
                cut = cut || c != QLatin1Char('0');
                continue;
            }
        }
        kept += c;
    }
    if (kept.contains(QLatin1Char('.'))) {
        while (kept.endsWith(QLatin1Char('0'))) {
            kept.chop(1);
        }
        if (kept.endsWith(QLatin1Char('.'))) {
            kept.chop(1);
        }
    }
    return kept + (cut ? QStringLiteral(u"…") : QString()) + exponent;
}

void CStatusLine::SetCoordinate(const QString& x, const QString& y)
{
    if (x.isEmpty()) {
        m_coordinate->SetTexts({}, {});
        return;
    }
    const QString text = Fitting(m_coordinate->fontMetrics(), m_coordinate->Room(), kCoordinateDigits,
        [&](int digits) { return Tr(kCoordinate).arg(ShortNumber(x, digits), ShortNumber(y, digits)); });
    m_coordinate->SetTexts(text, x + QStringLiteral(", ") + y);
}

void CStatusLine::SetWidth(const QString& width, const QString& ratio, const QString& tooltip)
{
    const QString text = Fitting(m_width->fontMetrics(), m_width->Room(), kWidthDigits, [&](int digits) {
        return WidthText(
            ShortNumber(width, digits), ratio.isEmpty() ? QString() : ShortNumber(ratio, digits));
    });
    m_width->SetTexts(text, tooltip);
}

void CStatusLine::SetState(const QString& text)
{
    m_state->SetTexts(m_state->fontMetrics().elidedText(text, Qt::ElideRight, m_state->Room()), {});
}

void CStatusLine::SetDeepSummary(const QString& text, const QString& compact)
{
    const QFontMetrics metrics = m_deep->fontMetrics();
    const int room = m_deep->Room();
    QString shown = text;
    if (metrics.horizontalAdvance(text) > room && !compact.isEmpty()
        && metrics.horizontalAdvance(compact) <= room) {
        shown = compact;
    } else if (metrics.horizontalAdvance(text) > room) {
        shown = metrics.elidedText(Tr(kDeepZoom) + QStringLiteral(u"…"), Qt::ElideRight, room);
    }
    m_deep->SetTexts(shown, text);
}
