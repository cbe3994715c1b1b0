#include "ui/library/duplicatesdialog.h"

#include "core/library/librarythread.h"
#include "desktop/screenfit.h"
#include "ui/library/librarycommands.h"
#include "ui/library/librarytexts.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

namespace {

constexpr int kAddressRole = Qt::UserRole;

QString groupText(const DuplicateGroup &group)
{
    return group.kind == DuplicateGroup::Kind::SameDoi ? QStringLiteral("同一DOI：") + shownLine(group.key)
                                                       : QStringLiteral("同一内容（SHA-256）：") + group.key;
}

QTreeWidgetItem *paperItem(const LibraryRow &row)
{
    auto *item =
        new QTreeWidgetItem({shownLine(row.title), shownLine(row.filePath),
                             row.downloadedAt.isValid()
                                 ? row.downloadedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                 : QString(),
                             shownLine(row.address)});
    item->setData(0, kAddressRole, row.address);
    return item;
}

} // namespace

DuplicatesDialog::DuplicatesDialog(LibraryThread &thread, LibraryCommands &commands, QWidget *parent)
    : QDialog(parent), m_thread(thread), m_commands(commands), m_tree(new QTreeWidget(this)),
      m_summary(new QLabel(this)),
      m_deleteFreed(new QCheckBox(QStringLiteral("同时删除不再使用的文件"), this)),
      m_keep(new QPushButton(QStringLiteral("保留所选文献的文件"), this))
{
    setObjectName(QStringLiteral("fLibraryDuplicates"));
    setWindowTitle(QStringLiteral("重复的文献"));
    resize(900, 480);
    KeepWithinScreen(this);
    m_summary->setTextFormat(Qt::PlainText);
    m_tree->setHeaderLabels(
        {QStringLiteral("标题"), QStringLiteral("文件"), QStringLiteral("下载时间"), QStringLiteral("地址")});
    m_tree->header()->resizeSection(0, 320);
    m_tree->header()->resizeSection(1, 300);
    m_keep->setObjectName(QStringLiteral("cmdKeepOne"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_keep, QDialogButtonBox::ActionRole);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_deleteFreed);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_keep, &QPushButton::clicked, this, &DuplicatesDialog::keepChosen);
    connect(&m_commands, &LibraryCommands::libraryChanged, this, &DuplicatesDialog::reload);
    reload();
}

void DuplicatesDialog::reload()
{
    auto groups = std::make_shared<QList<DuplicateGroup>>();
    m_thread.run(
        [groups](PaperLibrary &library) {
            std::optional<QList<DuplicateGroup>> read = libraryview::duplicates(library);
            if (read)
                *groups = std::move(*read);
            return read.has_value();
        },
        this,
        [this, groups](const LibraryThread::Answer &answer) {
            if (!answer.ok) {
                m_summary->setText(answer.error);
                return;
            }
            fill(*groups);
        });
}

void DuplicatesDialog::fill(const QList<DuplicateGroup> &groups)
{
    m_tree->clear();
    for (const DuplicateGroup &group : groups) {
        auto *top = new QTreeWidgetItem({groupText(group)});
        top->setFirstColumnSpanned(true);
        for (const LibraryRow &row : group.papers)
            top->addChild(paperItem(row));
        m_tree->addTopLevelItem(top);
        top->setFirstColumnSpanned(true);
        top->setExpanded(true);
    }
    m_summary->setText(groups.isEmpty() ? QStringLiteral("没有重复的文献。")
                                        : QStringLiteral("共 %1 组重复的文献。选中一篇，保留它的文件，"
                                                         "同组的其他文献改用这个文件。")
                                              .arg(groups.size()));
    emit loaded(int(groups.size()));
}

bool DuplicatesDialog::keepChosen()
{
    const QTreeWidgetItem *chosen = m_tree->currentItem();
    if (!chosen || !chosen->parent())
        return false;
    const QTreeWidgetItem *group = chosen->parent();
    QStringList others;
    for (int i = 0; i < group->childCount(); ++i) {
        if (group->child(i) != chosen)
            others.append(group->child(i)->data(0, kAddressRole).toString());
    }
    m_commands.keepOneFile(chosen->data(0, kAddressRole).toString(), others, m_deleteFreed->isChecked());
    return true;
}
