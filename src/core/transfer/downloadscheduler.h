#pragma once

#include "core/queue/downloadlistmodel.h"
#include "core/queue/heldrow.h"
#include "core/queue/rowwriter.h"
#include "core/queue/targetfile.h"
#include "core/transfer/downloader.h"
#include "core/transfer/landingtrails.h"
#include "core/transfer/queuepause.h"
#include "core/transfer/retrybook.h"
#include "core/transfer/rowpicker.h"
#include "core/transfer/scheduleroptions.h"
#include "core/transfer/startpacing.h"
#include "core/transfer/transfernetwork.h"
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

// What became of the single connection's transfer of a row.
enum class TransferNote { Started, Ended, Failed };

// The queue. A row starts as soon as a transfer slot is free and the pause between files allows;
// Timer_Down's tick looks for work as well, Timer1 keeps house (finished list, busy flag, totals,
// stalled slots, automatic start). The scheduler is the only one that writes what transfers report
// into the list, and it finds the rows by id, so rows may be removed or reordered while they run.
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
    // scheduler (running transfers go on).
    void switchMethod();
    // The close check: true while something runs or rows are not finished.
    bool closeNeedsConfirmation() const;
    // Close steps after any confirmation: timers off, stop, thread position saved.
    void windowClosing();
    // Housekeeping on or off (batch mode runs it only while it downloads).
    void setHousekeeping(bool on);

    bool isRunning() const { return Timer_Down.isActive(); }
    bool housekeepingOn() const { return Timer1.isActive(); }
    bool DownloadBusy() const { return m_busy; }
    // The transfers under way, slot by slot.
    const TransferSlots &transfers() const { return m_transfers; }
    // The cookie jar, the managers, the proxy and the limits the transfers go out with.
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

    // Ticks, public so tests can drive them without waiting.
    void tickScheduler();
    void tickHousekeeping();
    // Starts what is due now (what the single-shot wake-up runs).
    void startDue();
    // The totals line in the status bar's fourth panel.
    void UpdateStatusSummary();

    // How often Timer_Down looks for work (tests lengthen it to see that starts do not wait for it).
    void setTickIntervalMs(int ms) { Timer_Down.setInterval(ms); }

    // The held-row check has new answers: rows it passed over may start now.
    void heldAnswered();

Q_SIGNALS:
    // The single connection began a row's transfer, or ended one that the server answered.
    void transferNoted(TransferNote note, const QString &name);
    // The single connection's state as its transfer reports it (code: the HTTP status, 0 before one).
    void connectionStateChanged(ConnectionState state, int code, const QString &text);
    // The counts of the list are due to be shown again.
    void totalsChanged();
    // The scheduler went on or off (running mark, "开始下载" item).
    void runningChanged(bool running);
    // The menu item "开始下载" is enabled or not (kept by the housekeeping tick).
    void startEnabledChanged(bool enabled);
    // The method changed by the switch or at load: label "下载方式：N" and the thread list's state.
    void methodShown(DownloadMethod method, bool threadListEnabled, int threadPosition);
    // Last step of each housekeeping tick that was not cut short by live slots.
    void housekeepingDone();
    // A row's answer turned out to be a web page instead of a paper.
    void webPageReceived(RowId id);
    // A row ended (done or failed) through a transfer or the duplicate rule.
    void rowEnded(RowId id);
    // The queue that was started has ended: every row done or failed (or the queue was stopped), and no
    // transfer is live any more.
    void queueFinished();
    // A row failed for a passing reason and waits delayMs for its automatic try number `attempt`.
    void retryScheduled(RowId id, int attempt, int limit, qint64 delayMs);

private:
    void startWaitingRows(bool tick = false);
    // The wake-up after the pause, while the queue runs.
    void scheduleWake();
    QString startRow(RowId id);
    void onRowFinished(RowId id);
    void Inet下载当前文件(RowId id);
    void 多线程下载(int k, RowId id, const QString &targetPath);
    Downloader *makeTransfer(RowId id, bool single);
    void applyProxy() { m_network.applyProxy(); }
    void onProgress(RowId id, qint64 received, qint64 total);
    void onAnswered(RowId id, qint64 length, const QString &type, const QString &name);
    void onBodyReceived(RowId id);
    void onFinished(RowId id, const TransferResult &result);
    void DownloadComplete(RowId id, const TransferResult &result, bool single);
    void DownloadError(RowId id, const TransferResult &result);
    void onRowsDropped(const QList<RowId> &ids);
    void setRunning(bool running);
    void checkQueueFinished();
    bool scheduleRetry(RowId id, const TransferResult &result);
    void cleanDeadPartFiles();

    RowWriter m_rows;
    DownloadListModel *m_model;
    SchedulerOptions m_options;
    std::optional<DuplicatePolicy> m_storedPolicy; // what the tick last wrote into the store
    bool m_busy = false;
    bool m_runOpen = false;  // a started queue has not yet been announced finished
    bool m_starting = false; // re-entry guard of startWaitingRows
    TransferNetwork m_network;
    TransferSlots m_transfers;
    QHash<RowId, QPair<QString, QString>> m_beforeAnswer; // name and type of a row before its answer
    LandingTrails m_landing; // rows on their way from a paper's web page to its full text
    RetryBook m_retries;
    QueuePause m_pause;
    RowPicker m_picker;
    StartPacing m_pacing;
    QTimer Timer_Down; // the scheduler: on exactly while the queue runs
    QTimer Timer1;     // housekeeping
};
