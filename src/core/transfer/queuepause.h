#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/rows/failurereason.h"
#include "core/rows/rowwriter.h"
#include "core/transfer/downloader.h"
#include "core/transfer/wallwatch.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QUrl>

class RetryBook;

// What the queue waits for the user to do: solve a verification page, log in, or mend the disk (free
// space, make the folder writable).
enum class PauseKind { Verification, Login, Disk };

// The queue's pause for the user: the walls the sites put up, the rows that met them, and a disk the user
// has to mend.
class QueuePause : public QObject
{
    Q_OBJECT

public:
    QueuePause(RowWriter rows, RetryBook &retries, QObject *parent = nullptr);

    // The queue waits for a verification page to be solved (a site that answers papers with a page).
    bool isPausedForVerification() const { return m_paused; }
    QUrl verificationPage() const { return m_page; }
    PauseKind pauseKind() const { return m_kind; }
    // What the disk refused, while the queue is paused for it.
    DiskFault pauseDiskFault() const
    {
        return m_paused && m_kind == PauseKind::Disk ? m_diskFault : DiskFault::None;
    }
    // A login runs: web pages that arrive meanwhile do not count as a wall.
    void setLoginPending(bool pending) { m_loginPending = pending; }

    // A request for the row went out to the host.
    void started(RowId id, const QString &host) { m_walls.started(id, host); }
    // The request went back unasked: its answer counts for nothing, and it pauses nothing.
    void withdrawn(RowId id) { m_walls.answered(id, WallWatch::Answer::Uncounted); }
    // The row's answer; it may complete a wall, and the queue pauses.
    void settleAnswer(RowId id, WallWatch::Answer answer, const QUrl &page = {});
    // A failed try: its answer is a wall or not.
    void noteWall(RowId id, const TransferResult &result);
    // A disk fault the user can mend: the row waits again and the queue pauses (true).
    bool pauseForDisk(RowId id, const TransferResult &result);
    // The user solved it: the rows that met the page wait again. False when the queue was not paused.
    bool resume();
    // A new run starts afresh: no pause, no wall half counted.
    void clear();

Q_SIGNALS:
    // A host answers papers with web pages (or 403) again and again: the queue pauses until the user has
    // solved the page (resumeAfterVerification).
    void verificationNeeded(const QString &host, const QUrl &page, PauseKind kind);
    // A file could not be written for a reason the user can mend: the row went back to waiting and the
    // queue pauses until the user has mended it (resumeAfterVerification). A row that meets it again then
    // pauses the queue again.
    void diskPaused(DiskFault fault, const QString &folder);

private:
    // The row met the wall the queue pauses for: it counts as waiting until the pause ends.
    void hold(RowId id);
    void release(RowId id);
    void releaseAll();

    RowWriter m_rows;
    RetryBook &m_retries;
    WallWatch m_walls; // answers that may add up to a verification wall
    bool m_loginPending = false;
    bool m_paused = false;
    QList<RowId> m_pausedRows;
    QUrl m_page;
    PauseKind m_kind = PauseKind::Verification;
    DiskFault m_diskFault = DiskFault::None;
    QSet<RowId> m_loginWalls; // rows whose wall was a login page, this run
};
