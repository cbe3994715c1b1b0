#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/rows/heldrow.h"
#include "core/rows/rowwriter.h"
#include "core/rows/targetfile.h"
#include "core/transfer/downloader.h"
#include "core/transfer/hostpacing.h"
#include "core/transfer/housekeeping.h"
#include "core/transfer/landingtrails.h"
#include "core/transfer/queuepause.h"
#include "core/transfer/retrybook.h"
#include "core/transfer/rowpicker.h"
#include "core/transfer/scheduleroptions.h"
#include "core/transfer/startpacing.h"
#include "core/transfer/transfernetwork.h"
#include "core/transfer/transferreports.h"
#include "core/transfer/transferslots.h"
#include "core/transfer/wallwatch.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QSet>
#include <QTimer>
#include <array>
#include <optional>

// The queue. A row starts as soon as a transfer slot is free and the pause between files allows;
// Timer_Down's tick looks for work as well, and its Housekeeping's Timer1 keeps house (finished list,
// busy flag, totals, stalled slots, automatic start). The scheduler and its TransferReports are the only
// ones that write what transfers report into the list, and they find the rows by id, so rows may be
// removed or reordered while they run.
class DownloadScheduler : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxSlots = TransferSlots::MaxSlots;

    // The scheduler writes what transfers report into the rows through the writer it is given.
    explicit DownloadScheduler(RowWriter rows, QObject *parent = nullptr);
    ~DownloadScheduler() override;

    DownloadListModel *model() const { return m_model; }
    SchedulerOptions &options() { return m_options; }
    const SchedulerOptions &options() const { return m_options; }
    DownloadMethod method() const { return m_options.method; }

    // The queue's part of window load: LastFinishTime, empty list, method and thread position from the
    // store, duplicate policy, proxy, housekeeping on.
    void windowLoaded();
    // Start ("开始下载"): the scheduler runs.
    void start();
    // Stop ("停止下载"): scheduler off, transfers cancelled (a file already whole is kept), their rows
    // failed.
    void StopDownloads();
    // "切换": toggles the method for this run (also the shared value, which is not stored) and stops the
    // scheduler (running transfers go on). The parallel method comes back with the thread count it had.
    void switchMethod();
    // The close check: true while something runs or rows are not finished.
    bool closeNeedsConfirmation() const;
    // Close steps after any confirmation: timers off, stop, thread position saved.
    void windowClosing();
    // Timer1's work: on or off (batch mode runs it only while it downloads), its tick and the totals
    // line.
    Housekeeping *housekeeping() const { return m_housekeeping; }
    // What the transfers report: progress and ends written into the rows, the single connection's
    // state, web pages met and retries scheduled.
    TransferReports *reports() const { return m_reports; }

    bool isRunning() const { return Timer_Down.isActive(); }
    bool DownloadBusy() const { return m_busy; }
    // The transfers under way, slot by slot.
    const TransferSlots &transfers() const { return m_transfers; }
    // The cookie jar, the managers and the proxy the transfers go out with.
    const TransferNetwork &network() const { return m_network; }
    // Which row starts next, the held-row check and the paths that live transfers are writing.
    RowPicker &picker() { return m_picker; }
    // The pause between files: when the last one ended and when the next start is due.
    const StartPacing &pacing() const { return m_pacing; }
    // Rows waiting for an automatic retry and the hosts held back meanwhile.
    const RetryBook &retries() const { return m_retries; }

    // The queue's pause for a verification page, a login or the disk.
    QueuePause &pause() { return m_pause; }
    const QueuePause &pause() const { return m_pause; }
    // The user solved it: the rows that met the page go back to the queue and the queue goes on.
    void resumeAfterVerification();

    // Timer_Down's tick, public so tests can drive it without waiting.
    void tickScheduler();
    // Starts what is due now (what the single-shot wake-up runs).
    void startDue();

    // How often Timer_Down looks for work (tests lengthen it to see that starts do not wait for it).
    void setTickIntervalMs(int ms) { Timer_Down.setInterval(ms); }

Q_SIGNALS:
    // The single connection began a row's transfer, or ended one that the server answered.
    void transferNoted(TransferNote note, const QString &name);
    // The scheduler went on or off (running mark, "开始下载" item).
    void runningChanged(bool running);
    // The method changed by the switch or at load: label "下载方式：N" and the thread list's state.
    void methodShown(DownloadMethod method, bool threadListEnabled, int threadPosition);
    // A row ended (done or failed) through a transfer or the duplicate rule.
    void rowEnded(RowId id);
    // A transfer of the row ended, its file (if it had one) in place or given up; after rowEnded.
    void transferEnded(RowId id);
    // The queue that was started has ended: every row done or failed (or the queue was stopped), and no
    // transfer is live any more.
    void queueFinished();

private:
    // What the constructor connects to the list and to the housekeeping (downloadscheduler.cpp), and
    // what an ended try means for its row (downloadschedulerend.cpp).
    struct Wiring;
    struct TryEnd;

    void startWaitingRows(bool tick = false);
    // The wake-up after the pause, while the queue runs.
    void scheduleWake();
    QString startRow(RowId id);
    void Inet下载当前文件(RowId id);
    void 多线程下载(int k, RowId id, const QString &targetPath);
    Downloader *makeTransfer(RowId id, bool single, int slot = 1);
    void onBodyReceived(RowId id);
    void onFinished(RowId id, const TransferResult &result);
    void setRunning(bool running);
    void checkQueueFinished();

    RowWriter m_rows;
    DownloadListModel *m_model;
    SchedulerOptions m_options;
    std::optional<DuplicatePolicy> m_storedPolicy; // what the tick last wrote into the store
    bool m_busy = false;
    bool m_runOpen = false;  // a started queue has not yet been announced finished
    bool m_starting = false; // re-entry guard of startWaitingRows
    TransferNetwork m_network;
    TransferSlots m_transfers;
    LandingTrails m_landing; // rows on their way from a paper's web page to its full text
    RetryBook m_retries;
    HostPacing m_hostPacing; // the sites' own limits
    QueuePause m_pause;
    RowPicker m_picker;
    StartPacing m_pacing;
    QTimer Timer_Down; // the scheduler: on exactly while the queue runs
    TransferReports *m_reports;
    Housekeeping *m_housekeeping = nullptr;
};
