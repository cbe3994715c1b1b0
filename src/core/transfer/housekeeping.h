#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/transfer/scheduleroptions.h"

#include <QObject>
#include <QTimer>
#include <functional>

class TransferSlots;

// Timer1's work for the queue once a second: the run ended when the list is finished, the "开始下载"
// item, slots that never got under way, speeds of quiet transfers, the busy flag, the totals line and
// the automatic start.
class Housekeeping : public QObject
{
    Q_OBJECT

public:
    // What the tick asks of the scheduler it keeps house for.
    struct Run
    {
        std::function<bool()> running;
        std::function<void()> announce; // the running mark shown again
        std::function<void()> end;      // the list is finished: scheduler off, the run's end announced
        std::function<void(bool)> setBusy;
        std::function<void()> start;
    };

    Housekeeping(const DownloadListModel *model, TransferSlots &transfers, const SchedulerOptions &options,
                 Run run, QObject *parent = nullptr);

    // On or off (batch mode runs it only while it downloads).
    void setOn(bool on);
    bool isOn() const { return Timer1.isActive(); }

    // One tick, public so tests can drive it without waiting.
    void tickHousekeeping();
    // The totals line in the status bar's fourth panel.
    void UpdateStatusSummary();

Q_SIGNALS:
    // The counts of the list are due to be shown again.
    void totalsChanged();
    // The menu item "开始下载" is enabled or not.
    void startEnabledChanged(bool enabled);
    // Last step of each tick that was not cut short by live slots.
    void housekeepingDone();

private:
    const DownloadListModel *m_model;
    TransferSlots &m_transfers;
    const SchedulerOptions &m_options;
    Run m_run;
    QTimer Timer1;
};
