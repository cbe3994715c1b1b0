// What the download window shows at its default size in the moments a user has to read: a pause for a
// verification page (its rows wait, the login panel lies below the list, 继续 closes it), a dropped
// transfer that waits for its retry, a failed row under both methods, and a full disk. Each text is
// checked as the panel draws it. With FN_SHOT_DIR set, the screen is saved at each moment (run under
// Xvfb with the xcb platform).
#include "commonseams.h"
#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "testenv.h"
#include "testrows.h"
#include "testrun.h"
#include "tmpfsmount.h"
#include "ui/downloadwindow.h"
#include "ui/loginpanel.h"
#include "ui/messagebar.h"
#include "ui/statuspanellabel.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWebEngineView>

using Reply = FaultServer::Reply;

namespace {

Reply webPage(const QByteArray &title)
{
    Reply page;
    page.contentType = "text/html; charset=utf-8";
    page.body = "<html><head><title>" + title + "</title></head><body>" + title + "</body></html>";
    return page;
}

RowId addPaper(fFileDownload &window, const FaultServer &server, const QString &name, const QString &folder)
{
    DownloadRow row;
    row.key = server.url(QStringLiteral("/%1.pdf").arg(name)).toString();
    row.name = name;
    row.type = QStringLiteral("pdf");
    row.folder = folder;
    return window.queue()->enqueue(row);
}

QString cell(const fFileDownload &window, RowId id, int column, int role = Qt::DisplayRole)
{
    const QModelIndex index = window.model()->index(window.model()->positionOf(id), column);
    return index.data(role).toString();
}

// What keeps the panel from showing the text whole as it draws it; empty when nothing does.
QString drawnFault(const fFileDownload &window, int n, const QString &text)
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    const auto *label = window.findChild<StatusPanelLabel *>(QStringLiteral("Panel%1").arg(n));
    if (label->text() != text)
        return QStringLiteral("panel %1 says %2").arg(n).arg(label->text());
    if (label->shownText() != text)
        return QStringLiteral("panel %1 draws %2 in %3 px")
            .arg(n)
            .arg(label->shownText())
            .arg(label->width());
    return {};
}

// Latin words other than HTTP: a text in two languages.
bool mixesLanguages(const QString &text)
{
    static const QRegularExpression latin(QStringLiteral("(?!HTTP\\b)\\b[A-Za-z]{2,}"));
    return text.contains(latin) || text.count(u'（') != text.count(u'）');
}

void shoot(const QString &name)
{
    const QString dir = qEnvironmentVariable("FN_SHOT_DIR");
    if (dir.isEmpty())
        return;
    QTest::qWait(600); // the window's own repaints settle first
    // The whole screen, as `import -window root` takes it.
    QGuiApplication::primaryScreen()->grabWindow(0).save(dir + u'/' + name + ".png");
}

} // namespace

class TestHardMoments : public QObject
{
    Q_OBJECT

    FaultServer m_server;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.listen()); }
    void cleanup() { m_server.releaseAll(); }

    // Rows that met the wall wait for 继续: the title, the totals and the rows say so, not that they
    // failed; the login panel shows the page's own address below the list and goes with the pause.
    void aPauseIsAPause()
    {
        QTemporaryDir dir;
        m_server.setReply("/ok.pdf", FaultServer::pdf(4000));
        for (const char *path : {"/v1.pdf", "/v2.pdf"})
            m_server.setReply(path, webPage("请完成验证"));
        fFileDownload window(fntest::runObjects());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.Combo1->setCurrentIndex(1);
        // A long title in the transfer panel gives way to the pause beside it.
        DownloadRow long_;
        long_.key = m_server.url(QStringLiteral("/ok.pdf")).toString();
        long_.name = QStringLiteral("一篇标题很长的论文").repeated(6);
        long_.type = QStringLiteral("pdf");
        long_.folder = dir.path() + u'/';
        const RowId ok = window.queue()->enqueue(long_);
        const RowId v1 = addPaper(window, m_server, "v1", dir.path() + u'/');
        addPaper(window, m_server, "v2", dir.path() + u'/');
        const QRect wholeList = window.ListView3->geometry();

        QSignalSpy paused(&window.scheduler()->pause(), &QueuePause::verificationNeeded);
        window.Command4->click();
        QVERIFY(paused.wait(15000));
        QTRY_COMPARE(window.model()->find(ok)->state, RowState::Done);
        QTRY_COMPARE(window.panelText(4), QStringLiteral("总数：3|正在下载：0|等待：2|已完成：1|失败：0"));
        QTRY_VERIFY2(!window.windowTitle().contains(QStringLiteral("失败")),
                     qPrintable(window.windowTitle()));
        QVERIFY(window.windowTitle().startsWith(QStringLiteral("1/3 － ")));
        QCOMPARE(cell(window, v1, DownloadListModel::ColPercent), QStringLiteral("等待验证"));
        QVERIFY(cell(window, v1, 0, Qt::ToolTipRole).startsWith(QStringLiteral("等待验证：")));
        QVERIFY2(drawnFault(window, 3, fFileDownload::VerificationText).isEmpty(),
                 qPrintable(drawnFault(window, 3, fFileDownload::VerificationText)));

        // The panel below the list, the list's upper part still in view; the page's address on show.
        LoginPanel *panel = window.PicWebBK;
        QVERIFY(panel->isVisible());
        QVERIFY(!panel->geometry().intersects(window.ListView3->geometry()));
        QVERIFY(window.ListView3->height() >= 100 && panel->geometry().bottom() <= wholeList.bottom());
        QTRY_COMPARE_WITH_TIMEOUT(panel->TextPage->text(),
                                  window.scheduler()->pause().verificationPage().toString(), 20000);
        QVERIFY(panel->TextPage->isReadOnly());
        shoot(QStringLiteral("pause"));

        m_server.setReply("/v1.pdf", FaultServer::pdf(5000));
        m_server.setReply("/v2.pdf", FaultServer::pdf(5000));
        window.cmdContinue->click();
        QVERIFY(panel->isHidden());
        QCOMPARE(window.ListView3->geometry(), wholeList);
        QTRY_COMPARE(window.model()->totals().done, 3);

        // A panel the user had open before the pause stays open after it, back over the list.
        m_server.setReply("/v3.pdf", webPage("请完成验证"));
        m_server.setReply("/v4.pdf", webPage("请完成验证"));
        addPaper(window, m_server, "v3", dir.path() + u'/');
        addPaper(window, m_server, "v4", dir.path() + u'/');
        panel->show();
        window.Command4->click();
        QVERIFY(paused.wait(15000));
        QVERIFY(!panel->geometry().intersects(window.ListView3->geometry()));
        window.Command31->click(); // a stop ends the pause too
        QTRY_VERIFY(window.cmdContinue->isHidden());
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->geometry(), window.ListView3->geometry());
        // The rows the stop left are failed now, and counted so.
        QCOMPARE(window.model()->totals().failed, 2);
    }

    // A transfer that breaks off waits for its retry: its tooltip is in one language and names when
    // the wait ends, the bytes kept are shown, and the row's dot is not a transfer's.
    void aRetryTellsWhatItWaitsFor()
    {
        QTemporaryDir dir;
        Reply dropped = FaultServer::pdf(6778);
        dropped.closeAfter = 4105;
        dropped.etag = "\"v1\"";
        dropped.ranges = true;
        m_server.setReply("/dropped.pdf", dropped);
        fFileDownload window(fntest::runObjects());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        SchedulerAccess::of(window.queue())->options().retries = 3;
        const RowId id = addPaper(window, m_server, "dropped", dir.path() + u'/');
        window.Command4->click();
        QTRY_VERIFY(window.model()->find(id)->retry == 1 &&
                    !window.scheduler()->transfers().anyTransferLive());
        const DownloadRow *row = window.model()->find(id);
        QCOMPARE(row->state, RowState::Waiting);
        QCOMPARE(cell(window, id, DownloadListModel::ColDownloaded), QStringLiteral("4105"));
        const QString tip = cell(window, id, 0, Qt::ToolTipRole);
        QVERIFY2(
            tip.contains(QRegularExpression(QStringLiteral("^将在 \\d+ 秒后（\\d\\d:\\d\\d:\\d\\d）重试："))),
            qPrintable(tip));
        QVERIFY2(!mixesLanguages(tip), qPrintable(tip));
        QCOMPARE(window.model()->totals().downloading, 0);
        shoot(QStringLiteral("retry"));
        window.Command31->click();
    }

    // A failed row draws no bar; its percent cell says it failed and why, the same under both methods.
    void aFailedRowLooksFailed()
    {
        Reply missing = webPage("Not Found");
        missing.status = 404;
        missing.reason = "Not Found";
        m_server.setReply("/missing.pdf", missing);
        for (const int method : {1, 0}) {
            QTemporaryDir dir;
            fFileDownload window(fntest::runObjects());
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            SchedulerAccess::of(window.queue())->options().retries = 0;
            window.Combo1->setCurrentIndex(method == 1 ? 1 : 2);
            SchedulerAccess::of(window.queue())->options().method =
                method == 1 ? DownloadMethod::Single : DownloadMethod::Parallel;
            const RowId id = addPaper(window, m_server, "missing", dir.path() + u'/');
            QSignalSpy finished(window.scheduler(), &DownloadScheduler::queueFinished);
            window.Command4->click();
            QVERIFY(finished.wait(15000));
            QCOMPARE(window.model()->find(id)->state, RowState::Failed);
            const QString failedText = QStringLiteral("失败：文件不存在");
            QCOMPARE(cell(window, id, DownloadListModel::ColPercent), failedText);
            QVERIFY(window.ListView3->columnWidth(DownloadListModel::ColPercent) >
                    window.ListView3->fontMetrics().horizontalAdvance(failedText) + 8);
            const QModelIndex percent = window.model()->index(0, DownloadListModel::ColPercent);
            QVERIFY(percent.data(DownloadListModel::UnderlyingDataRole).typeId() != QMetaType::Double);
            const QString tip = cell(window, id, 0, Qt::ToolTipRole);
            QCOMPARE(tip, QStringLiteral("服务器答复错误（HTTP 404）"));
            const QString summary = window.panelText(3);
            QVERIFY2(drawnFault(window, 3, summary).isEmpty(), qPrintable(drawnFault(window, 3, summary)));
            if (method == 0)
                shoot(QStringLiteral("failed"));
        }
    }

    // What a click on a row tells, cut by the transfer panel beside the end of a run, is read whole in the
    // message bar; a click that tells nothing gives the bar back to the end of the run.
    void aCutRowTextIsReadWholeInTheBar()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("一个名字很长的文件夹").repeated(5)) + u'/';
        QVERIFY(QDir().mkpath(folder));
        m_server.setReply("/ok.pdf", FaultServer::pdf(4000));
        fFileDownload window(fntest::runObjects());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const RowId ok = addPaper(window, m_server, "ok", folder);
        QSignalSpy finished(window.scheduler(), &DownloadScheduler::queueFinished);
        window.Command4->click();
        QVERIFY(finished.wait(15000));
        const QString summary = window.messageBar()->text();
        QVERIFY2(summary.startsWith(QStringLiteral("下载结束：完成 1 个")), qPrintable(summary));

        const auto *panel = window.findChild<StatusPanelLabel *>(QStringLiteral("Panel2"));
        const QString path = folder + QStringLiteral("ok.pdf");
        QVERIFY(QFileInfo(path).isFile());
        auto clickRow = [&window](RowId id) {
            const QModelIndex index = window.model()->index(window.model()->positionOf(id), 0);
            QTest::mouseClick(window.ListView3->viewport(), Qt::LeftButton, {},
                              window.ListView3->visualRect(index).center());
        };
        clickRow(ok);
        QTRY_COMPARE(window.panelText(2), path);
        QTRY_VERIFY(panel->isCut());
        QTRY_COMPARE(window.messageBar()->text(), path);
        const QLabel *text = window.messageBar()->textLabel();
        QTRY_VERIFY(text->height() >= text->heightForWidth(text->width()));
        QCOMPARE(panel->toolTip(), path);
        shoot(QStringLiteral("cut-path"));

        // A waiting row tells nothing: the end of the run is back in the bar.
        const RowId waiting = addPaper(window, m_server, "later", folder);
        window.ListView3->scrollToTop();
        clickRow(waiting);
        QTRY_COMPARE(window.messageBar()->text(), summary);
        QVERIFY(window.panelText(2).isEmpty());
    }

    // A full disk pauses with its reason, drawn whole in the status bar and the message bar.
    void aFullDiskSaysSoWhole()
    {
        QTemporaryDir dir;
        fntest::TmpfsMount disk(dir.filePath(QStringLiteral("small")), "64k");
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.why()));
        m_server.setReply("/big.pdf", FaultServer::pdf(400 * 1024));
        fFileDownload window(fntest::runObjects());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        addPaper(window, m_server, "big", disk.folder() + u'/');
        window.Command4->click();
        const QString text = QStringLiteral("下载已暂停：磁盘空间不足，处理后点击继续");
        QTRY_COMPARE(window.panelText(3), text);
        QVERIFY2(drawnFault(window, 3, text).isEmpty(), qPrintable(drawnFault(window, 3, text)));
        QCOMPARE(window.messageBar()->text(), text);
        QVERIFY(window.PicWebBK->isHidden()); // nothing to log in to
        shoot(QStringLiteral("fulldisk"));
        window.Command31->click();
    }
};

FN_TEST_MAIN_GUI(TestHardMoments)
#include "tst_hardmoments.moc"
