#include "ui/aboutwindow.h"

#include "core/common/messenger.h"
#include "desktop/osname.h"
#include "desktop/screenfit.h"
#include "desktop/shellhelpers.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

AboutWindow::AboutWindow(QWidget *parent)
    : QDialog(parent), lsoftname(new QLabel(this)), lblVersion(new QLabel(this)),
      Text1(new QPlainTextEdit(this)), Timer1(new QTimer(this))
{
    setObjectName(QStringLiteral("frmAbout"));
    KeepWithinScreen(this);
    lsoftname->setObjectName(QStringLiteral("lsoftname"));
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Timer1->setObjectName(QStringLiteral("Timer1"));

    layOut();

    setWindowTitle(QStringLiteral("关于『") + kAppTitle + QStringLiteral("』 "));
    lsoftname->setText(kAppTitle);
    lblVersion->setText(QStringLiteral("版本 %1.%2.%3")
                            .arg(FOLIONEXUS_VERSION_MAJOR)
                            .arg(FOLIONEXUS_VERSION_MINOR)
                            .arg(FOLIONEXUS_VERSION_PATCH));
    setInformation(QStringLiteral("正在加载信息，请稍候...\r\n"));

    // The description is filled in just after the window shows, so it opens without delay.
    Timer1->setSingleShot(true);
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &AboutWindow::showSystemDescription);
    Timer1->start();
}

void AboutWindow::layOut()
{
    auto *okButton = new QPushButton(QStringLiteral("确定"), this);
    okButton->setObjectName(QStringLiteral("cmdOK"));
    okButton->setDefault(true);
    auto *sysInfoButton = new QPushButton(QStringLiteral("系统信息(&S)..."), this);
    sysInfoButton->setObjectName(QStringLiteral("cmdSysInfo"));
    auto *copyButton = new QPushButton(QStringLiteral("复制信息"), this);
    copyButton->setObjectName(QStringLiteral("cmdCopy"));

    QFont titleFont = lsoftname->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    lsoftname->setFont(titleFont);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(copyButton);
    buttons->addStretch();
    buttons->addWidget(okButton);
    buttons->addWidget(sysInfoButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lsoftname);
    layout->addWidget(lblVersion);
    layout->addWidget(Text1);
    layout->addLayout(buttons);
    resize(460, 260);

    connect(okButton, &QPushButton::clicked, this, &AboutWindow::accept);
    connect(sysInfoButton, &QPushButton::clicked, this, &AboutWindow::startSystemInformation);
    connect(copyButton, &QPushButton::clicked, this, &AboutWindow::copyInformation);
}

void AboutWindow::setInformation(const QString &text)
{
    m_information = text;
    Text1->setPlainText(text);
}

void AboutWindow::showSystemDescription()
{
    Timer1->stop();
    setInformation(QStringLiteral("操作系统：") + OsDescription() + QStringLiteral("\r\n"));
}

void AboutWindow::copyInformation()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_information);
}

QStringList systemInformationPrograms()
{
    return {QStringLiteral("hardinfo"),
            QStringLiteral("hardinfo2"),
            QStringLiteral("gnome-system-monitor"),
            QStringLiteral("kinfocenter"),
            QStringLiteral("mate-system-monitor"),
            QStringLiteral("xfce4-taskmanager")};
}

QString findSystemInformationProgram()
{
    for (const QString &name : systemInformationPrograms()) {
        const QString program = QStandardPaths::findExecutable(name);
        if (!program.isEmpty())
            return program;
    }
    return {};
}

void AboutWindow::startSystemInformation()
{
    const QString program = findSystemInformationProgram();
    if (!program.isEmpty() && shellServices().startDetached(program, {}))
        return;
    showMessage(MessageIcon::None, QStringLiteral("此时系统信息不可用"));
}

void showAboutWindow(QWidget *parent)
{
    AboutWindow window(parent);
    window.exec();
}
