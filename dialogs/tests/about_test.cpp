// The About box's contact button: its picture moves one pixel while the mouse is over it, and a click
// asks the services (never a browser in a test) for the one contact page.
#include "aboutdlg.h"
#include "contactbutton.h"
#include "fakeservices.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

namespace {

QImage Grab(QWidget& widget) { return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32); }

} // namespace

TEST(AboutBox, ContactButtonShiftsOnHoverAndOpensTheContactPage)
{
    CFakeServices services;
    CAboutDlg about(services);
    about.show();
    CContactButton* button = about.ContactButton();
    ASSERT_NE(button, nullptr);
    const QImage picture(QStringLiteral(":/glimmerset/contact.png"));
    ASSERT_FALSE(picture.isNull()) << "the picture is a resource of the program";
    EXPECT_EQ(button->sizeHint(), picture.size() + QSize(1, 1));

    const QImage still = Grab(*button);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(button, &enter);
    const QImage hovered = Grab(*button);
    const QPoint inside(picture.width() / 2, picture.height() / 2);
    EXPECT_NE(still, hovered);
    EXPECT_EQ(hovered.pixel(inside + QPoint(1, 1)), still.pixel(inside)) << "one pixel right and down";
    EXPECT_EQ(hovered.copy(1, 1, picture.width(), picture.height()),
        still.copy(0, 0, picture.width(), picture.height()));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_EQ(Grab(*button), still);

    EXPECT_TRUE(services.opened.empty()) << "nothing is opened without a click";
    const QPointF at(inside);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &press);
    QApplication::sendEvent(button, &release);
    ASSERT_EQ(services.opened.size(), 1u);
    EXPECT_EQ(services.opened.front(), ContactUrl());
    EXPECT_EQ(ContactUrl().scheme(), QStringLiteral("https"));
}
