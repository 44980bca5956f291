#include "outportdlg.h"

#include "dialogunits.h"
#include "fractalscript.h"
#include "language.h"

#include <QDateTime>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cmath>

namespace {

constexpr int kTimerPeriodMs = 10;

} // namespace

COutportDlg::COutportDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setFixedSize(Dlu(224, 54).size());
    m_progress = new QProgressBar(this);
    m_progress->setGeometry(Dlu(7, 7, 210, 10));
    m_progress->setTextVisible(false);
    m_status = new QLabel(tr("就绪"), this);
    m_status->setGeometry(Dlu(7, 21, 210, 8));
    m_status->setMinimumHeight(m_status->sizeHint().height());
    m_cancel = new QPushButton(tr("取消"), this);
    m_cancel->setGeometry(Dlu(113, 33, 50, 14));
    m_cancel->setAutoDefault(false);
    m_ok = new QPushButton(tr("确定"), this);
    m_ok->setGeometry(Dlu(167, 33, 50, 14));
    m_ok->setDefault(true);
    FitTexts(this);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &COutportDlg::reject);
    m_timer.setInterval(kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &COutportDlg::OnTimer);
}

void COutportDlg::InitDialog()
{
    m_timer.start();
    m_progress->setRange(0, 100);
    m_tStart = QDateTime::currentSecsSinceEpoch();
}

int COutportDlg::exec()
{
    InitDialog();
    return QDialog::exec();
}

void COutportDlg::reject()
{
    // Closes whether or not the worker has stopped within its second.
    if (m_pScript) {
        m_pScript->StopExport();
    }
    m_timer.stop();
    QDialog::reject();
}

QString COutportDlg::DurationText(qint64 t, bool secondsAlways)
{
    const qint64 days = t / 86400;
    const qint64 hours = t / 3600 - days * 24;
    const qint64 minutes = t / 60 - (t / 3600) * 60;
    const qint64 seconds = t - (t / 60) * 60;
    QString text;
    if (days != 0) {
        text += tr("%1天").arg(days);
    }
    if (hours != 0 || !text.isEmpty()) {
        text += tr("%1小时").arg(hours, 2, 10, QLatin1Char('0'));
    }
    if (minutes != 0 || !text.isEmpty()) {
        text += tr("%1分钟").arg(minutes, 2, 10, QLatin1Char('0'));
    }
    if (secondsAlways || seconds != 0) {
        text += tr("%1秒").arg(seconds, 2, 10, QLatin1Char('0'));
    }
    return text;
}

QString COutportDlg::StatusText(qint64 elapsed, double progress)
{
    QString text = tr("用时") + DurationText(elapsed, true);
    // No estimate before any part is done: it would divide by 0.
    if (progress > 0.0 && progress < 1.0) {
        // Far beyond any real export, but never a conversion out of range.
        constexpr double kLongest = 1e15;
        const double remaining
            = std::min((1.0 - progress) / progress * static_cast<double>(elapsed), kLongest);
        const QString rest = DurationText(static_cast<qint64>(remaining), false);
        if (!rest.isEmpty()) {
            text += tr("，预计还需") + rest;
        }
    }
    return text;
}

void COutportDlg::OnTimer()
{
    if (!m_pScript) {
        return;
    }
    const double p = m_pScript->ExportWorker().m_dProgress.load();
    m_progress->setValue(static_cast<int>(std::clamp(p, 0.0, 1.0) * 100));
    // OK only once the worker has ended: a full bar may still be a picture being written, or a
    // progress left over from before the export started.
    const bool running = m_pScript->ExportWorker().m_bRunning.load(std::memory_order_acquire);
    m_ok->setEnabled(!running);
    m_cancel->setEnabled(running);
    if (running) {
        const qint64 elapsed = QDateTime::currentSecsSinceEpoch() - m_tStart;
        // The text changes at most once a second.
        if (elapsed == m_tLastShownElapsed) {
            return;
        }
        m_tLastShownElapsed = elapsed;
        m_status->setText(StatusText(elapsed, p));
        return;
    }
    // The worker has ended: its outcome text is complete once the flag is clear.
    m_status->setText(TranslateMessage(m_pScript->GetLastError()));
    m_bShownOutcome = true;
    m_timer.stop();
}
