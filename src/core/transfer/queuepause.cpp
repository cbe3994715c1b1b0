#include "core/transfer/queuepause.h"

#include "core/transfer/partfile.h"
#include "core/transfer/retrybook.h"
#include "core/transfer/retrypolicy.h"

QueuePause::QueuePause(RowWriter rows, RetryBook &retries, QObject *parent)
    : QObject(parent), m_rows(rows), m_retries(retries)
{
}

void QueuePause::noteWall(RowId id, const TransferResult &result)
{
    using Answer = WallWatch::Answer;
    const bool wall = retrypolicy::LooksLikeAWall(result.reason, result.retryAfterMs);
    if (wall && result.loginPage)
        m_loginWalls.insert(id);
    else
        m_loginWalls.remove(id);
    // A row that meets the page while the queue waits for it goes back with the
    // others on 继续.
    if (wall && m_paused && !m_pausedRows.contains(id)) {
        m_pausedRows.append(id);
        hold(id);
    } else if (!wall) {
        release(id);
    }
    Answer answer = wall ? Answer::Wall : Answer::Passed;
    // While a login runs, the page may be the lapsed login itself: it gets its
    // try first. A transfer that was stopped or removed brought no answer of the
    // site at all.
    if ((wall && m_loginPending && result.reason.kind == FailureReason::Kind::WebPage) ||
        result.reason.kind == FailureReason::Kind::Stopped)
        answer = Answer::Uncounted;
    settleAnswer(id, answer, result.finalUrl);
}

void QueuePause::settleAnswer(RowId id, WallWatch::Answer answer, const QUrl &page)
{
    if (!m_walls.answered(id, answer, page) || m_paused)
        return;
    m_paused = true;
    m_pausedRows = m_walls.wallRows();
    m_page = m_walls.page();
    // A login page among the pages met asks for a login; otherwise the site asks for its check.
    m_kind = PauseKind::Verification;
    for (RowId row : std::as_const(m_pausedRows)) {
        if (m_loginWalls.contains(row))
            m_kind = PauseKind::Login;
    }
    for (RowId row : std::as_const(m_pausedRows))
        hold(row);
    Q_EMIT verificationNeeded(m_walls.host(), m_page, m_kind);
}

bool QueuePause::pauseForDisk(RowId id, const TransferResult &result)
{
    const DiskFault fault = diskFaultOf(result.reason);
    const DownloadRow *row = m_rows.list().find(id);
    if (fault == DiskFault::None || fault == DiskFault::Other || !row)
        return false;
    // The transfer left nothing under a paper's name; bytes kept for a later try only take up room.
    m_retries.drop(id);
    if (result.resume.isValid())
        PartFile::removeKept(result.resume.folder, result.resume.temporaryName);
    const QString folder = row->folder;
    m_rows.update(id, [](DownloadRow &r) {
        r.state = RowState::Waiting;
        r.clearProgress();
        r.reason = {};
    });
    if (m_paused)
        return true; // paused already: the row starts again with the others on 继续
    m_paused = true;
    m_pausedRows.clear();
    m_page = QUrl();
    m_kind = PauseKind::Disk;
    m_diskFault = fault;
    Q_EMIT diskPaused(fault, folder);
    return true;
}

bool QueuePause::resume()
{
    if (!m_paused)
        return false;
    m_paused = false;
    for (RowId id : std::as_const(m_pausedRows)) {
        const DownloadRow *row = m_rows.list().find(id);
        if (!row || row->state != RowState::Failed)
            continue;
        m_rows.update(id, [](DownloadRow &r) {
            r.state = RowState::Waiting;
            r.clearProgress();
            r.reason = {};
            r.retry = 0;
            r.refetchedWhole = false;
            r.wallHold = WallHold::None;
        });
    }
    releaseAll();
    m_pausedRows.clear();
    m_walls.clear();
    m_loginWalls.clear();
    return true;
}

void QueuePause::clear()
{
    // A pause that ends without 继续 leaves its rows failed, as they are.
    releaseAll();
    m_paused = false;
    m_pausedRows.clear();
    m_walls.clear();
    m_loginWalls.clear();
}

void QueuePause::hold(RowId id)
{
    const WallHold hold = m_kind == PauseKind::Login ? WallHold::Login : WallHold::Verification;
    m_rows.update(id, [hold](DownloadRow &r) { r.wallHold = hold; });
}

void QueuePause::release(RowId id)
{
    const DownloadRow *row = m_rows.list().find(id);
    if (row && row->wallHold != WallHold::None)
        m_rows.update(id, [](DownloadRow &r) { r.wallHold = WallHold::None; });
}

void QueuePause::releaseAll()
{
    for (RowId id : std::as_const(m_pausedRows))
        release(id);
}
