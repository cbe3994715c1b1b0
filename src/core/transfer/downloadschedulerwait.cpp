#include "core/transfer/downloadscheduler.h"
#include "core/transfer/partfile.h"
#include "core/transfer/schedulertime.h"

#include <algorithm>

// What the rows and the queue wait for: retries, the holds of busy hosts, a disk the user has to mend.

using schedulertime::monoNow;

void DownloadScheduler::showRetriesDue()
{
    for (auto it = m_retryAt.cbegin(); it != m_retryAt.cend(); ++it) {
        const DownloadRow *row = m_model->find(it.key());
        if (!row)
            continue;
        const qint64 due = std::max(it.value(), m_hostHold.value(hostOf(addressOf(*row)), -1));
        if (row->retryDueMs != due)
            m_rows.update(it.key(), [due](DownloadRow &r) { r.retryDueMs = due; });
    }
}

qint64 DownloadScheduler::hostWaitMs() const
{
    if (m_hostHold.isEmpty() || m_paused || anyTransferLive())
        return -1;
    const qint64 nowMs = monoNow();
    qint64 earliest = -1;
    for (int i = 0; i < m_model->count(); ++i) {
        const DownloadRow &row = m_model->row(i);
        if (row.state == RowState::Downloading)
            return -1;
        if (row.state != RowState::Waiting)
            continue;
        const qint64 until = m_hostHold.value(hostOf(addressOf(row)), 0);
        if (until <= nowMs)
            return -1;
        earliest = earliest < 0 ? until : std::min(earliest, until);
    }
    return earliest < 0 ? -1 : earliest - nowMs;
}

bool DownloadScheduler::pauseForDisk(RowId id, const TransferResult &result)
{
    const DiskFault fault = diskFaultOf(result.reason);
    const DownloadRow *row = m_model->find(id);
    if (fault == DiskFault::None || fault == DiskFault::Other || !row)
        return false;
    // The transfer left nothing under a paper's name; bytes kept for a later try only take up room.
    dropRetries(id);
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
    m_pausePage = QUrl();
    m_pauseKind = PauseKind::Disk;
    m_diskFault = fault;
    Q_EMIT diskPaused(fault, folder);
    return true;
}
