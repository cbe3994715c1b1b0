#include "core/transfer/downloadscheduler.h"
#include "core/transfer/partfile.h"
#include "core/transfer/schedulertime.h"

#include <algorithm>

// A disk the user has to mend: the queue waits for it.

bool DownloadScheduler::pauseForDisk(RowId id, const TransferResult &result)
{
    const DiskFault fault = diskFaultOf(result.reason);
    const DownloadRow *row = m_model->find(id);
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
    m_pausePage = QUrl();
    m_pauseKind = PauseKind::Disk;
    m_diskFault = fault;
    Q_EMIT diskPaused(fault, folder);
    return true;
}
