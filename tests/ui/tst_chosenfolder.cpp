#include "browser/browserprofile.h"
#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/search/candidatelistmodel.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "demo/demosite.h"
#include "desktop/filedialogs.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrows.h"
#include "testrun.h"
#include "ui/appwindows.h"
#include "ui/folderhistory.h"
#include "ui/savelocationchooser.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebEnginePage>

// Papers go only to a folder the user chose, on every road into the download list; and the options
// window keeps the download method that is in force.
class TestChosenFolder : public QObject
{
    Q_OBJECT

    DemoSite m_site;
    QTemporaryDir m_dir;

    // Runs `answer` on the next modal window of the given name as soon as it opens.
    QTimer *whenModalOpens(const QString &name, std::function<void(QWidget *)> answer)
    {
        auto *poll = new QTimer(this);
        poll->setInterval(20);
        connect(poll, &QTimer::timeout, this, [poll, name, answer] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal->objectName() != name)
                return;
            poll->stop();
            poll->deleteLater();
            answer(modal);
        });
        poll->start();
        return poll;
    }
    QTimer *cancelChooser()
    {
        return whenModalOpens(QStringLiteral("fSeleFileSavePath"), [](QWidget *chooser) {
            chooser->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
        });
    }
    void confirmChooser(const QString &folder)
    {
        whenModalOpens(QStringLiteral("fSeleFileSavePath"), [folder](QWidget *chooser) {
            static_cast<SaveLocationChooser *>(chooser)->folderBox()->setEditText(folder);
            chooser->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
        });
    }

    static void analyse(fWebSearch *search, AnalysisCommand command)
    {
        QSignalSpy finished(search->analysis(), &CandidateAnalysis::finished);
        search->startAnalysis(command);
        QVERIFY(finished.wait(20000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        m_site.setPaperCount(6);
        m_site.setPageSize(3);
        QVERIFY(m_site.listen());
    }

    void init()
    {
        // A fresh profile: nothing stored, no folder history.
        QFile::remove(SettingsFilePath());
        QFile::remove(FolderHistoryPath());
        TestOptions::edit() = SharedOptions();
        TestOptions::store().loadFromStore();
    }

    void rowsWithoutAFolderAreAskedForAtHandOver()
    {
        fntest::MessageRecorder messages;
        AppWindows windows(m_site.homeUrl(), TestOptions::store(), fntest::siteRules());
        fWebSearch *search = windows.showSearchWindow();
        QTRY_COMPARE_WITH_TIMEOUT(search->page()->url(), m_site.homeUrl(), 20000);
        QVERIFY(TestOptions::store().options().PromptSavePathOnExtract); // the fresh profile's default
        CandidateListModel *candidates = search->candidates();

        // Links imported on a fresh profile carry no folder.
        const QString links = m_dir.path() + QStringLiteral("/links.txt");
        fntest::writeFile(links, (m_site.paperFileUrl(5).toString() + u'\n' + QStringLiteral("标题六\t") +
                                  m_site.paperFileUrl(6).toString() + u'\n')
                                     .toUtf8());
        filedialogs::setFunction([&](QWidget *, const filedialogs::Request &) { return links; });
        for (QAction *action : search->findChildren<QAction *>()) {
            if (action->text() == QStringLiteral("从文本文件导入链接…"))
                action->trigger();
        }
        filedialogs::setFunction({});
        QTRY_COMPARE(candidates->count(), 2);
        QCOMPARE(candidates->row(0).folder, QString());

        // The hand-over asks although the option says the folder was asked for; Cancel hands nothing over.
        cancelChooser();
        analyse(search, AnalysisCommand::All);
        QCOMPARE(search->statusPanelText(3), QStringLiteral("本次分析成功：0条"));
        QVERIFY(windows.downloadWindow());
        QCOMPARE(windows.downloadWindow()->model()->count(), 0);
        QCOMPARE(candidates->row(0).status, QString());

        // A result page taken with the chooser cancelled: the folder it proposed was never chosen.
        QSignalSpy loaded(search->page(), &QWebEnginePage::loadFinished);
        const QUrl results = m_site.searchUrl(QStringLiteral("纳米"));
        search->page()->load(results);
        QTRY_VERIFY_WITH_TIMEOUT(
            !loaded.isEmpty() && loaded.last().at(0).toBool() && search->page()->url() == results, 20000);
        cancelChooser();
        search->addThisPage();
        QTRY_COMPARE_WITH_TIMEOUT(candidates->count(), 2 + m_site.pageSize(), 20000);
        QCOMPARE(candidates->row(2).folder, QString());

        // Another command asks too; OK gives every row that folder.
        const QString chosen = m_dir.path() + QStringLiteral("/论文");
        confirmChooser(chosen);
        analyse(search, AnalysisCommand::Unanalysed);
        DownloadListModel *downloads = windows.downloadWindow()->model();
        QCOMPARE(downloads->count(), candidates->count());
        for (int i = 0; i < downloads->count(); ++i)
            QCOMPARE(downloads->row(i).folder, chosen + u'/');
        QCOMPARE(search->statusPanelText(3), QStringLiteral("本次分析成功：%1条").arg(downloads->count()));

        // From now on the folder is known: a hand-over of the same rows does not ask again.
        bool askedAgain = false;
        QTimer *watch = whenModalOpens(QStringLiteral("fSeleFileSavePath"), [&](QWidget *chooser) {
            askedAgain = true;
            chooser->findChild<QPushButton *>(QStringLiteral("cancelButton"))->click();
        });
        analyse(search, AnalysisCommand::All);
        QVERIFY(!askedAgain);
        delete watch;
        // They are all in the list already, in the folder chosen: said so, and nothing to move.
        QCOMPARE(search->statusPanelText(3), QStringLiteral("%1 篇已在下载列表中").arg(downloads->count()));

        windows.downloadWindow()->close();
        search->close();
    }

    void optionsWindowKeepsTheMethodInForce()
    {
        fntest::MessageRecorder messages;
        // Stands in for a proxy: it remembers what it was asked and answers 404.
        QTcpServer proxy;
        QVERIFY(proxy.listen(QHostAddress::LocalHost));
        QByteArray asked;
        connect(&proxy, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = proxy.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&asked, socket] {
                asked += socket->readAll();
                if (asked.contains("\r\n\r\n")) {
                    socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                }
            });
        });

        AppWindows windows(m_site.homeUrl(), TestOptions::store(), fntest::siteRules());
        fFileDownload *download = windows.ensureDownloadWindow();
        download->show();
        SchedulerOptions &options = SchedulerAccess::of(download->queue())->options();
        QCOMPARE(download->Combo1->currentText(), QStringLiteral("3"));

        // OK with nothing changed keeps the thread count.
        bool methodTwoShown = false;
        whenModalOpens(QStringLiteral("fOption"), [&](QWidget *w) {
            methodTwoShown = w->findChild<QRadioButton *>(QStringLiteral("methodTwoOption"))->isChecked();
            w->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
        });
        download->action(QStringLiteral("actSettings"))->trigger();
        QVERIFY(methodTwoShown);
        QCOMPARE(download->Combo1->currentText(), QStringLiteral("3"));
        QCOMPARE(options.threadCount, 3);

        // After 切换 the window shows method one, and its OK keeps it, with the proxy just entered.
        download->Command26->click();
        QCOMPARE(download->Label7->text(), QStringLiteral("下载方式：1"));
        bool methodOneShown = false;
        whenModalOpens(QStringLiteral("fOption"), [&](QWidget *w) {
            methodOneShown = w->findChild<QRadioButton *>(QStringLiteral("methodOneOption"))->isChecked();
            w->findChild<QCheckBox *>(QStringLiteral("proxyCheck"))->setChecked(true);
            w->findChild<QLineEdit *>(QStringLiteral("proxyAddressBox"))
                ->setText(QStringLiteral("127.0.0.1"));
            w->findChild<QLineEdit *>(QStringLiteral("proxyPortBox"))
                ->setText(QString::number(proxy.serverPort()));
            w->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
        });
        download->action(QStringLiteral("actSettings"))->trigger();
        QVERIFY(methodOneShown);
        QCOMPARE(download->Label7->text(), QStringLiteral("下载方式：1"));
        QCOMPARE(SchedulerAccess::of(download->queue())->method(), DownloadMethod::Single);
        QCOMPARE(ReadSetting(settingkeys::SectionSettings, settingkeys::DownloadMethod.name, QString()),
                 QStringLiteral("1"));
        QVERIFY(messages.messages.isEmpty());

        // The next file goes through that proxy.
        DownloadRow row;
        row.key = QStringLiteral("http://papers.invalid/one.pdf");
        row.name = QStringLiteral("one");
        row.type = QStringLiteral("pdf");
        row.folder = m_dir.path() + u'/';
        download->queue()->enqueue(row);
        download->Command4->click();
        QTRY_VERIFY_WITH_TIMEOUT(asked.startsWith("GET http://papers.invalid/one.pdf HTTP/1.1\r\n"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(download->model()->检测是否下载列表完毕(), 20000);
        SchedulerAccess::of(download->queue())->StopDownloads();
        download->close();
    }
};

FN_TEST_MAIN_GUI(TestChosenFolder)
#include "tst_chosenfolder.moc"
