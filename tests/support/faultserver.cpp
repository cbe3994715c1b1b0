#include "faultserver.h"

#include "core/common/rangerequest.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <zlib.h>

namespace {

QByteArray chunk(const QByteArray &data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

} // namespace

FaultServer::FaultServer(QObject *parent) : QObject(parent)
{
    m_clock.start();
}

FaultServer::~FaultServer()
{
    releaseAll();
}

namespace {

// The objects, cross-reference table and trailer of a one-page PDF whose first object starts at start.
QByteArray pdfTail(qint64 start)
{
    const QByteArray content = "BT /F1 12 Tf 72 720 Td (paper) Tj ET";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    QByteArray tail;
    QByteArray xref = "xref\n0 5\n0000000000 65535 f \n";
    for (int i = 0; i < objects.size(); ++i) {
        xref += QByteArray::number(start + tail.size()).rightJustified(10, '0') + " 00000 n \n";
        tail += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qint64 xrefAt = start + tail.size();
    return tail + xref + "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xrefAt) +
           "\n%%EOF\n";
}

} // namespace

FaultServer::Reply FaultServer::pdf(qint64 size, char fill)
{
    Reply reply;
    // A whole PDF of exactly that size, padded with a comment of fill bytes after its header; one too small
    // for that is a header, fill bytes and the end mark.
    const QByteArray head = "%PDF-1.4\n%";
    for (qint64 padding = size - head.size() - 1 - pdfTail(0).size(), round = 0; padding >= 0 && round < 3;
         ++round) {
        const QByteArray tail = pdfTail(head.size() + padding + 1);
        const qint64 fits = size - head.size() - 1 - tail.size();
        if (fits == padding) {
            reply.body = head + QByteArray(padding, fill) + "\n" + tail;
            return reply;
        }
        padding = fits;
    }
    reply.body = "%PDF-1.4\n" + QByteArray(std::max<qint64>(0, size - 9), fill);
    reply.body.truncate(size);
    const QByteArray end("\n%%EOF\n");
    if (size >= 9 + end.size())
        reply.body.replace(size - end.size(), end.size(), end);
    return reply;
}

QByteArray FaultServer::compressed(const QByteArray &data, bool gzip)
{
    z_stream z{};
    deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, gzip ? 16 + MAX_WBITS : MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(static_cast<qsizetype>(z.total_out));
    deflateEnd(&z);
    return out;
}

bool FaultServer::listen(bool tls, const QString &address)
{
    m_tls = tls;
    m_address = address;
    if (tls) {
        auto *server = new QSslServer(this);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        QFile cert(QStringLiteral(FN_TEST_SUPPORT_DIR "/selfsigned.crt"));
        QFile key(QStringLiteral(FN_TEST_SUPPORT_DIR "/selfsigned.key"));
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
            return false;
        config.setLocalCertificate(QSslCertificate(cert.readAll()));
        config.setPrivateKey(QSslKey(key.readAll(), QSsl::Rsa));
        server->setSslConfiguration(config);
        m_server = server;
    } else {
        m_server = new QTcpServer(this);
    }
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection())
            onConnection(socket);
    });
    return m_server->listen(QHostAddress(address), 0);
}

quint16 FaultServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QUrl FaultServer::url(const QString &path) const
{
    return QUrl(
        QStringLiteral("%1://%2:%3%4").arg(m_tls ? "https" : "http", m_address).arg(port()).arg(path));
}

void FaultServer::setReply(const QString &path, const Reply &reply)
{
    setReplies(path, {reply});
}

void FaultServer::setReplies(const QString &path, const QList<Reply> &replies)
{
    if (replies.isEmpty())
        m_scripts.remove(path.toUtf8());
    else
        m_scripts.insert(path.toUtf8(), Script{replies, 0});
}

FaultServer::Reply FaultServer::nextReply(const QByteArray &path)
{
    const auto script = m_scripts.find(path);
    if (script == m_scripts.end()) {
        Reply missing;
        missing.status = 404;
        missing.reason = "Not Found";
        missing.contentType = "text/html";
        missing.body = "<html><head><TITLE>404 Not Found</TITLE></head><body>missing</body></html>";
        return missing;
    }
    const int at = std::min<int>(script->served, script->replies.size() - 1);
    ++script->served;
    return script->replies.at(at);
}

namespace {

// Narrows a reply to the byte range the request asks for, as a server that serves ranges does.
void answerRange(FaultServer::Reply &reply, const FaultServer::Request &request)
{
    if (!reply.ranges || reply.status != 200 || request.method != "GET")
        return;
    const RangeAnswer range =
        RangeAnswer::read(request.headers.value("range"), request.headers.value("if-range"),
                          reply.body.size(), reply.etag, reply.lastModified);
    switch (range.kind) {
    case RangeAnswer::Kind::Whole:
        return;
    case RangeAnswer::Kind::Partial:
        reply.status = 206;
        reply.reason = "Partial Content";
        reply.body = reply.body.mid(range.first, range.length());
        break;
    case RangeAnswer::Kind::Unsatisfiable:
        reply.status = 416;
        reply.reason = "Range Not Satisfiable";
        reply.body.clear();
        break;
    }
    reply.extraHeaders.append({"Content-Range", range.contentRange()});
}

} // namespace

QList<FaultServer::Request> FaultServer::requests() const
{
    return m_requests;
}

int FaultServer::requestCount(const QString &path) const
{
    int n = 0;
    for (const Request &r : m_requests)
        n += r.path == path.toUtf8() ? 1 : 0;
    return n;
}

void FaultServer::clearRequests()
{
    m_requests.clear();
}

void FaultServer::releaseAll()
{
    const QList<QTcpSocket *> open = m_open;
    m_open.clear();
    for (QTcpSocket *s : open) {
        s->abort();
        s->deleteLater();
    }
}

void FaultServer::onConnection(QTcpSocket *socket)
{
    m_open.append(socket);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        m_open.removeAll(socket);
        socket->deleteLater();
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer->left(end).split('\n');
        buffer->clear();
        Request request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        request.path = request.target;
        if (request.target.startsWith("http://") || request.target.startsWith("https://")) {
            request.proxied = true;
            request.path = QUrl(QString::fromUtf8(request.target)).path().toUtf8();
        }
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon > 0)
                request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                       lines.at(i).mid(colon + 1).trimmed());
        }
        request.receivedMs = m_clock.elapsed();
        request.serial = ++m_served;
        m_requests.append(request);
        serve(socket, request);
    });
}

void FaultServer::serve(QTcpSocket *socket, const Request &request)
{
    const Reply reply = nextReply(request.path);
    if (reply.noAnswer)
        return;
    if (reply.answerDelayMs > 0) {
        QTimer::singleShot(reply.answerDelayMs, socket,
                           [this, socket, request, reply] { answer(socket, request, reply); });
        return;
    }
    answer(socket, request, reply);
}

void FaultServer::answer(QTcpSocket *socket, const Request &request, Reply reply)
{
    for (Request &asked : m_requests) {
        if (asked.serial == request.serial)
            asked.answeredMs = m_clock.elapsed();
    }
    if (!reply.requiredCookie.isEmpty() && !request.headers.value("cookie").contains(reply.requiredCookie)) {
        reply.contentType = "text/html";
        reply.body = reply.loginPage;
        reply.chunked = false;
        reply.sendLength = true;
        reply.lengthText.clear();
        reply.ranges = false;
        reply.etag.clear();
        reply.lastModified.clear();
    }
    answerRange(reply, request);
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status);
    if (!reply.reason.isNull())
        head += " " + reply.reason;
    head += "\r\nConnection: close\r\n";
    if (!reply.contentType.isEmpty())
        head += "Content-Type: " + reply.contentType + "\r\n";
    if (!reply.location.isEmpty())
        head += "Location: " + reply.location + "\r\n";
    if (reply.ranges)
        head += "Accept-Ranges: bytes\r\n";
    if (!reply.etag.isEmpty())
        head += "ETag: " + reply.etag + "\r\n";
    if (!reply.lastModified.isEmpty())
        head += "Last-Modified: " + reply.lastModified + "\r\n";
    for (const auto &h : reply.extraHeaders)
        head += h.first + ": " + h.second + "\r\n";
    if (reply.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (reply.sendLength)
        head += "Content-Length: " +
                (reply.lengthText.isEmpty() ? QByteArray::number(reply.body.size()) : reply.lengthText) +
                "\r\n";
    head += "\r\n";
    socket->write(head);

    QByteArray body = reply.body;
    bool closeEarly = false;
    bool stall = false;
    if (reply.closeAfter >= 0 && reply.closeAfter < body.size()) {
        body.truncate(reply.closeAfter);
        closeEarly = true;
    }
    if (reply.stallAfter >= 0 && reply.stallAfter < body.size()) {
        body.truncate(reply.stallAfter);
        stall = true;
    }
    auto finish = [socket, reply, closeEarly, stall] {
        if (stall)
            return;
        if (reply.chunked && !closeEarly)
            socket->write("0\r\n\r\n");
        socket->disconnectFromHost();
    };
    if (reply.trickleBytes <= 0) {
        if (reply.chunked) {
            for (qsizetype at = 0; at < body.size(); at += 4096)
                socket->write(chunk(body.mid(at, 4096)));
        } else {
            socket->write(body);
        }
        finish();
        return;
    }
    auto *timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [=] {
        const QByteArray piece = body.mid(*sent, reply.trickleBytes);
        *sent += piece.size();
        if (!piece.isEmpty())
            socket->write(reply.chunked ? chunk(piece) : piece);
        if (*sent >= body.size()) {
            timer->stop();
            finish();
        }
    });
    timer->start(reply.trickleMs);
}
