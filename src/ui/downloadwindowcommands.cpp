#include "core/queue/downloadlistmodel.h"
#include "core/queue/downloadqueue.h"
#include "core/transfer/downloadscheduler.h"
#include "ui/downloadwindow.h"
#include "ui/loginpanel.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTreeView>
#include <algorithm>

// The list commands of the menus and buttons: each works on the selection or the whole list through
// the queue's operations.

QList<int> fFileDownload::selectedRows() const
{
    // Whole rows are selected, so the selection's ranges name them; read that way a selection of every
    // row of a long list costs a few milliseconds.
    QList<int> rows;
    const int lastColumn = m_model->columnCount() - 1;
    const QItemSelection selection = ListView3->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (range.left() != 0 || range.right() != lastColumn) {
            // Part of a row (selected in code): only rows with every cell selected count.
            rows.clear();
            for (const QModelIndex &index : ListView3->selectionModel()->selectedRows())
                rows.append(index.row());
            break;
        }
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int fFileDownload::selectedRow() const
{
    const QModelIndex current = ListView3->currentIndex();
    if (current.isValid() && ListView3->selectionModel()->isRowSelected(current.row()))
        return current.row();
    const QList<int> rows = selectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<RowId> fFileDownload::selectedIds() const
{
    return m_model->idsAt(selectedRows());
}

RowId fFileDownload::selectedId() const
{
    return m_model->idAt(selectedRow());
}

QAction *fFileDownload::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void fFileDownload::prepareListMenu()
{
    const bool busy = m_queue->commands().guards().sortGuard;
    action(QStringLiteral("actRemove"))->setEnabled(!busy);
    action(QStringLiteral("actClearAll"))->setEnabled(!busy);
    action(QStringLiteral("actSelectAll"))->setEnabled(!busy);
    action(QStringLiteral("actStop"))->setEnabled(busy);
}

QString fFileDownload::panelText(int panel) const
{
    return (panel >= 1 && panel <= 4) ? m_panels[static_cast<size_t>(panel - 1)]->text() : QString();
}

void fFileDownload::refreshRecordCount()
{
    Label1->setText(m_model->recordCountText());
}

void fFileDownload::runFrozen(const std::function<void()> &work)
{
    ListView3->setUpdatesEnabled(false);
    work();
    m_model->flushChanges();
    ListView3->setUpdatesEnabled(true);
    refreshRecordCount();
}

void fFileDownload::sortByHeader(int column)
{
    m_queue->commands().sortByColumn(column);
    // The header turns its own indicator over on a click; show the list's real order instead.
    const HeaderSorter &sorter = m_queue->commands().sorter();
    QHeaderView *header = ListView3->header();
    header->setSortIndicatorShown(sorter.column() >= 0);
    if (sorter.column() >= 0)
        header->setSortIndicator(sorter.column(),
                                 sorter.ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void fFileDownload::webLogin()
{
    PicWebBK->show();
    PicWebBK->raise();
    const DownloadRow *row = m_model->find(selectedId());
    if (!PicWebBK->Check2->isChecked() && !PicWebBK->Check1->isChecked() && row)
        PicWebBK->openAddress(row->key);
}

void fFileDownload::selectAll()
{
    ListView3->selectAll();
}

void fFileDownload::selectNone()
{
    ListView3->clearSelection();
}

void fFileDownload::shuffle()
{
    m_queue->commands().shuffle();
    refreshRecordCount();
}

void fFileDownload::fitColumns()
{
    for (int c = 0; c < DownloadListModel::ColumnCount; ++c)
        ListView3->resizeColumnToContents(c);
}

void fFileDownload::redownloadSelected()
{
    const QList<RowId> rows = selectedIds();
    runFrozen([&] { m_queue->commands().redownloadSelected(rows); });
}

void fFileDownload::redownloadFailed()
{
    runFrozen([this] { m_queue->commands().redownloadFailed(); });
}

void fFileDownload::redownloadHtml()
{
    runFrozen([this] { m_queue->commands().redownloadHtml(); });
}

void fFileDownload::removeSelected()
{
    const QList<RowId> rows = selectedIds();
    runFrozen([&] { m_queue->commands().removeSelected(rows); });
}

void fFileDownload::removeFailed()
{
    runFrozen([this] { m_queue->commands().removeFailed(); });
}

void fFileDownload::removeDone()
{
    runFrozen([this] { m_queue->commands().removeDone(); });
}

void fFileDownload::clearAll()
{
    runFrozen([this] { m_queue->commands().clearAll(); });
}

void fFileDownload::startDownloads()
{
    m_queue->changeOptions(
        [](SchedulerOptions &options) { options.namesFromLinks = sharedOptions().UseOriginalFileName; });
    m_queue->start();
}

void fFileDownload::stopDownloads()
{
    m_runStopped = true;
    m_queue->stop();
}

void fFileDownload::cancelSelected()
{
    const QList<RowId> rows = selectedIds();
    runFrozen([&] { m_queue->commands().cancel(rows); });
}

void fFileDownload::openFile()
{
    OpenDownloadedFile(*m_model, selectedId(), m_shell);
}

void fFileDownload::openFolder()
{
    OpenContainingFolder(*m_model, selectedId(), m_shell);
}

void fFileDownload::openInEditor()
{
    OpenInTextEditor(*m_model, selectedId(), m_shell);
}

void fFileDownload::checkPdf()
{
    const int renamed = m_queue->commands().checkPdfFiles();
    panel(StatusPanel::Connection)
        ->setText(QStringLiteral("检查PDF文件完成：重命名了 %1 个文件").arg(renamed));
}
