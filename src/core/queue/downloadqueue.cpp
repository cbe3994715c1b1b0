#include "core/queue/downloadqueue.h"

#include "core/queue/downloadcommands.h"
#include "core/queue/heldrowchecker.h"
#include "core/queue/libraryrecorder.h"
#include "core/queue/queuekeeper.h"
#include "core/search/handover.h"
#include "core/transfer/downloadscheduler.h"

DownloadQueue::DownloadQueue(QObject *parent)
    : QObject(parent), m_model(new DownloadListModel(this)), m_rows(*m_model),
      m_scheduler(new DownloadScheduler(m_rows, this)), m_commands(m_rows, m_scheduler)
{
    connect(m_scheduler, &DownloadScheduler::queueFinished, this,
            [this] { Q_EMIT queueFinished(m_model->totals()); });
    connect(&m_scheduler->pause(), &QueuePause::verificationNeeded, this, &DownloadQueue::verificationNeeded);
    connect(&m_scheduler->pause(), &QueuePause::diskPaused, this, &DownloadQueue::diskPaused);
    connect(m_scheduler->reports(), &TransferReports::webPageReceived, this,
            &DownloadQueue::onWebPageReceived);
}

DownloadQueue::~DownloadQueue()
{
    releaseLibrary();
    // The transfers may still write to rows while they wind down; the rows go after them.
    delete m_scheduler;
    delete m_model;
}

void DownloadQueue::attachLibrary(PaperLibrary *library, bool skipHeld, bool keepList)
{
    releaseLibrary();
    m_library = library;
    if (!library)
        return;
    m_heldChecker = new HeldRowChecker(library, this);
    m_heldChecker->attach(m_scheduler);
    m_heldChecker->setEnabled(skipHeld);
    AttachForeignFileTest(m_scheduler, library);
    m_recorder = new LibraryRecorder(library, m_scheduler, this);
    connect(m_recorder, &LibraryRecorder::failed, this, &DownloadQueue::libraryFailed);
    // One wait for the two writers: it starts with the first that waits and ends with the last.
    m_busyWriters = 0;
    const auto busy = [this](LibraryWait wait) {
        m_busyWriters += wait == LibraryWait::Started ? 1 : -1;
        if (m_busyWriters == (wait == LibraryWait::Started ? 1 : 0))
            Q_EMIT libraryBusy(wait);
    };
    connect(m_recorder, &LibraryRecorder::busyChanged, this, busy);
    if (!keepList)
        return;
    m_keeper = new QueueKeeper(library, m_model, this);
    connect(m_keeper, &QueueKeeper::failed, this, &DownloadQueue::libraryFailed);
    connect(m_keeper, &QueueKeeper::busyChanged, this, busy);
}

void DownloadQueue::releaseLibrary()
{
    if (m_keeper)
        m_keeper->detach();
    AttachForeignFileTest(m_scheduler, nullptr);
    // The recorder writes what it has hashed; the checker's hashing is only given up.
    delete std::exchange(m_heldChecker, nullptr);
    delete std::exchange(m_recorder, nullptr);
    delete std::exchange(m_keeper, nullptr);
    m_library = nullptr;
}

void DownloadQueue::setSkipHeld(bool on)
{
    if (m_heldChecker)
        m_heldChecker->setEnabled(on);
}

void DownloadQueue::start()
{
    m_loginRetried.clear();
    m_userStopped = false;
    m_scheduler->start();
}

void DownloadQueue::continueRun()
{
    m_scheduler->start();
}

void DownloadQueue::changeOptions(const std::function<void(SchedulerOptions &)> &change)
{
    change(m_scheduler->options());
}

void DownloadQueue::load()
{
    m_scheduler->windowLoaded();
}

void DownloadQueue::close()
{
    m_scheduler->windowClosing();
}

void DownloadQueue::switchMethod()
{
    m_scheduler->switchMethod();
}

void DownloadQueue::setHousekeeping(bool on)
{
    m_scheduler->housekeeping()->setOn(on);
}

void DownloadQueue::refreshTotals()
{
    m_scheduler->housekeeping()->UpdateStatusSummary();
}

void DownloadQueue::stop()
{
    m_userStopped = true;
    m_scheduler->StopDownloads();
}

void DownloadQueue::onWebPageReceived(RowId id)
{
    Q_EMIT webPageReceived(id);
    const DownloadRow *row = m_model->find(id);
    // While the queue waits for a verification, the browser shows that page: no login replaces it.
    if (!row || !m_login.enabled || !m_login.enabled() || m_scheduler->pause().isPausedForVerification())
        return;
    const QString key = row->key;
    if (m_loginRetried.contains(key))
        return;
    m_loginRetried.insert(key);
    m_pendingRetries.append(key);
    // While the login runs, pages that come back do not count as a verification wall.
    if (m_login.begin && m_login.begin())
        m_scheduler->pause().setLoginPending(true);
    else
        m_pendingRetries.clear(); // nothing to log in with: a retry would only fetch the page again
}

void DownloadQueue::loginFinished()
{
    m_scheduler->pause().setLoginPending(false);
    const QStringList keys = std::exchange(m_pendingRetries, {});
    for (const QString &key : keys)
        retryAfterLogin(key);
}

void DownloadQueue::retryAfterLogin(const QString &key)
{
    const RowId id = m_model->idOfKey(key);
    const DownloadRow *row = m_model->find(id);
    if (!row || (row->state != RowState::Done && row->state != RowState::Failed))
        return;
    // The row starts again once its old file is gone.
    m_commands.reset(id, [this] {
        if (!m_userStopped && !m_scheduler->isRunning())
            m_scheduler->start();
    });
}

void DownloadQueue::resume()
{
    m_scheduler->resumeAfterVerification();
}

RowId DownloadQueue::enqueue(const DownloadRow &row)
{
    return m_rows.addRow(row);
}

bool DownloadQueue::enqueue(const CandidateListModel &candidates, int position,
                            const HandOverOptions &options, HandOverTally *tally)
{
    return HandOverCandidate(candidates, position, m_rows, options, tally);
}

int DownloadQueue::moveToChosenFolders(const QList<MovableRow> &rows)
{
    return MoveToChosenFolders(m_rows, rows);
}

int DownloadQueue::restore()
{
    if (!m_keeper)
        return 0;
    // A long list comes back in one insertion.
    const int added = static_cast<int>(m_rows.addRows(m_keeper->takeSavedRows()).size());
    m_model->flushChanges();
    return added;
}
