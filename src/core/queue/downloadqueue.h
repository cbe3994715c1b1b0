#pragma once

#include "core/queue/downloadcommands.h"
#include "core/queue/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"

#include <QObject>
#include <QRandomGenerator>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <functional>

Q_DECLARE_METATYPE(DownloadListModel::Totals)

class CandidateListModel;
class HeldRowChecker;
class LibraryRecorder;
class PaperLibrary;
class QueueKeeper;
struct HandOverOptions;
struct HandOverTally;
struct MovableRow;

// The one owner of the download list and its life: the rows, the scheduler that fetches them, the
// paper library's hooks (held rows passed over, every outcome recorded, the list kept across runs) and
// the one more try a row gets after an automatic login. The download window and the batch mode drive it
// and show what it signals; neither wires these pieces itself. The list commands of the menus, the
// hand-over and the list kept from the last run change the rows through the queue's operations.
class DownloadQueue : public QObject
{
    Q_OBJECT

public:
    // What the queue asks of whoever can log in: whether automatic login is on, and to begin one (true
    // when a login runs now, false when there is nothing to log in with).
    struct LoginHooks
    {
        std::function<bool()> enabled;
        std::function<bool()> begin;
    };

    explicit DownloadQueue(QObject *parent = nullptr);
    ~DownloadQueue() override; // the library's hooks, then the transfers, then the rows

    DownloadListModel *model() const { return m_model; }
    // The scheduler to watch (its state and signals); it is driven only through the queue's operations.
    const DownloadScheduler *scheduler() const { return m_scheduler; }

    // The paper library: rows held from earlier downloads are passed over while skipHeld is on, every
    // outcome is recorded, and with keepList the list itself is kept across runs.
    void attachLibrary(PaperLibrary *library, bool skipHeld, bool keepList);
    // Hashing under way is written (or given up) and the list saved; the queue then runs without them.
    void releaseLibrary();
    PaperLibrary *library() const { return m_library; }
    HeldRowChecker *heldRowChecker() const { return m_heldChecker; }
    LibraryRecorder *libraryRecorder() const { return m_recorder; }
    QueueKeeper *queueKeeper() const { return m_keeper; }
    void setSkipHeld(bool on);

    // What the scheduler works with (method, threads, interval, duplicate names, proxy, retries...); the
    // window keeps it in step with its controls, the batch mode sets it from its arguments.
    const SchedulerOptions &options() const { return m_scheduler->options(); }
    void changeOptions(const std::function<void(SchedulerOptions &)> &change);
    // The window has loaded: an empty list, the method and options as stored, housekeeping on.
    void load();
    // The window closes (after any confirmation): timers off, transfers stopped, thread position kept.
    void close();
    // "切换": the other method for this run; the scheduler stops while running transfers go on.
    void switchMethod();
    // Housekeeping on or off (the batch mode keeps it on only while it downloads).
    void setHousekeeping(bool on);
    // The counts of the list shown again (totalsChanged).
    void refreshTotals();

    // A run the user starts: every row may have its one more try after a login again.
    void start();
    // The scheduler goes on within the same run (automatic re-download): rows keep their tries.
    void continueRun();
    // The user stops the run: a login that ends later does not start it again.
    void stop();

    void setLoginHooks(LoginHooks hooks) { m_login = std::move(hooks); }
    // The login that the queue waited for has ended: the rows that met a web page try once more.
    void loginFinished();
    // The user solved the verification page: the rows that met it go back to the queue and it goes on.
    void resume();

    // The busy tests of the list commands, as they stand now.
    CommandGuards guards() const;

    // A waiting row for the paper; RowId::None when its address is listed already.
    RowId enqueue(const DownloadRow &row);
    // A candidate of a result page, named and placed as the options say; false when it cannot be read
    // or has no folder to go to.
    bool enqueue(const CandidateListModel &candidates, int position, const HandOverOptions &options,
                 HandOverTally *tally = nullptr);
    // Rows handed over again, sent to the folder chosen now; a row that has finished or started stays.
    int moveToChosenFolders(const QList<MovableRow> &rows);
    // The list kept from the last run back in the list: unfinished rows waiting, finished ones as they
    // were. The number of rows added (an address already listed keeps its row).
    int restore();

    // Back to waiting (the commands of "重新下载"); the number of rows reset, -1 when refused.
    void reset(RowId id);
    int redownloadSelected(const QList<RowId> &selected);
    int redownloadFailed();
    int redownloadHtml();
    void autoRedownload(AutoRedownloadChoice choice);
    // "清除" and "清空"; the number of rows removed, -1 when refused.
    int removeSelected(const QList<RowId> &selected);
    int removeFailed();
    int removeDone();
    bool clearAll();
    // "随机排序列表(打乱)" and a header click; false when refused.
    bool shuffle();
    bool sortByColumn(int column);
    const HeaderSorter &sorter() const { return m_sorter; }
    // "取消下载选中项": selected waiting rows become failed.
    bool cancel(const QList<RowId> &selected);
    // Double-click: a done row opens its file, a failed one goes back to the queue.
    void doubleClick(RowId id, const ShellHooks &shell);
    // "检查PDF文件": the number of rows whose type was mended.
    int checkPdfFiles();

Q_SIGNALS:
    // What the scheduler reports, for the window's controls and status bar and the batch mode's lines.
    void transferNoted(TransferNote note, const QString &name);
    void connectionStateChanged(ConnectionState state, int code, const QString &text);
    void totalsChanged();
    void runningChanged(bool running);
    void startEnabledChanged(bool enabled);
    void methodShown(DownloadMethod method, bool threadListEnabled, int threadPosition);
    void housekeepingDone();
    void retryScheduled(RowId id, int attempt, int limit, qint64 delayMs);
    void rowEnded(RowId id);
    void webPageReceived(RowId id);
    // The run has ended (every row done or failed, or the run was stopped) and no transfer is live;
    // the list's counts as they stand then.
    void queueFinished(const DownloadListModel::Totals &totals);
    void verificationNeeded(const QString &host, const QUrl &page);
    // The library did not take outcomes or the list; the text is the library's, for the user.
    void libraryFailed(const QString &message);

private:
    friend struct SchedulerAccess;
    void onWebPageReceived(RowId id);
    void retryAfterLogin(const QString &key);

    DownloadListModel *m_model;
    RowWriter m_rows; // the list's one writer, lent to the scheduler, the commands and the hand-over
    DownloadScheduler *m_scheduler;
    PaperLibrary *m_library = nullptr;
    HeldRowChecker *m_heldChecker = nullptr;
    LibraryRecorder *m_recorder = nullptr;
    QueueKeeper *m_keeper = nullptr;
    LoginHooks m_login;
    HeaderSorter m_sorter;
    QRandomGenerator m_random;
    QSet<QString> m_loginRetried; // rows given their one more try after a login, this run
    QStringList m_pendingRetries; // rows waiting for the login that runs now
    bool m_userStopped = false;
};
