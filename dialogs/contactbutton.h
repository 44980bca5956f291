#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QUrl>

// The About box's contact button: a static picture from the resources that moves one pixel right
// and down while the mouse is over it. Clicking it is the caller's business (clicked()).
class CContactButton : public QAbstractButton {
public:
    explicit CContactButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QPixmap m_picture;
    bool m_bHover { false };
};

// The project's contact page, as the build defines it once.
QUrl ContactUrl();
