#pragma once

#include "core/library/librarytypes.h"
#include "core/queue/queuecommands.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"

#include <QObject>
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

    // A waiting row for the paper; RowId::None when its address is listed already.
    RowId enqueue(const DownloadRow &row);
    // Waiting rows for many papers, with one notification; the ids of those added (an address listed
    // already keeps its row).
    QList<RowId> enqueueRows(QList<DownloadRow> rows) { return m_rows.addRows(std::move(rows)); }
    // A candidate of a result page, named and placed as the options say; false when it cannot be read
    // or has no folder to go to.
    bool enqueue(const CandidateListModel &candidates, int position, const HandOverOptions &options,
                 HandOverTally *tally = nullptr);
    // Rows handed over again, sent to the folder chosen now; a row that has finished or started stays.
    int moveToChosenFolders(const QList<MovableRow> &rows);
    // The list kept from the last run back in the list: unfinished rows waiting, finished ones as they
    // were. The number of rows added (an address already listed keeps its row).
    int restore();

    // The list commands of the menus and the list's clicks.
    QueueCommands &commands() { return m_commands; }

Q_SIGNALS:
    // What the scheduler reports for the window's controls and status bar and the batch mode's lines
    // comes from scheduler() itself; the queue adds what only it knows.
    void webPageReceived(RowId id);
    // The run has ended (every row done or failed, or the run was stopped) and no transfer is live;
    // the list's counts as they stand then.
    void queueFinished(const DownloadListModel::Totals &totals);
    void verificationNeeded(const QString &host, const QUrl &page);
    void diskPaused(DiskFault fault, const QString &folder);
    // The library did not take outcomes or the list; the text is the library's, for the user.
    void libraryFailed(const QString &message);
    // Another program holds the library: outcomes or the list wait to be written, and were written, or
    // given up (told in libraryFailed()).
    void libraryBusy(LibraryWait wait);

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
    int m_busyWriters = 0; // of the recorder and the keeper, those waiting for a busy library
    LoginHooks m_login;
    QueueCommands m_commands;
    QSet<QString> m_loginRetried; // rows given their one more try after a login, this run
    QStringList m_pendingRetries; // rows waiting for the login that runs now
    bool m_userStopped = false;
};
