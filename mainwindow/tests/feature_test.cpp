// "Zoom to the nearest feature": the search runs off the window thread under a progress window that
// cancels it, and what it finds becomes one step of the history.
#include "testwindow.h"

#include <QMenu>
#include <QProgressDialog>

#include <atomic>
#include <chrono>
#include <thread>

using namespace testwindow;

namespace {

// Stands in for the feature finder: holds every search until the test opens the gate or the window
// cancels it, then searches for real.
struct GatedFinder {
    std::atomic<int> started { 0 };
    std::atomic<bool> open { false };
    std::atomic<bool> sawCancel { false };

    CFractalDlg::FeatureFinder Finder()
    {
        return [this](const CFormula& iteration, const FeatureRequest& request,
                   const std::function<bool()>& cancelled) {
            started.fetch_add(1);
            while (!open.load()) {
                if (cancelled()) {
                    sawCancel.store(true);
                    FeatureAnswer none;
                    none.outcome = FeatureOutcome::Cancelled;
                    return none;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return FindViewFeature(iteration, request, cancelled);
        };
    }
};

// The plane centre of the script's view.
Complex CentreOfView(CFractalScript& script)
{
    const PlaneView view = script.GetView();
    return { view.offsetX + view.ratio * script.GetImageWidth() / 2,
        view.offsetY + view.ratio * script.GetImageHeight() / 2 };
}

} // namespace

TEST(ZoomToFeature, FramesTheNucleusInOneStepAndCancels)
{
    StartedWindow w;
    std::string err;
    ASSERT_TRUE(w.Script().SetFormulas("z = z * z + z0;", "norm(z) > 100;", err)) << err;
    w.Script().SetView(-1.85, -0.1, 0.2 / 1024); // -1.85 to -1.65: the period-3 nucleus at -1.7549
    GatedFinder gate;
    w.window.SetFeatureFinder(gate.Finder());
    w.window.show();
    const QPoint middle(
        Layout::kPreviewLeft + Layout::kPreviewSide / 2, Layout::kPreviewTop + Layout::kPreviewSide / 2);
    const PlaneView before = w.Script().GetView();
    const int steps = w.window.History().Stack().count();

    QMenu menu;
    w.window.BuildContextMenu(menu, middle);
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(menu.actions()[0]->text(), QStringLiteral("缩放到最近的特征"));
    EXPECT_TRUE(menu.actions()[0]->isEnabled());
    QMenu offPicture;
    w.window.BuildContextMenu(offPicture, QPoint(2, 2));
    EXPECT_FALSE(offPicture.actions()[0]->isEnabled());

    // Held: the progress window shows, and Esc there ends the search with nothing changed.
    QTimer driver;
    bool cancelled = false;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* progress = w.window.findChild<QProgressDialog*>();
        if (gate.started.load() > 0 && progress && progress->isVisible() && !cancelled) {
            cancelled = true;
            QTest::keyClick(progress, Qt::Key_Escape);
        }
    });
    driver.start(5);
    menu.actions()[0]->trigger();
    driver.stop();
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(gate.sawCancel.load());
    EXPECT_EQ(w.Script().GetView(), before);
    EXPECT_EQ(w.window.History().Stack().count(), steps);

    // Open: the view frames the nucleus (5 sizes of 0.019 across), one step that undo takes back.
    gate.open.store(true);
    w.window.OnZoomToFeature(middle);
    const Complex centre = CentreOfView(w.Script());
    EXPECT_NEAR(centre.re, -1.7548776662466927, 1e-9);
    EXPECT_NEAR(centre.im, 0.0, 1e-9);
    EXPECT_NEAR(w.Script().GetView().ratio * w.Script().GetImageWidth(), 0.09518, 1e-4);
    EXPECT_EQ(w.window.History().Stack().count(), steps + 1);
    w.window.OnUndo();
    EXPECT_EQ(w.Script().GetView(), before);
}
