#include "faultserver.h"
#include "testenv.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

struct Answer
{
    int status = 0;
    QHash<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
    bool closed = false; // the server ended the connection
};

// A GET with extra header lines; reads until the server closes the connection.
Answer fetch(FaultServer &server, const QByteArray &path, const QByteArray &extraHeaders = QByteArray())
{
    QTcpSocket socket;
    QByteArray raw;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] {
        socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
    });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] { raw += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    loop.exec();
    raw += socket.readAll();

    Answer answer;
    answer.closed = socket.state() != QAbstractSocket::ConnectedState;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = raw.left(end).split('\n');
    answer.status = lines.value(0).split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        answer.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                              lines.at(i).mid(colon + 1).trimmed());
    }
    answer.body = end < 0 ? QByteArray() : raw.mid(end + 4);
    return answer;
}

FaultServer::Reply status(int code, const QByteArray &reason)
{
    FaultServer::Reply reply;
    reply.status = code;
    reply.reason = reason;
    reply.contentType = "text/html";
    reply.body = "<html><body>" + reason + "</body></html>";
    return reply;
}

FaultServer::Reply rangedPdf()
{
    FaultServer::Reply reply = FaultServer::pdf(10000);
    for (qsizetype i = 9; i < reply.body.size(); ++i)
        reply.body[i] = char('a' + i % 26); // every offset tells where it came from
    reply.ranges = true;
    reply.etag = "\"v1\"";
    reply.lastModified = "Wed, 21 Oct 2015 07:28:00 GMT";
    return reply;
}

} // namespace

class TestFaultServer : public QObject
{
    Q_OBJECT

    FaultServer m_server;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.listen()); }
    void init() { m_server.clearRequests(); }

    void repliesFollowTheirSequenceAndTheLastRepeats()
    {
        m_server.setReplies(u"/f"_qs, {status(503, "Service Unavailable"),
                                       status(500, "Internal Server Error"), FaultServer::pdf(3000)});
        m_server.setReply(u"/other"_qs, status(410, "Gone"));
        QList<int> seen;
        for (int i = 0; i < 4; ++i) {
            seen.append(fetch(m_server, "/f").status);
            QCOMPARE(fetch(m_server, "/other").status, 410); // paths keep their own count
        }
        QCOMPARE(seen, (QList<int>{503, 500, 200, 200}));
        QCOMPARE(fetch(m_server, "/f").body, FaultServer::pdf(3000).body);
        QCOMPARE(m_server.requestCount(u"/f"_qs), 5);

        // Setting the replies again starts the sequence over; none at all, and the path is gone.
        m_server.setReplies(u"/f"_qs, {status(429, "Too Many Requests"), FaultServer::pdf(10)});
        QCOMPARE(fetch(m_server, "/f").status, 429);
        QCOMPARE(fetch(m_server, "/f").status, 200);
        m_server.setReplies(u"/f"_qs, {});
        QCOMPARE(fetch(m_server, "/f").status, 404);
    }

    void rangesAreServedExactly_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("first"); // of the bytes sent
        QTest::addColumn<qint64>("length");
        QTest::newRow("no range: whole") << QByteArray() << 200 << 0LL << 10000LL;
        QTest::newRow("the rest") << QByteArray("Range: bytes=4000-\r\n") << 206 << 4000LL << 6000LL;
        QTest::newRow("a closed range") << QByteArray("Range: bytes=10-19\r\n") << 206 << 10LL << 10LL;
        QTest::newRow("the last bytes") << QByteArray("Range: bytes=-100\r\n") << 206 << 9900LL << 100LL;
        QTest::newRow("If-Range with the ETag")
            << QByteArray("Range: bytes=4000-\r\nIf-Range: \"v1\"\r\n") << 206 << 4000LL << 6000LL;
        QTest::newRow("If-Range with the date")
            << QByteArray("Range: bytes=4000-\r\nIf-Range: Wed, 21 Oct 2015 07:28:00 GMT\r\n") << 206
            << 4000LL << 6000LL;
        QTest::newRow("If-Range with another ETag: whole")
            << QByteArray("Range: bytes=4000-\r\nIf-Range: \"v0\"\r\n") << 200 << 0LL << 10000LL;
        QTest::newRow("If-Range with another date: whole")
            << QByteArray("Range: bytes=4000-\r\nIf-Range: Thu, 22 Oct 2015 07:28:00 GMT\r\n") << 200 << 0LL
            << 10000LL;
        QTest::newRow("several ranges: whole")
            << QByteArray("Range: bytes=0-9,20-29\r\n") << 200 << 0LL << 10000LL;
        QTest::newRow("past the end: 416") << QByteArray("Range: bytes=10000-\r\n") << 416 << 0LL << 0LL;
    }
    void rangesAreServedExactly()
    {
        QFETCH(QByteArray, headers);
        QFETCH(int, status);
        QFETCH(qint64, first);
        QFETCH(qint64, length);
        const FaultServer::Reply reply = rangedPdf();
        m_server.setReply(u"/r.pdf"_qs, reply);
        const Answer answer = fetch(m_server, "/r.pdf", headers);
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.headers.value("accept-ranges"), QByteArray("bytes"));
        QCOMPARE(answer.headers.value("etag"), reply.etag);
        QCOMPARE(answer.headers.value("last-modified"), reply.lastModified);
        QVERIFY(answer.body == reply.body.mid(first, length));
        QCOMPARE(answer.headers.value("content-length").toLongLong(), length);
        if (status == 206) {
            QCOMPARE(answer.headers.value("content-range"), "bytes " + QByteArray::number(first) + '-' +
                                                                QByteArray::number(first + length - 1) +
                                                                "/10000");
        } else {
            QCOMPARE(answer.headers.value("content-range"),
                     status == 416 ? QByteArray("bytes */10000") : QByteArray());
        }
    }

    void faultsCountTheBytesOfTheRangedAnswer()
    {
        // A transfer dropped after 1000 bytes, then resumed: the pieces make up the file.
        FaultServer::Reply dropped = rangedPdf();
        dropped.closeAfter = 1000;
        FaultServer::Reply trickling = rangedPdf();
        trickling.closeAfter = 2500;
        trickling.trickleBytes = 700;
        trickling.trickleMs = 1;
        m_server.setReplies(u"/resume.pdf"_qs, {dropped, trickling, rangedPdf()});

        const Answer first = fetch(m_server, "/resume.pdf");
        QCOMPARE(first.status, 200);
        QCOMPARE(first.headers.value("content-length"), QByteArray("10000"));
        QVERIFY(first.closed);
        QCOMPARE(first.body.size(), 1000);

        const Answer second = fetch(m_server, "/resume.pdf", "Range: bytes=1000-\r\nIf-Range: \"v1\"\r\n");
        QCOMPARE(second.status, 206);
        QCOMPARE(second.headers.value("content-length"), QByteArray("9000"));
        QCOMPARE(second.body.size(), 2500); // cut within the range, not within the file

        const Answer third = fetch(m_server, "/resume.pdf", "Range: bytes=3500-\r\nIf-Range: \"v1\"\r\n");
        QCOMPARE(third.status, 206);
        QVERIFY(first.body + second.body + third.body == rangedPdf().body);

        const QList<FaultServer::Request> requests = m_server.requests();
        QCOMPARE(requests.size(), 3);
        QVERIFY(!requests.at(0).headers.contains("range"));
        QCOMPARE(requests.at(1).headers.value("range"), QByteArray("bytes=1000-"));
        QCOMPARE(requests.at(2).headers.value("if-range"), QByteArray("\"v1\""));
    }

    void rangesAreIgnoredUnlessAsked()
    {
        FaultServer::Reply plain = rangedPdf();
        plain.ranges = false;
        m_server.setReply(u"/plain.pdf"_qs, plain);
        Answer answer = fetch(m_server, "/plain.pdf", "Range: bytes=100-\r\n");
        QCOMPARE(answer.status, 200);
        QVERIFY(!answer.headers.contains("accept-ranges"));
        QVERIFY(answer.body == plain.body);

        // Other statuses, and the login page in place of a cookie-protected file, are never sliced.
        FaultServer::Reply error = status(500, "Internal Server Error");
        error.ranges = true;
        m_server.setReply(u"/error"_qs, error);
        answer = fetch(m_server, "/error", "Range: bytes=5-\r\n");
        QCOMPARE(answer.status, 500);
        QCOMPARE(answer.body, error.body);
        FaultServer::Reply locked = rangedPdf();
        locked.requiredCookie = "s=1";
        m_server.setReply(u"/locked.pdf"_qs, locked);
        answer = fetch(m_server, "/locked.pdf", "Range: bytes=5-\r\n");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.body, locked.loginPage);
        QVERIFY(!answer.headers.contains("etag"));
    }
};

FN_TEST_MAIN_CORE(TestFaultServer)
#include "tst_faultserver.moc"
