// The settings, palette and export commands, driven through the window services.
#include "cli.h"
#include "clientarea.h"
#include "fakeservices.h"
#include "fractaldlg.h"
#include "outportdlg.h"
#include "outportsetdlg.h"
#include "settingdlg.h"
#include "waits.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>
#include <thread>

namespace {

// The fake services, with the modal dialogs answered by hooks.
class CDialogServices : public CFakeServices {
public:
    bool RunSettings(CSettingDlg& dialog) override
    {
        dialog.InitDialog();
        return settings ? settings(dialog) : false;
    }
    bool RunExportSize(COutportSetDlg& dialog) override
    {
        dialog.InitDialog();
        return exportSize ? exportSize(dialog) : false;
    }
    void RunExportProgress(COutportDlg& dialog) override
    {
        ++progressShown;
        dialog.InitDialog();
        if (progress) {
            progress(dialog);
        }
    }

    std::function<bool(CSettingDlg&)> settings;
    std::function<bool(COutportSetDlg&)> exportSize;
    std::function<void(COutportDlg&)> progress;
    int progressShown { 0 };
};

class MenuCommands : public testing::Test {
protected:
    void SetUp() override
    {
        m_window.Initialize(QString());
        m_window.Script().SetPreviewHoldTicks(0);
    }
    QString Path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }
    CFractalScript& Script() { return m_window.Script(); }
    void Tick() { m_window.OnPreviewTimer(); }

    // The progress window stays open, ticking, until the export ends; outcome gets its last text.
    void WatchExportsToTheEnd(QString& outcome)
    {
        m_services.progress = [&outcome](COutportDlg& dialog) {
            QElapsedTimer timer;
            timer.start();
            while (dialog.Polling() && timer.elapsed() < 30000) {
                dialog.OnTimer();
                QTest::qWait(10);
            }
            outcome = dialog.Status()->text();
        };
    }

    QTemporaryDir m_dir;
    CDialogServices m_services;
    CFractalDlg m_window { m_services };
};

TEST_F(MenuCommands, SettingsOkAlwaysMarksTheScript)
{
    ASSERT_FALSE(Script().IsModified());
    m_services.settings = [](CSettingDlg& dialog) { return dialog.OnOk(); };
    m_window.OnSettings();
    EXPECT_TRUE(Script().IsModified());
    EXPECT_EQ(m_window.ShownStage(), 0);
    EXPECT_TRUE(m_window.TimersRunning());
    EXPECT_TRUE(Script().PreviewWorker().m_bRunning.load());
    Tick();
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral(u"Glimmerset - 未命名 *"));

    // Cancel applies nothing.
    CDialogServices cancelling;
    CFractalDlg other(cancelling);
    other.Initialize(QString());
    other.OnSettings();
    EXPECT_FALSE(other.Script().IsModified());
}

TEST_F(MenuCommands, SettingsApplyMappingLimitAndStep)
{
    m_services.settings = [](CSettingDlg& dialog) {
        dialog.m_dMapSin = 1;
        dialog.m_bReverseAngle = 1;
        dialog.m_nMaxIter = 0;
        dialog.m_dEditStep = 0.5;
        dialog.m_dMapStretch = 2;
        dialog.WriteFields();
        return dialog.OnOk();
    };
    m_window.OnSettings();
    const PaletteMapping m = Script().GetMapping();
    EXPECT_EQ(m.sin, 1);
    EXPECT_EQ(m.cos, 0);
    EXPECT_TRUE(std::signbit(m.cos)) << "sin 1 with the reverse box gives -0.0";
    EXPECT_EQ(m.stretch, 2);
    EXPECT_EQ(Script().GetMaxIter(), 1) << "a limit of 0 becomes 1";
    EXPECT_EQ(m_window.EditStep(), 0.5);

    // -0.0 is not below 0: the box shows clear the next time.
    int reverse = -1;
    m_services.settings = [&](CSettingDlg& dialog) {
        reverse = dialog.m_bReverseAngle;
        return false;
    };
    m_window.OnSettings();
    EXPECT_EQ(reverse, 0);
}

// Edit > the extended limit asks for 1 to 1000000000 and is one undo step; undoing the Settings
// command's limit puts the extended one back, which the Settings dialog's range cannot hold.
TEST_F(MenuCommands, ExtendedLimitIsOneUndoStep)
{
    m_window.OnExtendedLimit(); // declined: nothing changes
    EXPECT_FALSE(Script().IsModified());
    m_services.numbers = { 2'500'000 };
    m_window.OnExtendedLimit();
    ASSERT_EQ(m_services.asked.size(), 2u);
    EXPECT_EQ(m_services.asked[1].min, 1);
    EXPECT_EQ(m_services.asked[1].max, 1'000'000'000);
    EXPECT_EQ(m_services.asked[1].offered, 256);
    EXPECT_EQ(Script().GetMaxIter(), 2'500'000);
    EXPECT_TRUE(Script().IsModified());
    EXPECT_TRUE(m_window.TimersRunning());

    m_services.settings = [](CSettingDlg& dialog) {
        dialog.m_nMaxIter = 4000;
        dialog.WriteFields();
        return dialog.OnOk();
    };
    m_window.OnSettings();
    EXPECT_EQ(Script().GetMaxIter(), 4000);
    m_window.OnUndo();
    EXPECT_EQ(Script().GetMaxIter(), 2'500'000);
    m_window.OnUndo();
    EXPECT_EQ(Script().GetMaxIter(), 256);
    EXPECT_FALSE(Script().IsModified());
    m_window.OnRedo();
    EXPECT_EQ(Script().GetMaxIter(), 2'500'000);
}

TEST_F(MenuCommands, SettingsReplaceTheFormulas)
{
    m_services.settings = [](CSettingDlg& dialog) {
        dialog.SelectPage(3);
        static_cast<QPlainTextEdit*>(dialog.ControlById(CSettingDlg::kIterText))
            ->setPlainText(QStringLiteral("z = z * z * z + C;"));
        return dialog.OnOk();
    };
    m_window.OnSettings();
    EXPECT_EQ(Script().GetIterFormula().GetText(), "z = z * z * z + C;");
    EXPECT_EQ(Script().GetCurrentConstant().re, -0.78) << "the constant kept its value";
}

TEST_F(MenuCommands, PalettesMarkTheScriptModified)
{
    QImage image(64, 8, QImage::Format_RGB32);
    image.fill(qRgb(10, 200, 30));
    ASSERT_TRUE(image.save(Path("green.png")));
    Script().SetMapping(0.5, 0.5, 0.5, 0.5, 0, 1, 3);
    ASSERT_TRUE(Script().Save(Path("keep.gsc")));
    ASSERT_FALSE(Script().IsModified());

    m_services.files.push_back({ true, Path("green.png"), 0 });
    m_window.OnImportPalette();
    ASSERT_EQ(m_services.fileRequests.size(), 1u);
    const FileDialogRequest& request = m_services.fileRequests.front().request;
    EXPECT_EQ(request.title, QStringLiteral(u"导入调色板"));
    EXPECT_TRUE(request.mustExist);
    ASSERT_GE(request.filters.size(), 2u);
    EXPECT_EQ(request.filters.front().description, QStringLiteral(u"所有支持的图像文件"));
    EXPECT_TRUE(request.filters.front().patterns.contains(QStringLiteral("*.png")));
    for (const FileFilter& filter : request.filters) {
        EXPECT_FALSE(filter.patterns.contains(QStringLiteral("*.ico"))) << "icon formats are left out";
    }
    EXPECT_EQ(Script().GetPaletteWidth(), 64);
    EXPECT_EQ(Script().GetPaletteFile(), Path("green.png"));
    EXPECT_EQ(Script().GetMapping(), (PaletteMapping { 0, 0, 1, 1, 0, 1, 3 }))
        << "reset, but the stretch stays";
    EXPECT_TRUE(Script().IsModified()) << "closing would lose the new palette";
    Tick();
    EXPECT_EQ(m_window.windowTitle(), QStringLiteral(u"Glimmerset - 未命名 *"));
    EXPECT_TRUE(m_window.TimersRunning());
    EXPECT_TRUE(m_services.messages.empty());

    ASSERT_TRUE(Script().Save(Path("keep.gsc")));
    ASSERT_FALSE(Script().IsModified());
    m_window.OnSystemPalette();
    EXPECT_EQ(Script().GetPaletteWidth(), 1000);
    EXPECT_EQ(Script().GetPaletteFile(), QString());
    EXPECT_TRUE(Script().IsModified());
}

TEST_F(MenuCommands, ImportRefusesWhatItCannotKeep)
{
    QFile broken(Path("broken.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\x89PNG\r\n\x1a\nnot really");
    broken.close();
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(Path("a}b.png")));
    // A PNG that declares 100000 x 100000 pixels: refused before anything is allocated for it.
    QByteArray huge = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000186a0000186a00806000000");
    huge += QByteArray::fromHex("00000000"); // the CRC does not matter: the size is read first
    QFile hugeFile(Path("huge.png"));
    ASSERT_TRUE(hugeFile.open(QIODevice::WriteOnly));
    hugeFile.write(huge);
    hugeFile.close();

    Script().SetMapping(0.25, 0, 1, 1, 0, 1, 1);
    Script().SetModified();
    for (const char* name : { "broken.png", "a}b.png", "huge.png", "missing.png" }) {
        m_services.messages.clear();
        m_services.files.push_back({ true, Path(name), 0 });
        m_window.OnImportPalette();
        ASSERT_EQ(m_services.messages.size(), 1u) << name;
        EXPECT_EQ(m_services.messages.front().text, QStringLiteral(u"载入调色板失败!")) << name;
        EXPECT_EQ(m_services.messages.front().caption, QStringLiteral(u"错误")) << name;
        EXPECT_EQ(Script().GetPaletteWidth(), 1000) << name;
        EXPECT_EQ(Script().GetMapping().x0, 0.25) << "the mapping stays: " << name;
        EXPECT_TRUE(Script().IsModified()) << name;
    }
}

// Stands in for the palette decoder: holds every decode until the test opens the gate or the
// window cancels it, then decodes for real.
struct GatedDecoder {
    std::atomic<int> started { 0 };
    std::atomic<int> returned { 0 };
    std::atomic<bool> open { false };
    std::atomic<bool> sawCancel { false };

    CFractalDlg::PaletteDecoder Decoder()
    {
        return [this](const QString& path, QString* error, const PaletteDecodeLimits& limits) {
            started.fetch_add(1);
            QImage image;
            while (!open.load()) {
                if (limits.cancel && limits.cancel->load()) {
                    sawCancel.store(true);
                    *error = QStringLiteral("cancelled");
                    returned.fetch_add(1);
                    return image;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            image = DecodePalette(path, error, limits);
            returned.fetch_add(1);
            return image;
        };
    }
};

// Counts the paint events the window and its children get.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& window)
        : m_window(window)
    {
        qApp->installEventFilter(this);
    }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* widget = qobject_cast<QWidget*>(object);
        if (event->type() == QEvent::Paint && widget && widget->window() == &m_window) {
            ++paints;
        }
        return false;
    }
    int paints { 0 };

private:
    QWidget& m_window;
};

TEST_F(MenuCommands, ImportDecodesOffTheWindowThread)
{
    QImage image(48, 4, QImage::Format_RGB32);
    image.fill(qRgb(200, 20, 90));
    ASSERT_TRUE(image.save(Path("red.png")));
    GatedDecoder gate;
    m_window.SetPaletteDecoder(gate.Decoder());
    m_window.show();
    PaintCounter counter(m_window);
    Script().SetMapping(0.25, 0, 1, 1, 0, 1, 2);
    Script().SetModified();

    // Runs while Import palette waits for the held decode: what the window still does, then the end
    // of the wait (the loading window's cancel, or the open gate).
    const auto importWhileHeld = [&](const std::function<void(QProgressDialog&)>& finish) {
        m_services.files.push_back({ true, Path("red.png"), 0 });
        const int startedBefore = gate.started.load();
        bool painted = false;
        bool shown = false;
        QTimer driver;
        int paintsBefore = -1;
        QElapsedTimer bound; // only so that a broken window fails rather than hangs
        bound.start();
        QObject::connect(&driver, &QTimer::timeout, [&] {
            auto* progress = m_window.findChild<QProgressDialog*>();
            if (bound.elapsed() > 30000) {
                ADD_FAILURE() << "started " << gate.started.load() << ", progress " << (progress != nullptr)
                              << ", shown " << shown << ", painted " << painted;
                driver.stop();
                gate.open.store(true);
                return;
            }
            if (gate.started.load() == startedBefore || !progress || !progress->isVisible()) {
                return; // the loading window shows after a moment
            }
            if (!shown) {
                shown = true;
                EXPECT_TRUE(progress->labelText().contains(QStringLiteral("red.png")));
                paintsBefore = counter.paints;
                m_window.ClientArea()->update();
                return;
            }
            if (!painted) {
                painted = counter.paints > paintsBefore;
                if (!painted) {
                    return;
                }
            }
            driver.stop();
            finish(*progress);
        });
        driver.start(5);
        m_window.OnImportPalette();
        EXPECT_TRUE(shown) << "the loading window";
        EXPECT_TRUE(painted) << "the window painted while the palette loaded";
        EXPECT_EQ(gate.returned.load(), gate.started.load()) << "the decoding thread ended";
    };

    importWhileHeld([](QProgressDialog& progress) {
        auto* cancel = progress.findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->text(), QStringLiteral(u"取消"));
        cancel->click();
    });
    EXPECT_TRUE(gate.sawCancel.load()) << "cancel reached the decoder";
    EXPECT_EQ(Script().GetPaletteWidth(), 1000);
    EXPECT_EQ(Script().GetPaletteFile(), QString());
    EXPECT_EQ(Script().GetMapping().x0, 0.25);
    EXPECT_TRUE(Script().IsModified());
    EXPECT_TRUE(m_services.messages.empty()) << "a cancelled load needs no message";

    ASSERT_TRUE(Script().Save(Path("keep.gsc")));
    importWhileHeld([&gate](QProgressDialog&) { gate.open.store(true); });
    EXPECT_EQ(Script().GetPaletteWidth(), 48);
    EXPECT_EQ(Script().GetPaletteFile(), Path("red.png"));
    EXPECT_EQ(Script().GetMapping().x0, 0) << "a new palette resets the mapping";
    EXPECT_TRUE(Script().IsModified()) << "a new palette is a change to save";
    EXPECT_TRUE(m_services.messages.empty());
    EXPECT_TRUE(m_window.findChildren<QProgressDialog*>().isEmpty()) << "the loading window went";
}

TEST_F(MenuCommands, ExportWritesWhatTheCommandLineToolWrites)
{
    Script().SetImageSize(300, 200);
    ASSERT_TRUE(Script().Save(Path("same.gsc")));
    m_services.files.push_back({ true, Path("window.png"), 3 });
    QString shownOutcome;
    WatchExportsToTheEnd(shownOutcome);
    m_window.OnExport();
    ASSERT_EQ(m_services.fileRequests.size(), 1u);
    EXPECT_EQ(m_services.fileRequests.front().request.title, QStringLiteral(u"导出图像"));
    EXPECT_EQ(m_services.fileRequests.front().request.defaultSuffix, QStringLiteral(".bmp"));
    EXPECT_TRUE(m_services.fileRequests.front().request.overwritePrompt);
    EXPECT_EQ(m_services.progressShown, 1);
    EXPECT_TRUE(shownOutcome.startsWith(QStringLiteral(u"导出成功！用时["))) << shownOutcome.toStdString();
    EXPECT_TRUE(Script().PreviewWorker().m_bRunning.load()) << "the preview runs again";
    EXPECT_TRUE(m_window.TimersRunning());

    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(
        RunCommandLine(
            { "render", Path("same.gsc").toStdString(), "-o", Path("cli.png").toStdString() }, out, err),
        0)
        << err.str();
    const QImage fromWindow(Path("window.png"));
    const QImage fromTool(Path("cli.png"));
    ASSERT_EQ(fromWindow.size(), QSize(300, 200));
    EXPECT_TRUE(fromWindow == fromTool);

    // The chosen type is offered again; a cancelled dialog does not change it.
    m_services.progress = nullptr;
    m_window.OnExport();
    EXPECT_EQ(m_services.fileRequests.back().request.selectedFilter, 3);
    m_services.files.push_back({ true, Path("again.bmp"), 1 });
    m_window.OnExport();
    m_window.OnExport();
    EXPECT_EQ(m_services.fileRequests.back().request.selectedFilter, 1);
}

TEST_F(MenuCommands, ExportFailuresReachTheUser)
{
    // Shown in the progress window when the worker ends while it is open.
    m_services.files.push_back({ true, Path("picture.xyz"), 0 });
    QString shownOutcome;
    WatchExportsToTheEnd(shownOutcome);
    Script().SetImageSize(100, 100);
    m_window.OnExport();
    EXPECT_TRUE(shownOutcome.startsWith(QStringLiteral(u"保存文件失败！用时[")))
        << shownOutcome.toStdString();
    EXPECT_TRUE(shownOutcome.contains(Path("picture.xyz"))) << shownOutcome.toStdString();
    EXPECT_TRUE(m_services.messages.empty()) << "seen in the window: no second message";

    // Shown afterwards when the window was closed before the worker ended: the worker is held
    // until the progress window has closed, then let go while the window waits for it.
    Script().ExportWorker().m_startGate.Close();
    m_services.files.push_back({ true, Path("no-such-folder/held.png"), 0 });
    m_services.progress = [this](COutportDlg& dialog) {
        dialog.accept();
        QTimer::singleShot(0, [this] { Script().ExportWorker().m_startGate.Open(); });
    };
    m_window.OnExport();
    ASSERT_EQ(m_services.messages.size(), 1u);
    const QString shown = m_services.messages.front().text;
    EXPECT_TRUE(shown.startsWith(QStringLiteral(u"保存文件失败！用时["))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(Path("no-such-folder/held.png") + QStringLiteral(": ")
        + QString::fromLocal8Bit(std::strerror(ENOENT))))
        << shown.toStdString();
    EXPECT_EQ(m_services.messages.front().caption, QStringLiteral(u"错误"));
    EXPECT_FALSE(Script().ExportWorker().m_bRunning.load());
    EXPECT_TRUE(Script().PreviewWorker().m_bRunning.load());

    // The worker ends after the progress window closed but before the window looks again: still unseen.
    Script().ExportWorker().m_startGate.Close();
    m_services.files.push_back({ true, Path("no-such-folder/raced.png"), 0 });
    m_services.progress = [this](COutportDlg& dialog) {
        dialog.accept();
        Script().ExportWorker().m_startGate.Open();
        WaitWhile([this] { return Script().ExportWorker().m_bRunning.load(); }, 5, 6000);
    };
    m_window.OnExport();
    ASSERT_EQ(m_services.messages.size(), 2u);
    EXPECT_TRUE(m_services.messages.back().text.contains(Path("no-such-folder/raced.png")));
}

TEST_F(MenuCommands, CancelDuringExport)
{
    Script().SetImageSize(100, 100);
    Script().ExportWorker().m_startGate.Close(); // the worker waits for the cancel, however fast it renders
    m_services.files.push_back({ true, Path("cancelled.png"), 0 });
    m_services.progress = [](COutportDlg& dialog) {
        dialog.OnTimer();
        dialog.reject();
    };
    m_window.OnExport();
    Script().ExportWorker().m_startGate.Open();
    EXPECT_EQ(Script().GetExportOutcome(), ExportOutcome::Cancelled);
    EXPECT_FALSE(QFile::exists(Path("cancelled.png"))) << "a cancelled export leaves no file";
    EXPECT_TRUE(m_services.messages.empty()) << "a cancel the user asked for is no failure to report";
    EXPECT_TRUE(Script().PreviewWorker().m_bRunning.load());
}

// A progress window closed while the export runs opens again: the user sees the export to its end
// and can cancel it. The worker is held at its start until the cancel.
TEST_F(MenuCommands, WaitingForAnExportShowsItsProgress)
{
    Script().SetImageSize(100, 100);
    Script().ExportWorker().m_startGate.Close(); // opened only by the cancel's stop request
    m_services.files.push_back({ true, Path("held.png"), 0 });
    bool okWhileRunning = true;
    m_services.progress = [&](COutportDlg& dialog) {
        if (m_services.progressShown == 1) {
            return; // closed at once, as a window closed early would be
        }
        dialog.OnTimer();
        okWhileRunning = dialog.OkButton()->isEnabled();
        EXPECT_TRUE(dialog.CancelButton()->isEnabled());
        dialog.reject();
    };
    m_window.OnExport();
    EXPECT_EQ(m_services.progressShown, 2);
    EXPECT_FALSE(okWhileRunning) << "OK waits for the end of the export";
    EXPECT_EQ(Script().GetExportOutcome(), ExportOutcome::Cancelled);
    EXPECT_FALSE(QFile::exists(Path("held.png")));
    EXPECT_TRUE(Script().PreviewWorker().m_bRunning.load());
}

// Edit > Palette > Reset mapping (and R): the identity, the stretch kept, and the handles back.
TEST_F(MenuCommands, ResetPaletteMapping)
{
    Script().Save(Path("clean.gsc"));
    Script().SetMapping(0.5, 0.25, 2, 2, 0.6, -0.8, 3);
    m_window.OnKeyDown(Qt::Key_R, false);
    EXPECT_EQ(Script().GetMapping(), (PaletteMapping { 0, 0, 1, 1, 0, 1, 3 }));
    EXPECT_TRUE(Script().IsModified());
    EXPECT_EQ(m_window.ShownStage(), 0);
}

TEST_F(MenuCommands, ExportSize)
{
    m_services.exportSize = [](COutportSetDlg& dialog) {
        EXPECT_EQ(dialog.m_nWidth, 1024);
        dialog.m_nWidth = 1000;
        dialog.m_nHeight = 500;
        dialog.InitDialog();
        return dialog.OnOk();
    };
    m_window.OnExportSettings();
    EXPECT_EQ(Script().GetImageWidth(), 1000);
    EXPECT_EQ(Script().GetPreviewWidth(), 480);
    EXPECT_EQ(Script().GetPreviewHeight(), 240);
    EXPECT_TRUE(Script().IsModified());
    EXPECT_TRUE(m_window.TimersRunning());

    // The same size again changes nothing but restarts the preview.
    ASSERT_TRUE(Script().Save(Path("size.gsc")));
    m_services.exportSize = [](COutportSetDlg& dialog) { return dialog.OnOk(); };
    m_window.OnExportSettings();
    EXPECT_FALSE(Script().IsModified());
    EXPECT_EQ(m_window.ShownStage(), 0);
    EXPECT_EQ(Script().GetPreviewHeight(), 240);
}

// Export settings with the framing kept: the same part of the plane at the new size, centred, and one
// undo step back to the old size and view. Off, the scale stays and a larger picture shows more.
TEST_F(MenuCommands, ExportSizeKeepingTheFraming)
{
    const struct {
        bool keep;
        int width, height;
        double offsetX, offsetY, ratio;
    } rows[] = {
        { true, 2048, 2048, -1, -1, 1.0 / 1024 },
        { true, 2048, 1024, -2, -1, 2.0 / 1024 }, // wider: the square stays whole, centred
        { false, 2048, 2048, -1, -1, 2.0 / 1024 },
    };
    for (const auto& row : rows) {
        m_window.OnFileNew();
        m_services.exportSize = [&row](COutportSetDlg& dialog) {
            dialog.m_nWidth = row.width;
            dialog.m_nHeight = row.height;
            dialog.m_bKeepFraming = row.keep ? 1 : 0;
            dialog.InitDialog();
            return dialog.OnOk();
        };
        m_window.OnExportSettings();
        EXPECT_EQ(Script().GetImageWidth(), row.width);
        EXPECT_DOUBLE_EQ(Script().GetOffsetX(), row.offsetX) << row.keep << " " << row.height;
        EXPECT_DOUBLE_EQ(Script().GetOffsetY(), row.offsetY) << row.keep << " " << row.height;
        EXPECT_DOUBLE_EQ(Script().GetRatio(), row.ratio) << row.keep << " " << row.height;
        m_window.OnUndo();
        EXPECT_EQ(Script().GetImageWidth(), 1024);
        EXPECT_EQ(Script().GetRatio(), 2.0 / 1024);
        EXPECT_EQ(Script().GetOffsetX(), -1.0);
        EXPECT_FALSE(Script().IsModified());
    }
    // The choice stays for the rest of the run.
    m_services.exportSize = [](COutportSetDlg& dialog) {
        EXPECT_EQ(dialog.m_bKeepFraming, 0);
        return false;
    };
    m_window.OnExportSettings();
}

// Copy puts the picture and its script on the clipboard; Paste opens a script from a text or from a
// picture that carries one, as a new script after the save-changes question, and says when there is none.
TEST_F(MenuCommands, CopyAndPaste)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    Script().SetMaxIter(77);
    m_window.OnCopy();
    const QString text = clipboard->text();
    const QImage picture = clipboard->image();
    EXPECT_TRUE(text.contains(QStringLiteral(u"z = z * z + C;"))) << text.toStdString();
    EXPECT_EQ(picture.size(), QSize(Script().GetPreviewWidth(), Script().GetPreviewHeight()));
    EXPECT_EQ(picture.text(QStringLiteral("glimmerset-script")), text);

    QImage carrier(8, 8, QImage::Format_RGB32);
    carrier.setText(QStringLiteral("glimmerset-script"), text);
    QString broken = text;
    broken.replace(QStringLiteral("z * z + C"), QStringLiteral("z * z + D"));
    const struct {
        const char* name;
        std::function<QMimeData*()> data;
        QString message; // empty: the script opens
    } rows[] = {
        { "text",
            [&] {
                auto* d = new QMimeData;
                d->setText(text);
                return d;
            },
            {} },
        { "a picture carrying it",
            [&] {
                auto* d = new QMimeData;
                d->setImageData(carrier);
                return d;
            },
            {} },
        { "no script",
            [] {
                auto* d = new QMimeData;
                d->setText(QStringLiteral("z = z * z + C;"));
                return d;
            },
            QStringLiteral(u"剪贴板中没有脚本") },
        { "a formula that does not compile",
            [&] {
                auto* d = new QMimeData;
                d->setText(broken);
                return d;
            },
            QStringLiteral(u"无法读取剪贴板中的脚本！\n迭代公式错误:非法字符\n第 1 行，第 13 "
                           u"列：未知的名称“D”：常量名以 C 开头") },
    };
    for (const auto& row : rows) {
        m_window.OnFileNew();
        m_services.messages.clear();
        Script().SetMaxIter(5); // an edit: Paste asks first
        m_services.answers = { MessageAnswer::No };
        clipboard->setMimeData(row.data());
        m_window.OnPaste();
        if (row.message.isEmpty()) {
            ASSERT_EQ(m_services.messages.size(), 1u) << row.name << ": " << m_services.Last().toStdString();
            EXPECT_EQ(m_services.messages[0].buttons, MessageButtons::YesNoCancel) << row.name;
            EXPECT_EQ(Script().GetMaxIter(), 77) << row.name;
            EXPECT_FALSE(Script().IsModified()) << row.name;
        } else {
            EXPECT_EQ(m_services.Last().toStdString(), row.message.toStdString()) << row.name;
        }
        EXPECT_TRUE(m_window.ScriptPath().isEmpty()) << row.name << ": a pasted script has no file";
        EXPECT_TRUE(m_window.TimersRunning()) << row.name;
    }
}

} // namespace
