// Edits at full speed from the window thread while the preview worker renders, exports start and
// are cancelled, and the worker stops and starts again: nothing races (run it under ThreadSanitizer)
// and the preview ends on exactly the picture a fresh preview of the final script gives.
#include "fakeservices.h"
#include "fractaldlg.h"
#include "outportdlg.h"
#include "outportsetdlg.h"
#include "randomedits.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <random>

namespace {

// Answers the export dialogs: every export is cancelled after a few ticks of its progress window.
class CCancellingServices : public CFakeServices {
public:
    explicit CCancellingServices(std::mt19937& random)
        : m_random(random)
    {
    }
    void RunExportProgress(COutportDlg& dialog) override
    {
        dialog.InitDialog();
        for (int ticks = std::uniform_int_distribution<int>(0, 3)(m_random); ticks > 0; --ticks) {
            dialog.OnTimer();
            QTest::qWait(1);
        }
        dialog.reject();
    }
    bool RunExportSize(COutportSetDlg& dialog) override
    {
        dialog.InitDialog();
        return false;
    }

private:
    std::mt19937& m_random;
};

// Waits, the way the window's timer does, until the preview is complete and handed over.
QImage FinishedPreview(CFractalScript& script, int seconds)
{
    QImage frame;
    int shown = 0;
    QElapsedTimer timer;
    timer.start();
    bool finished = false;
    while (!finished && timer.elapsed() < seconds * 1000) {
        // The frame taken at the last stage is the finished picture.
        finished = script.GetPreviewFrame(shown, frame) && shown == 38;
        QTest::qWait(2);
    }
    EXPECT_TRUE(finished);
    EXPECT_EQ(script.PreviewWorker().m_dProgress.load(), 1.0);
    return frame;
}

TEST(Stress, EditsExportsAndRestartsEndOnTheExactPicture)
{
    std::mt19937 random(20261207);
    CCancellingServices services(random);
    QTemporaryDir dir;
    CFractalDlg window(services);
    window.Initialize(QString());
    window.Script().SetPreviewHoldTicks(1);
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);

    std::uniform_int_distribution<int> pick(0, 99);
    QElapsedTimer timer;
    timer.start();
    int edits = 0;
    int exports = 0;
    int restarts = 0;
    while (timer.elapsed() < 3000) {
        const int what = pick(random);
        if (what < 85) {
            MakeRandomViewEdit(window, random);
        } else if (what < 95) {
            window.OnPreviewTimer();
        } else if (what < 98) {
            services.ChooseFile(dir.filePath(QStringLiteral("stress-%1.png").arg(exports++)));
            window.OnExport();
        } else {
            // Export settings without a change: the worker stops and starts again.
            window.OnExportSettings();
            ++restarts;
        }
        ++edits;
        QCoreApplication::processEvents();
    }
    RecordProperty("edits", edits);
    EXPECT_GT(edits, 100);
    EXPECT_GT(exports, 0);

    // The final script, saved exactly and loaded into a fresh script, previews to the same picture.
    const QString path = dir.filePath(QStringLiteral("final.gsc"));
    ASSERT_TRUE(window.Script().Save(path));
    const QImage shown = FinishedPreview(window.Script(), 120);

    CFractalScript fresh;
    ASSERT_TRUE(fresh.Load(path)) << fresh.GetLastError();
    fresh.SetPreviewHoldTicks(0);
    fresh.CreatePreview(window.Script().GetPreviewWidth() / 6, window.Script().GetPreviewHeight() / 6, 6, 6);
    ASSERT_TRUE(fresh.StartPreview());
    const QImage expected = FinishedPreview(fresh, 120);
    fresh.StopPreview();
    ASSERT_FALSE(expected.isNull());
    EXPECT_TRUE(shown == expected) << "after " << edits << " edits, " << exports << " exports and "
                                   << restarts << " restarts";
}

} // namespace
