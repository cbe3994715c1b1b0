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

    void rangesAreServedWithTheirValidators()
    {
        const FaultServer::Reply reply = rangedPdf();
        m_server.setReply(u"/r.pdf"_qs, reply);
        Answer answer = fetch(m_server, "/r.pdf", "Range: bytes=10-19\r\n");
        QCOMPARE(answer.status, 206);
        QCOMPARE(answer.body, reply.body.mid(10, 10));
        QCOMPARE(answer.headers.value("content-range"), QByteArray("bytes 10-19/10000"));
        QCOMPARE(answer.headers.value("content-length"), QByteArray("10"));
        QCOMPARE(answer.headers.value("accept-ranges"), QByteArray("bytes"));
        QCOMPARE(answer.headers.value("etag"), reply.etag);
        QCOMPARE(answer.headers.value("last-modified"), reply.lastModified);

        // If-Range with either validator; with another one, or past the end.
        answer = fetch(m_server, "/r.pdf", "Range: bytes=-100\r\nIf-Range: " + reply.lastModified + "\r\n");
        QCOMPARE(answer.status, 206);
        QCOMPARE(answer.body, reply.body.right(100));
        answer = fetch(m_server, "/r.pdf", "Range: bytes=4000-\r\nIf-Range: \"v0\"\r\n");
        QCOMPARE(answer.status, 200);
        QVERIFY(answer.body == reply.body && !answer.headers.contains("content-range"));
        answer = fetch(m_server, "/r.pdf", "Range: bytes=10000-\r\n");
        QCOMPARE(answer.status, 416);
        QCOMPARE(answer.headers.value("content-range"), QByteArray("bytes */10000"));
        QVERIFY(answer.body.isEmpty());
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
        FaultServer::Reply locked = rangedPdf(); // the login page in place of the file is never sliced
        locked.requiredCookie = "s=1";
        m_server.setReply(u"/plain.pdf"_qs, plain);
        m_server.setReply(u"/locked.pdf"_qs, locked);
        const Answer whole = fetch(m_server, "/plain.pdf", "Range: bytes=100-\r\n");
        QVERIFY(whole.status == 200 && whole.body == plain.body && !whole.headers.contains("accept-ranges"));
        const Answer login = fetch(m_server, "/locked.pdf", "Range: bytes=5-\r\n");
        QVERIFY(login.status == 200 && login.body == locked.loginPage && !login.headers.contains("etag"));
    }
};

FN_TEST_MAIN_CORE(TestFaultServer)
#include "tst_faultserver.moc"
