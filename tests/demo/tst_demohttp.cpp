// How the demo site speaks HTTP: framing, pipelining, refused requests, kept-alive connections, ranges,
// and flaky transfers that a resuming client completes.

#include "demo/demoflaky.h"
#include "democlient.h"
#include "testenv.h"

using namespace democlient;

class TestDemoHttp : public DemoSiteFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_site.listen());
        QVERIFY(m_site.port() != 0);
    }
    void init() { reset(); }

    void filesWithoutLengthAreFramedProperly()
    {
        const int chunkedPaper = m_site.catalog().papersOfKind(DemoPaperKind::ChunkedPdf).value(0);
        const int unsizedPaper = m_site.catalog().papersOfKind(DemoPaperKind::UnsizedPdf).value(0);
        QVERIFY(chunkedPaper > 0 && unsizedPaper > 0);
        const auto request = [](int n, const char *version) {
            return "GET /paper/" + QByteArray::number(n) + ".pdf " + version +
                   "\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        };

        RawAnswer chunked = splitAnswer(exchange(m_site.port(), request(chunkedPaper, "HTTP/1.1")));
        QCOMPARE(chunked.header("Transfer-Encoding"), QByteArray("chunked"));
        QVERIFY(!chunked.has("Content-Length"));
        int chunks = 0;
        QCOMPARE(dechunk(chunked.body, &chunks), m_site.paperBytes(chunkedPaper));
        QVERIFY(chunks > 1);

        // An HTTP/1.0 client cannot read chunks: it gets the body ended by the close.
        bool closed = false;
        RawAnswer old = splitAnswer(exchange(m_site.port(), request(chunkedPaper, "HTTP/1.0"), &closed));
        QVERIFY(closed);
        QVERIFY(!old.has("Transfer-Encoding") && !old.has("Content-Length"));
        QCOMPARE(old.body, m_site.paperBytes(chunkedPaper));

        RawAnswer unsized = splitAnswer(
            exchange(m_site.port(),
                     "GET /paper/" + QByteArray::number(unsizedPaper) + ".pdf HTTP/1.1\r\n\r\n", &closed));
        QVERIFY2(closed, "a body without length must end with the connection");
        QVERIFY(!unsized.has("Content-Length") && !unsized.has("Transfer-Encoding"));
        QCOMPARE(unsized.header("Connection"), QByteArray("close"));
        QCOMPARE(unsized.body, m_site.paperBytes(unsizedPaper));
    }

    void pipelinedAndHeadRequestsKeepTheirOrder()
    {
        const QByteArray pdf = m_site.paperBytes(1);
        const QByteArray raw =
            exchange(m_site.port(), "HEAD /paper/1.pdf HTTP/1.1\r\nHost: x\r\n\r\n"
                                    "GET /paper/1.pdf HTTP/1.1\r\nHost: x\r\n\r\n"
                                    "GET /nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        const RawAnswer head = splitAnswer(raw);
        QCOMPARE(head.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(head.header("Content-Length").toLongLong(), pdf.size());
        const RawAnswer second = splitAnswer(head.body); // a HEAD answer has no body
        QCOMPARE(second.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(second.body.left(pdf.size()), pdf);
        const RawAnswer third = splitAnswer(second.body.mid(pdf.size()));
        QCOMPARE(third.statusLine, QByteArray("HTTP/1.1 404 Not Found"));
        QCOMPARE(third.body.size(), third.header("Content-Length").toLongLong());
    }

    void unknownAndBadRequestsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        const auto get = [](const QByteArray &path) {
            return "GET " + path + " HTTP/1.1\r\nConnection: close\r\n\r\n";
        };
        QTest::newRow("unknown page") << get("/nope") << QByteArray("404");
        QTest::newRow("paper 0") << get("/paper/0.pdf") << QByteArray("404");
        QTest::newRow("paper past the last") << get("/paper/26.pdf") << QByteArray("404");
        QTest::newRow("paper number with a leading zero") << get("/paper/01.pdf") << QByteArray("404");
        QTest::newRow("paper number that is no number") << get("/paper/abc.pdf") << QByteArray("404");
        QTest::newRow("paper number too large for an int")
            << get("/paper/99999999999.pdf") << QByteArray("404");
        QTest::newRow("path below a file") << get("/paper/1.pdf/x") << QByteArray("404");
        QTest::newRow("large file not set") << get("/files/large.pdf") << QByteArray("404");
        QTest::newRow("posting a search")
            << QByteArray("POST /search HTTP/1.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            << QByteArray("405");
        QTest::newRow("garbage request line") << QByteArray("HELLO\r\n\r\n") << QByteArray("400");
        QTest::newRow("header line without colon")
            << QByteArray("GET / HTTP/1.1\r\nbroken\r\n\r\n") << QByteArray("400");
        QTest::newRow("endless head")
            << "GET / HTTP/1.1\r\nX: " + QByteArray(70000, 'a') << QByteArray("431");
        QTest::newRow("body too large")
            << QByteArray("POST /login HTTP/1.1\r\nContent-Length: 9999999\r\n\r\n") << QByteArray("413");
    }

    void unknownAndBadRequestsAreRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        bool closed = false;
        const RawAnswer answer = splitAnswer(exchange(m_site.port(), request, &closed));
        QVERIFY2(answer.statusLine.startsWith("HTTP/1.1 " + status), answer.statusLine.constData());
        QVERIFY(closed);
    }

    void connectionsAreKeptAliveAndServedConcurrently()
    {
        QNetworkAccessManager nam;
        const int before = m_site.connectionCount();
        for (int i = 0; i < 15; ++i)
            QCOMPARE(get(nam, m_site.searchUrl(QString(), i % 3 + 1)).status, 200);
        QVERIFY2(m_site.connectionCount() - before <= 2, "sequential requests should reuse the connection");

        m_site.largeFile().setSize(8 * 1024 * 1024);
        QList<QPair<QNetworkReply *, QByteArray>> replies;
        for (QNetworkAccessManager *client :
             {&nam, new QNetworkAccessManager(&nam), new QNetworkAccessManager(&nam)}) {
            replies.append({client->get(QNetworkRequest(m_site.largeFileUrl())),
                            m_site.largeFile().bytes(0, m_site.largeFile().size())});
            for (int n = 1; n <= m_site.paperCount(); ++n) {
                if (m_site.paperStatus(n) == 200)
                    replies.append(
                        {client->get(QNetworkRequest(m_site.paperFileUrl(n))), m_site.paperBytes(n)});
            }
        }
        for (const auto &[reply, expected] : replies) {
            QVERIFY(waitFor(reply, 60000));
            QCOMPARE(reply->error(), QNetworkReply::NoError);
            QVERIFY2(reply->readAll() == expected, qPrintable(reply->url().toString()));
            reply->deleteLater();
        }
        m_site.largeFile().setFile(QString());
    }

    void rangesAnswerExactlyTheAskedBytes_data()
    {
        // SIZE in a range stands for the file's size; a negative offset counts from the end.
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<QByteArray>("ifRange"); // ETAG: the file's own
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        const auto row = [](const char *name, const char *range, int status, qint64 first = 0,
                            qint64 last = -1, const char *ifRange = "") {
            QTest::newRow(name) << QByteArray(range) << QByteArray(ifRange) << status << first << last;
        };
        row("the rest from an offset", "bytes=100-", 206, 100);
        row("everything as a range", "bytes=0-", 206);
        row("a closed range", "bytes=100-199", 206, 100, 199);
        row("a single byte", "bytes=100-100", 206, 100, 100);
        row("an end past the file is cut", "bytes=100-99999999", 206, 100);
        row("an end beyond 64 bits", "bytes=5-99999999999999999999999", 206, 5);
        row("the last 500 bytes", "bytes=-500", 206, -500);
        row("a suffix longer than the file", "bytes=-99999999", 206);
        row("unit in capitals, blanks around", "BYTES= 10-19 ", 206, 10, 19);
        row("starting at the end: 416", "bytes=SIZE-", 416);
        row("a start beyond 64 bits: 416", "bytes=99999999999999999999-", 416);
        row("an empty suffix: 416", "bytes=-0", 416);
        for (const char *ignored : {"bytes=200-100", "bytes=0-1,5-6", "items=0-10", "bytes=abc-",
                                    "bytes=-5-10", "bytes=", "bytes=+5-", "bytes 5-", "bytes=5"})
            QTest::addRow("not served, the whole file: %s", ignored)
                << QByteArray(ignored) << QByteArray() << 200 << 0LL << -1LL;
        row("If-Range with the file's ETag", "bytes=100-", 206, 100, -1, "ETAG");
        row("If-Range with another ETag", "bytes=100-", 200, 0, -1, "\"0123\"");
        row("If-Range with the weak ETag", "bytes=100-", 200, 0, -1, "W/ETAG");
        row("If-Range with a date", "bytes=100-", 200, 0, -1, "Wed, 21 Oct 2015 07:28:00 GMT");
        row("If-Range with another ETag beats a range past the end", "bytes=SIZE-", 200, 0, -1, "\"0123\"");
    }

    void rangesAnswerExactlyTheAskedBytes()
    {
        QFETCH(QByteArray, range);
        QFETCH(QByteArray, ifRange);
        QFETCH(int, status);
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        const QByteArray bytes = m_site.paperBytes(1);
        const QByteArray etag = m_site.catalog().paperETag(1);
        range.replace("SIZE", QByteArray::number(bytes.size()));
        ifRange.replace("ETAG", etag);
        const RawAnswer answer =
            rawGet(m_site.port(), "/paper/1.pdf",
                   "Range: " + range + "\r\n" + (ifRange.isEmpty() ? "" : "If-Range: " + ifRange + "\r\n"));
        QVERIFY2(answer.statusLine.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '),
                 answer.statusLine);
        QCOMPARE(answer.body.size(), answer.header("Content-Length").toLongLong());
        QCOMPARE(answer.header("ETag"), etag);
        const QByteArray size = QByteArray::number(bytes.size());
        if (status == 416) {
            QCOMPARE(answer.header("Content-Range"), "bytes */" + size);
            QVERIFY(!answer.body.contains("%PDF"));
            return;
        }
        QCOMPARE(answer.header("Accept-Ranges"), QByteArray("bytes"));
        first = first < 0 ? bytes.size() + first : first;
        last = last < 0 ? bytes.size() + last : last;
        const QByteArray span = QByteArray::number(first) + '-' + QByteArray::number(last) + '/' + size;
        QCOMPARE(answer.header("Content-Range"), status == 206 ? "bytes " + span : QByteArray());
        QVERIFY(answer.body == bytes.mid(first, last - first + 1));
    }

    void rangesServeEveryKindOfFile()
    {
        QSet<QByteArray> etags;
        for (int n = 1; n <= m_site.paperCount(); ++n) {
            const QByteArray path = "/paper/" + QByteArray::number(n) + ".pdf";
            const qint64 from = m_site.paperBytes(n).size() / 2;
            const RawAnswer answer =
                rawGet(m_site.port(), path, "Range: bytes=" + QByteArray::number(from) + "-\r\n");
            const QByteArray what = demoPaperKindName(m_site.paperKind(n)).toUtf8();
            if (m_site.paperStatus(n) != 200) { // no ranges on a 404
                QVERIFY2(answer.statusLine.startsWith("HTTP/1.1 404") && !answer.has("ETag"), what);
                continue;
            }
            QVERIFY2(answer.statusLine == "HTTP/1.1 206 Partial Content", what);
            int chunks = 0;
            const bool chunked = answer.header("Transfer-Encoding") == "chunked";
            QVERIFY2((chunked ? dechunk(answer.body, &chunks) : answer.body) ==
                         m_site.paperBytes(n).mid(from),
                     what);
            // The same validator every time, and one per file.
            QCOMPARE(answer.header("ETag"), m_site.catalog().paperETag(n));
            QCOMPARE(rawGet(m_site.port(), path).header("ETag"), m_site.catalog().paperETag(n));
            etags.insert(answer.header("ETag"));
        }
        QCOMPARE(etags.size(),
                 m_site.paperCount() - m_site.catalog().papersOfKind(DemoPaperKind::Missing).size());

        // Ranges are for GET: a HEAD tells about the whole file.
        const RawAnswer head = splitAnswer(exchange(
            m_site.port(), "HEAD /paper/1.pdf HTTP/1.1\r\nRange: bytes=10-\r\nConnection: close\r\n\r\n"));
        QCOMPARE(head.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(head.header("Content-Length").toLongLong(), m_site.paperBytes(1).size());

        // The large file takes ranges as well.
        m_site.largeFile().setSize(3 * 1024 * 1024);
        const RawAnswer large = rawGet(m_site.port(), "/files/large.pdf", "Range: bytes=1000000-2500000\r\n");
        QVERIFY(large.body == m_site.largeFile().bytes(1000000, 1500001));
        QVERIFY(!large.header("ETag").isEmpty());
        m_site.largeFile().setFile(QString());
    }

    void flakyTransfersResumeToIdenticalBytes()
    {
        m_site.faults().setFlakySeed(7);
        m_site.faults().setFlakyPercent(50);
        const int droppedBefore = m_site.faults().droppedTransfers();
        const qint64 sentBefore = m_site.faults().paperBytesSent();
        int resumes = 0;
        qint64 received = 0;
        for (int n = 1; n <= m_site.paperCount(); ++n) {
            if (m_site.paperStatus(n) != 200)
                continue;
            const QByteArray what = "paper " + QByteArray::number(n);
            QByteArray file;
            for (bool whole = false; !whole;) {
                resumes += file.isEmpty() ? 0 : 1;
                const qint64 cut = m_site.faults().plannedCut(n, file.size());
                const auto [got, ended] = fetchRest(n, file.size());
                QVERIFY2(!got.isEmpty(), what + ": an answer without a byte");
                // A dropped answer never looks whole, and ends where it was planned to.
                QCOMPARE(ended, cut < 0);
                if (cut >= 0)
                    QCOMPARE(file.size() + got.size(), cut);
                file += got;
                received += got.size();
                whole = ended;
            }
            QVERIFY2(file == m_site.paperBytes(n), what);
        }
        QVERIFY2(resumes >= 3, "with half the transfers dropped, several papers need resuming");
        QCOMPARE(m_site.faults().droppedTransfers() - droppedBefore, resumes); // each drop, one resume
        QCOMPARE(m_site.faults().paperBytesSent() - sentBefore, received);
    }

    void flakyDropsAlwaysMoveOn()
    {
        // A client that always starts over gets the paper too: each drop lands past the last one, and
        // after a few the paper goes through whole.
        m_site.faults().setFlakyPercent(100);
        const QByteArray bytes = m_site.paperBytes(1);
        qint64 previous = 0;
        for (int attempt = 1; attempt <= DemoFlaky::kMaxDrops; ++attempt) {
            const qint64 cut = m_site.faults().plannedCut(1);
            QVERIFY(cut > previous && cut < bytes.size());
            QVERIFY(rawGet(m_site.port(), "/paper/1.pdf").body == bytes.left(cut));
            previous = cut;
        }
        QCOMPARE(m_site.faults().plannedCut(1), -1);
        QVERIFY(rawGet(m_site.port(), "/paper/1.pdf").body == bytes);
        QVERIFY(m_site.faults().plannedCut(1) > 0); // once whole, it may be dropped again

        // Bodies that only the close ends are never dropped: the client could not tell.
        const int unsized = m_site.catalog().papersOfKind(DemoPaperKind::UnsizedPdf).first();
        QCOMPARE(rawGet(m_site.port(), "/paper/" + QByteArray::number(unsized) + ".pdf").body,
                 m_site.paperBytes(unsized));
        const int chunked = m_site.catalog().papersOfKind(DemoPaperKind::ChunkedPdf).first();
        QCOMPARE(
            rawGet(m_site.port(), "/paper/" + QByteArray::number(chunked) + ".pdf", "", nullptr, "HTTP/1.0")
                .body,
            m_site.paperBytes(chunked));

        // The same seed drops the same transfers, and about the share asked for.
        const auto firstCuts = [&](quint64 seed) {
            m_site.faults().setFlakySeed(seed);
            m_site.faults().setFlakyPercent(10);
            QList<qint64> cuts;
            for (int n = 1; n <= 2000; ++n)
                cuts.append(m_site.faults().plannedCut(n));
            return cuts;
        };
        const QList<qint64> cuts = firstCuts(11);
        QCOMPARE(firstCuts(11), cuts);
        QVERIFY(firstCuts(12) != cuts);
        const qsizetype dropped = cuts.size() - cuts.count(-1);
        QVERIFY2(dropped > 2000 * 23 / 25 * 7 / 100 &&
                     dropped < 2000 * 23 / 25 * 13 / 100, // 23 of 25 may drop
                 qPrintable(QString::number(dropped)));
    }
};

FN_TEST_MAIN_CORE(TestDemoHttp)
#include "tst_demohttp.moc"
