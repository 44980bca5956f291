#include "fractalscript.h"
#include "testutil.h"

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Polls the hand-over the way the window's timer does, until done() or the deadline.
template <typename Done>
bool Poll(CFractalScript& script, int& shown, QImage& frame, Done done, int seconds = 30)
{
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        script.GetPreviewFrame(shown, frame);
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Polls until the finished picture is handed over: a frame taken at the last stage.
bool PollFinished(CFractalScript& script, int& shown, QImage& frame, int seconds = 30)
{
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (script.GetPreviewFrame(shown, frame) && shown == 38) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void Prepare(CFractalScript& script, int cells = 80)
{
    script.SetDefaults();
    ASSERT_TRUE(script.LoadPalette(QString()));
    script.SetPreviewHoldTicks(0);
    script.CreatePreview(cells, cells, 6, 6);
}

TEST(Preview, CreateAndRelease)
{
    CFractalScript script;
    script.PreviewWorker().m_bRefreshRequest.store(true);
    script.CreatePreview(80, 40, 6, 6);
    EXPECT_EQ(script.GetPreviewWidth(), 480);
    EXPECT_EQ(script.GetPreviewHeight(), 240);
    EXPECT_FALSE(script.PreviewWorker().m_bRefreshRequest.load());
    script.ReleasePreview();
    EXPECT_EQ(script.GetPreviewWidth(), 0);
    EXPECT_TRUE(script.StopPreview()) << "no worker: returns at once";
}

// The hand-over protocol, with the stage set by hand and no worker.
TEST(Preview, HandOverProtocol)
{
    CFractalScript script;
    Prepare(script);
    QImage frame;
    int shown = 0;
    script.PreviewWorker().m_nStage.store(1);
    EXPECT_FALSE(script.GetPreviewFrame(shown, frame)) << "the coarse pass is running";
    script.PreviewWorker().m_nStage.store(2);
    EXPECT_TRUE(script.GetPreviewFrame(shown, frame));
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(frame.size(), QSize(480, 480));
    EXPECT_FALSE(script.GetPreviewFrame(shown, frame)) << "nothing new";

    script.PreviewWorker().m_nStage.store(5);
    shown = 0;
    EXPECT_TRUE(script.GetPreviewFrame(shown, frame))
        << "after a change: the surface as it is, without a request";
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(script.PreviewWorker().m_bRefreshRequest.load());
    EXPECT_FALSE(script.GetPreviewFrame(shown, frame)) << "asks for a refresh and returns at once";
    EXPECT_TRUE(script.PreviewWorker().m_bRefreshRequest.load());
    EXPECT_EQ(shown, 5);
    EXPECT_FALSE(script.GetPreviewFrame(shown, frame)) << "still waiting for the worker";
    script.PreviewWorker().m_bRefreshRequest.store(false); // the worker served it
    EXPECT_TRUE(script.GetPreviewFrame(shown, frame));
    EXPECT_FALSE(script.GetPreviewFrame(shown, frame));

    // A change while a refresh is pending: the new picture's first frame is not held back.
    script.PreviewWorker().m_nStage.store(9);
    EXPECT_FALSE(script.GetPreviewFrame(shown, frame));
    EXPECT_TRUE(script.PreviewWorker().m_bRefreshRequest.load());
    script.PreviewWorker().m_nStage.store(2);
    shown = 0;
    EXPECT_TRUE(script.GetPreviewFrame(shown, frame));
    EXPECT_EQ(shown, 2);
}

TEST(Preview, RunsToTheExactPicture)
{
    CFractalScript script;
    Prepare(script);
    ASSERT_TRUE(script.StartPreview());
    EXPECT_TRUE(script.StartPreview()) << "a second start changes nothing";
    QImage frame;
    int shown = 0;
    ASSERT_TRUE(PollFinished(script, shown, frame));
    EXPECT_EQ(script.PreviewWorker().m_dProgress.load(), 1.0);
    // The final frame is handed over once.
    EXPECT_FALSE(script.GetPreviewFrame(shown, frame));
    ASSERT_TRUE(script.StopPreview());

    // The 36 fine passes rendered directly give the same picture, whatever their order.
    QImage expected(480, 480, QImage::Format_RGB32);
    for (int dx = 0; dx < 6; ++dx) {
        for (int dy = 0; dy < 6; ++dy) {
            ASSERT_EQ(script.Render(RasterOf(expected), dx, dy, 480 + dx, 480 + dy, 6, 6, 6, 6), 0);
        }
    }
    EXPECT_TRUE(frame == expected) << "the preview after all passes is exact";
}

// The last fine pass itself brings the share to exactly 1.0, with no refresh asked for.
TEST(Preview, LastPassEndsAtExactlyOne)
{
    CFractalScript script;
    Prepare(script, 10);
    ASSERT_TRUE(script.StartPreview());
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (script.PreviewWorker().m_nStage.load() != 38 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(script.PreviewWorker().m_nStage.load(), 38);
    EXPECT_EQ(script.PreviewWorker().m_dProgress.load(), 1.0);
    EXPECT_FALSE(script.PreviewWorker().m_bRefreshRequest.load());
}

TEST(Preview, AChangeStartsOver)
{
    CFractalScript script;
    Prepare(script);
    script.SetPreviewHoldTicks(20); // long enough to see the coarse frame of the new picture
    script.SetMaxIter(3000);        // slow passes, so that the change lands inside one
    ASSERT_TRUE(script.StartPreview());
    QImage frame;
    int shown = 0;
    ASSERT_TRUE(Poll(script, shown, frame, [&] { return script.PreviewWorker().m_nStage.load() >= 4; }));
    ASSERT_TRUE(script.SetCurrentConstant({ -0.8, 0.156 }));
    shown = 0;
    // The running pass returns, and the next frame is a new coarse picture.
    ASSERT_TRUE(Poll(script, shown, frame, [&] { return shown == 2; }));
    ASSERT_TRUE(PollFinished(script, shown, frame, 60));
    ASSERT_TRUE(script.StopPreview());

    // The finished picture is that of the new constant.
    CFractalScript fresh;
    Prepare(fresh);
    fresh.SetMaxIter(3000);
    ASSERT_TRUE(fresh.SetCurrentConstant({ -0.8, 0.156 }));
    QImage expected(480, 480, QImage::Format_RGB32);
    for (int dx = 0; dx < 6; ++dx) {
        for (int dy = 0; dy < 6; ++dy) {
            ASSERT_EQ(fresh.Render(RasterOf(expected), dx, dy, 480 + dx, 480 + dy, 6, 6, 6, 6), 0);
        }
    }
    EXPECT_TRUE(frame == expected);
}

TEST(Preview, ChangesDuringTheHoldRunNoFinePass)
{
    CFractalScript script;
    Prepare(script, 20);
    // A hold of 5 s: only a test thread stalled that long between two edits lets a fine pass start.
    script.SetPreviewHoldTicks(500);
    ASSERT_TRUE(script.StartPreview());
    QImage frame;
    int shown = 0;
    int highest = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(1500);
    ASSERT_TRUE(Poll(script, shown, frame, [&] { return shown == 2; }));
    // Keep editing faster than the hold: the worker keeps redrawing the coarse picture only.
    while (Clock::now() < deadline) {
        script.SetView(script.GetOffsetX() + 1e-4, script.GetOffsetY(), script.GetRatio());
        highest = std::max(highest, script.PreviewWorker().m_nStage.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LE(highest, 2);
    ASSERT_TRUE(script.StopPreview());
}

TEST(Preview, StopsWithinARenderAndOutlivesNothing)
{
    for (int round = 0; round < 3; ++round) {
        auto script = std::make_unique<CFractalScript>();
        Prepare(*script);
        script->SetMaxIter(10000);
        ASSERT_TRUE(script->SetCurrentConstant({ 0, 0 })); // every pixel runs all its iterations
        ASSERT_TRUE(script->StartPreview());
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
        const auto before = Clock::now();
        if (round == 2) {
            script.reset(); // destroying the script stops the worker first
        } else {
            EXPECT_TRUE(script->StopPreview());
            EXPECT_FALSE(script->PreviewWorker().m_bRunning.load());
            EXPECT_FALSE(script->PreviewWorker().m_bStopRequest.load());
        }
        EXPECT_LT(Clock::now() - before, std::chrono::seconds(2));
    }
}

TEST(Preview, NothingToRenderWithoutAPreview)
{
    CFractalScript script;
    script.SetDefaults();
    ASSERT_TRUE(script.LoadPalette(QString()));
    ASSERT_TRUE(script.StartPreview());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    QImage frame;
    int shown = 0;
    EXPECT_FALSE(script.GetPreviewFrame(shown, frame));
    EXPECT_LT(script.PreviewWorker().m_nStage.load(), 2);
    EXPECT_TRUE(script.StopPreview());
}

} // namespace
