// Sites that push back: passing failures are tried again after a backoff or the
// server's Retry-After, a busy host is left alone while a retry follows, a
// broken body continues where it stopped (and is whole only with the rest of
// the file), a page is never a paper on any try, and a wall of web pages pauses
// the queue before anything more is asked. The clock is moved by hand, so no
// test sleeps through a backoff.
#include "commonseams.h"
#include "core/common/clock.h"
#include "core/queue/downloadcommands.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/queueprogress.h"
#include "core/transfer/downloadscheduler.h"
#include "core/transfer/retrypolicy.h"
#include "faultserver.h"
#include "queuefixture.h"
#include "testenv.h"
#include "testrows.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTime>

using Reply = FaultServer::Reply;
using Kind = FailureReason::Kind;

namespace {

Reply status(int code, const QByteArray &reason, const QByteArray &retryAfter = {})
{
    Reply reply;
    reply.status = code;
    reply.reason = reason;
    reply.contentType = "text/plain";
    reply.body = reason;
    if (!retryAfter.isEmpty())
        reply.extraHeaders.append({QByteArray("Retry-After"), retryAfter});
    return reply;
}

Reply rangedPaper(qint64 size, char fill, const QByteArray &etag, qint64 closeAfter = -1)
{
    Reply reply = FaultServer::pdf(size, fill);
    reply.ranges = true;
    reply.etag = etag;
    reply.closeAfter = closeAfter;
    return reply;
}

} // namespace

class TestRetry : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    ManualClock m_clock;
    std::unique_ptr<QueueFixture> m_queue;
    DownloadListModel *m_model = nullptr;
    DownloadScheduler *m_scheduler = nullptr;

    QString folder() const { return m_queue->folder(); }

    RowId addRow(const QString &address, const QString &name) { return m_queue->addRow(address, name); }
    const DownloadRow &row(RowId id) const { return m_queue->row(id); }

    QStringList entries() const { return m_queue->files(); }

    // Waits until no transfer runs; rows then are done, failed, or waiting for a
    // later try.
    void settle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_scheduler->transfers().anyTransferLive() && m_model->totals().downloading == 0, 20000);
    }

    // Moves the clock to the row's next try and lets the queue start what is due.
    void advanceToRetry(RowId id)
    {
        const qint64 due = m_scheduler->retries().retryDueMs(id);
        QVERIFY(due > 0);
        m_clock.advanceMs(due - m_clock.monotonicMs() + 1);
        m_scheduler->startDue();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        ClockSeam::install(&m_clock);
    }
    void cleanupTestCase() { ClockSeam::install(nullptr); }

    void init()
    {
        m_queue = std::make_unique<QueueFixture>(m_server);
        m_model = m_queue->model();
        m_scheduler = m_queue->scheduler();
        m_scheduler->options().headerTimeoutMs = 3000;
        m_scheduler->options().stallWindowMs = 1000;
        m_scheduler->setTickIntervalMs(3600 * 1000); // only the moves of the clock start rows
        m_scheduler->options().threadCount = 1;
        m_scheduler->options().retries = 3;
    }
    void cleanup() { m_queue.reset(); }

    void backoffAndRetryAfter_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::addColumn<qint64>("lowMs");
        QTest::addColumn<qint64>("highMs");
        for (int method : {1, 2}) {
            const QString m = QStringLiteral("method %1, ").arg(method);
            QTest::newRow(qPrintable(m + "no Retry-After: 2 s ±20 %"))
                << method << QByteArray() << 1600LL << 2400LL;
            QTest::newRow(qPrintable(m + "Retry-After in seconds"))
                << method << QByteArray("7") << 7000LL << 7000LL;
            // The date itself is made when the row runs: rows before it take seconds of their own.
            QTest::newRow(qPrintable(m + "Retry-After as an HTTP date"))
                << method << QByteArray("date in 20 s") << 18000LL << 20000LL;
            QTest::newRow(qPrintable(m + "Retry-After beyond an hour"))
                << method << QByteArray("86400") << 3600000LL << 3600000LL;
        }
    }
    void backoffAndRetryAfter()
    {
        QFETCH(int, method);
        QFETCH(QByteArray, retryAfter);
        QFETCH(qint64, lowMs);
        QFETCH(qint64, highMs);
        m_scheduler->options().method = methodFromNumber(method);
        if (retryAfter == "date in 20 s")
            retryAfter = QLocale::c()
                             .toString(QDateTime::currentDateTimeUtc().addSecs(20),
                                       QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"))
                             .toLatin1();
        const Reply paper = FaultServer::pdf(9000, 'r');
        m_server.setReplies("/busy.pdf", {status(503, "Service Unavailable", retryAfter), paper});
        QSignalSpy retries(m_scheduler->reports(), &TransferReports::retryScheduled);
        const RowId id = addRow("/busy.pdf", "busy");
        const qint64 start = m_clock.monotonicMs();
        m_scheduler->start();
        QTRY_COMPARE(retries.count(), 1);
        settle();
        // The row waits, says so, and keeps the reason.
        QCOMPARE(row(id).state, RowState::Waiting);
        QCOMPARE(m_model->cellText(m_model->positionOf(id), DownloadListModel::ColSize),
                 QStringLiteral("重试 1/3"));
        QCOMPARE(row(id).reason,
                 FailureReason::of(Kind::HttpStatus, 503, QStringLiteral("Service Unavailable")));
        QVERIFY(m_model->data(m_model->index(m_model->positionOf(id), 0), Qt::ToolTipRole)
                    .toString()
                    .contains(u"503"));
        const qint64 delay = m_scheduler->retries().retryDueMs(id) - start;
        QVERIFY2(delay >= lowMs && delay <= highMs, qPrintable(QString::number(delay)));
        // Not a moment early; then the second answer is the paper.
        m_clock.advanceMs(delay - 2);
        m_scheduler->startDue();
        QCOMPARE(row(id).state, RowState::Waiting);
        advanceToRetry(id);
        QTRY_COMPARE(row(id).state, RowState::Done);
        QCOMPARE(fntest::readFile(folder() + QStringLiteral("busy.pdf")), paper.body);
        QCOMPARE(m_server.requestCount(QStringLiteral("/busy.pdf")), 2);
    }

    void backoffDoublesAndRetriesEnd()
    {
        m_scheduler->options().retries = 3;
        m_server.setReplies("/down.pdf", {status(500, "Internal Server Error")});
        const RowId id = addRow("/down.pdf", "down");
        m_scheduler->start();
        qint64 previous = 0;
        for (int attempt = 1; attempt <= 3; ++attempt) {
            QTRY_VERIFY(row(id).retry == attempt && !m_scheduler->transfers().anyTransferLive());
            const qint64 delay = m_scheduler->retries().retryDueMs(id) - m_clock.monotonicMs();
            const qint64 base = 1000LL << attempt;
            QVERIFY2(delay >= base * 8 / 10 && delay <= base * 12 / 10, qPrintable(QString::number(delay)));
            QVERIFY(delay > previous);
            previous = delay;
            advanceToRetry(id);
        }
        settle();
        QCOMPARE(row(id).state, RowState::Failed);
        QCOMPARE(row(id).reason.code, 500);
        QCOMPARE(m_server.requestCount(QStringLiteral("/down.pdf")), 4);
        QTRY_VERIFY(entries().isEmpty());
        QCOMPARE(retrypolicy::DelayMs(12, -1, 1.0), retrypolicy::MaxBackoffMs * 12 / 10);
    }

    void permanentFailuresAreNotTriedAgain_data()
    {
        QTest::addColumn<QByteArray>("what");
        QTest::newRow("404") << QByteArray("404");
        QTest::newRow("410") << QByteArray("410");
        QTest::newRow("403 without Retry-After") << QByteArray("403");
        QTest::newRow("a web page") << QByteArray("page");
    }
    void permanentFailuresAreNotTriedAgain()
    {
        QFETCH(QByteArray, what);
        Reply reply = status(what.toInt(), "No");
        if (what == "page") {
            reply = FaultServer::pdf(3000);
            reply.contentType = "text/html";
            reply.body = "<html><body>please sign in</body></html>";
        }
        m_server.setReplies("/gone.pdf", {reply, FaultServer::pdf(5000)});
        const RowId id = addRow("/gone.pdf", "gone");
        m_scheduler->start();
        QTRY_COMPARE(row(id).state, RowState::Failed);
        settle();
        QCOMPARE(m_scheduler->retries().retryDueMs(id), -1);
        QCOMPARE(m_server.requestCount(QStringLiteral("/gone.pdf")), 1);
    }

    void aBrokenBodyContinuesWithOneRangeRequest_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("changed");
        for (int method : {1, 2}) {
            QTest::newRow(qPrintable(QStringLiteral("method %1, same file").arg(method))) << method << false;
            QTest::newRow(qPrintable(QStringLiteral("method %1, the file changed").arg(method)))
                << method << true;
        }
    }
    void aBrokenBodyContinuesWithOneRangeRequest()
    {
        QFETCH(int, method);
        QFETCH(bool, changed);
        m_scheduler->options().method = methodFromNumber(method);
        const Reply whole = rangedPaper(100000, 'a', "\"v1\"");
        const Reply newer = rangedPaper(90000, 'b', "\"v2\"");
        m_server.setReplies("/big.pdf", {rangedPaper(100000, 'a', "\"v1\"", 40000), changed ? newer : whole});
        const RowId id = addRow("/big.pdf", "big");
        m_scheduler->start();
        QTRY_COMPARE(row(id).retry, 1);
        settle();
        QCOMPARE(row(id).reason.kind, Kind::ShortBody);
        // The bytes that came stay in a temporary file, and nothing under the
        // paper's name.
        QTRY_COMPARE(entries().size(), 1);
        QVERIFY(entries().first().startsWith(QStringLiteral(".fnpart-")));
        advanceToRetry(id);
        QTRY_COMPARE(row(id).state, RowState::Done);
        QCOMPARE(fntest::readFile(folder() + QStringLiteral("big.pdf")), changed ? newer.body : whole.body);
        QTRY_COMPARE(entries(), QStringList{QStringLiteral("big.pdf")});
        const QList<FaultServer::Request> requests = m_server.requests();
        QCOMPARE(requests.size(), 2);
        QVERIFY(!requests.first().headers.contains("range"));
        QCOMPARE(requests.last().headers.value("range"), QByteArray("bytes=40000-"));
        QCOMPARE(requests.last().headers.value("if-range"), QByteArray("\"v1\""));
        QCOMPARE(row(id).size, changed ? 90000 : 100000);
    }

    void aBusyHostHoldsBackOnlyItself()
    {
        FaultServer other;
        QVERIFY(other.listen(false, QStringLiteral("127.0.0.2")));
        other.setReply("/b.pdf", FaultServer::pdf(4000, 'o'));
        m_server.setReplies("/a1.pdf", {status(429, "Too Many Requests", "30"), FaultServer::pdf(4000, '1')});
        m_server.setReply("/a2.pdf", FaultServer::pdf(4000, '2'));
        const RowId a1 = addRow("/a1.pdf", "a1");
        const RowId a2 = addRow("/a2.pdf", "a2");
        const RowId b = addRow(other.url("/b.pdf").toString(), "b");
        m_scheduler->start();
        // The other host goes on; this one waits for its 30 seconds, the row that
        // was not refused too.
        QTRY_COMPARE(row(b).state, RowState::Done);
        settle();
        QCOMPARE(row(a1).state, RowState::Waiting);
        QCOMPARE(row(a2).state, RowState::Waiting);
        QCOMPARE(m_server.requestCount(QStringLiteral("/a2.pdf")), 0);
        const QString host = RetryBook::hostOf(row(a1).key);
        QCOMPARE(m_scheduler->retries().hostHeldUntilMs(host), m_scheduler->retries().retryDueMs(a1));
        QCOMPARE(m_scheduler->retries().hostHeldUntilMs(RetryBook::hostOf(row(b).key)), -1);
        m_clock.advanceMs(29000);
        m_scheduler->startDue();
        QCOMPARE(m_server.requestCount(QStringLiteral("/a2.pdf")), 0);
        advanceToRetry(a1);
        QTRY_VERIFY(row(a1).state == RowState::Done && row(a2).state == RowState::Done);
    }

    // A waiting row says what it waits for and for how long, on the program's clock; while the queue
    // only waits out a busy host, the time left of its hold is what there is to tell.
    void aWaitSaysWhyAndHowLong()
    {
        m_server.setReplies("/a1.pdf", {status(429, "Slow Down", "42"), FaultServer::pdf(4000, '1')});
        m_server.setReply("/a2.pdf", FaultServer::pdf(4000, '2'));
        const RowId a1 = addRow("/a1.pdf", "a1");
        const RowId a2 = addRow("/a2.pdf", "a2");
        // Nothing listens on port 1: the connection is refused.
        const RowId refused = addRow(QStringLiteral("http://127.0.0.1:1/r.pdf"), "r");
        const auto tip = [this](RowId id) {
            return m_model->data(m_model->index(m_model->positionOf(id), 0), Qt::ToolTipRole).toString();
        };
        // The wait's end is the time of day on the program's clock, seconds after now.
        const auto waitTip = [this](qint64 seconds, const QString &why) {
            const int endMs = static_cast<int>(
                (static_cast<qint64>(m_clock.secondsSinceMidnight() * 1000) + seconds * 1000) % 86400000);
            return QStringLiteral("将在 %1 秒后（%2）重试：%3")
                .arg(seconds)
                .arg(QTime::fromMSecsSinceStartOfDay(endMs).toString(QStringLiteral("HH:mm:ss")), why);
        };
        m_scheduler->start();
        QTRY_VERIFY(row(a1).retry == 1 && row(refused).retry == 1);
        settle();
        // The status, whatever the server called it; a network failure in the program's words, its
        // brackets closed.
        QCOMPARE(tip(a1), waitTip(42, QStringLiteral("站点要求等待（HTTP 429）")));
        QVERIFY2(tip(refused).contains(QRegularExpression(
                     QStringLiteral("^将在 [23] 秒后（\\d\\d:\\d\\d:\\d\\d）重试：网络错误（连接被拒绝）$"))),
                 qPrintable(tip(refused)));
        QVERIFY(tip(a2).isEmpty());
        // A row that waits for its own retry is no host's hold.
        QCOMPARE(m_scheduler->retries().hostWaitMs(), -1);
        TestRows::of(*m_model).removeRow(refused);
        QCOMPARE(m_scheduler->retries().hostWaitMs(), 42000);
        QCOMPARE(progresstext::hostWait(m_scheduler->retries().hostWaitMs()),
                 QStringLiteral("站点要求等待：42 秒后继续"));
        // Seconds are rounded up: a wait that has not ended never reads 0.
        m_clock.advanceMs(40500);
        m_scheduler->startDue();
        QCOMPARE(tip(a1), waitTip(2, QStringLiteral("站点要求等待（HTTP 429）")));
        QCOMPARE(progresstext::hostWait(m_scheduler->retries().hostWaitMs()),
                 QStringLiteral("站点要求等待：2 秒后继续"));
        m_clock.advanceMs(1499);
        QCOMPARE(tip(a1), waitTip(1, QStringLiteral("站点要求等待（HTTP 429）")));
        // As soon as something runs, the queue no longer only waits.
        advanceToRetry(a1);
        QCOMPARE(m_scheduler->retries().hostWaitMs(), -1);
        QTRY_VERIFY(row(a1).state == RowState::Done && row(a2).state == RowState::Done);
        QCOMPARE(m_scheduler->retries().hostWaitMs(), -1);
    }

    // A full disk pauses the queue instead of failing the list row by row; nothing partial stays under a
    // paper's name, 继续 before room is made pauses again, and after it the rest of the list comes. A real
    // mount (root only; skipped where mounting is not allowed).
    void aFullDiskPausesTheQueue_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("method 1") << 1;
        QTest::newRow("method 2") << 2;
    }
    void aFullDiskPausesTheQueue()
    {
        QFETCH(int, method);
        m_scheduler->options().method = methodFromNumber(method);
        const QString mountPoint = folder();
        // 64 KiB: the first two papers fit, the third does not.
        if (QProcess::execute(QStringLiteral("mount"),
                              {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mountPoint}) != 0)
            QSKIP("mounting a file system is not allowed here");
        auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {mountPoint}); });
        const qint64 sizes[] = {20000, 30000, 30000, 20000};
        QList<RowId> ids;
        for (int i = 0; i < 4; ++i) {
            m_server.setReply(QStringLiteral("/d%1.pdf").arg(i), FaultServer::pdf(sizes[i], char('a' + i)));
            ids.append(addRow(QStringLiteral("/d%1.pdf").arg(i), QStringLiteral("d%1").arg(i)));
        }
        QSignalSpy paused(&m_scheduler->pause(), &QueuePause::diskPaused);
        QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
        QStringList written;
        const auto checkPaused = [&](int times) {
            QTRY_COMPARE(paused.count(), times);
            settle();
            QCOMPARE(paused.last().at(0).value<DiskFault>(), DiskFault::NoSpace);
            QCOMPARE(m_scheduler->pause().pauseDiskFault(), DiskFault::NoSpace);
            QCOMPARE(m_model->totals().failed, 0);
            QCOMPARE(m_model->totals().waiting, 2);
            written.clear();
            for (RowId id : std::as_const(ids)) {
                if (row(id).state == RowState::Done)
                    written.append(row(id).name + QStringLiteral(".pdf"));
            }
            QTRY_COMPARE(entries(), written); // neither a part nor a partial paper (parts go shortly)
            QCOMPARE(finished.count(), 0);
        };
        m_scheduler->start();
        checkPaused(1);
        m_scheduler->resumeAfterVerification();
        checkPaused(2);
        for (const QString &paper : std::as_const(written))
            QVERIFY(QFile::remove(folder() + paper));
        m_scheduler->resumeAfterVerification();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(m_model->totals().done, 4);
        for (int i = 0; i < 4; ++i) {
            const QString name = QStringLiteral("d%1.pdf").arg(i);
            if (!written.contains(name))
                QCOMPARE(fntest::readFile(folder() + name), FaultServer::pdf(sizes[i], char('a' + i)).body);
        }
        QCOMPARE(paused.count(), 2);
    }

    void aWallOfPagesPausesTheQueue()
    {
        Reply page;
        page.contentType = "text/html";
        page.body = "<!DOCTYPE html><html><body><form "
                    "action=/verify>请完成验证</form></body></html>";
        // The site puts up its page for every paper until it has been solved.
        for (const char *path : {"/w1.pdf", "/w2.pdf"})
            m_server.setReplies(QString::fromLatin1(path), {page, FaultServer::pdf(5000)});
        m_server.setReply("/w3.pdf", FaultServer::pdf(5000));
        const RowId w1 = addRow("/w1.pdf", "w1");
        const RowId w2 = addRow("/w2.pdf", "w2");
        const RowId w3 = addRow("/w3.pdf", "w3");
        QSignalSpy wall(&m_scheduler->pause(), &QueuePause::verificationNeeded);
        QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
        m_scheduler->start();
        QTRY_COMPARE(wall.count(), 1);
        settle();
        QVERIFY(m_scheduler->pause().isPausedForVerification());
        QCOMPARE(wall.first().at(1).toUrl(), m_server.url(QStringLiteral("/w2.pdf")));
        QCOMPARE(row(w1).state, RowState::Failed);
        QCOMPARE(row(w2).state, RowState::Failed);
        QCOMPARE(row(w3).state,
                 RowState::Waiting); // not asked while the queue waits
        QCOMPARE(m_server.requestCount(QStringLiteral("/w3.pdf")), 0);
        QCOMPARE(finished.count(), 0);
        // The user solved the page: the rows that met it go back and everything
        // downloads.
        m_scheduler->resumeAfterVerification();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(m_model->totals().done, 3);
        QVERIFY(!m_scheduler->pause().isPausedForVerification());
    }

    void aPageIsNoPaperOnAnyTry_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("retried");
        for (int method : {1, 2}) {
            QTest::newRow(qPrintable(QStringLiteral("method %1, downloaded again").arg(method)))
                << method << false;
            QTest::newRow(qPrintable(QStringLiteral("method %1, after a broken page").arg(method)))
                << method << true;
        }
    }
    void aPageIsNoPaperOnAnyTry()
    {
        QFETCH(int, method);
        QFETCH(bool, retried);
        m_scheduler->options().method = methodFromNumber(method);
        Reply page = status(200, "OK");
        page.contentType = "text/html";
        page.body = "<html><body>please log in</body></html>";
        Reply broken = page;
        broken.closeAfter = 10; // a passing failure after the answer named its type
        m_server.setReplies("/p.pdf", {retried ? broken : page, page});
        const RowId id = addRow("/p.pdf", "p");
        m_scheduler->start();
        if (retried) {
            QTRY_COMPARE(row(id).retry, 1);
            settle();
            advanceToRetry(id);
        } else {
            QTRY_COMPARE(row(id).state, RowState::Failed);
            ResetRow(TestRows::of(*m_model), id);
            m_scheduler->start();
        }
        QTRY_COMPARE(m_server.requestCount("/p.pdf"), 2);
        settle();
        QCOMPARE(row(id).reason.kind, Kind::WebPage);
        QCOMPARE(row(id).name + u'.' + row(id).type,
                 QStringLiteral("p.pdf")); // nothing kept of the page
        QTRY_VERIFY(entries().isEmpty());
    }

    void aRangeShortOfTheEndIsNoFile_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("total"); // as the range states it; "none" when the first try said none
        for (int method : {1, 2}) {
            for (const char *total : {"100000", "*", "none"})
                QTest::newRow(qPrintable(QStringLiteral("method %1, total %2").arg(method).arg(total)))
                    << method << QByteArray(total);
        }
    }
    void aRangeShortOfTheEndIsNoFile()
    {
        QFETCH(int, method);
        QFETCH(QByteArray, total);
        m_scheduler->options().method = methodFromNumber(method);
        const Reply whole = rangedPaper(100000, 'a', "\"v1\"");
        Reply cut = rangedPaper(100000, 'a', "\"v1\"", 40000);
        cut.chunked = total == "none";
        Reply part = status(206, "Partial Content");
        part.contentType = "application/pdf";
        part.body = whole.body.mid(40000, 20000);
        part.etag = whole.etag;
        part.extraHeaders = {{"Content-Range", "bytes 40000-59999/" + (total == "none" ? "*" : total)}};
        m_server.setReplies("/big.pdf", {cut, part, whole});
        const RowId id = addRow("/big.pdf", "big");
        m_scheduler->start();
        for (int attempt = 1; attempt <= 2; ++attempt) {
            QTRY_COMPARE(row(id).retry, attempt);
            settle();
            QVERIFY(!QFile::exists(folder() + QStringLiteral("big.pdf")));
            advanceToRetry(id);
        }
        QTRY_COMPARE(row(id).state, RowState::Done);
        QCOMPARE(fntest::readFile(folder() + QStringLiteral("big.pdf")), whole.body);
        // What came is continued against a known length only; without one the file
        // comes whole.
        QCOMPARE(m_server.requests().at(2).headers.value("range"),
                 total == "none" ? QByteArray() : QByteArray("bytes=60000-"));
    }

    void aHostIsHeldOnlyWhileARetryFollows()
    {
        const QString host = RetryBook::hostOf(m_server.url("/").toString());
        m_server.setReply("/next.pdf", FaultServer::pdf(4000));
        // Retries off, or the last try used up: the answer holds nothing back.
        for (int retries : {0, 1}) {
            TestRows::of(*m_model).clear();
            m_scheduler->options().retries = retries;
            m_server.setReplies("/busy.pdf", {status(429, "Too Many", "5"), status(503, "Busy", "3600")});
            const RowId busy = addRow("/busy.pdf", "busy");
            const RowId next = addRow("/next.pdf", "next");
            m_scheduler->start();
            if (retries > 0) {
                QTRY_COMPARE(row(busy).retry, 1);
                settle();
                advanceToRetry(busy);
            }
            QTRY_COMPARE(row(next).state, RowState::Done);
            QCOMPARE(row(busy).state, RowState::Failed);
            QCOMPARE(m_scheduler->retries().hostHeldUntilMs(host), -1);
        }
        // A retry follows: a day's Retry-After holds the site for the hour it is
        // capped at, until Stop.
        m_scheduler->options().retries = 2;
        m_server.setReplies("/busy.pdf", {status(429, "Too Many", "86400"), FaultServer::pdf(5000)});
        const RowId busy = m_model->idAt(0);
        const RowId next = m_model->idAt(1);
        ResetRow(TestRows::of(*m_model), busy);
        ResetRow(TestRows::of(*m_model), next);
        m_scheduler->start();
        QTRY_COMPARE(row(busy).retry, 1);
        settle();
        QCOMPARE(m_scheduler->retries().hostHeldUntilMs(host), m_clock.monotonicMs() + 3600 * 1000);
        QCOMPARE(row(next).state, RowState::Waiting);
        m_scheduler->StopDownloads();
        ResetRow(TestRows::of(*m_model), busy);
        m_scheduler->start(); // nothing waits for the hold that Stop ended
        QTRY_COMPARE(m_model->totals().done, 2);
    }

    void aWallStopsTheQueueBeforeAnythingMoreIsAsked_data()
    {
        // By letter: p a paper, s a paper that takes a while, w a 403 at once, W a
        // 403 that takes a while.
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("threads");
        QTest::addColumn<QByteArray>("rows");
        QTest::newRow("method 1, one thread") << 1 << 1 << QByteArray("ppwwp");
        QTest::newRow("method 2, one thread") << 2 << 1 << QByteArray("ppwwp");
        QTest::newRow("a slow paper ends between two walls") << 2 << 2 << QByteArray("swWWp");
        QTest::newRow("three threads, a row meets the wall after the pause") << 2 << 3 << QByteArray("wwWpp");
    }
    void aWallStopsTheQueueBeforeAnythingMoreIsAsked()
    {
        QFETCH(int, method);
        QFETCH(int, threads);
        QFETCH(QByteArray, rows);
        m_scheduler->options().method = methodFromNumber(method);
        m_scheduler->options().threadCount = threads;
        m_scheduler->options().headerTimeoutMs = 5000;
        m_scheduler->options().stallWindowMs = 2000;
        const QString last = QStringLiteral("/r%1.pdf").arg(rows.size() - 1);
        for (int i = 0; i < rows.size(); ++i) {
            Reply reply =
                rows.at(i) == 'w' || rows.at(i) == 'W' ? status(403, "Forbidden") : FaultServer::pdf(6000);
            reply.answerDelayMs = rows.at(i) == 'W' ? 2500 : 0;
            reply.trickleBytes = rows.at(i) == 's' ? 1000 : 0;
            reply.trickleMs = 100;
            m_server.setReply(QStringLiteral("/r%1.pdf").arg(i), reply);
            addRow(QStringLiteral("/r%1.pdf").arg(i), QStringLiteral("r%1").arg(i));
        }
        QSignalSpy wall(&m_scheduler->pause(), &QueuePause::verificationNeeded);
        m_scheduler->start();
        QTRY_COMPARE_WITH_TIMEOUT(wall.count(), 1, 20000);
        settle();
        QCOMPARE(m_server.requestCount(last),
                 0); // nothing asked after the second wall
        // The rows that met the wall wait for 继续: held, and counted as waiting rather than failed.
        int held = 0;
        for (int i = 0; i < m_model->count(); ++i)
            held += m_model->row(i).heldByPause() ? 1 : 0;
        QCOMPARE(held, static_cast<int>(rows.count('w') + rows.count('W')));
        QCOMPARE(m_model->totals().failed, 0);
        // Solved: 继续 brings back every row that met the wall, the one that met it
        // late as well.
        for (int i = 0; i < rows.size(); ++i)
            m_server.setReply(QStringLiteral("/r%1.pdf").arg(i), FaultServer::pdf(6000));
        m_scheduler->resumeAfterVerification();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->totals().done, static_cast<int>(rows.size()), 20000);
        QCOMPARE(wall.count(), 1);
    }

    void aPasswordInALinkNeverTravelsInAReferer()
    {
        FaultServer other;
        QVERIFY2(other.listen(false, QStringLiteral("127.0.0.2")), "a second loopback address");
        other.setReply("/elsewhere.pdf", FaultServer::pdf(8000));
        Reply moved = status(302, "Found");
        moved.location = other.url("/elsewhere.pdf").toEncoded();
        const QByteArray site = QStringLiteral("http://127.0.0.1:%1").arg(m_server.port()).toUtf8();
        // Method 2 names the site in the second request it makes for an empty
        // answer.
        for (int method : {1, 2}) {
            m_scheduler->options().method = methodFromNumber(method);
            QUrl link = m_server.url(QStringLiteral("/cred%1.pdf").arg(method));
            m_server.setReplies(link.path(),
                                method == 1 ? QList<Reply>{moved} : QList<Reply>{FaultServer::pdf(0), moved});
            link.setUserInfo(QStringLiteral("alice:pw"));
            const RowId id = addRow(link.toString(), QStringLiteral("cred%1").arg(method));
            m_scheduler->start();
            QTRY_COMPARE(row(id).state, RowState::Done);
            QCOMPARE(m_server.requests().last().headers.value("referer"), method == 1 ? site : site + '/');
            QVERIFY(!other.requests().last().headers.contains("referer")); // nor to another host
        }
    }
};

FN_TEST_MAIN_CORE(TestRetry)
#include "tst_retry.moc"
