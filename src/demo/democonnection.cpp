#include "demo/democonnection.h"

#include <QTcpSocket>

namespace {

// Body pieces are read and queued while the socket holds less than this.
constexpr qint64 kHighWater = 256 * 1024;
constexpr qint64 kPiece = 64 * 1024;
// Chunked answers use small chunks so clients meet many of them.
constexpr qint64 kChunk = 1500;

bool wantsKeepAlive(const DemoRequest &request)
{
    const QByteArray connection = request.header("Connection").toLower();
    if (request.version == "HTTP/1.0")
        return connection.contains("keep-alive");
    return !connection.contains("close");
}

// The request line and the header lines of a request's head; false when they do not read as HTTP/1.x.
bool readHead(const QByteArray &head, DemoRequest &request)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return false;
    request.method = requestLine.at(0);
    request.version = requestLine.at(2);
    request.url = QUrl::fromEncoded(requestLine.at(1));
    if (!request.url.isValid() || request.url.path().isEmpty())
        return false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return false;
        request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return true;
}

// The length of the body that follows the head: 0 and the length, or the status the request is refused
// with (a chunked body, a length that is no number, a body too large).
int bodyLength(const DemoRequest &request, qint64 *length)
{
    if (!request.header("Transfer-Encoding").isEmpty())
        return 501;
    bool ok = true;
    const QByteArray lengthText = request.header("Content-Length");
    *length = lengthText.isEmpty() ? 0 : lengthText.toLongLong(&ok);
    if (!ok || *length < 0)
        return 400;
    return *length > DemoConnection::kMaxBodySize ? 413 : 0;
}

} // namespace

DemoConnection::DemoConnection(QTcpSocket *socket, Handler handler, QObject *parent)
    : QObject(parent), m_socket(socket), m_handler(std::move(handler))
{
    m_socket->setParent(this);
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleTimeoutMs);
    connect(&m_idle, &QTimer::timeout, m_socket, &QTcpSocket::abort);
    m_paceTimer.setSingleShot(true);
    m_paceTimer.setInterval(kPaceStepMs);
    connect(&m_paceTimer, &QTimer::timeout, this, &DemoConnection::pump);
    connect(m_socket, &QTcpSocket::readyRead, this, &DemoConnection::readIncoming);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &DemoConnection::pump);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    m_idle.start();
    readIncoming();
}

void DemoConnection::readIncoming()
{
    const QByteArray data = m_socket->readAll();
    if (m_failStatus != 0 || m_closing)
        return; // the connection is closing
    m_in += data;
    m_idle.start();
    // A pipelined request waits until the answer before it has been sent.
    while (!m_sending && m_failStatus == 0) {
        DemoRequest request;
        const Parse parsed = parseRequest(request);
        if (parsed == Parse::NeedMore)
            return;
        if (parsed == Parse::Failed) {
            fail(m_failStatus);
            return;
        }
        start(request, m_handler(request));
    }
}

DemoConnection::Parse DemoConnection::parseRequest(DemoRequest &request)
{
    const int headEnd = m_in.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (m_in.size() > kMaxHeadSize)
            m_failStatus = 431;
        return m_failStatus ? Parse::Failed : Parse::NeedMore;
    }
    // A head that does not read as HTTP is a bad request; a body as bodyLength() allows it.
    m_failStatus = readHead(m_in.left(headEnd), request) ? 0 : 400;
    qint64 length = 0;
    if (m_failStatus == 0)
        m_failStatus = bodyLength(request, &length);
    if (m_failStatus != 0)
        return Parse::Failed;
    const qint64 bodyStart = headEnd + 4;
    if (m_in.size() < bodyStart + length)
        return Parse::NeedMore;
    request.body = m_in.mid(bodyStart, length);
    m_in.remove(0, bodyStart + length);
    return Parse::Ready;
}

void DemoConnection::start(const DemoRequest &request, DemoResponse response)
{
    const bool http10 = request.version == "HTTP/1.0";
    m_closeAfter = !wantsKeepAlive(request);
    m_chunked = false;
    DemoResponse::Framing framing = response.framing;
    if (framing == DemoResponse::Framing::Chunked && http10)
        framing = DemoResponse::Framing::Close;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      DemoResponse::reasonPhrase(response.status) + "\r\nServer: FolionexusDemo/1.0\r\n";
    if (!response.contentType.isEmpty())
        head += "Content-Type: " + response.contentType + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    switch (framing) {
    case DemoResponse::Framing::Length:
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        break;
    case DemoResponse::Framing::Chunked:
        head += "Transfer-Encoding: chunked\r\n";
        m_chunked = true;
        break;
    case DemoResponse::Framing::Close:
        m_closeAfter = true;
        break;
    }
    head += m_closeAfter ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    head += "\r\n";
    m_socket->write(head);
    m_sending = true;
    m_sent = 0;
    m_rate = response.bytesPerSecond; // the pace counts from the head on
    m_paceClock.start();
    m_body = request.method == "HEAD" ? DemoBody() : response.body;
    m_chunked = m_chunked && request.method != "HEAD";
    const bool cuttable = framing != DemoResponse::Framing::Close && response.cutAfter < m_body.size();
    m_cutAfter = cuttable ? response.cutAfter : -1;
    pump();
}

void DemoConnection::pump()
{
    // A client that keeps reading keeps the connection; one that stalls is dropped after the timeout.
    if (m_sending)
        m_idle.start();
    while (m_sending && m_socket->bytesToWrite() < kHighWater) {
        if (m_cutAfter >= 0 && m_sent >= m_cutAfter) {
            // Dropped mid-body: what was written still reaches the client, then the connection ends.
            m_sending = false;
            m_closing = true;
            m_socket->disconnectFromHost();
            return;
        }
        if (m_sent >= m_body.size()) {
            if (m_chunked)
                m_socket->write("0\r\n\r\n");
            finishResponse();
            return;
        }
        const qint64 want = pieceLength();
        if (want <= 0) {
            // Ahead of the pace: the next piece follows when the clock has caught up.
            if (!m_paceTimer.isActive())
                m_paceTimer.start();
            return;
        }
        const QByteArray piece = m_body.read(m_sent, want);
        if (piece.isEmpty()) {
            // The body's source failed midway: the client must not take a short body as whole.
            m_sending = false;
            m_socket->abort();
            return;
        }
        if (m_chunked)
            m_socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
        else
            m_socket->write(piece);
        m_sent += piece.size();
    }
}

qint64 DemoConnection::pieceLength() const
{
    qint64 want = m_chunked ? kChunk : kPiece;
    if (m_cutAfter >= 0)
        want = std::min(want, m_cutAfter - m_sent);
    if (m_rate > 0)
        want = std::min(want, m_rate * m_paceClock.elapsed() / 1000 - m_sent);
    return want;
}

void DemoConnection::finishResponse()
{
    m_sending = false;
    m_body = DemoBody();
    m_idle.start();
    if (m_closeAfter) {
        m_closing = true;
        m_socket->disconnectFromHost();
        return;
    }
    // Requests that arrived while the answer was being sent.
    if (!m_in.isEmpty())
        QMetaObject::invokeMethod(this, &DemoConnection::readIncoming, Qt::QueuedConnection);
}

void DemoConnection::fail(int status)
{
    DemoRequest request;
    request.version = "HTTP/1.1";
    request.method = "GET";
    request.headers.emplaceBack("Connection", "close");
    m_in.clear();
    start(request, DemoResponse::html(
                       status, QStringLiteral("<html><head><title>%1</title></head></html>\n").arg(status)));
}
