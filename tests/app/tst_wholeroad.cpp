#include "browser/browserprofile.h"
#include "core/common/filenames.h"
#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/search/addallwalk.h"
#include "core/search/candidateanalysis.h"
#include "core/search/candidatelistmodel.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "demo/demosite.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrows.h"
#include "testrun.h"
#include "ui/appwindows.h"
#include "ui/cacheviewer.h"
#include "ui/loginpanel.h"
#include "ui/savelocationchooser.h"
#include "windowseams.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineView>

// The whole road through the real windows: startup, search on the demo site, add every result page,
// hand the candidates over, download with either engine, files on disk; and the windows' closing order.
class TestWholeRoad : public QObject
{
    Q_OBJECT

    DemoSite m_site;

    // Answers the save-location chooser as soon as it opens.
    void answerChooser(const QString &folder, bool namesFromLinks)
    {
        auto *poll = new QTimer(this);
        poll->setInterval(20);
        connect(poll, &QTimer::timeout, this, [poll, folder, namesFromLinks] {
            auto *chooser = qobject_cast<SaveLocationChooser *>(QApplication::activeModalWidget());
            if (!chooser)
                return;
            poll->stop();
            poll->deleteLater();
            chooser->folderBox()->setEditText(folder);
            for (QRadioButton *option : chooser->findChildren<QRadioButton *>()) {
                if (option->text() == QStringLiteral("原文件名"))
                    option->setChecked(namesFromLinks);
                else
                    option->setChecked(!namesFromLinks);
            }
            chooser->confirm();
        });
        poll->start();
    }

    fWebSearch *openSearch(AppWindows &windows)
    {
        fCover *cover = windows.startupWindow();
        if (!cover->isVisible())
            cover->show();
        QTest::qWaitFor([cover] { return cover->batchButton->isEnabled(); }, 5000);
        cover->batchButton->click();
        return windows.searchWindow();
    }

    void loadResults(fWebSearch *search)
    {
        QTRY_COMPARE_WITH_TIMEOUT(search->page()->url(), m_site.homeUrl(), 20000);
        QSignalSpy loaded(search->page(), &QWebEnginePage::loadFinished);
        const QUrl results = m_site.searchUrl(QStringLiteral("纳米"));
        search->page()->load(results);
        // The home page's own load may finish first: wait for the result page's.
        QTRY_VERIFY_WITH_TIMEOUT(
            !loaded.isEmpty() && loaded.last().at(0).toBool() && search->page()->url() == results, 20000);
    }

    // What a finished row must look like for a paper of each kind, per engine.
    struct Expected
    {
        RowState state;
        QString extension;
    };
    Expected expectedFor(DemoPaperKind kind, int method) const
    {
        switch (kind) {
        case DemoPaperKind::ErrorPage:
            return {RowState::Failed, {}}; // a web page is no paper, whatever the method
        case DemoPaperKind::Missing:
            return {RowState::Failed, {}};
        case DemoPaperKind::Kdh:
            return {RowState::Done, method == 1 ? "kdh" : "pdf"};
        default:
            return {RowState::Done, "pdf"};
        }
    }

    void runRoad(int method, bool login, bool namesFromLinks)
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + QStringLiteral("/论文/下载");
        m_site.login().setRequireLogin(login);
        m_site.login().clearSessions();
        TestOptions::edit() = SharedOptions();
        TestOptions::store().loadFromStore();
        TestOptions::edit().PromptSavePathOnExtract = true;

        AppWindows windows(m_site.homeUrl(), TestOptions::store(), fntest::siteRules());
        windows.showStartup();
        fWebSearch *search = openSearch(windows);
        QVERIFY(search && search->isVisible());
        QVERIFY(!windows.startupWindow()->isVisible());
        loadResults(search);

        answerChooser(folder, namesFromLinks);
        QSignalSpy walked(search->addAllWalk(), &AddAllWalk::finished);
        search->toggleAddAll();
        QVERIFY(walked.wait(60000));
        QCOMPARE(search->candidates()->rowCount(), m_site.paperCount());
        QVERIFY(QDir(folder).exists()); // the chooser created the folder chain

        search->startAnalysis(AnalysisCommand::All);
        QTRY_VERIFY_WITH_TIMEOUT(windows.downloadWindow() && windows.downloadWindow()->isVisible(), 20000);
        QTRY_VERIFY(search->AnalysisStopped());
        fFileDownload *downloads = windows.downloadWindow();
        DownloadListModel *model = downloads->model();
        QCOMPARE(model->count(), m_site.paperCount());
        QCOMPARE(search->statusPanelText(3), QStringLiteral("本次分析成功：%1条").arg(m_site.paperCount()));

        if (login) {
            LoginPanel *panel = downloads->loginPanel();
            panel->setWaitLimits(8000, 300);
            panel->Text1->setText(m_site.loginUrl().toString());
            panel->Text2->setText(m_site.login().account());
            panel->Text3->setText(m_site.login().password());
            QSignalSpy loggedIn(panel, &LoginPanel::loginFinished);
            QVERIFY(panel->PanelLogin(true));
            QVERIFY(loggedIn.wait(30000));
        }

        SchedulerAccess::of(downloads->queue())->options().method = methodFromNumber(method);
        SchedulerAccess::of(downloads->queue())->options().threadCount = method == 1 ? 1 : 3;
        SchedulerAccess::of(downloads->queue())->start();
        QTRY_VERIFY_WITH_TIMEOUT(model->检测是否下载列表完毕(), 120000);
        QTRY_COMPARE(SchedulerAccess::of(downloads->queue())->transfers().CountTransferSlots(), 1);

        for (int n = 1; n <= m_site.paperCount(); ++n) {
            const int position = model->positionOfKey(m_site.paperFileUrl(n).toString());
            QVERIFY(position >= 0);
            const DownloadRow &row = model->row(position);
            const Expected expected = expectedFor(m_site.paperKind(n), method);
            const QString what =
                QStringLiteral("paper %1 (%2)").arg(n).arg(demoPaperKindName(m_site.paperKind(n)));
            QVERIFY2(row.state == expected.state, qPrintable(what));
            const QString name = namesFromLinks ? QString::number(n) : CleanFileName(m_site.paperTitle(n));
            QCOMPARE(row.name, name);
            const QString path = folder + u'/' + name + u'.';
            if (expected.state == RowState::Done && expected.extension != u"html") {
                QVERIFY2(QFile::exists(path + row.type), qPrintable(what + " " + path + row.type));
                QVERIFY2(row.type.compare(expected.extension, Qt::CaseInsensitive) == 0, qPrintable(what));
                QVERIFY2(fntest::readFile(path + row.type) == m_site.paperBytes(n), qPrintable(what));
            } else if (expected.state == RowState::Failed) {
                QVERIFY2(!QFile::exists(path + QStringLiteral("pdf")), qPrintable(what));
            }
        }
        // Nothing but finished papers stays in the folder.
        for (const QString &entry : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(!entry.startsWith(u'.'), qPrintable(entry));

        QTRY_VERIFY(
            !SchedulerAccess::of(downloads->queue())->isRunning()); // the housekeeping tick ends the run
        // Closing the search window leaves the download window; closing that brings the startup window back.
        // Its candidate list is not empty, so it asks first.
        {
            fntest::MessageRecorder closing;
            search->close();
            QTRY_VERIFY(!windows.isSearchWindowOpen());
            QCOMPARE(closing.texts(),
                     QStringList{QStringLiteral("关闭窗口将清空辛辛苦苦搜索的列表数据，您确定要关闭吗？")});
        }
        QTest::qWait(50);
        QVERIFY(!windows.startupWindow()->isVisible());
        downloads->close();
        QTRY_VERIFY(windows.startupWindow()->isVisible());
        QVERIFY(windows.startupWindow()->batchButton->isEnabled());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        m_site.setPaperCount(25);
        m_site.setPageSize(10);
        QVERIFY(m_site.listen());
    }

    void parallelSlotsWithTitleNames() { runRoad(2, false, false); }
    void singleConnectionLoggedInWithLinkNames() { runRoad(1, true, true); }

    void closingOrdersAndAFreshSearchWindow()
    {
        fntest::MessageRecorder messages;
        AppWindows windows(m_site.homeUrl(), TestOptions::store(), fntest::siteRules());
        windows.showStartup();
        fCover *cover = windows.startupWindow();
        // The buttons cannot be used before the first tick.
        QVERIFY(!cover->batchButton->isEnabled());
        QTRY_VERIFY(cover->batchButton->isEnabled());

        // Search window closed without a download window: the startup window comes back.
        fWebSearch *search = openSearch(windows);
        QVERIFY(!cover->isVisible());
        search->close();
        QTRY_VERIFY(cover->isVisible());

        // Opened a second time, it starts afresh on the home page with an empty list.
        search = openSearch(windows);
        QTRY_COMPARE(search->page()->url(), m_site.homeUrl());
        QCOMPARE(search->candidates()->rowCount(), 0);

        // Emptying the browser cache says so once, when the clean-up has finished. Only this test's own
        // profile cache is touched: no home folders of real users are walked.
        CacheLocations onlyOurs = cacheViewerLocations();
        onlyOurs.homes = HomeRoots{};
        CacheViewerSeam::setLocations(onlyOurs);
        for (QAction *action : search->findChildren<QAction *>()) {
            if (action->text() == QStringLiteral("清空IE浏览器缓存"))
                action->trigger();
        }
        QTRY_COMPARE(messages.texts().count(QStringLiteral("IE缓存清空完毕！")), 1);
        QTest::qWait(100);
        QCOMPARE(messages.texts().count(QStringLiteral("IE缓存清空完毕！")), 1);
        CacheViewerSeam::setLocations(std::nullopt);

        // A download window with a waiting row asks before closing; No keeps it.
        DownloadListModel *model = windows.loadDownloadWindow()->model();
        DownloadRow row;
        row.key = m_site.paperFileUrl(1).toString();
        row.name = "waiting";
        row.type = "pdf";
        TestRows::of(*model).addRow(row);
        windows.showDownloadWindow();
        fFileDownload *downloads = windows.downloadWindow();
        messages.answers = {MessageAnswer::No};
        downloads->close();
        QVERIFY(messages.saw(QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？")));
        QVERIFY(downloads->isVisible());
        // Yes closes it; the search window is still open, so the startup window stays hidden.
        messages.answers = {MessageAnswer::Yes};
        downloads->close();
        QTRY_VERIFY(!windows.downloadWindow());
        QTest::qWait(50);
        QVERIFY(!cover->isVisible());
        search->close();
        QTRY_VERIFY(cover->isVisible());
    }
};

FN_TEST_MAIN_GUI(TestWholeRoad)
#include "tst_wholeroad.moc"
