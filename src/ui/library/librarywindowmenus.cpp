// The library window's menus and what their commands report.
#include "core/common/messenger.h"
#include "core/library/librarythread.h"
#include "core/librarymodel/librarycheckrun.h"
#include "core/librarymodel/librarytablemodel.h"
#include "desktop/filedialogs.h"
#include "ui/library/duplicatesdialog.h"
#include "ui/library/librarycolumns.h"
#include "ui/library/librarydetailspane.h"
#include "ui/library/libraryreports.h"
#include "ui/library/librarywindow.h"

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

namespace {

struct FormatChoice
{
    ExportFormat format;
    const char16_t *menuText;
    const char *filter;
    const char *suffix;
};

constexpr FormatChoice kFormats[] = {
    {ExportFormat::Ris, u"RIS…", "RIS (*.ris)", "ris"},
    {ExportFormat::BibTeX, u"BibTeX…", "BibTeX (*.bib)", "bib"},
    {ExportFormat::Csv, u"CSV…", "CSV (*.csv)", "csv"},
};

} // namespace

void LibraryWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("文件(&F)"));
    QMenu *exportMenu = file->addMenu(QStringLiteral("导出所选文献"));
    exportMenu->setObjectName(QStringLiteral("mnuLibraryExport"));
    for (const FormatChoice &choice : kFormats)
        exportMenu->addAction(QString::fromUtf16(choice.menuText), this,
                              [this, format = choice.format] { exportSelection(format); });
    file->addSeparator();
    file->addAction(QStringLiteral("关闭"), this, &QWidget::close);
    menuBar()->addMenu(buildPaperMenu());
    QMenu *tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->addAction(QStringLiteral("检查文件"), this, &LibraryWindow::startCheck);
    tools->addAction(QStringLiteral("重复的文献…"), this, &LibraryWindow::showDuplicates);
    tools->addAction(QStringLiteral("刷新"), this, [this] { m_model->refresh(); });
}

QMenu *LibraryWindow::buildPaperMenu()
{
    auto *menu = new QMenu(QStringLiteral("文献(&P)"), this);
    menu->setObjectName(QStringLiteral("mnuPaper"));
    menu->addAction(QStringLiteral("打开文件"), this, [this] { m_commands->openFile(selection()); });
    menu->addAction(QStringLiteral("在文件夹中显示"), this,
                    [this] { m_commands->showInFolder(selection()); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("复制DOI"), this, [this] { m_commands->copyDois(selection()); });
    menu->addAction(QStringLiteral("复制引用"), this, [this] { m_commands->copyCitations(selection()); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("重新下载"), this, [this] { m_commands->downloadAgain(selection()); });
    menu->addAction(QStringLiteral("从文献库移除…"), this, &LibraryWindow::askRemove);
    return menu;
}

void LibraryWindow::connectCommands()
{
    LibraryCommands *c = m_commands;
    connect(c, &LibraryCommands::failed, this, [this](const QString &why) { tell(why, true); });
    connect(c, &LibraryCommands::fileMissing, this,
            [] { showMessage(MessageIcon::Critical, QStringLiteral("文件不存在！")); });
    connect(c, &LibraryCommands::copied, this,
            [this](int n) { tell(QStringLiteral("已复制 %1 篇文献到剪贴板。").arg(n)); });
    connect(c, &LibraryCommands::downloadsAdded, this,
            [this](const AgainTally &tally) { tell(downloadAgainText(tally)); });
    connect(c, &LibraryCommands::removed, this, [this](const RemovalReport &r) { tell(removalText(r)); });
    connect(c, &LibraryCommands::exported, this, [this](int n, const QString &path) {
        tell(QStringLiteral("已导出 %1 篇文献到 %2").arg(n).arg(QDir::toNativeSeparators(path)));
    });
    connect(c, &LibraryCommands::exportNotWritten, this, [this](const QString &path) {
        tell(QStringLiteral("无法写入文件：") + QDir::toNativeSeparators(path), true);
    });
    connect(c, &LibraryCommands::keptOne, this, [this](int freed, int deleted) {
        tell(QStringLiteral("已合并重复的文献：%1 个文件不再使用，删除 %2 个。").arg(freed).arg(deleted));
    });
    connect(c, &LibraryCommands::libraryChanged, m_model, &LibraryTableModel::refresh);
}

void LibraryWindow::showHeaderMenu(const QPoint &at)
{
    QMenu menu(this);
    for (int column = 0; column < kLibraryColumnCount; ++column) {
        QAction *item = menu.addAction(m_model->headerData(column, Qt::Horizontal).toString());
        item->setCheckable(true);
        item->setChecked(!m_table->isColumnHidden(column));
        item->setEnabled(column != static_cast<int>(LibraryColumn::Title));
        connect(item, &QAction::toggled, this, [this, column](bool on) { setColumnShown(column, on); });
    }
    menu.exec(m_table->horizontalHeader()->mapToGlobal(at));
}

void LibraryWindow::setColumnShown(int column, bool shown)
{
    if (column == static_cast<int>(LibraryColumn::Title) || column < 0 || column >= kLibraryColumnCount)
        return;
    m_table->setColumnHidden(column, !shown);
    QList<int> hidden;
    for (int c = 0; c < kLibraryColumnCount; ++c) {
        if (m_table->isColumnHidden(c))
            hidden.append(c);
    }
    writeHiddenLibraryColumns(hidden);
}

void LibraryWindow::askRemove()
{
    const LibrarySelection chosen = selection();
    if (chosen.rows.isEmpty())
        return;
    QMessageBox box(QMessageBox::Question, kAppTitle,
                    QStringLiteral("从文献库中移除所选的 %1 篇文献？").arg(chosen.rows.size()),
                    QMessageBox::Yes | QMessageBox::No, this);
    auto *alsoDelete = new QCheckBox(QStringLiteral("同时删除文件"), &box);
    box.setCheckBox(alsoDelete);
    if (box.exec() == QMessageBox::Yes)
        m_commands->remove(chosen, alsoDelete->isChecked());
}

void LibraryWindow::exportSelection(ExportFormat format)
{
    const LibrarySelection chosen = selection();
    if (chosen.rows.isEmpty()) {
        tell(QStringLiteral("请先选择要导出的文献。"), true);
        return;
    }
    const FormatChoice &choice =
        *std::find_if(std::begin(kFormats), std::end(kFormats),
                      [format](const FormatChoice &c) { return c.format == format; });
    filedialogs::Request request{filedialogs::Request::Kind::Save, QStringLiteral("导出所选文献"),
                                 QDir::homePath() + QStringLiteral("/文献库.") + QLatin1String(choice.suffix),
                                 QLatin1String(choice.filter), QLatin1String(choice.suffix)};
    const QString path = filedialogs::choose(this, request);
    if (!path.isEmpty())
        m_commands->exportTo(chosen, format, path);
}

void LibraryWindow::showDuplicates()
{
    auto *dialog = new DuplicatesDialog(*m_thread, *m_commands, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}
