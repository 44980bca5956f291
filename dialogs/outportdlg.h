#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QTimer>

class CFractalScript;
class QLabel;
class QProgressBar;
class QPushButton;

// The export progress window: a 10 ms timer moves the bar, enables OK once the worker has ended
// and Cancel while it runs, shows the elapsed and the estimated remaining time, and the worker's
// outcome once it has ended. Cancel asks the worker to stop. No title bar; modal over the main window.
class COutportDlg : public QDialog {
    Q_DECLARE_TR_FUNCTIONS(COutportDlg)

public:
    explicit COutportDlg(QWidget* parent = nullptr);

    CFractalScript* m_pScript { nullptr }; // whose export is watched; not owned
    qint64 m_tStart { 0 };                 // wall-clock seconds at initialisation
    qint64 m_tLastShownElapsed { -1 };     // the elapsed seconds the status text was last made for

    void InitDialog();
    int exec() override;
    void reject() override; // Cancel and Escape

    // One tick of the status refresh.
    void OnTimer();

    // "1天01小时01分钟01秒": leading units only when they or a larger one are not 0; the seconds
    // always, or only when not 0.
    static QString DurationText(qint64 seconds, bool secondsAlways);
    // The status while the worker runs: "用时..." and, once a part is done, "，预计还需...".
    static QString StatusText(qint64 elapsed, double progress);

    QProgressBar* Progress() const { return m_progress; }
    QLabel* Status() const { return m_status; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }
    bool Polling() const { return m_timer.isActive(); }
    // Whether the worker's outcome has been put in front of the user in this window.
    bool ShownOutcome() const { return m_bShownOutcome; }

private:
    QTimer m_timer;
    QProgressBar* m_progress { nullptr };
    QLabel* m_status { nullptr };
    QPushButton* m_ok { nullptr };
    QPushButton* m_cancel { nullptr };
    bool m_bShownOutcome { false };
};
