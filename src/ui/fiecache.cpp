#include "ui/fiecache.h"

#include "core/common/messenger.h"
#include "core/common/safetext.h"
#include "desktop/screenfit.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QTreeWidget *makeList(QWidget *parent, const char *name, const QStringList &headers)
{
    auto *list = new QTreeWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Every column, the last one too, is as wide as its longest text in any row (not only the first
    // thousand, where Qt stops looking by default); the list scrolls sideways.
    list->header()->setStretchLastSection(false);
    list->header()->setResizeContentsPrecision(-1);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return list;
}

// The address of a cache entry as a person reads it: percent-encoded characters decoded where that
// keeps its meaning, and no control character of it shown raw. The row itself keeps the real address.
QString readableAddress(const QString &text)
{
    if (text.startsWith(kUserRowPrefix))
        return ShowableText(text);
    const QUrl url(text);
    return ShowableText(url.isValid() && !url.scheme().isEmpty() ? url.toDisplayString() : text);
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

void fitColumns(QTreeWidget *list)
{
    for (int column = 0; column < list->columnCount(); ++column)
        list->resizeColumnToContents(column);
}

} // namespace

fIECache::fIECache(const CacheLocations &locations, QWidget *parent)
    : QDialog(parent), m_commands(new CacheCommands(locations, this))
{
    setObjectName(QStringLiteral("fIECache"));
    setWindowTitle(QStringLiteral("IE浏览器缓存和历史列表-墨枢软件"));
    setAttribute(Qt::WA_DeleteOnClose);
    KeepWithinScreen(this);
    buildLayout();

    using Command = CacheCommands::Command;
    connect(Command1, &QPushButton::clicked, this, [this] { m_commands->run(Command::ViewMine); });
    connect(Command7, &QPushButton::clicked, this, [this] { m_commands->run(Command::ViewAll); });
    connect(Command2, &QPushButton::clicked, this,
            [this] { m_commands->run(Command::DeleteSelected, selectedRows()); });
    connect(Command3, &QPushButton::clicked, this, [this] { m_commands->run(Command::DeleteAll); });
    connect(Command4, &QPushButton::clicked, this, &fIECache::close);
    // "复制选中..." is present and does nothing.
    connect(ListView1->header(), &QHeaderView::sectionClicked, this, &fIECache::sortByColumn);
    connect(m_commands, &CacheCommands::listChanged, this, &fIECache::showListing);
    connect(m_commands, &CacheCommands::busyChanged, this, &fIECache::setBusy);
}

void fIECache::buildLayout()
{
    resize(820, 560);
    ListView1 = makeList(this, "ListView1",
                         {QStringLiteral("URL"), QStringLiteral("TYPE"), QStringLiteral("SIZE(Byte)"),
                          QStringLiteral("FilePath")});
    ListView1->header()->setSectionsClickable(true);
    ListView1->header()->setSortIndicatorShown(false);
    ListView2 = makeList(this, "ListView2", {QStringLiteral("用户名"), QStringLiteral("文件夹")});
    ListView3 = makeList(this, "ListView3", {QStringLiteral("文件夹")});
    Label1 = new QLabel(QStringLiteral("000"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Command1 = makeButton(this, "Command1", QStringLiteral("查看我的缓存"));
    Command7 = makeButton(this, "Command7", QStringLiteral("查看所有用户缓存"));
    Command2 = makeButton(this, "Command2", QStringLiteral("删除所选文件"));
    Command3 = makeButton(this, "Command3", QStringLiteral("全部删除"));
    Command6 = makeButton(this, "Command6", QStringLiteral("复制选中..."));
    Command4 = makeButton(this, "Command4", QStringLiteral("关闭"));

    auto *folders = new QSplitter(Qt::Horizontal);
    folders->addWidget(ListView2);
    folders->addWidget(ListView3);
    auto *lists = new QSplitter(Qt::Vertical);
    lists->addWidget(ListView1);
    lists->addWidget(folders);
    lists->setStretchFactor(0, 3);
    lists->setStretchFactor(1, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Label1, 1);
    for (QPushButton *button : {Command1, Command7, Command2, Command3, Command6, Command4})
        buttons->addWidget(button);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lists, 1);
    layout->addLayout(buttons);
}

QString fIECache::listTag() const
{
    return m_commands->tag();
}

QList<bool> fIECache::selectedRows() const
{
    QList<bool> selected(ListView1->topLevelItemCount(), false);
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        selected[i] = ListView1->topLevelItem(i)->isSelected();
    return selected;
}

void fIECache::showRows(const QList<bool> &selected)
{
    ListView1->setUpdatesEnabled(false);
    ListView1->clear();
    QList<QTreeWidgetItem *> items;
    items.reserve(m_commands->rows().size());
    for (const CacheRow &row : m_commands->rows())
        items.append(new QTreeWidgetItem(QStringList{readableAddress(row.text), ShowableText(row.type),
                                                     row.sizeText(), ShowableText(row.path)}));
    ListView1->addTopLevelItems(items);
    for (qsizetype i = 0; i < selected.size() && i < items.size(); ++i)
        items.at(i)->setSelected(selected.at(i));
    fitColumns(ListView1);
    ListView1->setUpdatesEnabled(true);
}

void fIECache::showListing()
{
    showRows();
    Label1->setText(m_commands->counter());
    if (m_commands->tag() != kAllCachesTag)
        return;
    ListView2->clear();
    for (const auto &[user, folder] : m_commands->userRows())
        ListView2->addTopLevelItem(
            new QTreeWidgetItem(QStringList{ShowableText(user), ShowableText(folder)}));
    ListView3->clear();
    for (const QString &folder : m_commands->folderRows())
        ListView3->addTopLevelItem(new QTreeWidgetItem(QStringList{ShowableText(folder)}));
    fitColumns(ListView2);
    fitColumns(ListView3);
}

void fIECache::sortByColumn(int column)
{
    if (m_commands->busy())
        return;
    const QList<bool> before = selectedRows();
    const QList<qsizetype> order = m_commands->sortByColumn(column);
    QList<bool> after(order.size(), false);
    for (qsizetype i = 0; i < order.size(); ++i)
        after[i] = order.at(i) < before.size() && before.at(order.at(i));
    showRows(after);
}

void fIECache::setBusy(bool busy)
{
    for (QPushButton *button : {Command1, Command7, Command2, Command3})
        button->setEnabled(!busy);
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
    if (!busy && m_clearing)
        endClearing();
}

void fIECache::clearCache(bool showMessage)
{
    using Command = CacheCommands::Command;
    m_clearing = true;
    m_messageAfterClearing = m_messageAfterClearing || showMessage;
    m_commands->run(Command::ViewMine);
    m_commands->run(Command::DeleteAll);
    m_commands->run(Command::ViewAll);
    m_commands->run(Command::DeleteAll);
}

void fIECache::endClearing()
{
    const bool announce = m_messageAfterClearing;
    m_clearing = false;
    hide();
    deleteLater();
    if (announce)
        showMessage(MessageIcon::Information, QStringLiteral("IE缓存清空完毕！"));
}
