#include "core/queue/queuecommands.h"

#include "core/common/messenger.h"
#include "core/pdf/pdfchecker.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/downloadscheduler.h"

#include <QPointer>
#include <QThreadPool>
#include <algorithm>
#include <iterator>

QueueCommands::QueueCommands(RowWriter rows, DownloadScheduler *scheduler)
    : m_rows(rows), m_scheduler(scheduler), m_picker(&scheduler->picker()),
      m_random(QRandomGenerator::global()->generate())
{
    // A row removed while its file was on its way to the disk leaves once the file is in place and its
    // outcome told (or its transfer failed).
    QObject::connect(scheduler, &DownloadScheduler::transferEnded, rows.model(),
                     [rows, state = m_state](RowId id) {
                         if (state->leaving.remove(id))
                             rows.removeRow(id);
                     });
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

void QueueCommands::reset(RowId id, std::function<void()> then)
{
    resetRows(ResetCandidates(m_rows.list(), {id}, IsRedownloadable), std::move(then));
}

int QueueCommands::redownloadSelected(const QList<RowId> &selected)
{
    return resetRows(ResetCandidates(m_rows.list(), selected, IsRedownloadable));
}

int QueueCommands::redownloadFailed()
{
    if (guards().listChangeGuard) {
        showMessage(MessageIcon::Information, commandtext::StopFirst);
        return -1;
    }
    return resetRows(ResetCandidates(m_rows.list(), AllRowIds(m_rows.list()), IsFailedRow));
}

int QueueCommands::redownloadDamaged()
{
    if (guards().listChangeGuard) {
        showMessage(MessageIcon::Information, commandtext::StopFirst);
        return -1;
    }
    return resetRows(ResetCandidates(m_rows.list(), AllRowIds(m_rows.list()), IsDamagedPdfRow));
}

int QueueCommands::redownloadHtml()
{
    if (guards().listChangeGuard) {
        showMessage(MessageIcon::Information, commandtext::StopFirst);
        return -1;
    }
    return resetRows(ResetCandidates(m_rows.list(), AllRowIds(m_rows.list()), IsFinishedHtmlRow));
}

void QueueCommands::autoRedownload(AutoRedownloadChoice choice, std::function<void()> then)
{
    // It runs from a timer: a guard that holds skips it without a word, never with a message box.
    if (guards().listChangeGuard) {
        if (then)
            then();
        return;
    }
    const auto match = [choice](const DownloadRow &row) { return AutoRedownloadResets(row, choice); };
    resetRows(ResetCandidates(m_rows.list(), AllRowIds(m_rows.list()), match), std::move(then));
}

int QueueCommands::resetRows(const QList<ResetItem> &items, std::function<void()> then)
{
    // Nothing waits for the disk: the files the rows wrote stay until their new copies take their place.
    const int count = ApplyReset(m_rows, items);
    if (then)
        then();
    return count;
}

int QueueCommands::removeSelected(const QList<RowId> &selected)
{
    StayingRows staying = stayingRows();
    const int removed = RemoveSelectedRows(m_rows, guards(), selected, &staying);
    leaveLater(staying);
    return removed;
}

int QueueCommands::removeFailed()
{
    StayingRows staying = stayingRows();
    const int removed = RemoveFailedRows(m_rows, &staying);
    leaveLater(staying);
    return removed;
}

int QueueCommands::removeDone()
{
    StayingRows staying = stayingRows();
    const int removed = RemoveDoneRows(m_rows, &staying);
    leaveLater(staying);
    return removed;
}

bool QueueCommands::clearAll()
{
    StayingRows staying = stayingRows();
    const bool cleared = ClearAllRows(m_rows, guards(), &staying);
    leaveLater(staying);
    return cleared;
}

StayingRows QueueCommands::stayingRows() const
{
    // A file on its way to the disk gets its row's name and outcome first: the row leaves after it.
    return StayingRows{[picker = m_picker](RowId id) { return picker->isCommitting(id); }, {}};
}

void QueueCommands::leaveLater(const StayingRows &staying)
{
    for (RowId id : staying.stayed)
        m_state->leaving.insert(id);
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
    const DownloadRow *row = m_rows.list().find(id);
    if (!row)
        return;
    switch (row->state) {
    case RowState::Done:
        lookThen(Look::DoubleClick, id, [shell, list = m_rows.model()](const RowFileLook &look) {
            // The row may have gone back to the queue meanwhile: then there is nothing to open.
            const DownloadRow *now = list->find(look.id);
            if (now && now->state == RowState::Done)
                OpenDoneRowWith(look, shell);
        });
        break;
    case RowState::Failed:
        reset(id);
        break;
    case RowState::Waiting:
    case RowState::Downloading:
        break;
    }
}

void QueueCommands::openFile(RowId id, const ShellHooks &shell)
{
    lookThen(Look::Open, id, [shell](const RowFileLook &look) { OpenDownloadedFileWith(look, shell); });
}

void QueueCommands::openFolder(RowId id, const ShellHooks &shell)
{
    lookThen(Look::Folder, id, [shell, list = m_rows.model()](const RowFileLook &look) {
        OpenContainingFolderWith(*list, look, shell);
    });
}

void QueueCommands::openInEditor(RowId id, const ShellHooks &shell)
{
    lookThen(Look::Editor, id, [shell](const RowFileLook &look) { OpenInTextEditorWith(look, shell); });
}

void QueueCommands::clickPanelText(RowId id, std::function<void(const QString &)> show)
{
    const quint64 ticket = ++m_state->panelTicket;
    const QString reason = RowClickReasonText(m_rows.list(), id);
    // Nothing of the row's stays shown while its file is looked at.
    show(reason);
    if (!reason.isEmpty() || !m_rows.list().find(id))
        return;
    lookThen(Look::Panel, id, [ticket, state = m_state, show = std::move(show)](const RowFileLook &look) {
        if (ticket == state->panelTicket && look.exists)
            show(look.path);
    });
}

void QueueCommands::lookAtFile(const QString &path, std::function<void(bool)> answer)
{
    QPointer<QObject> list(m_rows.model());
    QThreadPool::globalInstance()->start([path, list, answer = std::move(answer)]() mutable {
        RowFileLook look{RowId::None, path, false, -1};
        LookAtRowFile(look);
        diskwork::postToReceiver(list,
                                 [exists = look.exists, answer = std::move(answer)] { answer(exists); });
    });
}

void QueueCommands::lookThen(Look kind, RowId id, std::function<void(const RowFileLook &)> act)
{
    RowFileLook look = RowFileToLook(m_rows.list(), id);
    if (look.path.isEmpty())
        return;
    const quint64 key = (static_cast<quint64>(id) << 3) | static_cast<quint64>(kind);
    if (kind != Look::Panel) {
        if (m_state->looks.contains(key))
            return;
        m_state->looks.insert(key);
    }
    QPointer<QObject> list(m_rows.model());
    QThreadPool::globalInstance()->start(
        [look, key, list, rows = m_rows, state = m_state, act = std::move(act)]() mutable {
            LookAtRowFile(look);
            diskwork::postToReceiver(list, [look, key, rows, state, act = std::move(act)] {
                state->looks.remove(key);
                if (LookStillApplies(rows.list(), look))
                    act(look);
            });
        });
}

bool QueueCommands::checkPdfFiles(std::function<void(const PdfCheckTally &tally)> done)
{
    if (*m_pdfCheckRunning)
        return false;
    *m_pdfCheckRunning = true;
    // The rows follow their files only if the list is still there when the answer is back.
    QPointer<QObject> list(m_rows.model());
    // On the threads of the checks, which the end of the program waits for before its checker goes.
    PdfChecker *checker = m_scheduler->options().pdfChecker;
    diskwork::checkPool(checker ? checker->limits().processes : 1)
        .start([items = PdfCheckCandidates(m_rows.list()), list, rows = m_rows, checker,
                running = m_pdfCheckRunning, done = std::move(done)]() mutable {
            for (PdfCheckItem &item : items)
                CheckPdfFileOnDisk(item, checker);
            diskwork::postToReceiver(list, [items = std::move(items), rows, running, done = std::move(done)] {
                *running = false;
                const PdfCheckTally tally = ApplyPdfCheck(rows, items);
                if (done)
                    done(tally);
            });
        });
    return true;
}
