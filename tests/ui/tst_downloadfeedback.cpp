// What the download window tells the user of a run, through the real window and queue on a local
// server: the reason of a failed row, totals that follow the rows, speed and time left, the summary at
// the end (with its desktop notification and the title's progress), the pause for a verification page
// and its 继续 (which no automatic login hides), what a wait waits for, the retry count from the options,
// the PDF check's count, an automatic re-download that never opens a message box, the message bar that
// shows the long messages whole at the default size, and status panels that elide what they cannot hold.
#include "commonseams.h"
#include "core/common/clock.h"
#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "desktop/desktopnotifier.h"
#include "desktop/shellhelpers.h"
#include "faultserver.h"
#include "notifierseam.h"
#include "privatebus.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrows.h"
#include "testrun.h"
#include "ui/downloadwindow.h"
#include "ui/loginpanel.h"
#include "ui/messagebar.h"
#include "ui/optionswindow.h"
#include "ui/statuspanellabel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QWebEngineView>

using Reply = FaultServer::Reply;

namespace {

const QString kCaption = QStringLiteral("文件下载 － 墨枢Folionexus文献资料下载管理器");

Reply webPage(const QByteArray &title)
{
    Reply page;
    page.contentType = "text/html; charset=utf-8";
    page.body = "<html><head><title>" + title + "</title></head><body>" + title + "</body></html>";
    return page;
}

Reply notFound()
{
    Reply reply = webPage("Not Found");
    reply.status = 404;
    reply.reason = "Not Found";
    return reply;
}

// The program's clock for the length of a test, whatever way the test ends.
struct ManualClockInstalled
{
    ManualClock clock;
    ManualClockInstalled() { ClockSeam::install(&clock); }
    ~ManualClockInstalled() { ClockSeam::install(nullptr); }
};

RowId addPaper(fFileDownload &window, const FaultServer &server, const QString &name, const QString &folder)
{
    DownloadRow row;
    row.key = server.url(QStringLiteral("/%1.pdf").arg(name)).toString();
    row.name = name;
    row.type = QStringLiteral("pdf");
    row.folder = folder;
    return window.queue()->enqueue(row);
}

// What keeps the message bar from showing the given text whole: the bar is there, inside the window and
// above the list, and its label has the height its wrapped lines need.
QString messageFault(const fFileDownload &window, const QString &text)
{
    const MessageBar *bar = window.messageBar();
    const QLabel *label = bar->textLabel();
    if (!bar->isVisible())
        return QStringLiteral("no message");
    if (label->text() != text)
        return QStringLiteral("says %1").arg(label->text());
    const int needed = label->heightForWidth(label->width());
    if (label->width() <= 0 || label->height() < needed)
        return QStringLiteral("%1 px high for %2 px at %3 px")
            .arg(label->height())
            .arg(needed)
            .arg(label->width());
    if (!window.centralWidget()->rect().contains(bar->geometry()))
        return QStringLiteral("outside the window");
    if (bar->geometry().bottom() >= window.ListView3->y() ||
        (window.PicWebBK->isVisible() &&
         window.PicWebBK->geometry().intersects(window.ListView3->geometry())))
        return QStringLiteral("over the list");
    return {};
}

} // namespace

class TestDownloadFeedback : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    fntest::PrivateBus m_bus;
    int m_connections = 0;
    QStringList m_busNames; // connections of the running test, closed after it

    // The window's notifications go to a stand-in service on the test's own bus (or nowhere).
    void notifyTo(fFileDownload &window, fntest::FakeNotifications *fake)
    {
        if (m_bus.address().isEmpty() || !fake) {
            NotifierSeam::setBus(*window.notifier(), QDBusConnection(QStringLiteral("no bus")));
            return;
        }
        const QString n = QString::number(++m_connections);
        m_busNames << QStringLiteral("service") + n << QStringLiteral("window") + n;
        QVERIFY(fake->serve(m_bus.connect(m_busNames.at(0))));
        NotifierSeam::setBus(*window.notifier(), m_bus.connect(m_busNames.at(1)));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.listen()); }

    void init()
    {
        QFile::remove(SettingsFilePath());
        TestOptions::edit() = SharedOptions();
        m_server.clearRequests();
    }
    void cleanup()
    {
        m_server.releaseAll();
        for (const QString &name : std::exchange(m_busNames, {}))
            QDBusConnection::disconnectFromBus(name);
    }

    void aRunTellsItsProgressAndItsEnd()
    {
        ManualClockInstalled installed;
        ManualClock &clock = installed.clock;
        QTemporaryDir dir;
        m_server.setReply("/good.pdf", FaultServer::pdf(3000));
        m_server.setReply("/missing.pdf", notFound());
        Reply stalled = FaultServer::pdf(8192);
        stalled.stallAfter = 100;
        m_server.setReply("/stalled.pdf", stalled);

        fntest::FakeNotifications fake;
        fFileDownload window(fntest::runObjects());
        notifyTo(window, &fake);
        window.show();
        SchedulerAccess::of(window.queue())->options().retries = 0;
        window.Combo1->setCurrentIndex(2);
        for (const char *name : {"good", "missing", "stalled"})
            addPaper(window, m_server, name, dir.path() + u'/');
        QCOMPARE(window.windowTitle(), kCaption);
        QVERIFY(window.speedText().isEmpty());

        window.Command4->click();
        // The totals follow the rows that ended while a transfer is still live, and so does the title.
        QTRY_COMPARE(window.panelText(4), QStringLiteral("总数：3|正在下载：1|等待：0|已完成：1|失败：1"));
        QTRY_COMPARE(window.windowTitle(), QStringLiteral("1/3，失败 1 － ") + kCaption);
        QVERIFY2(window.speedText().startsWith(QStringLiteral("总速度 ")), qPrintable(window.speedText()));
        QVERIFY(window.speedText().contains(QStringLiteral("，剩余 ")));
        const QWidget *speedPanel = window.findChild<QWidget *>(QStringLiteral("PanelSpeed"));
        QVERIFY(speedPanel && speedPanel->isVisible());

        // A click on the failed row says why it failed.
        const QModelIndex failedRow = window.model()->index(1, 0);
        QTest::mouseClick(window.ListView3->viewport(), Qt::LeftButton, {},
                          window.ListView3->visualRect(failedRow).center());
        QCOMPARE(window.panelText(2), QStringLiteral("失败原因：服务器答复错误（HTTP 404）"));
        QCOMPARE(failedRow.data(Qt::ToolTipRole).toString(), QStringLiteral("服务器答复错误（HTTP 404）"));

        clock.advanceMs(185 * 1000);
        m_server.releaseAll(); // the stalled file breaks off
        QTRY_COMPARE(window.panelText(3), QStringLiteral("下载结束：完成 1 个，失败 2 个，用时 3分05秒"));
        QCOMPARE(window.panelText(4), QStringLiteral("总数：3|正在下载：0|等待：0|已完成：1|失败：2"));
        QCOMPARE(window.windowTitle(), kCaption);
        QVERIFY(window.speedText().isEmpty());
        QVERIFY(!speedPanel->isVisible()); // its room goes back to the other panels
        if (!m_bus.address().isEmpty()) {
            QTRY_COMPARE(fake.shown.size(), 1);
            QCOMPARE(fake.shown.at(0).summary, QStringLiteral("下载结束"));
            QCOMPARE(fake.shown.at(0).body, QStringLiteral("完成 1 个，失败 2 个，用时 3分05秒"));
        }
    }

    void stoppedRunsSayStoppedAndIdleRunsSayNothing()
    {
        QTemporaryDir dir;
        Reply stalled = FaultServer::pdf(8192);
        stalled.stallAfter = 4096;
        m_server.setReply("/stalled.pdf", stalled);
        m_server.setReply("/missing.pdf", notFound());
        fntest::FakeNotifications fake;
        fFileDownload window(fntest::runObjects());
        notifyTo(window, &fake);
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        scheduler->options().retries = 0;
        addPaper(window, m_server, "stalled", dir.path() + u'/');
        window.Command4->click();
        QTRY_COMPARE(window.model()->totals().downloading, 1);
        window.Command31->click();
        QTRY_VERIFY(window.panelText(3).startsWith(QStringLiteral("下载停止：完成 0 个，失败 1 个，用时 ")));
        const bool bus = !m_bus.address().isEmpty();
        if (bus) {
            QTRY_COMPARE(fake.shown.size(), 1);
            QCOMPARE(fake.shown.at(0).summary, QStringLiteral("下载停止"));
        }

        // Automatic re-download starts a run every second that finds nothing to do: not a word of it.
        scheduler->housekeeping()->setOn(false);
        TestRows::of(*window.model()).clear();
        DownloadRow done;
        done.key = QStringLiteral("http://127.0.0.1:1/done.pdf");
        done.name = QStringLiteral("done");
        done.state = RowState::Done;
        window.queue()->enqueue(done);
        window.Check4->setChecked(true);
        window.Combo4->setCurrentIndex(0);
        QSignalSpy finished(scheduler, &DownloadScheduler::queueFinished);
        QSignalSpy titles(&window, &QWidget::windowTitleChanged);
        scheduler->housekeeping()->tickHousekeeping();
        QVERIFY(finished.wait(5000));
        QVERIFY(window.panelText(3).startsWith(QStringLiteral("下载停止")));
        QVERIFY(titles.isEmpty()); // the title does not flicker with every such round
        QVERIFY(window.messageBar()->text().startsWith(QStringLiteral("下载停止"))); // nor does the message
        QVERIFY(window.findChild<QWidget *>(QStringLiteral("PanelSpeed"))->isHidden());

        // A failed row that the automatic re-download takes again: the panel tells of the run, the desktop
        // is not told of every round.
        addPaper(window, m_server, "missing", dir.path() + u'/');
        TestRows::of(*window.model()).setState(window.model()->idAt(1), RowState::Failed);
        scheduler->housekeeping()->tickHousekeeping();
        QVERIFY(finished.wait(5000));
        QCOMPARE(window.panelText(3), QStringLiteral("下载结束：完成 0 个，失败 1 个，用时 0秒"));
        QCOMPARE(m_server.requestCount("/missing.pdf"), 1);
        if (bus) {
            // Messages on one connection arrive in order: a probe sent now comes right after the stop's.
            QVERIFY(window.notifier()->notify(QStringLiteral("probe"), QString()));
            QTRY_COMPARE(fake.shown.size(), 2);
            QCOMPARE(fake.shown.at(1).summary, QStringLiteral("probe"));
        }
    }

    void onlyAFinishedRowIsNamedAsFinished()
    {
        QTemporaryDir dir;
        m_server.setReply("/good.pdf", FaultServer::pdf(3000));
        m_server.setReply("/missing.pdf", notFound());
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        window.show();
        SchedulerAccess::of(window.queue())->options().retries = 0;
        auto runToEnd = [&window] {
            QSignalSpy finished(SchedulerAccess::of(window.queue()), &DownloadScheduler::queueFinished);
            window.Command4->click();
            QVERIFY(finished.wait(15000));
        };
        const QString good = QStringLiteral("good");
        addPaper(window, m_server, good, dir.path() + u'/');
        runToEnd();
        QCOMPARE(window.panelText(2), QStringLiteral("完成下载:good"));

        // A run in which every row fails, without any answer of a server: the earlier run's row is not
        // named as if this run had finished it.
        DownloadRow refused;
        refused.key = QStringLiteral("http://127.0.0.1:1/refused.pdf");
        refused.name = QStringLiteral("refused");
        refused.type = QStringLiteral("pdf");
        refused.folder = dir.path() + u'/';
        const RowId refusedId = window.queue()->enqueue(refused);
        runToEnd();
        QCOMPARE(window.model()->find(refusedId)->state, RowState::Failed);
        QVERIFY2(!window.panelText(2).startsWith(QStringLiteral("完成下载:")),
                 qPrintable(window.panelText(2)));

        // A row the server answered with an error page failed, and is named as failed.
        addPaper(window, m_server, "missing", dir.path() + u'/');
        runToEnd();
        QCOMPARE(window.panelText(2), QStringLiteral("下载失败:missing"));
        QCOMPARE(window.windowTitle(), kCaption);
    }

    void verificationPausesUntilContinue()
    {
        QTemporaryDir dir;
        for (const char *path : {"/v1.pdf", "/v2.pdf"})
            m_server.setReplies(path, {webPage("请完成验证")});
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        window.show();
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        window.Combo1->setCurrentIndex(1);
        const RowId first = addPaper(window, m_server, "v1", dir.path() + u'/');
        const RowId second = addPaper(window, m_server, "v2", dir.path() + u'/');
        QVERIFY(window.cmdContinue->isHidden());

        QSignalSpy paused(&scheduler->pause(), &QueuePause::verificationNeeded);
        window.Command4->click();
        QVERIFY(paused.wait(15000));
        QCOMPARE(window.panelText(3), fFileDownload::VerificationText);
        QCOMPARE(window.panelText(3), QStringLiteral("站点需要验证：请在登录面板完成验证后点击继续"));
        QVERIFY(window.cmdContinue->isVisible());
        QCOMPARE(window.cmdContinue->text(), QStringLiteral("继续"));
        QVERIFY(window.PicWebBK->isVisible());
        QVERIFY(
            !window.findChild<QWidget *>(QStringLiteral("PanelSpeed"))->isVisible()); // room for the request
        // The login panel shows the page that came back; its title does not hide what the user must do.
        QTRY_COMPARE_WITH_TIMEOUT(window.PicWebBK->WebBrowser1->url(), scheduler->pause().verificationPage(),
                                  20000);
        QTRY_COMPARE_WITH_TIMEOUT(window.PicWebBK->WebBrowser1->title(), QStringLiteral("请完成验证"), 20000);
        QCOMPARE(window.panelText(3), fFileDownload::VerificationText);

        // Solved: the site serves the papers now, and 继续 takes the paused rows.
        m_server.setReply("/v1.pdf", FaultServer::pdf(5000, 'x'));
        m_server.setReply("/v2.pdf", FaultServer::pdf(6000, 'y'));
        window.cmdContinue->click();
        QVERIFY(window.cmdContinue->isHidden());
        QVERIFY(!scheduler->pause().isPausedForVerification());
        QTRY_VERIFY(window.model()->find(first)->state == RowState::Done &&
                    window.model()->find(second)->state == RowState::Done);
        QCOMPARE(fntest::readFile(dir.filePath("v1.pdf")), FaultServer::pdf(5000, 'x').body);
        QCOMPARE(fntest::readFile(dir.filePath("v2.pdf")), FaultServer::pdf(6000, 'y').body);
        QTRY_VERIFY(window.panelText(3).startsWith(QStringLiteral("下载结束：完成 2 个，失败 0 个，用时 ")));
    }

    // Waits say what they wait for: a busy host's hold in the status bar instead of a speed of 0, and a disk
    // that refuses files pauses the queue with its reason and 继续 instead of failing the list (a real
    // read-only mount: root only).
    void waitsSayWhatTheyWaitFor()
    {
        ManualClockInstalled installed;
        QTemporaryDir dir;
        Reply busy = webPage("busy");
        busy.status = 429;
        busy.reason = "Too Many Requests";
        busy.extraHeaders.append({QByteArray("Retry-After"), QByteArray("42")});
        m_server.setReply("/busy.pdf", busy);
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        window.show();
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        scheduler->options().retries = 2;
        const RowId id = addPaper(window, m_server, "busy", dir.path() + u'/');
        window.Command4->click();
        QTRY_VERIFY(window.model()->find(id)->retry == 1 && !scheduler->transfers().anyTransferLive());
        QTRY_COMPARE(window.speedText(), QStringLiteral("站点要求等待：42 秒后继续"));
        window.Command31->click();

        const QString readOnly = dir.filePath(QStringLiteral("ro"));
        QDir().mkpath(readOnly);
        if (QProcess::execute(QStringLiteral("mount"),
                              {"-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", readOnly}) != 0)
            QSKIP("mounting a file system is not allowed here");
        auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {readOnly}); });
        m_server.setReply("/r1.pdf", FaultServer::pdf(5000, '1'));
        m_server.setReply("/r2.pdf", FaultServer::pdf(5000, '2'));
        const RowId r1 = addPaper(window, m_server, "r1", readOnly + u'/');
        const RowId r2 = addPaper(window, m_server, "r2", readOnly + u'/');
        window.Command4->click();
        const QString readOnlyText = QStringLiteral("下载已暂停：磁盘只读，处理后点击继续");
        QTRY_COMPARE(window.panelText(3), readOnlyText);
        QVERIFY(window.cmdContinue->isVisible());
        // A transfer under way when the pause came ends a moment later; its row waits then too.
        QTRY_COMPARE(window.model()->find(r1)->state, RowState::Waiting);
        QTRY_COMPARE(window.model()->find(r2)->state, RowState::Waiting);
        // 停止 ends the pause, though the run ended nothing: no word of it stays behind.
        window.Command31->click();
        QTRY_VERIFY(window.cmdContinue->isHidden());
        QVERIFY(window.panelText(3) != readOnlyText && window.messageBar()->text() != readOnlyText);
        window.Command4->click();
        QTRY_COMPARE(window.panelText(3), readOnlyText);
        QCOMPARE(QProcess::execute(QStringLiteral("mount"), {"-o", "remount,rw", readOnly}), 0);
        window.cmdContinue->click();
        QTRY_VERIFY(window.model()->find(r1)->state == RowState::Done &&
                    window.model()->find(r2)->state == RowState::Done);
        QVERIFY(window.cmdContinue->isHidden());
    }

    // The pause, the end of the run and the PDF check are read whole in the bar above the list, at the
    // default size and at the least; the bar's 继续 resumes the queue, and the bar goes when it is closed.
    void theMessageBarShowsEachMessageWhole()
    {
        QTemporaryDir dir;
        for (const char *path : {"/w1.pdf", "/w2.pdf"})
            m_server.setReplies(path, {webPage("请完成验证")});
        m_server.setReply("/gone.pdf", notFound());
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        window.show();
        QCOMPARE(window.size(), QSize(1000, 600));
        SchedulerAccess::of(window.queue())->options().retries = 0;
        window.Combo1->setCurrentIndex(1);
        for (const char *name : {"w1", "w2", "gone"})
            addPaper(window, m_server, name, dir.path() + u'/');
        const int listTop = window.ListView3->y();
        QVERIFY(window.messageBar()->isHidden());

        QSignalSpy paused(&window.scheduler()->pause(), &QueuePause::verificationNeeded);
        window.Command4->click();
        QVERIFY(paused.wait(15000));
        QTRY_VERIFY2(messageFault(window, fFileDownload::VerificationText).isEmpty(),
                     qPrintable(messageFault(window, fFileDownload::VerificationText)));
        QCOMPARE(window.messageBar()->kind(), MessageBar::Kind::Warning);
        QVERIFY(window.messageBar()->closeButton()->isHidden()); // the pause ends by 继续 or 停止
        QCOMPARE(window.messageBar()->actionButton(), window.cmdContinue);

        m_server.setReply("/w1.pdf", FaultServer::pdf(5000));
        m_server.setReply("/w2.pdf", FaultServer::pdf(5000));
        window.messageBar()->actionButton()->click();
        QVERIFY(!window.scheduler()->pause().isPausedForVerification());
        QTRY_VERIFY(window.panelText(3).startsWith(QStringLiteral("下载结束：完成 2 个，失败 1 个，用时 ")));
        const QString summary = window.panelText(3);
        for (const QSize size : {QSize(1000, 600), QSize(1, 1)}) {
            window.resize(size);
            QTRY_VERIFY2(messageFault(window, summary).isEmpty(), qPrintable(messageFault(window, summary)));
            QVERIFY(window.ListView3->viewport()->height() >=
                    5 * StripeRowHeight(window.ListView3, fFileDownload::RowHeight));
        }
        QCOMPARE(window.messageBar()->kind(), MessageBar::Kind::Warning); // one failed
        QVERIFY(window.cmdContinue->isHidden());
        window.resize(1000, 600);
        window.messageBar()->closeButton()->click();
        QVERIFY(window.messageBar()->isHidden());
        QTRY_COMPARE(window.ListView3->y(), listTop);
        QCOMPARE(window.panelText(3), summary); // the status bar keeps it

        window.action("actCheckPdf")->trigger();
        const QString checked = QStringLiteral("检查PDF文件完成：重命名了 0 个文件");
        QTRY_VERIFY2(messageFault(window, checked).isEmpty(), qPrintable(messageFault(window, checked)));
        // A new run starts with nothing left over from the last.
        Reply slow = FaultServer::pdf(4000);
        slow.answerDelayMs = 1500;
        m_server.setReply("/again.pdf", slow);
        addPaper(window, m_server, "again", dir.path() + u'/');
        window.Command4->click();
        QTRY_VERIFY(window.messageBar()->isHidden());
        QTRY_VERIFY(window.messageBar()->text().startsWith(QStringLiteral("下载结束：完成 1 个，失败 0 个")));
        QCOMPARE(window.messageBar()->kind(), MessageBar::Kind::Success);
    }

    // Each panel is as wide as its text where there is room; a text that cannot fit is elided at the end
    // and its tooltip is the whole text, which the panel still gives back.
    void statusPanelsFitWhatTheyHold()
    {
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto panelLabel = [&window](int n) {
            return window.findChild<StatusPanelLabel *>(QStringLiteral("Panel%1").arg(n));
        };
        auto settle = [] {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        };
        // Shown whole, or elided with the whole text in its tooltip; either way read back whole.
        auto readable = [&](int n, const QString &text) {
            const StatusPanelLabel *label = panelLabel(n);
            const QString shown = label->shownText();
            if (window.panelText(n) != text ||
                label->fontMetrics().horizontalAdvance(shown) >= label->width())
                return false;
            return shown == text ? label->toolTip().isEmpty()
                                 : shown.endsWith(QChar(0x2026)) && text.startsWith(shown.chopped(1)) &&
                                       label->toolTip() == text;
        };
        const QString reason = QStringLiteral("失败原因：服务器答复错误（HTTP 404）");
        panelLabel(2)->setText(reason);
        settle();
        QVERIFY(panelLabel(3)->shownText().isEmpty());
        QCOMPARE(panelLabel(2)->shownText(), reason);
        QTRY_VERIFY(readable(2, reason));
        QCOMPARE(panelLabel(1)->shownText(), window.panelText(1));
        QCOMPARE(panelLabel(1)->toolTip(), QStringLiteral("https://www.folionexus.com/"));

        const QString summary = QStringLiteral("下载结束：完成 23 个，失败 2 个，用时 3分05秒");
        const QString path = QStringLiteral("/home/user/文献/") +
                             QStringLiteral("一篇标题很长的论文 ").repeated(12) + QStringLiteral(".pdf");
        panelLabel(3)->setText(summary);
        for (const QString &text : {reason, path}) {
            panelLabel(2)->setText(text);
            settle();
            QTRY_VERIFY(readable(2, text) && readable(3, summary));
            // The reason a row failed goes before the summary, which the message bar has whole.
            if (text == reason)
                QCOMPARE(panelLabel(2)->shownText(), reason);
        }
        QVERIFY(panelLabel(2)->shownText() != path);
        panelLabel(2)->setText(QStringLiteral("下载失败:a"));
        panelLabel(3)->clear();
        settle();
        QTRY_VERIFY(readable(2, QStringLiteral("下载失败:a")));
        QCOMPARE(panelLabel(1)->toolTip(), QStringLiteral("https://www.folionexus.com/"));
    }

    void aLoginPagePausesWithALoginRequest()
    {
        QTemporaryDir dir;
        Reply login = webPage("登录");
        login.body.replace("</body>", "<form><INPUT name=pw Type='Password'></form></body>");
        for (const char *path : {"/l1.pdf", "/l2.pdf"})
            m_server.setReplies(path, {login});
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        window.show();
        addPaper(window, m_server, "l1", dir.path() + u'/');
        addPaper(window, m_server, "l2", dir.path() + u'/');
        QSignalSpy paused(&SchedulerAccess::of(window.queue())->pause(), &QueuePause::verificationNeeded);
        window.Command4->click();
        QVERIFY(paused.wait(15000));
        QCOMPARE(paused.at(0).at(2).value<PauseKind>(), PauseKind::Login);
        QCOMPARE(window.panelText(3), QStringLiteral("站点要求登录：请在登录面板登录后点击继续"));
        QVERIFY(window.cmdContinue->isVisible());
        window.Command31->click();
    }

    void aLapsedLoginGetsItsTryBeforeTheQueuePauses()
    {
        fntest::MessageRecorder recorder;
        QTemporaryDir dir;
        Reply form = webPage("登录");
        form.body = "<html><head><title>登录</title></head><body><form method=get action='/welcome'>"
                    "<input name=UserName><input type=password name=PassWord><input type=submit value=go>"
                    "</form></body></html>";
        m_server.setReply("/login", form);
        m_server.setReply("/welcome", webPage("欢迎"));
        for (const char *path : {"/w1.pdf", "/w2.pdf"})
            m_server.setReply(path, webPage("请登录"));
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        window.show();
        LoginPanel *panel = window.PicWebBK;
        panel->setWaitLimits(15000, 100);
        panel->Text1->setText(m_server.url("/login").toString());
        panel->Text2->setText(QStringLiteral("alice"));
        panel->Text3->setText(QStringLiteral("pw"));
        panel->Check2->setChecked(true);
        QVERIFY(panel->Check2->isChecked());
        window.Combo1->setCurrentIndex(0);
        addPaper(window, m_server, "w1", dir.path() + u'/');
        addPaper(window, m_server, "w2", dir.path() + u'/');

        QSignalSpy logins(panel, &LoginPanel::loginFinished);
        QSignalSpy paused(&SchedulerAccess::of(window.queue())->pause(), &QueuePause::verificationNeeded);
        window.Command4->click();
        QVERIFY(paused.wait(30000));
        // The two pages that came while the login ran did not count; the two after it did.
        QCOMPARE(logins.count(), 1);
        QCOMPARE(m_server.requestCount("/w1.pdf"), 2);
        QCOMPARE(m_server.requestCount("/w2.pdf"), 2);
        QCOMPARE(window.panelText(3), fFileDownload::VerificationText);
        window.Command31->click();
        QVERIFY(window.cmdContinue->isHidden());
        QVERIFY(recorder.messages.isEmpty());
    }

    void noAutomaticLoginHidesTheVerificationPage()
    {
        fntest::MessageRecorder recorder;
        QTemporaryDir dir;
        Reply form = webPage("登录");
        form.body = "<html><head><title>登录</title></head><body><form method=get action='/welcome'>"
                    "<input name=UserName><input type=password name=PassWord><input type=submit value=go>"
                    "</form></body></html>";
        form.answerDelayMs = 2000; // the walls come while the login waits for its page
        m_server.setReply("/login", form);
        m_server.setReply("/welcome", webPage("欢迎"));
        Reply wall = notFound();
        wall.status = 403;
        wall.reason = "Forbidden";
        wall.answerDelayMs = 500;
        Reply late = webPage("请登录");
        late.answerDelayMs = 6000; // still under way when the login is over
        const QList<Reply> replies{webPage("请登录"), wall, wall, late};
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        window.show();
        LoginPanel *panel = window.PicWebBK;
        panel->setWaitLimits(15000, 100);
        panel->Text1->setText(m_server.url("/login").toString());
        panel->Text2->setText(QStringLiteral("alice"));
        panel->Text3->setText(QStringLiteral("pw"));
        panel->Check2->setChecked(true);
        window.Combo1->setCurrentIndex(3);
        for (int i = 0; i < 4; ++i) {
            m_server.setReply(QStringLiteral("/x%1.pdf").arg(i), replies.at(i));
            addPaper(window, m_server, QStringLiteral("x%1").arg(i), dir.path() + u'/');
        }
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        QSignalSpy logins(panel, &LoginPanel::loginFinished);
        window.Command4->click();
        // The walls met while the login ran are shown once it is over.
        QVERIFY(logins.wait(30000));
        QVERIFY(scheduler->pause().isPausedForVerification());
        QTRY_COMPARE_WITH_TIMEOUT(panel->WebBrowser1->url(), scheduler->pause().verificationPage(), 20000);
        // The page that comes back to the row still under way starts no login over it.
        QTRY_COMPARE_WITH_TIMEOUT(window.model()->row(3).state, RowState::Failed, 20000);
        QVERIFY(!panel->isLoggingIn());
        QCOMPARE(m_server.requestCount("/login"), 1);
        QCOMPARE(window.panelText(3), fFileDownload::VerificationText);
        // Solved: 继续 takes every row again, the one that met the page late as well.
        for (int i = 0; i < 4; ++i)
            m_server.setReply(QStringLiteral("/x%1.pdf").arg(i), FaultServer::pdf(6000));
        window.cmdContinue->click();
        QTRY_COMPARE_WITH_TIMEOUT(window.model()->totals().done, 4, 20000);
        QVERIFY(recorder.messages.isEmpty());
    }

    void automaticRedownloadNeverOpensAMessageFromTheTimer()
    {
        fntest::MessageRecorder recorder;
        QTemporaryDir dir;
        Reply stalled = FaultServer::pdf(50000);
        stalled.stallAfter = 1000;
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        scheduler->housekeeping()->setOn(false); // the ticks below stand for the window's timer
        window.Combo1->setCurrentIndex(2);
        for (const char *name : {"s1", "s2", "s3"}) {
            m_server.setReply(QStringLiteral("/%1.pdf").arg(QLatin1String(name)), stalled);
            addPaper(window, m_server, name, dir.path() + u'/');
        }
        const RowId failed = addPaper(window, m_server, "failed", dir.path() + u'/');
        TestRows::of(*window.model()).setState(failed, RowState::Failed);
        window.Check4->setChecked(true);
        window.Command4->click();
        QTRY_COMPARE(window.model()->totals().downloading, 3);
        // 切换 with the three transfers running: every tick meets the busy list and says nothing of it.
        window.Command26->click();
        for (int tick = 0; tick < 3; ++tick)
            scheduler->housekeeping()->tickHousekeeping();
        QVERIFY2(recorder.messages.isEmpty(), qPrintable(recorder.texts().join(u'\n')));
        QCOMPARE(window.model()->find(failed)->state, RowState::Failed);
        window.Command31->click();
    }

    void retryCountComesFromTheOptions()
    {
        QTemporaryDir dir;
        WriteSetting(settingkeys::SectionDownload, settingkeys::Retries.name, QStringLiteral("1"));
        Reply busy = webPage("busy");
        busy.status = 503;
        busy.reason = "Service Unavailable";
        m_server.setReply("/busy.pdf", busy);
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        QCOMPARE(scheduler->options().retries, 1);
        const RowId id = addPaper(window, m_server, "busy", dir.path() + u'/');
        window.Command4->click();
        QTRY_COMPARE(window.model()->find(id)->sizeText(), QStringLiteral("等待重试 (1/1)"));
        window.Command31->click();

        // New values from the options window reach the queue at once.
        TestOptions::store().storeRetries(6);
        window.takeSharedOptions();
        QCOMPARE(scheduler->options().retries, 6);
    }

    // 设置 › 确定 keeps the thread count the user chose unless the method really changes to several
    // connections; the count then starts at one.
    void confirmingTheOptionsKeepsTheThreadCount()
    {
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        QCOMPARE(scheduler->options().method, DownloadMethod::Parallel);
        window.Combo1->setCurrentIndex(4);
        for (int press = 0; press < 3; ++press) {
            OptionsWindow options(TestOptions::store());
            options.confirm();
            window.takeSharedOptions();
            QCOMPARE(window.Combo1->currentIndex(), 4);
            QCOMPARE(scheduler->options().threadCount, 5);
        }
        // To one connection and back: the way back starts with one transfer.
        for (const bool single : {true, false}) {
            OptionsWindow options(TestOptions::store());
            options
                .findChild<QRadioButton *>(single ? QStringLiteral("methodOneOption")
                                                  : QStringLiteral("methodTwoOption"))
                ->setChecked(true);
            options.confirm();
            window.takeSharedOptions();
        }
        QCOMPARE(scheduler->options().method, DownloadMethod::Parallel);
        QCOMPARE(window.Combo1->currentIndex(), 0);
        QCOMPARE(scheduler->options().threadCount, 1);
    }

    void pdfCheckSaysHowManyFilesItRenamed()
    {
        QTemporaryDir dir;
        fFileDownload window(fntest::runObjects());
        notifyTo(window, nullptr);
        fntest::writeFile(dir.filePath("caj.pdf"), QByteArray("\xC8\x00\x00\x00 rest of a caj file", 24));
        fntest::writeFile(dir.filePath("real.pdf"), "%PDF-1.4");
        for (const char *name : {"caj", "real"}) {
            DownloadRow row;
            row.key = QStringLiteral("http://127.0.0.1:1/%1.pdf").arg(name);
            row.name = name;
            row.type = QStringLiteral("pdf");
            row.folder = dir.path() + u'/';
            row.state = RowState::Done;
            row.owned = OwnedFile{rowFilePath(row), IdentityOf(rowFilePath(row))}; // the rows wrote them
            window.queue()->enqueue(row);
        }
        // The files are read and moved on a worker: the rows follow only once the answer is back, and a
        // second click meanwhile is not a second check.
        window.action("actCheckPdf")->trigger();
        window.action("actCheckPdf")->trigger();
        QCOMPARE(window.queue()->model()->row(0).type, QStringLiteral("pdf"));
        QTRY_COMPARE(window.panelText(3), QStringLiteral("检查PDF文件完成：重命名了 1 个文件"));
        QCOMPARE(window.queue()->model()->row(0).type, QStringLiteral("CAJ"));
        QCOMPARE(window.queue()->model()->row(0).owned.path, dir.filePath("caj.CAJ"));
        QVERIFY(IsStillOwned(window.queue()->model()->row(0).owned));
        window.action("actCheckPdf")->trigger();
        QTRY_COMPARE(window.panelText(3), QStringLiteral("检查PDF文件完成：重命名了 0 个文件"));
        // Rows that leave the list while their files are looked at: the files still move, nothing else.
        fntest::writeFile(dir.filePath("late.pdf"), QByteArray("\xC8\x00\x00\x00 another caj", 16));
        DownloadRow late;
        late.key = QStringLiteral("http://127.0.0.1:1/late.pdf");
        late.name = QStringLiteral("late");
        late.type = QStringLiteral("pdf");
        late.folder = dir.path() + u'/';
        late.state = RowState::Done;
        late.owned = OwnedFile{rowFilePath(late), IdentityOf(rowFilePath(late))};
        window.queue()->enqueue(late);
        window.action("actCheckPdf")->trigger();
        QVERIFY(window.queue()->commands().removeDone() >= 0);
        QTRY_COMPARE(window.panelText(3), QStringLiteral("检查PDF文件完成：重命名了 1 个文件"));
        QVERIFY(QFile::exists(dir.filePath("late.CAJ")));
    }
};

FN_TEST_MAIN_GUI(TestDownloadFeedback)
#include "tst_downloadfeedback.moc"
