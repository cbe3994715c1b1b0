#include "demo/demosite.h"

#include "demo/democatalog.h"
#include "demo/democonnection.h"
#include "demo/demopages.h"
#include "demo/minipdf.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <optional>

namespace {

const QString kLargeFilePath = QStringLiteral("/files/large.pdf");

// Value of a field of an x-www-form-urlencoded text (a query or a posted form).
std::optional<QString> formValue(const QByteArray &encoded, const QByteArray &key)
{
    for (const QByteArray &pair : encoded.split('&')) {
        const int eq = pair.indexOf('=');
        const QByteArray name = eq < 0 ? pair : pair.left(eq);
        if (QByteArray::fromPercentEncoding(QByteArray(name).replace('+', ' ')) != key)
            continue;
        const QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        return QString::fromUtf8(QByteArray::fromPercentEncoding(QByteArray(value).replace('+', ' ')));
    }
    return std::nullopt;
}

QByteArray queryOf(const QUrl &url)
{
    return url.query(QUrl::FullyEncoded).toLatin1();
}

// The paper number in "/paper/N" or "/paper/N.pdf"; 0 when the path is neither. Only the plain
// decimal spelling counts, so each paper has one address.
int paperNumber(const QString &path, bool *file)
{
    static const QRegularExpression pattern(QStringLiteral("^/paper/([1-9][0-9]{0,8})(\\.pdf)?$"));
    const QRegularExpressionMatch match = pattern.match(path);
    if (!match.hasMatch())
        return 0;
    *file = match.hasCaptured(2);
    return match.captured(1).toInt();
}

DemoResponse notFound()
{
    return DemoResponse::html(404, DemoPages::notFound());
}

} // namespace

DemoSite::DemoSite(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &DemoSite::acceptConnections);
}

DemoSite::~DemoSite() = default;

bool DemoSite::listen(quint16 port)
{
    m_server->close();
    return m_server->listen(QHostAddress::LocalHost, port);
}

void DemoSite::close()
{
    m_server->close();
}

bool DemoSite::isListening() const
{
    return m_server->isListening();
}

quint16 DemoSite::port() const
{
    return m_server->serverPort();
}

QString DemoSite::errorString() const
{
    return m_server->errorString();
}

QUrl DemoSite::siteUrl(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()) + pathAndQuery);
}

QUrl DemoSite::homeUrl() const
{
    return siteUrl(QStringLiteral("/"));
}

QUrl DemoSite::searchUrl(const QString &query, int page) const
{
    return siteUrl(DemoPages::searchPath(query, page));
}

QUrl DemoSite::loginUrl() const
{
    return siteUrl(QStringLiteral("/login"));
}

void DemoSite::setPageSize(int size)
{
    m_pageSize = std::max(1, size);
}

void DemoSite::setPaperCount(int count)
{
    m_paperCount = std::max(0, count);
}

int DemoSite::pageCount() const
{
    return std::max(1, (m_paperCount + m_pageSize - 1) / m_pageSize);
}

void DemoSite::setRequireLogin(bool require)
{
    m_requireLogin = require;
}

QString DemoSite::sessionCookieName()
{
    return QStringLiteral("FNDEMO_SESSION");
}

DemoPaper DemoSite::paper(int number) const
{
    return DemoCatalog::paper(number);
}

QUrl DemoSite::paperLink(int number) const
{
    return siteUrl(QStringLiteral("/paper/%1").arg(number));
}

QUrl DemoSite::paperFileUrl(int number) const
{
    return siteUrl(QStringLiteral("/paper/%1.pdf").arg(number));
}

QString DemoSite::paperTitle(int number) const
{
    return DemoCatalog::paper(number).title;
}

DemoPaperKind DemoSite::paperKind(int number) const
{
    return DemoCatalog::kindOf(number);
}

int DemoSite::paperStatus(int number) const
{
    return DemoCatalog::status(number);
}

QString DemoSite::paperMediaType(int number) const
{
    return DemoCatalog::mediaType(number);
}

QByteArray DemoSite::paperBytes(int number) const
{
    return DemoCatalog::body(number);
}

bool DemoSite::paperHasContentLength(int number) const
{
    const DemoPaperKind kind = paperKind(number);
    return kind != DemoPaperKind::ChunkedPdf && kind != DemoPaperKind::UnsizedPdf;
}

QList<int> DemoSite::papersOfKind(DemoPaperKind kind) const
{
    QList<int> numbers;
    for (int n = 1; n <= m_paperCount; ++n) {
        if (paperKind(n) == kind)
            numbers.append(n);
    }
    return numbers;
}

void DemoSite::setLargeFile(const QString &path)
{
    m_largePdf.reset();
    m_largePath = path;
}

void DemoSite::setLargeFileSize(qint64 bytes)
{
    m_largePath.clear();
    m_largePdf = std::make_shared<const MiniPdf>(
        QStringList{QStringLiteral("Folionexus Demo Library - large file"),
                    QStringLiteral("%1 bytes").arg(bytes)},
        bytes);
}

QUrl DemoSite::largeFileUrl() const
{
    return siteUrl(kLargeFilePath);
}

qint64 DemoSite::largeFileSize() const
{
    if (m_largePdf)
        return m_largePdf->size();
    if (!m_largePath.isEmpty() && QFileInfo(m_largePath).isFile())
        return QFileInfo(m_largePath).size();
    return -1;
}

QByteArray DemoSite::largeFileBytes(qint64 offset, qint64 length) const
{
    const std::optional<DemoBody> body = largeBody();
    return body ? body->read(offset, length) : QByteArray();
}

void DemoSite::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connectionCount;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        new DemoConnection(
            socket, [this](const DemoRequest &request) { return respond(request); }, this);
    }
}

DemoResponse DemoSite::respond(const DemoRequest &request)
{
    ++m_requestCount;
    DemoResponse response = route(request);
    Q_EMIT requestServed(request.url.path(), response.status);
    return response;
}

DemoResponse DemoSite::route(const DemoRequest &request)
{
    const QString path = request.url.path();
    const bool post = request.method == "POST";
    if (request.method != "GET" && request.method != "HEAD" && !(post && path == QLatin1String("/login"))) {
        DemoResponse response = DemoResponse::html(405, DemoPages::methodNotAllowed());
        response.headers.emplaceBack("Allow", path == QLatin1String("/login") ? "GET, HEAD, POST" : "GET, HEAD");
        return response;
    }
    if (path == QLatin1String("/") || path == QLatin1String("/index.html"))
        return DemoResponse::html(200, DemoPages::home());
    if (path == QLatin1String("/search"))
        return resultPage(request.url);
    if (path == QLatin1String("/login"))
        return loginPage(request);
    if (path == QLatin1String("/about"))
        return DemoResponse::html(200, DemoPages::about());
    if (path == QLatin1String("/logo.svg")) {
        DemoResponse response;
        response.contentType = "image/svg+xml";
        response.body = DemoBody::fromBytes(DemoPages::logo());
        return response;
    }
    if (path == kLargeFilePath)
        return largeFile();
    bool file = false;
    const int number = paperNumber(path, &file);
    if (number < 1 || number > m_paperCount)
        return notFound();
    if (!file)
        return DemoResponse::html(200, DemoPages::paperDetail(paper(number)));
    return paperFile(number, request);
}

DemoResponse DemoSite::resultPage(const QUrl &url) const
{
    const QByteArray query = queryOf(url);
    const QString words = formValue(query, "q").value_or(QString());
    bool ok = false;
    const int asked = formValue(query, "page").value_or(QString()).toInt(&ok);
    const int page = std::clamp(ok ? asked : 1, 1, pageCount());
    QList<DemoPaper> papers;
    const int first = (page - 1) * m_pageSize + 1;
    for (int n = first; n < first + m_pageSize && n <= m_paperCount; ++n)
        papers.append(paper(n));
    return DemoResponse::html(200, DemoPages::results(words, page, pageCount(), m_paperCount, papers));
}

DemoResponse DemoSite::loginPage(const DemoRequest &request)
{
    const QByteArray form = request.method == "POST" ? request.body : queryOf(request.url);
    const std::optional<QString> account = formValue(form, "username");
    const std::optional<QString> password = formValue(form, "password");
    if (!account && !password)
        return DemoResponse::html(200, DemoPages::login());
    if (account.value_or(QString()) != m_account || password.value_or(QString()) != m_password)
        return DemoResponse::html(200, DemoPages::login(QStringLiteral("帐号或密码错误，请重新输入。")));
    const QByteArray token = QByteArray::number(QRandomGenerator::system()->generate64(), 16)
        + QByteArray::number(QRandomGenerator::system()->generate64(), 16);
    m_sessions.insert(token);
    DemoResponse response = DemoResponse::html(200, DemoPages::loggedIn(m_account));
    response.headers.emplaceBack("Set-Cookie", sessionCookieName().toLatin1() + '=' + token + "; Path=/; HttpOnly");
    return response;
}

bool DemoSite::isLoggedIn(const DemoRequest &request) const
{
    const QByteArray token = request.cookie(sessionCookieName().toLatin1());
    return !token.isEmpty() && m_sessions.contains(token);
}

DemoResponse DemoSite::paperFile(int number, const DemoRequest &request) const
{
    if (m_requireLogin && !isLoggedIn(request))
        return DemoResponse::html(200, DemoPages::loginRequired());
    DemoResponse response;
    response.status = paperStatus(number);
    const QString mediaType = paperMediaType(number);
    response.contentType = mediaType == QLatin1String("text/html") ? QByteArray("text/html; charset=utf-8")
                                                                   : mediaType.toLatin1();
    response.body = DemoBody::fromBytes(paperBytes(number));
    switch (paperKind(number)) {
    case DemoPaperKind::ChunkedPdf: response.framing = DemoResponse::Framing::Chunked; break;
    case DemoPaperKind::UnsizedPdf: response.framing = DemoResponse::Framing::Close; break;
    default: break;
    }
    return response;
}

std::optional<DemoBody> DemoSite::largeBody() const
{
    if (m_largePdf)
        return DemoBody::fromGenerated(m_largePdf);
    if (!m_largePath.isEmpty())
        return DemoBody::fromFile(m_largePath);
    return std::nullopt;
}

DemoResponse DemoSite::largeFile() const
{
    const std::optional<DemoBody> body = largeBody();
    if (!body)
        return notFound();
    DemoResponse response;
    response.contentType = "application/pdf";
    response.body = *body;
    return response;
}
