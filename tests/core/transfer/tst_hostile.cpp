// Servers that lie, cut, stall, redirect and send web pages: nothing escapes
// the folder, nothing leaks to another host, nothing incomplete or wrong is
// called done, and an existing file survives every failure.
#include "core/common/filenames.h"
#include "core/queue/downloadcommands.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "queuefixture.h"
#include "testenv.h"
#include "testrows.h"

#include <QDir>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QTemporaryDir>

using Reply = FaultServer::Reply;
using Kind = FailureReason::Kind;

namespace {

// Bytes that do not compress away, so a cut stream really lacks part of the
// file.
QByteArray noise(qsizetype size)
{
    QByteArray bytes = "%PDF-1.4\n";
    quint32 x = 12345;
    while (bytes.size() < size) {
        x = x * 1103515245u + 12345u;
        bytes.append(static_cast<char>(x >> 24));
    }
    return bytes;
}

QPair<QByteArray, QByteArray> header(const QByteArray &name, const QByteArray &value)
{
    return {name, value};
}

QByteArray loginPage(qsizetype size)
{
    QByteArray page = "<!DOCTYPE html><html><head><title>Sign in</title></head><body><form>"
                      "<input name=user><input type=password name=pass>please log in</form>";
    while (page.size() < size - 14)
        page += "<p>help text</p>";
    return page + "</body></html>";
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    std::unique_ptr<QueueFixture> m_queue;
    DownloadListModel *m_model = nullptr;
    DownloadScheduler *m_scheduler = nullptr;

    QString folder() const { return m_queue->folder(); }
    QString outside() const { return m_queue->root(); }

    RowId addRow(const QString &address, const QString &name, const QString &type = QStringLiteral("pdf"))
    {
        return m_queue->addRow(address, name, type);
    }
    const DownloadRow &row(RowId id) const { return m_queue->row(id); }

    // Everything in the folder the rows download into, temporary files included.
    QStringList entries() const
    {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                        QDir::Name);
    }

    void use(int method, int threads = 1) { m_queue->use(method, threads); }

    void runToEnd(int timeoutMs = 20000)
    {
        m_queue->runToEnd(timeoutMs);
        QVERIFY(m_model->检测是否下载列表完毕());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.listen()); }

    void init()
    {
        m_queue = std::make_unique<QueueFixture>(m_server, QStringLiteral("in"));
        m_model = m_queue->model();
        m_scheduler = m_queue->scheduler();
        m_scheduler->options().headerTimeoutMs = 3000;
        m_scheduler->options().stallWindowMs = 1000;
    }

    void cleanup() { m_queue.reset(); }

    void mediaTypesNeverShapeAPathOutsideTheFolder_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("mediaType");
        QTest::addColumn<QString>("type"); // what the file ends up as
        const QByteArray climbing = "application/../../../../../../../../tmp/escaped";
        const QByteArray slashes = "x/y/z";
        const QByteArray dotdot = "text/..";
        const QByteArray longType = "application/" + QByteArray(300, 'q');
        for (int method : {1, 2}) {
            const QString m = QStringLiteral("method %1, ").arg(method);
            // A type that is no plain token leaves the row's type; the content agrees
            // with it.
            const QString sniffed = QStringLiteral("pdf");
            QTest::newRow(qPrintable(m + "climbing segments")) << method << climbing << sniffed;
            QTest::newRow(qPrintable(m + "more slashes")) << method << slashes << sniffed;
            QTest::newRow(qPrintable(m + "dot-dot subtype")) << method << dotdot << sniffed;
            QTest::newRow(qPrintable(m + "300 characters")) << method << longType << sniffed;
            QTest::newRow(qPrintable(m + "x-download"))
                << method << QByteArray("application/x-download") << sniffed;
            QTest::newRow(qPrintable(m + "plain pdf"))
                << method << QByteArray("application/pdf") << QStringLiteral("pdf");
        }
    }
    void mediaTypesNeverShapeAPathOutsideTheFolder()
    {
        QFETCH(int, method);
        QFETCH(QByteArray, mediaType);
        QFETCH(QString, type);
        use(method);
        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        const QByteArray victim = "someone else's file";
        fntest::writeFile(outside() + QStringLiteral("escaped"), victim);
        Reply reply = FaultServer::pdf(7000);
        reply.contentType = mediaType;
        m_server.setReply("/t.pdf", reply);
        const RowId id = addRow("/t.pdf", "paper");
        runToEnd();
        QCOMPARE(row(id).state, RowState::Done);
        QCOMPARE(row(id).type, type);
        QTRY_COMPARE(entries(), QStringList{QStringLiteral("paper.") + type});
        QCOMPARE(fntest::readFile(folder() + QStringLiteral("paper.") + type), reply.body);
        QCOMPARE(fntest::readFile(outside() + QStringLiteral("escaped")), victim);
        QCOMPARE(QDir(outside()).entryList(QDir::Files).size(), 1);
    }

    void webPagesAreNeverPapers_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("mediaType");
        QTest::addColumn<int>("size");
        for (int method : {1, 2}) {
            for (int size : {894, 4000, 12000}) {
                QTest::newRow(
                    qPrintable(QStringLiteral("method %1, %2 bytes sent as html").arg(method).arg(size)))
                    << method << QByteArray("text/html; charset=utf-8") << size;
                QTest::newRow(
                    qPrintable(QStringLiteral("method %1, %2 bytes sent as a pdf").arg(method).arg(size)))
                    << method << QByteArray("application/pdf") << size;
            }
            QTest::newRow(qPrintable(QStringLiteral("method %1, sent as octet-stream").arg(method)))
                << method << QByteArray("application/octet-stream") << 6000;
        }
    }
    void webPagesAreNeverPapers()
    {
        QFETCH(int, method);
        QFETCH(QByteArray, mediaType);
        QFETCH(int, size);
        use(method);
        Reply page;
        page.contentType = mediaType;
        page.body = loginPage(size);
        m_server.setReply("/login.pdf", page);
        QSignalSpy pages(m_scheduler->reports(), &TransferReports::webPageReceived);
        const RowId id = addRow("/login.pdf", "paper");
        runToEnd();
        QCOMPARE(row(id).state, RowState::Failed);
        QCOMPARE(row(id).reason.kind, Kind::WebPage);
        QCOMPARE(reasonText(row(id).reason).left(27), QStringLiteral("web page instead of a paper"));
        QCOMPARE(pages.count(), 1);
        QCOMPARE(pages.first().first().value<RowId>(), id);
        QTRY_VERIFY2(entries().isEmpty(), qPrintable(entries().join(u',')));
        QCOMPARE(m_model->totals().failed, 1);
    }

    void onlyAWholeOkIsAFileOnOneConnection()
    {
        // The single connection takes 200 "OK" alone: a reason phrase that merely
        // ends like one is no success, whatever the status.
        use(1);
        struct Case
        {
            int status;
            QByteArray reason;
            RowState state;
        };
        const QList<Case> cases{{404, "Gone 200 OK", RowState::Failed},
                                {200, "Not 200 OK", RowState::Failed},
                                {200, "ok", RowState::Done}};
        QList<RowId> ids;
        for (int i = 0; i < cases.size(); ++i) {
            Reply reply = FaultServer::pdf(4000 + i);
            reply.status = cases.at(i).status;
            reply.reason = cases.at(i).reason;
            const QString path = QStringLiteral("/status%1.pdf").arg(i);
            m_server.setReply(path, reply);
            ids.append(addRow(path, QStringLiteral("status%1").arg(i)));
        }
        runToEnd();
        for (int i = 0; i < cases.size(); ++i)
            QCOMPARE(row(ids.at(i)).state, cases.at(i).state);
        QTRY_COMPARE(entries(), QStringList{QStringLiteral("status2.pdf")});
    }

    void aPaperSentAsHtmlIsStillAPaper()
    {
        // Servers that label everything text/html: the content shows it is a paper.
        for (int method : {1, 2}) {
            use(method);
            Reply pdf = FaultServer::pdf(9000);
            pdf.contentType = "text/html";
            m_server.setReply(QStringLiteral("/mislabelled%1.pdf").arg(method), pdf);
            const RowId id =
                addRow(QStringLiteral("/mislabelled%1.pdf").arg(method), QStringLiteral("m%1").arg(method));
            runToEnd();
            QCOMPARE(row(id).state, RowState::Done);
        }
    }

    void incompleteBodiesAreNeverDone_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("fault");
        for (int method : {1, 2}) {
            for (const char *fault :
                 {"conflicting lengths", "cut gzip", "cut deflate", "cut chunked",
                  "trickle below the stall limit", "garbage gzip", "unknown coding", "gzip bomb"})
                QTest::newRow(qPrintable(QStringLiteral("method %1, %2").arg(method).arg(fault)))
                    << method << fault;
        }
    }
    void incompleteBodiesAreNeverDone()
    {
        QFETCH(int, method);
        QFETCH(QString, fault);
        use(method);
        const QByteArray paper = noise(60000);
        Reply reply;
        reply.body = paper;
        Kind expected = Kind::ShortBody;
        if (fault == u"conflicting lengths") {
            reply.body = FaultServer::pdf(20000).body;
            reply.extraHeaders.append(header("Content-Length", "5"));
        } else if (fault == u"cut gzip" || fault == u"cut deflate") {
            const bool gzip = fault == u"cut gzip";
            reply.body = FaultServer::compressed(paper, gzip);
            reply.body.truncate(reply.body.size() / 2); // sent whole: only the coded stream is short
            reply.extraHeaders.append(header("Content-Encoding", gzip ? "gzip" : "deflate"));
        } else if (fault == u"cut chunked") {
            reply.chunked = true;
            reply.closeAfter = 30000;
        } else if (fault == u"trickle below the stall limit") {
            // One byte every 100 ms: never silent for long, yet far too slow for a
            // paper.
            reply.trickleBytes = 1;
            reply.trickleMs = 100;
            expected = Kind::Stall;
        } else if (fault == u"garbage gzip") {
            reply.extraHeaders.append(header("Content-Encoding", "gzip"));
        } else if (fault == u"gzip bomb") {
            reply.body = FaultServer::compressed(QByteArray(96 * 1024 * 1024, '\0'));
            reply.extraHeaders.append(header("Content-Encoding", "gzip"));
        } else if (fault == u"unknown coding") {
            reply.extraHeaders.append(header("Content-Encoding", "br"));
            expected = Kind::Network;
        }
        m_server.setReply("/body.pdf", reply);
        const RowId id = addRow("/body.pdf", "body");
        runToEnd();
        QCOMPARE(row(id).state, RowState::Failed);
        if (fault != u"cut chunked") // the network layer may name that one itself
            QCOMPARE(row(id).reason.kind, expected);
        QTRY_VERIFY2(entries().isEmpty(), qPrintable(entries().join(u',')));
    }

    void wholeCompressedBodiesArriveDecoded()
    {
        for (int method : {1, 2}) {
            for (bool gzip : {true, false}) {
                use(method);
                const QByteArray paper = noise(50000);
                Reply reply;
                reply.body = FaultServer::compressed(paper, gzip);
                reply.extraHeaders.append(header("Content-Encoding", gzip ? "gzip" : "deflate"));
                const QString path = QStringLiteral("/z%1%2.pdf").arg(method).arg(gzip);
                m_server.setReply(path, reply);
                const RowId id = addRow(path, path.mid(1, 3));
                runToEnd();
                QCOMPARE(row(id).state, RowState::Done);
                QCOMPARE(fntest::readFile(rowFilePath(row(id))), paper);
                QCOMPARE(row(id).size, 50000);
            }
        }
    }

    void anExistingFileSurvivesEveryFailedReplacement_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("fault");
        for (int method : {1, 2}) {
            for (const char *fault : {"error page", "404", "cut body", "stall", "conflicting lengths",
                                      "cut gzip", "no answer", "stop"})
                QTest::newRow(qPrintable(QStringLiteral("method %1, %2").arg(method).arg(fault)))
                    << method << fault;
        }
    }
    void anExistingFileSurvivesEveryFailedReplacement()
    {
        QFETCH(int, method);
        QFETCH(QString, fault);
        use(method);
        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        const QByteArray good = noise(30000);
        fntest::writeFile(folder() + QStringLiteral("kept.pdf"), good);
        Reply reply = FaultServer::pdf(90000);
        if (fault == u"error page") {
            reply.contentType = "text/html";
            reply.body = loginPage(3000);
        } else if (fault == u"404") {
            reply.status = 404;
            reply.reason = "Not Found";
        } else if (fault == u"cut body") {
            reply.closeAfter = 1000;
        } else if (fault == u"stall" || fault == u"stop") {
            reply.stallAfter = 5000;
        } else if (fault == u"conflicting lengths") {
            reply.extraHeaders.append(header("Content-Length", "7"));
        } else if (fault == u"cut gzip") {
            reply.body = FaultServer::compressed(noise(90000), true).left(20000);
            reply.extraHeaders.append(header("Content-Encoding", "gzip"));
        } else if (fault == u"no answer") {
            reply.noAnswer = true;
        }
        m_server.setReply("/kept.pdf", reply);
        const RowId id = addRow("/kept.pdf", "kept");
        if (fault == u"stop") {
            m_scheduler->start();
            QTRY_VERIFY(row(id).downloaded == 5000 || row(id).sizeNote != SizeNote::None);
            m_scheduler->StopDownloads();
            QTRY_VERIFY(!m_scheduler->transfers().anyTransferLive());
        } else {
            runToEnd();
        }
        QCOMPARE(row(id).state, RowState::Failed);
        QCOMPARE(fntest::readFile(folder() + QStringLiteral("kept.pdf")), good);
        QTRY_COMPARE(entries(), QStringList{QStringLiteral("kept.pdf")});
    }

    void aStopAfterTheLastByteKeepsTheFile()
    {
        for (int method : {1, 2}) {
            use(method);
            m_scheduler->options().policy = DuplicatePolicy::Overwrite;
            const Reply reply = FaultServer::pdf(40000, 'w');
            const QString path = QStringLiteral("/whole%1.pdf").arg(method);
            m_server.setReply(path, reply);
            const RowId id = addRow(path, QStringLiteral("whole%1").arg(method));
            // A name the row may replace is looked at first; the start is then at once.
            m_scheduler->tickScheduler();
            QTRY_VERIFY(!m_scheduler->picker().names().busy());
            m_scheduler->start();
            m_scheduler->startDue();
            Downloader *transfer =
                method == 1 ? m_scheduler->transfers().singleTransfer() : m_scheduler->transfers().slot(1);
            QVERIFY(transfer);
            // The stop lands while the transfer reports its last bytes, before it has
            // ended.
            bool stopped = false;
            connect(transfer, &Downloader::DownloadProgress, this, [&](RowId, qint64 received, qint64) {
                if (!stopped && received == 40000) {
                    stopped = true;
                    m_scheduler->StopDownloads();
                }
            });
            QTRY_VERIFY(stopped);
            QTRY_VERIFY(!m_scheduler->transfers().anyTransferLive());
            QCOMPARE(row(id).state, RowState::Done);
            QCOMPARE(fntest::readFile(rowFilePath(row(id))), reply.body);
        }
    }

    void cookiesNeverFollowARedirectToAnotherHost_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void cookiesNeverFollowARedirectToAnotherHost()
    {
        QFETCH(int, method);
        use(method);
        FaultServer other;
        QVERIFY2(other.listen(false, QStringLiteral("127.0.0.2")), "a second loopback address");
        const Reply paper = FaultServer::pdf(8000, 'o');
        other.setReply("/elsewhere.pdf", paper);
        Reply moved;
        moved.status = 302;
        moved.reason = "Found";
        moved.body = "";
        moved.location = other.url("/elsewhere.pdf").toEncoded();
        m_server.setReply("/moved.pdf", moved);
        QNetworkCookie login("session", "secret");
        login.setDomain(QStringLiteral("127.0.0.1"));
        login.setPath(QStringLiteral("/"));
        QVERIFY(m_scheduler->network().cookieJar()->insertCookie(login));

        const RowId id = addRow("/moved.pdf", "moved");
        runToEnd();
        QCOMPARE(row(id).state, RowState::Done);
        QCOMPARE(fntest::readFile(rowFilePath(row(id))), paper.body);
        QCOMPARE(m_server.requests().last().headers.value("cookie"), QByteArray("session=secret"));
        QCOMPARE(other.requestCount(QStringLiteral("/elsewhere.pdf")), 1);
        QVERIFY2(!other.requests().last().headers.contains("cookie"),
                 other.requests().last().headers.value("cookie").constData());
    }

    void redirectsEndInBoundedTime()
    {
        for (int method : {1, 2}) {
            use(method);
            const QString path = QStringLiteral("/loop%1.pdf").arg(method);
            Reply loop;
            loop.status = 302;
            loop.reason = "Found";
            loop.body = "";
            loop.location = path.toUtf8();
            m_server.setReply(path, loop);
            const RowId id = addRow(path, QStringLiteral("loop%1").arg(method));
            runToEnd();
            QCOMPARE(row(id).state, RowState::Failed);
            QCOMPARE(row(id).reason.kind, Kind::Redirect);
        }
    }

    void aNumberedLongNameKeepsItsOwnFile()
    {
        // Two papers with the same long title: the second is saved as name[001],
        // and every later look-up of that row (re-download, open) finds its own
        // file, never the first one's.
        use(2, 1);
        const QString title = QString(80, QChar(0x6587)) + QStringLiteral("-long-title");
        QVERIFY(title.toUtf8().size() + 4 > 240);
        m_server.setReply("/first.pdf", FaultServer::pdf(6000, 'a'));
        m_server.setReply("/second.pdf", FaultServer::pdf(7000, 'b'));
        const RowId first = addRow("/first.pdf", FitNameForDisk(title, QStringLiteral("pdf")));
        const RowId second = addRow("/second.pdf", FitNameForDisk(title, QStringLiteral("pdf")));
        runToEnd();
        QVERIFY(row(second).name.endsWith(QStringLiteral("[001]")));
        QCOMPARE(fntest::readFile(rowFilePath(row(first))), FaultServer::pdf(6000, 'a').body);
        QCOMPARE(fntest::readFile(rowFile(*m_model, second)), FaultServer::pdf(7000, 'b').body);
        QCOMPARE(RowClickPanelText(*m_model, second), rowFilePath(row(second)));
        // Downloaded again, the second takes the place of its own file, not of the first one's nor a third
        // name.
        ResetRow(TestRows::of(*m_model), second);
        QVERIFY(QFile::exists(rowFilePath(row(first))));
        QVERIFY(QFile::exists(rowFile(*m_model, second)));
        m_server.setReply("/second.pdf", FaultServer::pdf(7100, 'c'));
        runToEnd();
        QCOMPARE(row(second).state, RowState::Done);
        QVERIFY(row(second).name.endsWith(QStringLiteral("[001]")));
        QCOMPARE(fntest::readFile(rowFile(*m_model, second)), FaultServer::pdf(7100, 'c').body);
        QTRY_COMPARE(entries().size(), 2);
    }

    void namesOfLiveTransfersAreReservedWithoutMarks()
    {
        // A running transfer leaves nothing under the paper's name until its file
        // is whole; rows after it still see the name as taken.
        use(2, 2);
        Reply slow = FaultServer::pdf(20000);
        slow.stallAfter = 3000;
        m_server.setReply("/slow.pdf", slow);
        m_server.setReply("/fast.pdf", FaultServer::pdf(5000));
        m_scheduler->options().headerTimeoutMs = 3000;
        m_scheduler->options().stallWindowMs = 60000;
        addRow("/slow.pdf", "same");
        const RowId fast = addRow("/fast.pdf", "same");
        m_scheduler->start();
        QTRY_COMPARE(row(fast).state, RowState::Done);
        QCOMPARE(row(fast).name, QStringLiteral("same[001]"));
        const QStringList names = entries();
        QCOMPARE(names.size(), 2);
        QCOMPARE(names.at(1), QStringLiteral("same[001].pdf"));
        QVERIFY2(names.at(0).startsWith(QStringLiteral(".fnpart-")), qPrintable(names.at(0)));
        m_scheduler->StopDownloads();
        QTRY_COMPARE(entries(), QStringList{QStringLiteral("same[001].pdf")});
    }
};

FN_TEST_MAIN_CORE(TestHostile)
#include "tst_hostile.moc"
