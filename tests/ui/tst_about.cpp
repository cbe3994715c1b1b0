#include "desktop/osname.h"
#include "desktop/shellhelpers.h"
#include "shellseam.h"
#include "testenv.h"
#include "ui/aboutwindow.h"

#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

class TestAbout : public QObject
{
    Q_OBJECT

    QTemporaryDir m_bin;
    QByteArray m_path;
    QList<QStringList> m_started;
    bool m_startWorks = true;
    ShellServices m_previous;

    void makeProgram(const QString &name)
    {
        const QString file = m_bin.path() + u'/' + name;
        fntest::writeFile(file, "#!/bin/sh\n");
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_path = qgetenv("PATH");
        m_previous = ShellSeam::replace({{}, [this](const QString &program, const QStringList &args) {
                                             m_started.append(QStringList{program} + args);
                                             return m_startWorks;
                                         }});
    }
    void cleanupTestCase()
    {
        qputenv("PATH", m_path);
        ShellSeam::replace(m_previous);
    }

    void namesTheProgramAndItsVersion()
    {
        AboutWindow about;
        QCOMPARE(about.objectName(), QStringLiteral("frmAbout"));
        QCOMPARE(about.windowTitle(), QStringLiteral("关于『墨枢Folionexus文献资料下载管理器』 "));
        QCOMPARE(about.findChild<QLabel *>(QStringLiteral("lsoftname"))->text(), kAppTitle);
        QCOMPARE(about.findChild<QLabel *>(QStringLiteral("lblVersion"))->text(),
                 QStringLiteral("版本 %1.%2.%3")
                     .arg(FOLIONEXUS_VERSION_MAJOR)
                     .arg(FOLIONEXUS_VERSION_MINOR)
                     .arg(FOLIONEXUS_VERSION_PATCH));
        QVERIFY(about.findChild<QPushButton *>(QStringLiteral("cmdSysInfo"))->text() ==
                QStringLiteral("系统信息(&S)..."));
    }

    void copiesTheInformationBeforeAndAfterTheTick()
    {
        AboutWindow about;
        auto *box = about.findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("old"));
        about.findChild<QPushButton *>(QStringLiteral("cmdCopy"))->click();
        QCOMPARE(clipboard->text(), QStringLiteral("正在加载信息，请稍候...\r\n"));
        QVERIFY(box->toPlainText().startsWith(QStringLiteral("正在加载信息，请稍候...")));

        const QString expected = QStringLiteral("操作系统：") + OsDescription() + QStringLiteral("\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(about.information(), expected, 2000);
        QVERIFY(box->toPlainText().startsWith(QStringLiteral("操作系统：") + OsDescription()));
        if (sizeof(void *) == 8)
            QVERIFY(expected.endsWith(QStringLiteral("[64位]\r\n")));
        about.copyInformation();
        QCOMPARE(clipboard->text(), expected);
    }

    void systemInformationProgram()
    {
        fntest::MessageRecorder recorder;
        qputenv("PATH", m_bin.path().toLocal8Bit());
        m_started.clear();
        AboutWindow about;
        about.startSystemInformation();
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("此时系统信息不可用")});
        QCOMPARE(recorder.messages.first().icon, MessageIcon::None);
        QCOMPARE(recorder.messages.first().buttons, MessageButtons::Ok);
        QVERIFY(m_started.isEmpty());

        makeProgram(QStringLiteral("kinfocenter"));
        makeProgram(QStringLiteral("gnome-system-monitor"));
        recorder.clear();
        about.findChild<QPushButton *>(QStringLiteral("cmdSysInfo"))->click();
        QCOMPARE(m_started, (QList<QStringList>{{m_bin.path() + QStringLiteral("/gnome-system-monitor")}}));
        QVERIFY(recorder.messages.isEmpty());

        m_startWorks = false; // found but it would not start
        about.startSystemInformation();
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("此时系统信息不可用")});
        m_startWorks = true;
        qputenv("PATH", m_path);
    }

    void okClosesTheModalWindow()
    {
        QTimer::singleShot(0, this, [] {
            QWidget *w = QApplication::activeModalWidget();
            QVERIFY(w && w->objectName() == QStringLiteral("frmAbout"));
            w->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
        });
        showAboutWindow(nullptr);
        QVERIFY(!QApplication::activeModalWidget());
    }
};

FN_TEST_MAIN_GUI(TestAbout)
#include "tst_about.moc"
