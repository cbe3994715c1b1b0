// The download window on the demo site's landing pages: paywalled papers side by side fail with reasons
// of their own and the run ends without asking for a verification no site asked for; a real verification
// page still pauses the window with its 继续.
#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "demo/demosite.h"
#include "desktop/desktopnotifier.h"
#include "notifierseam.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrows.h"
#include "testrun.h"
#include "ui/downloadwindow.h"

#include <QDBusConnection>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

class TestLandingPause : public QObject
{
    Q_OBJECT

    DemoSite m_site;

    RowId addPaper(fFileDownload &window, int number, const QString &folder)
    {
        DownloadRow row;
        row.key = m_site.paperFileUrl(number).toString();
        row.name = QString::number(number);
        row.type = QStringLiteral("pdf");
        row.folder = folder;
        return window.queue()->enqueue(row);
    }

    static QString toolTip(const fFileDownload &window, RowId id)
    {
        const DownloadListModel *model = window.model();
        return model->data(model->index(model->positionOf(id), 0), Qt::ToolTipRole).toString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_site.catalog().setLandingPages(true);
        m_site.catalog().setPaywall(true);
        QVERIFY(m_site.listen());
    }

    void init()
    {
        QFile::remove(SettingsFilePath());
        TestOptions::edit() = SharedOptions();
        m_site.faults().setVerifyAfter(-1);
        m_site.faults().resetVerification();
    }

    void paywalledPapersNeverPauseTheWindow()
    {
        QTemporaryDir dir;
        fFileDownload window(fntest::runObjects());
        NotifierSeam::setBus(*window.notifier(), QDBusConnection(QStringLiteral("no bus")));
        window.show();
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        QList<RowId> rows;
        for (int n = 4; n <= 14; ++n)
            rows.append(addPaper(window, n, dir.path() + u'/'));
        QSignalSpy paused(&scheduler->pause(), &QueuePause::verificationNeeded);
        QSignalSpy finished(scheduler, &DownloadScheduler::queueFinished);
        window.Command4->click();
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1 || !paused.isEmpty(), 60000);
        QVERIFY2(paused.isEmpty(), qPrintable(window.panelText(3)));
        QVERIFY(window.cmdContinue->isHidden());
        // Papers 5 to 12 offer no full text to take, 13's full text is a page: nine failures of their own.
        QTRY_VERIFY2(window.panelText(3).startsWith(QStringLiteral("下载结束：完成 2 个，失败 9 个")),
                     qPrintable(window.panelText(3)));
        QCOMPARE(toolTip(window, rows.at(5 - 4)), QStringLiteral("文献页面没有给出全文"));
        QCOMPARE(toolTip(window, rows.at(7 - 4)),
                 QStringLiteral("文献页面给出的全文地址不能下载（不是网页地址）"));
        QVERIFY2(
            toolTip(window, rows.at(13 - 4))
                .startsWith(QStringLiteral("文献页面给出的全文地址不能下载（全文是一个网页）\n文献页面：")),
            qPrintable(toolTip(window, rows.at(13 - 4))));

        // The site asks for its check from the next paper on: the window pauses and offers 继续.
        m_site.faults().setVerifyAfter(0);
        addPaper(window, 1, dir.path() + u'/');
        addPaper(window, 2, dir.path() + u'/');
        window.Command4->click();
        QVERIFY(paused.wait(30000));
        QCOMPARE(window.panelText(3), fFileDownload::VerificationText);
        QVERIFY(window.cmdContinue->isVisible());
        window.Command31->click();
    }
};

FN_TEST_MAIN_GUI(TestLandingPause)
#include "tst_landingpause.moc"
