#include "download/libraryrecorder.h"

#include "download/downloadscheduler.h"
#include "download/failurereason.h"
#include "download/targetfile.h"
#include "library/heldcheck.h"
#include "library/paperlibrary.h"

#include <QDateTime>
#include <QFileInfo>

std::optional<DownloadResult> downloadResultFor(const DownloadRow &row)
{
    DownloadResult result;
    result.address = row.key;
    result.title = row.name;
    result.finishedAt = QDateTime::currentDateTimeUtc();
    if (row.state == RowState::Failed) {
        result.outcome = DownloadOutcome::Failed;
        result.reason = reasonText(row.reason);
        return result;
    }
    if (row.state != RowState::Done || row.percentNote == PercentNote::Skipped ||
        row.percentNote == PercentNote::Held)
        return std::nullopt;
    result.outcome = DownloadOutcome::Done;
    result.filePath = QFileInfo(rowFilePath(row)).absoluteFilePath();
    return result;
}

LibraryRecorder::LibraryRecorder(PaperLibrary *library, DownloadScheduler *scheduler, QObject *parent)
    : QObject(parent), m_library(library), m_model(scheduler->model())
{
    m_pool.setMaxThreadCount(1);
    m_writeSoon.setSingleShot(true);
    m_writeSoon.setInterval(100);
    connect(&m_writeSoon, &QTimer::timeout, this, &LibraryRecorder::writeHashed);
    connect(scheduler, &DownloadScheduler::rowEnded, this, &LibraryRecorder::onRowEnded);
}

LibraryRecorder::~LibraryRecorder()
{
    // A file that has arrived is on record even when the window closes right after it.
    m_pool.waitForDone();
    blockSignals(true); // whoever listened may be going too
    writeHashed();
}

void LibraryRecorder::onRowEnded(RowId id)
{
    const DownloadRow *row = m_model->find(id);
    if (!row || !m_library)
        return;
    std::optional<DownloadResult> result = downloadResultFor(*row);
    if (!result)
        return;
    ++m_pending;
    if (result->outcome != DownloadOutcome::Done)
        return write(*result);
    m_pool.start([this, done = *result]() mutable {
        const QFileInfo file(done.filePath);
        if (file.isFile() && !file.isSymLink()) {
            done.size = file.size();
            done.sha256 = FileSha256(done.filePath);
        }
        // A file that is gone (or unreadable) is an end without a file, not a download on record.
        if (done.sha256.isEmpty())
            done.filePath.clear();
        {
            const QMutexLocker lock(&m_hashedLock);
            m_hashed.append(done);
        }
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_writeSoon.isActive())
                    m_writeSoon.start();
            },
            Qt::QueuedConnection);
    });
}

void LibraryRecorder::writeHashed()
{
    QList<DownloadResult> hashed;
    {
        const QMutexLocker lock(&m_hashedLock);
        hashed.swap(m_hashed);
    }
    if (hashed.isEmpty())
        return;
    // Everything hashed meanwhile goes in one transaction.
    if (!m_library->recordDownloads(hashed))
        Q_EMIT failed(m_library->lastError());
    m_pending -= static_cast<int>(hashed.size());
    if (m_pending == 0)
        Q_EMIT idle();
}

void LibraryRecorder::write(const DownloadResult &result)
{
    if (!m_library->recordDownload(result))
        Q_EMIT failed(m_library->lastError());
    if (--m_pending == 0)
        Q_EMIT idle();
}
