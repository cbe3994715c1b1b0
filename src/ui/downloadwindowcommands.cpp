#include "ui/downloadwindowcommands.h"

#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "ui/downloadwindowfeedback.h"
#include "ui/downloadwindowparts.h"
#include "ui/downloadwindowpdfcheck.h"
#include "ui/loginpanel.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTreeView>
#include <algorithm>

// The list commands of the menus and buttons: each works on the selection or the whole list through
// the queue's operations.

namespace {

struct MakerPage
{
    const char *text;
    const char *name;
    const char *address;
};
const MakerPage kMakerPages[] = {
    {"作者网站－墨枢软件", "actMakerSite", "https://www.folionexus.com/"},
    {"最新版本", "actLatestVersion", "https://www.folionexus.com/download/"},
    {"软件教程和问答", "actTutorial", "https://www.folionexus.com/help/"},
    {"软件定制", "actCustom", "https://www.folionexus.com/custom/"},
    {"给软件作者建议", "actSuggest", "https://www.folionexus.com/feedback/"},
};

} // namespace

DownloadWindowCommands::DownloadWindowCommands(const DownloadWindowParts &parts,
                                               DownloadWindowFeedback &feedback)
    : QObject(&parts.window), m_parts(parts), m_feedback(feedback), m_queue(parts.queue),
      m_model(parts.queue->model()), m_scheduler(parts.queue->scheduler()),
      m_pdfCheck(new DownloadWindowPdfCheck(parts.queue, this))
{
    connect(m_pdfCheck, &DownloadWindowPdfCheck::progressed, this, [this](int checked, int total) {
        m_feedback.panel(StatusPanel::Connection)
            ->setText(QStringLiteral("正在检查PDF文件：%1/%2").arg(checked).arg(total));
    });
    connect(m_pdfCheck, &DownloadWindowPdfCheck::finished, this,
            [this](const FolderPdfCheck &found) { m_feedback.tellResult(FolderPdfCheckText(found)); });
    connect(parts.controls.Command4, &QPushButton::clicked, this, &DownloadWindowCommands::startDownloads);
    connect(parts.controls.Command31, &QPushButton::clicked, this, &DownloadWindowCommands::stopDownloads);
    connect(parts.controls.Command1, &QPushButton::clicked, this, &DownloadWindowCommands::webLogin);
    connectList();
}

void DownloadWindowCommands::connectList()
{
    connect(m_parts.controls.ListView3->header(), &QHeaderView::sectionClicked, this,
            &DownloadWindowCommands::sortByHeader);
    connect(m_parts.controls.ListView3, &QTreeView::doubleClicked, this, [this](const QModelIndex &index) {
        if (!index.isValid())
            return;
        const RowId id = m_model->idAt(index.row());
        const bool failed = m_model->find(id) && m_model->find(id)->state == RowState::Failed;
        m_queue->commands().doubleClick(id, m_parts.shell);
        if (failed)
            m_feedback.rowsSentBack(); // a failed row goes back to the queue
    });
    connect(m_parts.controls.ListView3, &QTreeView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            m_queue->commands().clickPanelText(m_model->idAt(index.row()),
                                               [feedback = QPointer(&m_feedback)](const QString &text) {
                                                   if (feedback)
                                                       feedback->tellRowText(text);
                                               });
    });
    connect(m_parts.controls.ListView3, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) {
                prepareListMenu();
                m_listMenu->popup(m_parts.controls.ListView3->viewport()->mapToGlobal(pos));
            });
    connect(m_model, &DownloadListModel::rowsChanged, this, &DownloadWindowCommands::refreshRecordCount);
}

QList<int> DownloadWindowCommands::selectedRows() const
{
    // Whole rows are selected, so the selection's ranges name them; read that way a selection of every
    // row of a long list costs a few milliseconds.
    QList<int> rows;
    const int lastColumn = m_model->columnCount() - 1;
    const QItemSelection selection = m_parts.controls.ListView3->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (range.left() != 0 || range.right() != lastColumn) {
            // Part of a row (selected in code): only rows with every cell selected count.
            rows.clear();
            for (const QModelIndex &index : m_parts.controls.ListView3->selectionModel()->selectedRows())
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

int DownloadWindowCommands::selectedRow() const
{
    const QModelIndex current = m_parts.controls.ListView3->currentIndex();
    if (current.isValid() && m_parts.controls.ListView3->selectionModel()->isRowSelected(current.row()))
        return current.row();
    const QList<int> rows = selectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<RowId> DownloadWindowCommands::selectedIds() const
{
    return m_model->idsAt(selectedRows());
}

RowId DownloadWindowCommands::selectedId() const
{
    return m_model->idAt(selectedRow());
}

void DownloadWindowCommands::prepareListMenu()
{
    const bool busy = m_queue->commands().guards().sortGuard;
    m_guarded.remove->setEnabled(!busy);
    m_guarded.clearAll->setEnabled(!busy);
    m_guarded.selectAll->setEnabled(!busy);
    m_guarded.stop->setEnabled(busy);
}

void DownloadWindowCommands::refreshRecordCount()
{
    m_parts.controls.Label1->setText(m_model->recordCountText());
}

void DownloadWindowCommands::runFrozen(const std::function<void()> &work)
{
    m_parts.controls.ListView3->setUpdatesEnabled(false);
    work();
    m_model->flushChanges();
    m_parts.controls.ListView3->setUpdatesEnabled(true);
    refreshRecordCount();
}

void DownloadWindowCommands::sortByHeader(int column)
{
    m_queue->commands().sortByColumn(column);
    // The header turns its own indicator over on a click; show the list's real order instead.
    const HeaderSorter &sorter = m_queue->commands().sorter();
    QHeaderView *header = m_parts.controls.ListView3->header();
    header->setSortIndicatorShown(sorter.column() >= 0);
    if (sorter.column() >= 0)
        header->setSortIndicator(sorter.column(),
                                 sorter.ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void DownloadWindowCommands::webLogin()
{
    m_parts.controls.PicWebBK->show();
    m_parts.controls.PicWebBK->raise();
    const DownloadRow *row = m_model->find(selectedId());
    if (!m_parts.controls.PicWebBK->Check2->isChecked() && !m_parts.controls.PicWebBK->Check1->isChecked() &&
        row)
        m_parts.controls.PicWebBK->openAddress(row->key);
}

void DownloadWindowCommands::selectAll()
{
    m_parts.controls.ListView3->selectAll();
}

void DownloadWindowCommands::selectNone()
{
    m_parts.controls.ListView3->clearSelection();
}

void DownloadWindowCommands::shuffle()
{
    m_queue->commands().shuffle();
    refreshRecordCount();
}

void DownloadWindowCommands::fitColumns()
{
    for (int c = 0; c < DownloadListModel::ColumnCount; ++c)
        m_parts.controls.ListView3->resizeColumnToContents(c);
}

void DownloadWindowCommands::redownloadSelected()
{
    const QList<RowId> rows = selectedIds();
    int reset = 0;
    runFrozen([&] { reset = m_queue->commands().redownloadSelected(rows); });
    if (reset > 0)
        m_feedback.rowsSentBack();
}

void DownloadWindowCommands::redownloadFailed()
{
    int reset = 0;
    runFrozen([&] { reset = m_queue->commands().redownloadFailed(); });
    if (reset > 0)
        m_feedback.rowsSentBack();
}

void DownloadWindowCommands::redownloadDamaged()
{
    int reset = 0;
    runFrozen([&] { reset = m_queue->commands().redownloadDamaged(); });
    if (reset > 0)
        m_feedback.rowsSentBack();
}

void DownloadWindowCommands::redownloadHtml()
{
    int reset = 0;
    runFrozen([&] { reset = m_queue->commands().redownloadHtml(); });
    if (reset > 0)
        m_feedback.rowsSentBack();
}

void DownloadWindowCommands::removeSelected()
{
    const QList<RowId> rows = selectedIds();
    runFrozen([&] { m_queue->commands().removeSelected(rows); });
}

void DownloadWindowCommands::removeFailed()
{
    runFrozen([this] { m_queue->commands().removeFailed(); });
}

void DownloadWindowCommands::removeDone()
{
    runFrozen([this] { m_queue->commands().removeDone(); });
}

void DownloadWindowCommands::clearAll()
{
    runFrozen([this] { m_queue->commands().clearAll(); });
}

void DownloadWindowCommands::startDownloads()
{
    const bool fromLinks = m_parts.run.options.options().UseOriginalFileName;
    m_queue->changeOptions([fromLinks](SchedulerOptions &options) { options.namesFromLinks = fromLinks; });
    m_queue->start();
}

void DownloadWindowCommands::stopDownloads()
{
    m_feedback.noteRunStopped();
    m_queue->stop();
}

void DownloadWindowCommands::cancelSelected()
{
    const QList<RowId> rows = selectedIds();
    runFrozen([&] { m_queue->commands().cancel(rows); });
}

void DownloadWindowCommands::openFile()
{
    m_queue->commands().openFile(selectedId(), m_parts.shell);
}

void DownloadWindowCommands::openFolder()
{
    m_queue->commands().openFolder(selectedId(), m_parts.shell);
}

void DownloadWindowCommands::openInEditor()
{
    m_queue->commands().openInEditor(selectedId(), m_parts.shell);
}

void DownloadWindowCommands::checkPdf()
{
    // The files are read off the GUI thread; a second click while they are is not a second check.
    m_pdfCheck->start();
}

QAction *DownloadWindowCommands::addItem(QMenu *menu, const QString &text, const QString &name,
                                         void (DownloadWindowCommands::*slot)())
{
    QAction *item = menu->addAction(text);
    item->setObjectName(name);
    if (slot)
        connect(item, &QAction::triggered, this, slot);
    return item;
}

void DownloadWindowCommands::buildMenus(const std::function<void(QMenu *list)> &addExportMenu)
{
    buildListMenu(addExportMenu);
    buildToolsMenu();
    buildHelpMenu();
}

void DownloadWindowCommands::buildListMenu(const std::function<void(QMenu *list)> &addExportMenu)
{
    m_listMenu = m_parts.window.menuBar()->addMenu(QStringLiteral("列表操作(&D)"));
    m_listMenu->setObjectName(QStringLiteral("mnuList"));
    QMenu *list = m_listMenu;
    m_guarded.selectAll = addItem(list, QStringLiteral("全选"), QStringLiteral("actSelectAll"),
                                  &DownloadWindowCommands::selectAll);
    addItem(list, QStringLiteral("全不选"), QStringLiteral("actSelectNone"),
            &DownloadWindowCommands::selectNone);
    addItem(list, QStringLiteral("随机排序列表(打乱)"), QStringLiteral("actShuffle"),
            &DownloadWindowCommands::shuffle);
    addItem(list, QStringLiteral("自动调整列宽"), QStringLiteral("actFitColumns"),
            &DownloadWindowCommands::fitColumns);
    list->addSeparator();
    buildRowSubmenus(list);
    m_guarded.clearAll = addItem(list, QStringLiteral("清空"), QStringLiteral("actClearAll"),
                                 &DownloadWindowCommands::clearAll);
    list->addSeparator();
    QAction *start = addItem(list, QStringLiteral("开始下载"), QStringLiteral("actStart"),
                             &DownloadWindowCommands::startDownloads);
    m_guarded.stop = addItem(list, QStringLiteral("停止下载"), QStringLiteral("actStop"),
                             &DownloadWindowCommands::stopDownloads);
    addItem(list, QStringLiteral("取消下载选中项"), QStringLiteral("actCancelSelected"),
            &DownloadWindowCommands::cancelSelected);
    list->addSeparator();
    addItem(list, QStringLiteral("打开下载文件"), QStringLiteral("actOpenFile"),
            &DownloadWindowCommands::openFile);
    addItem(list, QStringLiteral("打开所在文件夹"), QStringLiteral("actOpenFolder"),
            &DownloadWindowCommands::openFolder);
    addItem(list, QStringLiteral("用记事本打开文件"), QStringLiteral("actOpenInEditor"),
            &DownloadWindowCommands::openInEditor);
    addExportMenu(list);
    list->addSeparator();
    QAction *quit = addItem(list, QStringLiteral("退出本下载窗口"), QStringLiteral("actQuit"), nullptr);
    connect(quit, &QAction::triggered, &m_parts.window, &QWidget::close);

    connect(m_queue->scheduler()->housekeeping(), &Housekeeping::startEnabledChanged, start,
            &QAction::setEnabled);
}

void DownloadWindowCommands::buildRowSubmenus(QMenu *list)
{
    QMenu *again = list->addMenu(QStringLiteral("重新下载"));
    again->menuAction()->setObjectName(QStringLiteral("actRedownload"));
    addItem(again, QStringLiteral("选中项"), QStringLiteral("actRedownloadSelected"),
            &DownloadWindowCommands::redownloadSelected);
    addItem(again, QStringLiteral("出错项"), QStringLiteral("actRedownloadFailed"),
            &DownloadWindowCommands::redownloadFailed);
    addItem(again, QStringLiteral("文件类型为HTM和HTML项"), QStringLiteral("actRedownloadHtml"),
            &DownloadWindowCommands::redownloadHtml);
    addItem(again, QStringLiteral("PDF文件损坏项"), QStringLiteral("actRedownloadDamaged"),
            &DownloadWindowCommands::redownloadDamaged);
    list->addSeparator();
    QMenu *remove = list->addMenu(QStringLiteral("清除"));
    remove->menuAction()->setObjectName(QStringLiteral("actRemove"));
    m_guarded.remove = remove->menuAction();
    addItem(remove, QStringLiteral("选中项"), QStringLiteral("actRemoveSelected"),
            &DownloadWindowCommands::removeSelected);
    addItem(remove, QStringLiteral("全部出错项"), QStringLiteral("actRemoveFailed"),
            &DownloadWindowCommands::removeFailed);
    addItem(remove, QStringLiteral("完成项"), QStringLiteral("actRemoveDone"),
            &DownloadWindowCommands::removeDone);
}

void DownloadWindowCommands::buildToolsMenu()
{
    QMenu *tools = m_parts.window.menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    connect(addItem(tools, QStringLiteral("设置"), QStringLiteral("actSettings"), nullptr),
            &QAction::triggered, this, &DownloadWindowCommands::optionsRequested);
    addItem(tools, QStringLiteral("检查PDF文件"), QStringLiteral("actCheckPdf"),
            &DownloadWindowCommands::checkPdf);
    connect(addItem(tools, QStringLiteral("打开网页分析窗口"), QStringLiteral("actSearchWindow"), nullptr),
            &QAction::triggered, this, &DownloadWindowCommands::searchWindowRequested);
}

void DownloadWindowCommands::buildHelpMenu()
{
    QMenu *help = m_parts.window.menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    connect(addItem(help, QStringLiteral("关于"), QStringLiteral("actAbout"), nullptr), &QAction::triggered,
            this, &DownloadWindowCommands::aboutRequested);
    help->addSeparator();
    for (const MakerPage &page : kMakerPages) {
        QAction *item = addItem(help, QString::fromUtf8(page.text), QLatin1String(page.name), nullptr);
        const QString address = QLatin1String(page.address);
        connect(item, &QAction::triggered, this, [this, address] {
            if (m_parts.shell.openWebPage)
                m_parts.shell.openWebPage(address);
        });
    }
}
