#include "contactbutton.h"

#include <QCoreApplication>
#include <QPainter>

CContactButton::CContactButton(QWidget* parent)
    : QAbstractButton(parent)
    , m_picture(QStringLiteral(":/glimmerset/contact.png"))
{
    setCursor(Qt::PointingHandCursor);
    setToolTip(QCoreApplication::translate("CContactButton", "联系我们（在浏览器中打开）"));
    setAccessibleName(QCoreApplication::translate("CContactButton", "联系我们"));
}

// One pixel more each way than the picture, room for the shift.
QSize CContactButton::sizeHint() const { return m_picture.deviceIndependentSize().toSize() + QSize(1, 1); }

void CContactButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(m_bHover ? QPoint(1, 1) : QPoint(0, 0), m_picture);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CContactButton::enterEvent(QEnterEvent* event)
{
    m_bHover = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CContactButton::leaveEvent(QEvent* event)
{
    m_bHover = false;
    update();
    QAbstractButton::leaveEvent(event);
}

QUrl ContactUrl() { return QUrl(QStringLiteral(GLIMMERSET_CONTACT_URL)); }
