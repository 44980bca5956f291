// Draws the main window offscreen with a script's finished preview and saves it, for the README.
//
//   screenshot SCRIPT OUT.png
#include "fractaldlg.h"
#include "windowservices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QThread>

#include <cstdio>

namespace {

class CQuietServices : public CWindowServices {
public:
    MessageAnswer ShowMessage(
        QWidget*, const QString& text, const QString&, MessageIcon, MessageButtons) override
    {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        return MessageAnswer::Cancel;
    }
    FileDialogResult ChooseFileToOpen(QWidget*, const FileDialogRequest&) override { return {}; }
    FileDialogResult ChooseFileToSave(QWidget*, const FileDialogRequest&) override { return {}; }
    void ShowAbout(QWidget*) override { }
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: screenshot SCRIPT OUT.png\n");
        return 2;
    }
    CQuietServices services;
    CFractalDlg window(services);
    window.Initialize(QString::fromLocal8Bit(argv[1]));
    window.show();
    QElapsedTimer timer;
    timer.start();
    // The window's own timers show the frames; wait until the last one is on screen.
    while (timer.elapsed() < 60000
        && !(window.Script().PreviewWorker().m_dProgress.load() == 1.0 && !window.Script().PreviewWorker().m_bRefreshRequest.load())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    // A few ticks of the window's timers more, so that the last frame and the status line are shown:
    // processEvents does not wait for a timer that is not yet due.
    QElapsedTimer ticks;
    ticks.start();
    while (ticks.elapsed() < 500) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    window.Script().StopPreview();
    return 0;
}
