// The large view and the constant map: windows of their own beside the main window, with their own
// workers, sharing the main window's keys, gestures and undo.
#include "constantmapwindow.h"
#include "largeview.h"
#include "statusline.h"
#include "testwindow.h"

#include <QTest>

namespace {

using namespace testwindow;

// A view's worker has handed over its last pass and the view has taken it.
bool WaitForFinished(CPreviewWorker& worker)
{
    const bool done
        = WaitUntil([&] { return worker.m_dProgress.load() == 1.0 && !worker.m_bRefreshRequest.load(); });
    QTest::qWait(60);
    return done;
}

TEST(LargeView, ShowsThePictureAndSharesKeysGesturesAndUndo)
{
    StartedWindow w;
    ASSERT_TRUE(Activate(w.window));
    w.window.OnLargeView();
    CLargeView& view = *w.window.LargeView();
    view.resize(640, 420);
    ASSERT_TRUE(WaitUntil([&] { return view.PictureSize().height() > 300; }));
    ASSERT_TRUE(WaitForFinished(view.Worker()));
    EXPECT_TRUE(w.window.isVisible()) << "the main window stays open";
    // The square target fitted into the area, in whole cells, centred on black.
    const QSize area = view.Area()->size();
    EXPECT_EQ(view.PictureSize().width(), view.PictureSize().height());
    EXPECT_EQ(view.PictureSize().height(), area.height() / 6 * 6);
    const QPoint corner = view.PictureCorner();
    EXPECT_EQ(PixelAt(view.Canvas(), corner.x() / 2, area.height() / 2), (Rgb { 0, 0, 0 }));
    EXPECT_NE(
        PixelAt(view.Canvas(), corner.x() + 10, corner.y() + 10), PixelAt(view.Canvas(), corner.x() / 2, 10))
        << "the picture is drawn";

    // A wheel notch keeps the plane point under the cursor, as one undo step.
    const QPoint at = corner + QPoint(100, 60);
    const int pw = view.PictureSize().width();
    QString x0;
    QString y0;
    ASSERT_TRUE(w.window.PlaneTextsAt(100, 60, pw, pw, x0, y0));
    const int steps = w.window.History().Stack().count();
    view.OnWheel(120, at);
    EXPECT_NEAR(w.Script().GetRatio(), 2.0 / 1024 / 1.2, 1e-18);
    const double step = w.Script().GetRatio() * 1024 / pw;
    EXPECT_NEAR(w.Script().GetOffsetX() + 100.5 * step, x0.toDouble(), step)
        << "the point under the cursor stays";
    // A drag moves the plane with the mouse, one step however many moves.
    const double offset = w.Script().GetOffsetX();
    view.OnPress(at);
    view.OnMove(at + QPoint(30, 0), true);
    view.OnMove(at + QPoint(60, 0), true);
    view.OnRelease();
    EXPECT_NEAR(w.Script().GetOffsetX(), offset - 60 * step, 1e-12);
    EXPECT_EQ(w.window.History().Stack().count(), steps + 2);
    // The main window's keys: undo from the large view.
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(WaitUntil([&] { return view.isActiveWindow(); }, 2000));
    QTest::keyClick(view.Area(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w.window.History().Stack().index(), steps + 1);
    // Held arrows while the large view has the keyboard.
    const double re = w.Script().GetCurrentConstant().re;
    QTest::keyPress(view.Area(), Qt::Key_Right);
    w.window.OnKeysTimer();
    QTest::keyRelease(view.Area(), Qt::Key_Right);
    w.window.OnKeysTimer();
    EXPECT_DOUBLE_EQ(w.Script().GetCurrentConstant().re, re + 0.01);
    // Its status line names the point under its mouse.
    view.OnMove(at, false);
    view.OnTimer();
    EXPECT_TRUE(view.StatusLine().Coordinate()->text().startsWith(QStringLiteral(u"坐标 ")));

    // Every edit restarts its worker, as it restarts the preview's.
    view.StopRendering();
    view.Worker().m_nStage.store(7);
    w.Script().SetMaxIter(99);
    EXPECT_EQ(view.Worker().m_nStage.load(), 0);
    view.StartRendering();

    // F11 toggles full screen; Escape leaves it, then closes the view, never the main window.
    QTest::keyClick(view.Area(), Qt::Key_F11);
    EXPECT_TRUE(view.isFullScreen());
    QTest::keyClick(view.Area(), Qt::Key_Escape);
    EXPECT_FALSE(view.isFullScreen());
    QTest::keyClick(view.Area(), Qt::Key_Escape);
    EXPECT_FALSE(view.isVisible());
    EXPECT_TRUE(w.window.isVisible());
    w.window.OnLargeViewFullScreen();
    EXPECT_TRUE(view.isFullScreen());
}

TEST(ConstantMap, MarksSetsAndFollowsTheConstant)
{
    StartedWindow w;
    w.window.OnConstantMap();
    CConstantMapWindow& map = *w.window.ConstantMap();
    ASSERT_TRUE(WaitUntil([&] { return map.HasMap() && !map.Canvas().isNull(); }));
    ASSERT_TRUE(WaitForFinished(map.Worker()));
    EXPECT_EQ(map.Inputs().iterText, "z = z * z + C;");
    // The default formula's map: C = 0 lies in the set (the palette's colour of the limit), and a
    // point beyond 2 escapes at once.
    const QPointF inside = map.PixelOf({ 0, 0 });
    const QPointF outside = map.PixelOf({ -1.95, -1.9 });
    EXPECT_NE(PixelAt(map.Canvas(), inside.toPoint()), PixelAt(map.Canvas(), outside.toPoint()));
    const QPointF marked = map.PixelOf(w.Script().GetCurrentConstant());
    EXPECT_NEAR(map.PointAt(marked).re, -0.78, 1e-12);

    // A drag sets the constant live, as one undo step; the map itself stays as it is.
    const ConstantMapInputs before = map.Inputs();
    const int stage = map.Worker().m_nStage.load();
    const int steps = w.window.History().Stack().count();
    map.OnPress(inside.toPoint(), Qt::LeftButton);
    map.OnMove(inside.toPoint() + QPoint(10, 0), Qt::LeftButton);
    const Complex dragged = w.Script().GetCurrentConstant();
    EXPECT_EQ(dragged.re, map.PointAt(inside.toPoint() + QPoint(10, 0) + QPointF(0.5, 0.5)).re) << "live";
    map.OnMove(inside.toPoint() + QPoint(20, 5), Qt::LeftButton);
    map.OnRelease(Qt::LeftButton);
    EXPECT_EQ(w.window.History().Stack().count(), steps + 1);
    QTest::qWait(100);
    EXPECT_TRUE(map.Inputs() == before) << "the mapped constant's value is no input of the map";
    EXPECT_EQ(map.Worker().m_nStage.load(), stage) << "not rendered again";
    w.window.OnUndo();
    EXPECT_DOUBLE_EQ(w.Script().GetCurrentConstant().re, -0.78);

    // It follows the formula, the start point and the view.
    std::string error;
    ASSERT_TRUE(w.Script().SetFormulas("z = z * z * z + C;", "norm(z) > 100;", error)) << error;
    ASSERT_TRUE(WaitUntil([&] { return map.Inputs().iterText == "z = z * z * z + C;"; }));
    map.SetStart({ 0.25, 0 });
    ASSERT_TRUE(WaitUntil([&] { return map.Inputs().start.re == 0.25; }));
    map.OnWheel(120, inside.toPoint());
    ASSERT_TRUE(WaitUntil([&] { return map.Inputs().view.width < 4; }));
    EXPECT_NEAR(map.PointAt(inside).re, 0.0, 1e-12) << "the point under the wheel stays";
    ASSERT_TRUE(WaitForFinished(map.Worker()));

    // Without constants there is no map, and it says why.
    ASSERT_TRUE(w.Script().SetFormulas("z = z * z;", "norm(z) > 100;", error)) << error;
    ASSERT_TRUE(WaitUntil([&] { return !map.HasMap(); }));
    EXPECT_EQ(map.StatusText(), QStringLiteral(u"迭代公式没有常量"));
}

} // namespace
