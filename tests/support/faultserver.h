#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 whose answers tests configure path by path, faults included:
// any status and reason, missing or wrong Content-Length, chunked bodies, a body cut short, a stall,
// a slow trickle, redirects, cookie-protected files. It also answers requests sent to it as a proxy
// (absolute addresses in the request line) and can speak TLS with a self-signed certificate. A path
// can answer a sequence of replies (a 503, then the file), and a reply can serve byte ranges.
class FaultServer : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray contentType = "application/pdf";
        QByteArray body;
        bool sendLength = true;
        QByteArray lengthText; // overrides the Content-Length value when not empty
        bool chunked = false;
        qint64 closeAfter = -1;    // close the connection after this many body bytes
        qint64 stallAfter = -1;    // stop sending (connection stays open) after this many body bytes
        int trickleBytes = 0;      // send the body this many bytes at a time...
        int trickleMs = 0;         // ...every this many milliseconds
        bool noAnswer = false;     // read the request and never answer
        int answerDelayMs = 0;     // read the request and answer this much later
        QByteArray location;       // redirect target
        QByteArray requiredCookie; // "name=value": without it the answer is the loginPage
        QByteArray loginPage = "<html><head><title>Login</title></head><body>please log in</body></html>";
        QList<QPair<QByteArray, QByteArray>> extraHeaders;
        // Validators sent with the answer when set; If-Range is compared with them.
        QByteArray etag;
        QByteArray lastModified;
        // A 200 answer to a GET honours one byte range ("bytes=N-", "bytes=N-M", "bytes=-S"): 206
        // with Content-Range and exactly those bytes, 416 past the end, the whole body (200) for an
        // If-Range naming another validator or a range it does not serve. Sends Accept-Ranges.
        // Faults (closeAfter, stallAfter, trickle) count the bytes of the answer actually sent.
        bool ranges = false;
    };

    struct Request
    {
        QByteArray method;
        QByteArray target; // as sent (absolute when proxied)
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // lower-case names
        bool proxied = false;
        // When the request came in and when its answer began (ms on the server's monotonic clock; -1
        // while unanswered).
        qint64 receivedMs = -1;
        qint64 answeredMs = -1;
        quint64 serial = 0;
    };

    explicit FaultServer(QObject *parent = nullptr);
    ~FaultServer() override;

    // On 127.0.0.1, or on another loopback address (127.0.0.2 is another host as far as cookies go).
    bool listen(bool tls = false, const QString &address = QStringLiteral("127.0.0.1"));
    quint16 port() const;
    QUrl url(const QString &path) const; // http(s)://address:port + path

    void setReply(const QString &path, const Reply &reply);
    // The n-th request to the path gets the n-th reply, and every one after the last gets the last.
    // Setting replies for a path starts its sequence over.
    void setReplies(const QString &path, const QList<Reply> &replies);
    // A whole one-page PDF of exactly size bytes, padded with fill bytes in a comment; below about 470 bytes
    // only a header, fill bytes and an end mark.
    static Reply pdf(qint64 size, char fill = 'p');
    // A gzip (or zlib-wrapped deflate) stream of data, as a server sends a compressed body.
    static QByteArray compressed(const QByteArray &data, bool gzip = true);

    QList<Request> requests() const;
    int requestCount(const QString &path) const;
    void clearRequests();
    // Stalled and trickling connections are closed.
    void releaseAll();

private:
    void onConnection(QTcpSocket *socket);
    void serve(QTcpSocket *socket, const Request &request);
    void answer(QTcpSocket *socket, const Request &request, Reply reply);
    Reply nextReply(const QByteArray &path);

    struct Script
    {
        QList<Reply> replies;
        int served = 0;
    };

    QTcpServer *m_server = nullptr;
    bool m_tls = false;
    QString m_address;
    QHash<QByteArray, Script> m_scripts;
    QList<Request> m_requests;
    QList<QTcpSocket *> m_open;
    QElapsedTimer m_clock;
    quint64 m_served = 0;
};
