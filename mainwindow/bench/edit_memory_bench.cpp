// Memory over a long session: 10 000 edits from the window thread (keys, wheel turns, drags,
// settings that recompile the formulas, palette reloads) with the preview worker running. Prints the
// resident set after a warm-up and at the end; run it under heaptrack or the ASan leak checker for
// the allocations themselves.
//
//   edit_memory_bench [edits]
#include "fractaldlg.h"
#include "randomedits.h"
#include "settingdlg.h"
#include "windowservices.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include <unistd.h>

namespace {

// Answers every message with its default and every settings dialog with OK after an edit.
class CBenchServices : public CWindowServices {
public:
    MessageAnswer ShowMessage(
        QWidget*, const QString&, const QString&, MessageIcon, MessageButtons buttons) override
    {
        return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
    }
    FileDialogResult ChooseFileToOpen(QWidget*, const FileDialogRequest&) override { return {}; }
    FileDialogResult ChooseFileToSave(QWidget*, const FileDialogRequest&) override { return {}; }
    void ShowAbout(QWidget*) override { }
    bool RunSettings(CSettingDlg& dialog) override
    {
        dialog.InitDialog();
        static const char* const kIterations[] = { "z = z*z + C", "z = z*z*z + C", "z = sin(z)*C" };
        dialog.m_strIterFormula = QString::fromLatin1(kIterations[m_nSettings++ % 3]);
        dialog.m_nMaxIter = 64 + m_nSettings % 64;
        dialog.WriteFields();
        const bool ok = dialog.OnOk();
        m_nApplied += ok ? 1 : 0;
        return ok;
    }
    int Applied() const { return m_nApplied; }

private:
    int m_nApplied { 0 };
    int m_nSettings { 0 };
};

long ResidentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // make bench passes its Google Benchmark options to every bench; only a number is meant for this one.
    const bool counted = argc > 1 && argv[1][0] >= '0' && argv[1][0] <= '9';
    const int edits = counted ? std::max(100, std::atoi(argv[1])) : 10000;

    CBenchServices services;
    CFractalDlg window(services);
    window.Initialize(QString());
    window.show();

    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, 99);
    long warm = 0;
    long peak = 0;
    for (int edit = 1; edit <= edits; ++edit) {
        const int what = pick(random);
        if (what < 85) {
            MakeRandomViewEdit(window, random);
        } else if (what < 95) {
            window.OnSettings();
        } else {
            window.OnSystemPalette();
        }
        // The window's timer shows a frame now and then; the worker renders all along.
        window.OnPreviewTimer();
        QCoreApplication::processEvents();
        const long now = ResidentKiB();
        peak = std::max(peak, now);
        if (edit == edits / 10) {
            warm = now;
        }
    }
    const long end = ResidentKiB();
    std::printf(
        "edits %d (%d of them settings): resident after %d edits %ld KiB, at the end %ld KiB (%+ld KiB), "
        "peak %ld KiB; %d steps in the undo history, %d palette pictures held\n",
        edits, services.Applied(), edits / 10, warm, end, end - warm, peak, window.History().Stack().count(),
        window.History().PicturesHeld());
    std::fflush(stdout);
    window.Script().StopPreview();
    return 0;
}
