#include "commonseams.h"
#include "core/common/clock.h"
#include "core/rows/downloadlistmodel.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloader.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "queuefixture.h"
#include "testenv.h"
#include "testrows.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cerrno>

using Reply = FaultServer::Reply;

class TestEngines : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    std::unique_ptr<QueueFixture> m_queue;
    DownloadListModel *m_model = nullptr;
    DownloadScheduler *m_scheduler = nullptr;

    QString folder() const { return m_queue->folder(); }

    int addRow(const QString &path, const QString &name, const QString &type = QStringLiteral("pdf"))
    {
        m_queue->addRow(path, name, type);
        return m_model->count() - 1;
    }

    // Files in the folder other than the ones named: no leftovers of any kind.
    QStringList folderEntries() const { return m_queue->files(); }

    void useMethod(int method, int threads = 1) { m_queue->use(method, threads); }
    // Read system calls this process made so far.
    static qint64 readCalls()
    {
        QFile io(QStringLiteral("/proc/self/io"));
        if (!io.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : io.readAll().split('\n')) {
            if (line.startsWith("syscr:"))
                return line.mid(6).trimmed().toLongLong();
        }
        return -1;
    }

    // Runs the queue until no row waits or downloads and no transfer is left.
    void runToEnd(int timeoutMs = 20000)
    {
        m_scheduler->start();
        QTRY_VERIFY2_WITH_TIMEOUT(m_model->检测是否下载列表完毕() &&
                                      !m_scheduler->transfers().anyTransferLive(),
                                  qPrintable(m_model->totalsText()), timeoutMs);
        QCOMPARE(m_scheduler->transfers().CountTransferSlots(), 1);
    }

    // Starts what the queue would start now, without waiting for the event loop.
    void startNow()
    {
        m_scheduler->start();
        m_scheduler->startDue();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.listen()); }

    void init()
    {
        m_queue = std::make_unique<QueueFixture>(m_server);
        m_model = m_queue->model();
        m_scheduler = m_queue->scheduler();
        m_scheduler->options().headerTimeoutMs = 2000;
        m_scheduler->options().stallWindowMs = 1500;
        m_scheduler->options().proxy = {};
    }

    void cleanup() { m_queue.reset(); }

    // --- one connection at a time ---

    void singleConnectionDownloadsWithRefererAndProgress()
    {
        useMethod(1);
        const Reply pdf = FaultServer::pdf(300000);
        m_server.setReply("/a/paper.pdf", pdf);
        const int r = addRow("/a/paper.pdf", "paper");
        QSignalSpy notes(m_scheduler, &DownloadScheduler::transferNoted);
        QSignalSpy states(m_scheduler->reports(), &TransferReports::connectionStateChanged);
        runToEnd();
        QCOMPARE(m_model->row(r).state, RowState::Done);
        QCOMPARE(fntest::readFile(folder() + "paper.pdf"), pdf.body);
        QCOMPARE(m_model->cellText(r, DownloadListModel::ColSize), QStringLiteral("300000"));
        QCOMPARE(m_model->cellText(r, DownloadListModel::ColDownloaded), QStringLiteral("300000"));
        QCOMPARE(m_model->cellText(r, DownloadListModel::ColPercent), QStringLiteral("100%"));
        QCOMPARE(m_server.requests().last().headers.value("referer"),
                 QStringLiteral("http://127.0.0.1:%1").arg(m_server.port()).toUtf8());
        QCOMPARE(notes.size(), 2);
        QCOMPARE(notes.first(),
                 QVariantList({QVariant::fromValue(TransferNote::Started), QStringLiteral("paper")}));
        QCOMPARE(notes.last(),
                 QVariantList({QVariant::fromValue(TransferNote::Ended), QStringLiteral("paper")}));
        QStringList texts;
        for (const auto &args : states)
            texts << Downloader::stateText(args.at(0).value<ConnectionState>(), args.at(1).toInt(),
                                           args.at(2).toString());
        QVERIFY(texts.contains(QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。")));
        QTRY_COMPARE(folderEntries(), QStringList{"paper.pdf"});
        QVERIFY(qAbs(m_scheduler->pacing().LastFinishTime() - Clock::current().secondsSinceMidnight()) < 5);
    }

    void singleConnectionTakesOnly200Ok_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("200 OK") << 200 << QByteArray("OK") << true;
        QTest::newRow("200 ok in lower case") << 200 << QByteArray("ok") << true;
        QTest::newRow("200 without reason") << 200 << QByteArray() << false;
        QTest::newRow("206") << 206 << QByteArray("Partial Content") << false;
        QTest::newRow("404") << 404 << QByteArray("Not Found") << false;
        QTest::newRow("500") << 500 << QByteArray("Internal Server Error") << false;
    }
    void singleConnectionTakesOnly200Ok()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        QFETCH(bool, accepted);
        useMethod(1);
        Reply reply = FaultServer::pdf(6000);
        reply.status = status;
        reply.reason = reason;
        m_server.setReply("/s.pdf", reply);
        const int r = addRow("/s.pdf", "s");
        runToEnd();
        QCOMPARE(m_model->row(r).state, accepted ? RowState::Done : RowState::Failed);
        if (!accepted) {
            QCOMPARE(m_model->cellText(r, DownloadListModel::ColSize), QStringLiteral("文件不存在"));
            QTRY_VERIFY(folderEntries().isEmpty());
        }
    }

    void singleConnectionWithoutUsableLength_data()
    {
        QTest::addColumn<QByteArray>("lengthText");
        QTest::addColumn<bool>("chunked");
        QTest::newRow("no Content-Length") << QByteArray() << false;
        QTest::newRow("chunked") << QByteArray() << true;
        QTest::newRow("non-numeric") << QByteArray("abc") << false;
    }
    void singleConnectionWithoutUsableLength()
    {
        QFETCH(QByteArray, lengthText);
        QFETCH(bool, chunked);
        useMethod(1);
        Reply reply = FaultServer::pdf(20000);
        reply.chunked = chunked;
        reply.sendLength = !lengthText.isEmpty();
        reply.lengthText = lengthText;
        if (!lengthText.isEmpty())
            reply.closeAfter = reply.body.size(); // the connection end marks the body's end
        m_server.setReply("/u.pdf", reply);
        const int r = addRow("/u.pdf", "u");
        runToEnd();
        if (!lengthText.isEmpty() && m_model->row(r).state == RowState::Failed)
            QSKIP("the HTTP stack refuses a non-numeric length itself");
        QCOMPARE(m_model->row(r).state, RowState::Done);
        QCOMPARE(m_model->cellText(r, DownloadListModel::ColSize), QStringLiteral("20000"));
        QCOMPARE(m_model->cellText(r, DownloadListModel::ColPercent), QStringLiteral("100%"));
        QCOMPARE(fntest::readFile(folder() + "u.pdf"), reply.body);
    }

    void unstatedTypeIsSniffed()
    {
        useMethod(1);
        Reply reply = FaultServer::pdf(8000);
        reply.contentType = "application/octet-stream";
        m_server.setReply("/o1.pdf", reply);
        m_server.setReply("/o2.pdf", reply);
        const int keepName = addRow("/o1.pdf", "kept");
        const int moved = addRow("/o2.pdf", "moved", "caj");
        runToEnd();
        // The file keeps its name; the row names the extension the file really has.
        QCOMPARE(m_model->row(keepName).type, QStringLiteral("pdf"));
        QCOMPARE(m_model->row(keepName).name, QStringLiteral("kept"));
        QVERIFY(QFile::exists(folder() + "kept.pdf"));
        QCOMPARE(m_model->row(moved).type, QStringLiteral("PDF"));
        QCOMPARE(m_model->row(moved).name, QStringLiteral("moved"));
        QVERIFY(QFile::exists(folder() + "moved.PDF"));
        QVERIFY(!QFile::exists(folder() + "moved.caj"));
    }

    void brokenBodiesNeverCountAsDone_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("fault");
        for (int method : {1, 2}) {
            for (const char *fault : {"short body", "unsized cut", "chunked cut", "stall", "no answer",
                                      "untrusted tls", "missing folder"})
                QTest::newRow(qPrintable(QStringLiteral("method %1, %2").arg(method).arg(fault)))
                    << method << fault;
        }
    }
    void brokenBodiesNeverCountAsDone()
    {
        QFETCH(int, method);
        QFETCH(QString, fault);
        useMethod(method);
        Reply reply = FaultServer::pdf(200000);
        FaultServer tls;
        QString address = m_server.url("/b.pdf").toString();
        if (fault == "short body")
            reply.closeAfter = 70000;
        // Nothing states the length: the connection's end is all that ends the body (a chunked answer
        // cut mid-way may be taken for whole by the network layer), and only the PDF's own end mark tells.
        else if (fault == "unsized cut" || fault == "chunked cut") {
            reply.sendLength = false;
            reply.chunked = fault == "chunked cut";
            reply.closeAfter = 70000;
        } else if (fault == "stall")
            reply.stallAfter = 70000;
        else if (fault == "no answer")
            reply.noAnswer = true;
        m_server.setReply("/b.pdf", reply);
        if (fault == "untrusted tls") {
            QVERIFY(tls.listen(true));
            tls.setReply("/b.pdf", reply);
            address = tls.url("/b.pdf").toString();
        }
        DownloadRow row;
        row.key = address;
        row.name = "b";
        row.type = "pdf";
        row.folder = fault == "missing folder" ? folder() + "nothere/" : folder();
        TestRows::of(*m_model).addRow(row);
        runToEnd();
        QCOMPARE(m_model->row(0).state, RowState::Failed);
        if (fault == "missing folder") {
            QCOMPARE(m_model->row(0).reason.kind, FailureReason::Kind::Disk);
            QCOMPARE(m_model->row(0).reason.code, ENOENT);
        }
        QTRY_VERIFY2(folderEntries().isEmpty(), qPrintable(folderEntries().join(',')));
    }

    void stopMidBodyCancels()
    {
        useMethod(1);
        Reply reply = FaultServer::pdf(400000);
        reply.stallAfter = 100000;
        m_server.setReply("/c.pdf", reply);
        const int r = addRow("/c.pdf", "c");
        startNow();
        QTRY_VERIFY(!m_model->cellText(r, DownloadListModel::ColDownloaded).isEmpty());
        const double stamp = m_scheduler->pacing().LastFinishTime();
        m_scheduler->StopDownloads();
        QCOMPARE(m_model->row(r).state, RowState::Failed);
        QCOMPARE(m_model->cellText(r, DownloadListModel::ColSize), QStringLiteral("下载取消"));
        QVERIFY(!m_scheduler->DownloadBusy());
        QCOMPARE(m_scheduler->pacing().LastFinishTime(), stamp);
        // The temporary file goes on the disk's worker, right away.
        QTRY_VERIFY(folderEntries().isEmpty());
    }

    void overwriteReplacesOnlyWhenComplete_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void overwriteReplacesOnlyWhenComplete()
    {
        QFETCH(int, method);
        useMethod(method);
        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        fntest::writeFile(folder() + "old.pdf", "previous paper");
        fntest::writeFile(folder() + "kept.pdf", "previous paper");
        const Reply good = FaultServer::pdf(9000, 'n');
        Reply broken = FaultServer::pdf(90000);
        broken.closeAfter = 1000;
        m_server.setReply("/old.pdf", good);
        m_server.setReply("/kept.pdf", broken);
        addRow("/old.pdf", "old");
        addRow("/kept.pdf", "kept");
        runToEnd();
        QCOMPARE(m_model->row(0).state, RowState::Done);
        QCOMPARE(m_model->row(0).name, QStringLiteral("old"));
        QCOMPARE(fntest::readFile(folder() + "old.pdf"), good.body);
        QCOMPARE(m_model->row(1).state, RowState::Failed);
        QCOMPARE(fntest::readFile(folder() + "kept.pdf"), QByteArray("previous paper"));
        QTRY_COMPARE(folderEntries(), QStringList({"kept.pdf", "old.pdf"}));
    }

    void loginCookiesReachBothEngines_data() { overwriteReplacesOnlyWhenComplete_data(); }
    void loginCookiesReachBothEngines()
    {
        QFETCH(int, method);
        useMethod(method);
        Reply reply = FaultServer::pdf(7000);
        reply.requiredCookie = "session=ok";
        m_server.setReply("/p.pdf", reply);
        QSignalSpy pages(m_scheduler->reports(), &TransferReports::webPageReceived);
        addRow("/p.pdf", "nocookie");
        runToEnd();
        QVERIFY(pages.count() >= 1);
        // The login page is no paper: the row fails and nothing of the page stays
        // on disk.
        QCOMPARE(m_model->row(0).state, RowState::Failed);
        QCOMPARE(m_model->row(0).reason.kind, FailureReason::Kind::WebPage);
        QTRY_VERIFY2(folderEntries().isEmpty(), qPrintable(folderEntries().join(',')));

        QNetworkCookie cookie("session", "ok");
        cookie.setDomain("127.0.0.1");
        cookie.setPath("/");
        m_scheduler->network().cookieJar()->insertCookie(cookie);
        TestRows::of(*m_model).clear();
        addRow("/p.pdf", "withcookie");
        runToEnd();
        QCOMPARE(m_model->row(0).state, RowState::Done);
        QCOMPARE(fntest::readFile(folder() + "withcookie.pdf"), reply.body);
    }

    void proxyCarriesSingleConnectionTransfers()
    {
        useMethod(1);
        m_scheduler->options().proxy = {true, "127.0.0.1", m_server.port()};
        const Reply pdf = FaultServer::pdf(6000);
        m_server.setReply("/via/proxy.pdf", pdf);
        DownloadRow row;
        row.key = "http://papers.invalid/via/proxy.pdf";
        row.name = "proxied";
        row.type = "pdf";
        row.folder = folder();
        TestRows::of(*m_model).addRow(row);
        runToEnd();
        QCOMPARE(m_model->row(0).state, RowState::Done);
        QVERIFY(m_server.requests().last().proxied);
        QCOMPARE(fntest::readFile(folder() + "proxied.pdf"), pdf.body);
    }

    // An answer's header is read in pieces, not a byte per system call: the header of every small paper
    // would otherwise cost one call per byte. Counted by the process's read calls; a 6 KiB header read
    // byte by byte takes over 6,000.
    void headersAreNotReadByteByByte_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void headersAreNotReadByteByByte()
    {
        QFETCH(int, method);
        useMethod(method);
        Reply pdf = FaultServer::pdf(4000);
        for (int i = 0; i < 80; ++i)
            pdf.extraHeaders.append({"X-Padding-" + QByteArray::number(i), QByteArray(64, 'p')});
        m_server.setReply("/long-header.pdf", pdf);
        addRow("/long-header.pdf", "longheader");
        const qint64 before = readCalls();
        runToEnd();
        const qint64 calls = readCalls() - before;
        QCOMPARE(m_model->row(0).state, RowState::Done);
        QCOMPARE(fntest::readFile(folder() + "longheader.pdf"), pdf.body);
        QVERIFY2(calls < 1500, qPrintable(QString::number(calls)));
    }

    void redirectsAreFollowed()
    {
        useMethod(2);
        Reply moved;
        moved.status = 302;
        moved.reason = "Found";
        moved.location = m_server.url("/real.pdf").toEncoded();
        moved.body = "";
        m_server.setReply("/moved.pdf", moved);
        m_server.setReply("/real.pdf", FaultServer::pdf(12000));
        addRow("/moved.pdf", "moved");
        runToEnd();
        QCOMPARE(m_model->row(0).state, RowState::Done);
        QCOMPARE(QFileInfo(folder() + "moved.pdf").size(), 12000);
    }

    // --- parallel slots ---

    void slotsJudgeStatusAndSmallFiles_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("done");
        QTest::newRow("404 page without markers") << 404 << QByteArray("<html>gone</html>") << false;
        QTest::newRow("500") << 500 << QByteArray(9000, 'x') << false;
        QTest::newRow("error page sent as 200")
            << 200 << QByteArray("<html><TITLE>404 Not Found</TITLE></html>") << false;
        QTest::newRow("error marker in lower case")
            << 200 << QByteArray("<title>404 not found</title>") << false;
        QTest::newRow("GBK error page")
            << 200 << QByteArray("<title>HTTP 404 \xce\xb4\xd5\xd2\xb5\xbd</title>") << false;
        QTest::newRow("small real paper") << 200 << QByteArray("%PDF-1.4 tiny") << true;
        // The rules of the local site (the demo site's) name its login page's heading as not a paper.
        QTest::newRow("a marker of the site's rules")
            << 200 << QByteArray("note: <h1>\xe8\xaf\xb7\xe5\x85\x88\xe7\x99\xbb\xe5\xbd\x95</h1>") << false;
        // Text that is not a web page but carries a marker: read for markers only below 5001 bytes.
        QTest::newRow("marker in 5000 bytes of text")
            << 200 << QByteArray("log: <TITLE>404 Not Found</TITLE>") + QByteArray(5000 - 33, ' ') << false;
        QTest::newRow("5001 bytes are not examined")
            << 200 << QByteArray("log: <TITLE>404 Not Found</TITLE>") + QByteArray(5001 - 33, ' ') << true;
    }
    void slotsJudgeStatusAndSmallFiles()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, done);
        useMethod(2, 3);
        Reply reply;
        reply.status = status;
        reply.reason = status == 200 ? "OK" : "Error";
        reply.body = body;
        m_server.setReply("/m.pdf", reply);
        addRow("/m.pdf", "m");
        runToEnd();
        QCOMPARE(m_model->row(0).state, done ? RowState::Done : RowState::Failed);
        QTRY_COMPARE(folderEntries(), done ? QStringList{"m.pdf"} : QStringList{});
        if (done) {
            QCOMPARE(fntest::readFile(folder() + "m.pdf"), body);
            QCOMPARE(m_model->cellText(0, DownloadListModel::ColPercent), QStringLiteral("100%"));
        }
    }

    void slotsWithoutStatedLengthAndTheFallback()
    {
        useMethod(2, 2);
        Reply chunked = FaultServer::pdf(30000);
        chunked.chunked = true;
        m_server.setReply("/chunked.pdf", chunked);
        Reply empty;
        empty.body = "";
        m_server.setReply("/empty.pdf", empty);
        addRow("/chunked.pdf", "chunked");
        addRow("/empty.pdf", "empty");
        runToEnd();
        QCOMPARE(m_model->row(0).state, RowState::Done);
        QCOMPARE(m_model->cellText(0, DownloadListModel::ColSize), QStringLiteral("30000"));
        QCOMPARE(fntest::readFile(folder() + "chunked.pdf"), chunked.body);
        // Nothing arrived: asked once more naming the site, then failed without
        // leaving a file.
        QCOMPARE(m_server.requestCount("/empty.pdf"), 2);
        QCOMPARE(m_server.requests().last().headers.value("referer"),
                 QStringLiteral("http://127.0.0.1:%1/").arg(m_server.port()).toUtf8());
        QCOMPARE(m_model->row(1).state, RowState::Failed);
        QTRY_COMPARE(folderEntries(), QStringList{"chunked.pdf"});
    }

    void threeThreadsOverSixRowsAndPlaceholders()
    {
        useMethod(2, 3);
        Reply slow = FaultServer::pdf(20000);
        slow.trickleBytes = 5000;
        slow.trickleMs = 100;
        for (int i = 0; i < 6; ++i)
            m_server.setReply(QStringLiteral("/t%1.pdf").arg(i), slow);
        for (int i = 0; i < 6; ++i)
            addRow(QStringLiteral("/t%1.pdf").arg(i), "same");
        startNow();
        QCOMPARE(m_scheduler->transfers().CountTransferSlots(), 4);
        QCOMPARE(m_model->totalsText(), QStringLiteral("总数：6|正在下载：3|等待：3|已完成：0|失败：0"));
        // The running slots reserve their names, so the waiting rows get the next
        // numbers.
        QCOMPARE(m_model->row(1).name, QStringLiteral("same[001]"));
        QCOMPARE(m_model->row(2).name, QStringLiteral("same[002]"));
        QCOMPARE(m_scheduler->transfers().SlotRow(3), m_model->idAt(2));
        runToEnd();
        QCOMPARE(m_model->totalsText(), QStringLiteral("总数：6|正在下载：0|等待：0|已完成：6|失败：0"));
        QTRY_COMPARE(folderEntries().size(), 6);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(QFileInfo(folder() + m_model->row(i).name + ".pdf").size(), 20000);
    }

    void stopDestroysEverySlot()
    {
        useMethod(2, 3);
        Reply stall = FaultServer::pdf(50000);
        stall.stallAfter = 10000;
        for (int i = 0; i < 3; ++i) {
            m_server.setReply(QStringLiteral("/s%1.pdf").arg(i), stall);
            addRow(QStringLiteral("/s%1.pdf").arg(i), QStringLiteral("s%1").arg(i));
        }
        startNow();
        QTRY_COMPARE(m_model->cellText(2, DownloadListModel::ColDownloaded), QStringLiteral("10000"));
        m_scheduler->StopDownloads();
        QCOMPARE(m_scheduler->transfers().CountTransferSlots(), 1);
        QCOMPARE(m_model->totalsText(), QStringLiteral("总数：3|正在下载：0|等待：0|已完成：0|失败：3"));
        QTRY_VERIFY2(folderEntries().isEmpty(), qPrintable(folderEntries().join(',')));
    }

    void watchdogEndsSlotsThatNeverGotGoing()
    {
        ManualClock clock;
        Clock *previous = ClockSeam::install(&clock);
        useMethod(2, 2);
        m_scheduler->options().headerTimeoutMs = 600000;
        m_scheduler->options().stallWindowMs = 600000;
        Reply silent;
        silent.noAnswer = true;
        m_server.setReply("/silent.pdf", silent);
        Reply stalled = FaultServer::pdf(50000);
        stalled.stallAfter = 1000;
        m_server.setReply("/slow.pdf", stalled);
        addRow("/silent.pdf", "silent");
        addRow("/slow.pdf", "slow");
        startNow();
        QTRY_COMPARE(m_model->cellText(1, DownloadListModel::ColDownloaded), QStringLiteral("1000"));
        clock.advanceMs(119000);
        m_scheduler->housekeeping()->tickHousekeeping();
        QCOMPARE(m_scheduler->transfers().CountTransferSlots(), 3);
        clock.advanceMs(1000);
        m_scheduler->housekeeping()->tickHousekeeping();
        QCOMPARE(m_model->row(0).state, RowState::Failed);
        QCOMPARE(m_model->row(1).state,
                 RowState::Downloading); // its size is known: never ended here
        QCOMPARE(m_scheduler->transfers().CountTransferSlots(), 2);
        QVERIFY(!QFile::exists(folder() + "silent.pdf"));
        ClockSeam::install(previous);
    }

    void slotRowsBeyond32767()
    {
        useMethod(2, 1);
        for (int i = 0; i < 40000; ++i) {
            DownloadRow row;
            row.key = QStringLiteral("done-%1").arg(i);
            row.state = RowState::Done;
            TestRows::of(*m_model).addRow(row);
        }
        m_server.setReply("/far.pdf", FaultServer::pdf(6000));
        const int r = addRow("/far.pdf", "far");
        QCOMPARE(r, 40000);
        runToEnd();
        QCOMPARE(m_model->row(r).state, RowState::Done);
        QCOMPARE(m_model->cellText(r, DownloadListModel::ColPercent), QStringLiteral("100%"));
    }

    void urlBase()
    {
        QCOMPARE(Downloader::GetUrlBase("http://h/a/b.pdf?x=1/2", false), QStringLiteral("http://h/"));
        QCOMPARE(Downloader::GetUrlBase("h", false), QStringLiteral("http://h/"));
        QCOMPARE(Downloader::GetUrlBase("http://h/a/b.pdf?x=1/2", true), QStringLiteral("http://h/a/"));
        QCOMPARE(Downloader::GetUrlBase("https://h:8/", true), QStringLiteral("https://h:8/"));
    }

    // A name another program takes while the single connection's file is put on the disk goes to the next
    // name the resolver gives, and an answer that named no type has its file named after its content:
    // both on the workers, with the other program's file untouched and the paper whole under its name.
    void aNameTakenMeanwhileGoesToTheNextOneAndTheContentNamesTheType()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path() + u'/';
        Reply paper = FaultServer::pdf(50000, 'n');
        paper.contentType = "";
        m_server.setReply("/taken", paper);
        QNetworkAccessManager manager;
        TransferOptions options;
        options.singleConnection = true;
        Downloader transfer(static_cast<RowId>(1), &manager, options);
        QStringList resolved;
        const Downloader::TargetResolver resolve = [&](const QString &type, QString *newName) {
            *newName = resolved.isEmpty() ? QStringLiteral("paper") : QStringLiteral("paper[0001]");
            resolved.append(*newName + u'.' + type);
            return folder + resolved.last();
        };
        const QByteArray foreign("another program's file");
        connect(&transfer, &Downloader::bodyReceived, this, [&] {
            QFile taken(folder + QStringLiteral("paper.caj"));
            QVERIFY(taken.open(QIODevice::WriteOnly) && taken.write(foreign) == foreign.size());
        });
        QSignalSpy finished(&transfer, &Downloader::finished);
        transfer.Inet下载文件(m_server.url("/taken").toString(), QStringLiteral("paper"),
                              QStringLiteral("caj"), resolve);
        QVERIFY(finished.wait(20000));
        const TransferResult result = finished.first().at(1).value<TransferResult>();
        QVERIFY2(result.done, qPrintable(reasonText(result.reason)));
        QCOMPARE(resolved, (QStringList{"paper.caj", "paper[0001].caj"}));
        QCOMPARE(result.path, folder + QStringLiteral("paper[0001].PDF"));
        QCOMPARE(result.type, QStringLiteral("PDF"));
        QCOMPARE(result.name, QStringLiteral("paper[0001]"));
        QCOMPARE(fntest::readFile(result.path), paper.body);
        QCOMPARE(fntest::readFile(folder + QStringLiteral("paper.caj")), foreign);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"paper.caj", "paper[0001].PDF"}));
    }
};

FN_TEST_MAIN_CORE(TestEngines)
#include "tst_engines.moc"
