#include "core/queue/queuecommands.h"

#include "core/transfer/diskworkers.h"
#include "core/transfer/downloadscheduler.h"

#include <QPointer>
#include <QThreadPool>

QueueCommands::QueueCommands(RowWriter rows, const DownloadScheduler *scheduler)
    : m_rows(rows), m_scheduler(scheduler), m_random(QRandomGenerator::global()->generate())
{
}

CommandGuards QueueCommands::guards() const
{
    CommandGuards g;
    g.sortGuard = m_scheduler->isRunning() || m_scheduler->DownloadBusy();
    g.listChangeGuard = m_scheduler->isRunning() || m_scheduler->transfers().transferExecuting() ||
                        m_scheduler->transfers().CountTransferSlots() > 1;
    g.downloadBusy = m_scheduler->DownloadBusy();
    return g;
}

void QueueCommands::reset(RowId id)
{
    ResetRow(m_rows, id);
}

int QueueCommands::redownloadSelected(const QList<RowId> &selected)
{
    return RedownloadSelectedRows(m_rows, selected);
}

int QueueCommands::redownloadFailed()
{
    return RedownloadFailedRows(m_rows, guards());
}

int QueueCommands::redownloadHtml()
{
    return RedownloadHtmlRows(m_rows, guards());
}

void QueueCommands::autoRedownload(AutoRedownloadChoice choice)
{
    AutoRedownload(m_rows, guards(), static_cast<int>(choice));
}

int QueueCommands::removeSelected(const QList<RowId> &selected)
{
    return RemoveSelectedRows(m_rows, guards(), selected);
}

int QueueCommands::removeFailed()
{
    return RemoveFailedRows(m_rows);
}

int QueueCommands::removeDone()
{
    return RemoveDoneRows(m_rows);
}

bool QueueCommands::clearAll()
{
    return ClearAllRows(m_rows, guards());
}

bool QueueCommands::shuffle()
{
    return ShuffleRows(m_rows, guards(), m_random);
}

bool QueueCommands::sortByColumn(int column)
{
    return m_sorter.sortByColumn(m_rows, column, guards());
}

bool QueueCommands::cancel(const QList<RowId> &selected)
{
    return CancelSelectedRows(m_rows, guards(), selected);
}

void QueueCommands::doubleClick(RowId id, const ShellHooks &shell)
{
    DoubleClickRow(m_rows, id, shell);
}

bool QueueCommands::checkPdfFiles(std::function<void(int renamed)> done)
{
    if (*m_pdfCheckRunning)
        return false;
    *m_pdfCheckRunning = true;
    // The rows follow their files only if the list is still there when the answer is back.
    QPointer<QObject> list(m_rows.model());
    QThreadPool::globalInstance()->start([items = PdfCheckCandidates(m_rows.list()), list, rows = m_rows,
                                          running = m_pdfCheckRunning, done = std::move(done)]() mutable {
        for (PdfCheckItem &item : items)
            CheckPdfFileOnDisk(item);
        diskwork::postToReceiver(list, [items = std::move(items), rows, running, done = std::move(done)] {
            *running = false;
            const int renamed = ApplyPdfCheck(rows, items);
            if (done)
                done(renamed);
        });
    });
    return true;
}
