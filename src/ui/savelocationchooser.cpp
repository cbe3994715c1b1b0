#include "ui/savelocationchooser.h"

#include "core/common/folderaccess.h"
#include "core/common/messenger.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/diskworkers.h"
#include "desktop/screenfit.h"
#include "desktop/shellhelpers.h"
#include "ui/folderhistory.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QThreadPool>

namespace {

// The history's writes, one at a time and in the order they were asked for.
QThreadPool &historyWrites()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return *pool;
}

} // namespace

SaveLocationChooser::SaveLocationChooser(OptionStore &options, QWidget *parent)
    : QDialog(parent), m_options(options), m_folderBox(new QComboBox(this)),
      m_originalName(new QRadioButton(QStringLiteral("原文件名"), this)),
      m_titleName(new QRadioButton(QStringLiteral("文章标题名称"), this))
{
    setObjectName(QStringLiteral("fSeleFileSavePath"));
    setWindowTitle(QStringLiteral("选择下载保存路径－墨枢软件"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    KeepWithinScreen(this);

    m_folderBox->setObjectName(QStringLiteral("folderBox"));
    m_folderBox->setEditable(true);
    m_folderBox->setInsertPolicy(QComboBox::NoInsert);
    m_folderBox->setMinimumWidth(320);
    m_originalName->setObjectName(QStringLiteral("originalNameOption"));
    m_titleName->setObjectName(QStringLiteral("titleNameOption"));
    auto *naming = new QButtonGroup(this);
    naming->addButton(m_originalName);
    naming->addButton(m_titleName);
    m_titleName->setChecked(true);

    layOut();

    if (m_options.options().UseOriginalFileName)
        m_originalName->setChecked(true);
    // A chooser confirmed a moment ago may still be writing the history this one shows.
    historyWrites().waitForDone();
    LoadFolderHistory(m_folderBox, FolderHistoryPath());
    // The proposed folder of a fresh profile is only a proposal: until a folder has been confirmed, a
    // cancelled chooser leaves the rows without one, and they are asked for again when handed over.
    m_options.loadSaveFolder();
    const QString folder = m_options.options().DefaultSaveFolder;
    m_folderBox->setEditText(folder.isEmpty() ? DefaultSaveFolderSetting() : folder);
}

void SaveLocationChooser::layOut()
{
    auto *browseButton = new QPushButton(QStringLiteral("..."), this);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    auto *okButton = new QPushButton(QStringLiteral("确定"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    auto *cancelButton = new QPushButton(QStringLiteral("取消"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("保存到文件夹："), this), 0, 0);
    grid->addWidget(m_folderBox, 0, 1, 1, 2);
    grid->addWidget(browseButton, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("保存文件名为："), this), 1, 0);
    grid->addWidget(m_originalName, 1, 1);
    grid->addWidget(m_titleName, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    grid->addLayout(buttons, 2, 0, 1, 4);

    connect(okButton, &QPushButton::clicked, this, &SaveLocationChooser::confirm);
    connect(cancelButton, &QPushButton::clicked, this, &SaveLocationChooser::reject);
    connect(browseButton, &QPushButton::clicked, this, &SaveLocationChooser::browse);
}

SaveLocationChooser::~SaveLocationChooser() = default;

void SaveLocationChooser::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The room to the screen's edge is known only once the window has its place.
    FitDropDownWidth(m_folderBox);
}

namespace {

QString folderAccessReason(FolderAccess access)
{
    switch (access) {
    case FolderAccess::Writable:
        break;
    case FolderAccess::Missing:
        return QStringLiteral("不存在且无法创建");
    case FolderAccess::NotAFolder:
        return QStringLiteral("不是文件夹");
    case FolderAccess::NotWritable:
        return QStringLiteral("没有写入权限");
    case FolderAccess::ReadOnly:
        return QStringLiteral("磁盘只读");
    case FolderAccess::Full:
        return QStringLiteral("磁盘空间不足");
    }
    return {};
}

} // namespace

void SaveLocationChooser::confirm()
{
    // A second OK while the folder is being made and probed waits for the same answer.
    if (m_checking)
        return;
    m_checking = true;
    m_options.setUseOriginalFileName(m_originalName->isChecked());
    const QString typed = m_folderBox->currentText().trimmed();
    // The folder is made and probed on a worker; OK acts when the answer is in, unless the window was
    // closed (or has gone) meanwhile.
    diskwork::workThenPost(
        this, [typed] { return CheckChosenFolder(typed); },
        [this](const ChosenFolderCheck &check) { takeCheck(check); });
}

void SaveLocationChooser::takeCheck(const ChosenFolderCheck &check)
{
    if (!m_checking)
        return;
    m_checking = false;
    if (check.badName)
        showMessage(MessageIcon::Critical, QStringLiteral("文件夹名称有误！不能创建文件夹！"));
    const QString folder = check.folder;
    m_folderBox->setEditText(folder);
    if (folder.isEmpty()) {
        const QString reason = check.probed ? folderAccessReason(check.access) : QString();
        showMessage(MessageIcon::Critical, reason.isEmpty() ? QStringLiteral("文件夹设置错误！")
                                                            : QStringLiteral("文件夹设置错误！\n") + reason);
        Q_EMIT checkAnswered();
        return;
    }
    // A folder that takes no file would fail every row of the list one by one: refuse it here.
    if (check.access != FolderAccess::Writable) {
        showMessage(MessageIcon::Critical,
                    QStringLiteral("文件夹设置错误！\n") + folderAccessReason(check.access));
        Q_EMIT checkAnswered();
        return;
    }
    m_options.storeSaveFolder(folder.endsWith(u'/') ? folder : folder + u'/');
    m_folderBox->addItem(folder.trimmed());
    // Only a folder taken is recorded in the history, and on a worker.
    QStringList history;
    for (int i = 0; i < m_folderBox->count(); ++i)
        history.append(m_folderBox->itemText(i));
    historyWrites().start([history, path = FolderHistoryPath()] { WriteFolderHistory(history, path); });
    accept();
    Q_EMIT checkAnswered();
}

void SaveLocationChooser::browse()
{
    m_folderBox->setEditText(
        BrowseForFolder(this, m_folderBox->currentText(), QStringLiteral("请选择要浏览的文件夹:")));
}

void SaveLocationChooser::reject()
{
    // An answer still to come for an OK before is let go; its folder is not recorded in the history.
    m_checking = false;
    QDialog::reject();
}

bool runSaveLocationChooser(QWidget *parent, OptionStore &options)
{
    SaveLocationChooser chooser(options, parent);
    return chooser.exec() == QDialog::Accepted;
}
