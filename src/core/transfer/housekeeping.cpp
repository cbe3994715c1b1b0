#include "core/transfer/housekeeping.h"

#include "core/transfer/transferslots.h"

Housekeeping::Housekeeping(const DownloadListModel *model, TransferSlots &transfers,
                           const SchedulerOptions &options, Run run, QObject *parent)
    : QObject(parent), m_model(model), m_transfers(transfers), m_options(options), m_run(std::move(run))
{
    Timer1.setInterval(1000);
    connect(&Timer1, &QTimer::timeout, this, &Housekeeping::tickHousekeeping);
}

void Housekeeping::setOn(bool on)
{
    if (on)
        Timer1.start();
    else
        Timer1.stop();
}

void Housekeeping::UpdateStatusSummary()
{
    Q_EMIT totalsChanged();
}

void Housekeeping::tickHousekeeping()
{
    m_run.announce();
    if (m_model->检测是否下载列表完毕()) {
        m_run.end();
        Q_EMIT startEnabledChanged(true);
    } else {
        Q_EMIT startEnabledChanged(!m_run.running());
    }
    m_transfers.watchdog(m_options.threadCount);
    m_transfers.refreshSpeeds();
    if (m_options.method == DownloadMethod::Single) {
        if (!m_transfers.transferExecuting() && !m_run.running())
            m_run.setBusy(false);
    } else {
        bool anySlot = false;
        for (int k = 1; k <= m_options.threadCount && k <= TransferSlots::MaxSlots; ++k)
            anySlot = anySlot || m_transfers.slotAlive(k);
        if (anySlot) {
            m_run.setBusy(true);
            return;
        }
        if (!m_run.running())
            m_run.setBusy(false);
    }
    UpdateStatusSummary();
    if (m_options.autoStart && m_model->统计未下载项数目() > 0)
        m_run.start();
    Q_EMIT housekeepingDone();
}
