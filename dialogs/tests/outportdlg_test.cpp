#include "fractalscript.h"
#include "outportdlg.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

TEST(ExportProgress, StatusTexts)
{
    const struct {
        qint64 elapsed;
        double progress;
        const char* text;
    } rows[] = {
        { 5, 0.5, "用时05秒，预计还需05秒" },
        { 65, 0.25, "用时01分钟05秒，预计还需03分钟15秒" },
        { 3600, 0.5, "用时01小时00分钟00秒，预计还需01小时00分钟" },
        { 90061, 0.5, "用时1天01小时01分钟01秒，预计还需1天01小时01分钟01秒" },
        { 7, 1.0, "用时07秒" }, // the picture is complete, the file is being written
        { 3, 0.0, "用时03秒" }, // nothing done yet: no estimate
        { 1, 1e-300, "用时01秒，预计还需11574074074天01小时46分钟40秒" }, // capped, never out of range
        { 0, 0.5, "用时00秒" },
    };
    for (const auto& row : rows) {
        EXPECT_EQ(COutportDlg::StatusText(row.elapsed, row.progress), QString::fromUtf8(row.text))
            << row.text;
    }
    EXPECT_EQ(COutportDlg::DurationText(0, false), QString());
    EXPECT_EQ(COutportDlg::DurationText(86400, false), QStringLiteral(u"1天00小时00分钟"));
}

class ExportDialog : public testing::Test {
protected:
    void SetUp() override
    {
        m_script.SetDefaults();
        ASSERT_TRUE(m_script.LoadPalette(QString()));
        m_script.SetImageSize(200, 200);
        m_dialog.m_pScript = &m_script;
    }
    void Tick(int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            m_dialog.OnTimer();
        }
    }

    QTemporaryDir m_dir;
    CFractalScript m_script;
    COutportDlg m_dialog;
};

TEST_F(ExportDialog, SuccessEndsWithOkAndTheOutcome)
{
    EXPECT_TRUE(m_dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    m_script.StartExport(m_dir.filePath(QStringLiteral("a.png")), QString());
    m_script.JoinExport();
    m_dialog.InitDialog();
    EXPECT_EQ(m_dialog.Status()->text(), QStringLiteral(u"就绪"));
    Tick();
    EXPECT_EQ(m_dialog.Progress()->value(), 100);
    EXPECT_TRUE(m_dialog.OkButton()->isEnabled());
    EXPECT_FALSE(m_dialog.CancelButton()->isEnabled());
    EXPECT_TRUE(m_dialog.Status()->text().startsWith(QStringLiteral(u"导出成功！用时[")));
    EXPECT_FALSE(m_dialog.Polling()) << "the timer ends with the worker";
}

// The worker is held at its start until the user cancels; the bar still holds the last preview
// pass's 1.0 when the export begins.
TEST_F(ExportDialog, CancelStopsARunningExport)
{
    m_script.ExportWorker().m_startGate.Close();
    m_script.ExportWorker().m_dProgress.store(1.0);
    ASSERT_TRUE(m_script.StartExport(m_dir.filePath(QStringLiteral("b.png")), QString()));
    m_dialog.InitDialog();
    Tick();
    EXPECT_EQ(m_dialog.Progress()->value(), 0) << "no progress left over from the preview";
    EXPECT_FALSE(m_dialog.OkButton()->isEnabled());
    EXPECT_TRUE(m_dialog.CancelButton()->isEnabled());
    EXPECT_TRUE(m_dialog.Polling());
    // A complete picture still being written: OK waits for the worker's end.
    m_script.ExportWorker().m_dProgress.store(1.0);
    Tick();
    EXPECT_FALSE(m_dialog.OkButton()->isEnabled());
    EXPECT_TRUE(m_dialog.CancelButton()->isEnabled());
    m_dialog.reject();
    EXPECT_FALSE(m_script.ExportWorker().m_bRunning.load()) << "the stop request lets the held worker through";
    m_script.JoinExport();
    EXPECT_EQ(m_script.GetExportOutcome(), ExportOutcome::Cancelled);
    EXPECT_NE(m_dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("b.png"))));
}

} // namespace
