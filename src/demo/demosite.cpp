#include "demo/demosite.h"

#include "core/common/clock.h"
#include "core/common/rangerequest.h"
#include "demo/democatalog.h"
#include "demo/democonnection.h"
#include "demo/demopages.h"
#include "demo/minipdf.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
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

QByteArray newToken()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16) +
           QByteArray::number(QRandomGenerator::system()->generate64(), 16);
}

// The offsets [from, end) of the file that an answer carries.
struct Span
{
    qint64 from = 0;
    qint64 end = 0;
};

// Makes the answer carrying a whole file answer the request's byte range, if it asks for one the
// site serves. Empty when the range cannot be satisfied: the answer is then the 416 page.
std::optional<Span> answerRange(DemoResponse &response, const DemoRequest &request, const QByteArray &etag)
{
    response.headers.emplaceBack("ETag", etag);
    response.headers.emplaceBack("Accept-Ranges", "bytes");
    const qint64 size = response.body.size();
    if (request.method != "GET") // ranges are defined for GET alone
        return Span{0, size};
    const RangeAnswer range =
        RangeAnswer::read(request.header("Range"), request.header("If-Range"), size, etag);
    switch (range.kind) {
    case RangeAnswer::Kind::Whole:
        return Span{0, size};
    case RangeAnswer::Kind::Unsatisfiable:
        response = DemoResponse::html(416, DemoPages::rangeNotSatisfiable());
        response.headers.emplaceBack("Content-Range", range.contentRange());
        response.headers.emplaceBack("ETag", etag);
        return std::nullopt;
    case RangeAnswer::Kind::Partial:
        response.status = 206;
        response.headers.emplaceBack("Content-Range", range.contentRange());
        response.body = response.body.slice(range.first, range.length());
        return Span{range.first, range.last + 1};
    }
    return Span{0, size};
}

// A paper's own page or file, or the home page: where the verification page leads back to.
QString localReturn(const QString &path)
{
    bool file = false;
    return paperNumber(path, &file) > 0 ? path : QStringLiteral("/");
}

} // namespace

DemoSite::DemoSite(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &DemoSite::acceptConnections);
}

DemoSite::~DemoSite() = default;

bool DemoSite::listen(quint16 port)
{
    m_server->close();
    return m_server->listen(QHostAddress::LocalHost, port);
}

bool DemoSite::listenAtRememberedPort(const QString &portFile)
{
    QFile file(portFile);
    bool known = false;
    quint16 remembered = 0;
    if (file.size() < 64 && file.open(QIODevice::ReadOnly)) {
        const uint value = file.readAll().trimmed().toUInt(&known);
        known = known && value >= 1024 && value <= 65535;
        remembered = known ? quint16(value) : 0;
        file.close();
    }
    if (!(known && listen(remembered)) && !listen(0))
        return false;
    if (port() != remembered) {
        QDir().mkpath(QFileInfo(portFile).absolutePath());
        QSaveFile out(portFile);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(QByteArray::number(port()) + '\n');
            out.commit();
        }
    }
    return true;
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
    if (m_cardsLayout)
        return siteUrl(DemoPages::cardsSearchPath(QString(), 1));
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

void DemoSite::setPaperLimit(int perMinute)
{
    m_limit.setPerMinute(perMinute);
    m_limit.clear();
}

void DemoSite::setFlakyPercent(int percent)
{
    m_flaky.setPercent(percent);
    m_flaky.clear();
}

void DemoSite::setFlakySeed(quint64 seed)
{
    m_flaky.setSeed(seed);
    m_flaky.clear();
}

qint64 DemoSite::plannedCut(int number, qint64 from) const
{
    DemoRequest get;
    get.method = "GET";
    get.version = "HTTP/1.1";
    if (!mayDrop(number, get))
        return -1;
    return m_flaky.plannedCut(number, from, paperBytes(number).size());
}

void DemoSite::setVerifyAfter(int papers)
{
    m_verifyAfter = std::max(-1, papers);
}

QString DemoSite::verificationCookieName()
{
    return QStringLiteral("FNDEMO_VERIFIED");
}

QUrl DemoSite::verifyUrl() const
{
    return siteUrl(QStringLiteral("/verify"));
}

void DemoSite::resetVerification()
{
    m_verified.clear();
    m_papersServed = 0;
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

QByteArray DemoSite::paperETag(int number) const
{
    if (paperStatus(number) != 200)
        return QByteArray();
    const QByteArray digest = QCryptographicHash::hash(paperBytes(number), QCryptographicHash::Sha1);
    return '"' + digest.toHex().left(20) + '"';
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
    m_largePdf =
        std::make_shared<const MiniPdf>(QStringList{QStringLiteral("Folionexus Demo Library - large file"),
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
    const bool takesForms = path == QLatin1String("/login") || path == QLatin1String("/verify");
    if (request.method != "GET" && request.method != "HEAD" && !(post && takesForms)) {
        DemoResponse response = DemoResponse::html(405, DemoPages::methodNotAllowed());
        response.headers.emplaceBack("Allow", takesForms ? "GET, HEAD, POST" : "GET, HEAD");
        return response;
    }
    if (path == QLatin1String("/") || path == QLatin1String("/index.html"))
        return DemoResponse::html(200, DemoPages::home());
    if (path == QLatin1String("/search") || path == QLatin1String("/cards/search"))
        return resultPage(request.url);
    if (path == QLatin1String("/login"))
        return loginPage(request);
    if (path == QLatin1String("/verify"))
        return verifyPage(request);
    if (path == QLatin1String("/about"))
        return DemoResponse::html(200, DemoPages::about());
    if (path == QLatin1String("/logo.svg")) {
        DemoResponse response;
        response.contentType = "image/svg+xml";
        response.body = DemoBody::fromBytes(DemoPages::logo());
        return response;
    }
    if (path == kLargeFilePath)
        return largeFile(request);
    if (m_landingPages) {
        // The full texts the landing pages name.
        static const QRegularExpression fullText(
            QStringLiteral("^/fulltext/([1-9][0-9]{0,8})(?:\\.pdf|/download)$"));
        const QRegularExpressionMatch match = fullText.match(path);
        const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
        if (number >= 1 && number <= m_paperCount && landingFileUrl(number).path() == path)
            return paperRequest(number, request);
    }
    bool file = false;
    const int number = paperNumber(path, &file);
    if (number < 1 || number > m_paperCount)
        return notFound();
    if (!file)
        return DemoResponse::html(200, DemoPages::paperDetail(paper(number)));
    if (m_landingPages)
        return landingPage(number);
    return paperRequest(number, request);
}

QUrl DemoSite::landingFileUrl(int number) const
{
    if (number == 5)
        return {};
    return siteUrl(number % 5 == 4 ? QStringLiteral("/fulltext/%1/download").arg(number)
                                   : QStringLiteral("/fulltext/%1.pdf").arg(number));
}

DemoResponse DemoSite::landingPage(int number) const
{
    // The ways publishers name the full text, in turn.
    const QString n = QString::number(number);
    QString tags;
    switch (number % 5) {
    case 1:
        tags = QStringLiteral("<meta name=\"citation_pdf_url\" content=\"%1\">\n")
                   .arg(landingFileUrl(number).toString());
        break;
    case 2:
        tags = QStringLiteral("<link rel=\"alternate\" type=\"application/pdf\" href=\"/fulltext/%1.pdf\">\n")
                   .arg(n);
        break;
    case 3:
        tags = QStringLiteral("<meta content=\"../fulltext/%1.pdf\" property=\"citation_pdf_url\">\n").arg(n);
        break;
    case 4:
        tags = QStringLiteral("<META NAME=citation_pdf_url CONTENT=/fulltext/%1/download>\n").arg(n);
        break;
    default:
        if (number != 5)
            tags = QStringLiteral("<meta name='citation_pdf_url' content='/fulltext/%1.pdf'>\n").arg(n);
        break;
    }
    return DemoResponse::html(200, DemoPages::landingPage(paper(number), tags));
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
    if (url.path().startsWith(QLatin1String("/cards/")))
        return DemoResponse::html(200,
                                  DemoPages::cardResults(words, page, pageCount(), m_paperCount, papers));
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
    const QByteArray token = newToken();
    m_sessions.insert(token);
    DemoResponse response = DemoResponse::html(200, DemoPages::loggedIn(m_account));
    response.headers.emplaceBack("Set-Cookie",
                                 sessionCookieName().toLatin1() + '=' + token + "; Path=/; HttpOnly");
    return response;
}

bool DemoSite::isLoggedIn(const DemoRequest &request) const
{
    const QByteArray token = request.cookie(sessionCookieName().toLatin1());
    return !token.isEmpty() && m_sessions.contains(token);
}

DemoResponse DemoSite::verifyPage(const DemoRequest &request)
{
    const QByteArray form = request.method == "POST" ? request.body : queryOf(request.url);
    const QString back = localReturn(formValue(form, "back").value_or(QString()));
    if (request.method == "HEAD" || !formValue(form, "confirm"))
        return DemoResponse::html(200, DemoPages::verification(back));
    const QByteArray token = newToken();
    m_verified.insert(token);
    DemoResponse response = DemoResponse::html(200, DemoPages::verified(back));
    response.headers.emplaceBack("Set-Cookie",
                                 verificationCookieName().toLatin1() + '=' + token + "; Path=/; HttpOnly");
    return response;
}

bool DemoSite::needsVerification(const DemoRequest &request) const
{
    if (m_verifyAfter < 0 || m_papersServed < m_verifyAfter)
        return false;
    const QByteArray token = request.cookie(verificationCookieName().toLatin1());
    return token.isEmpty() || !m_verified.contains(token);
}

DemoResponse DemoSite::paperRequest(int number, const DemoRequest &request)
{
    if (const std::optional<int> wait = m_limit.refuse(Clock::current().monotonicMs())) {
        DemoResponse response = DemoResponse::html(429, DemoPages::tooManyRequests(*wait));
        response.headers.emplaceBack("Retry-After", QByteArray::number(*wait));
        return response;
    }
    if (needsVerification(request))
        return DemoResponse::html(200, DemoPages::verification(request.url.path()));
    if (m_requireLogin && !isLoggedIn(request))
        return DemoResponse::html(200, DemoPages::loginRequired());
    return paperFile(number, request);
}

// A dropped transfer must show: never one whose body only the close would end.
bool DemoSite::mayDrop(int number, const DemoRequest &request) const
{
    if (request.method != "GET" || paperStatus(number) != 200)
        return false;
    switch (paperKind(number)) {
    case DemoPaperKind::UnsizedPdf:
        return false;
    case DemoPaperKind::ChunkedPdf:
        return request.version != "HTTP/1.0";
    default:
        return true;
    }
}

DemoResponse DemoSite::paperFile(int number, const DemoRequest &request)
{
    DemoResponse response;
    response.status = paperStatus(number);
    const QString mediaType = paperMediaType(number);
    response.contentType = mediaType == QLatin1String("text/html") ? QByteArray("text/html; charset=utf-8")
                                                                   : mediaType.toLatin1();
    const QByteArray bytes = paperBytes(number);
    response.body = DemoBody::fromBytes(bytes);
    switch (paperKind(number)) {
    case DemoPaperKind::ChunkedPdf:
        response.framing = DemoResponse::Framing::Chunked;
        break;
    case DemoPaperKind::UnsizedPdf:
        response.framing = DemoResponse::Framing::Close;
        break;
    default:
        break;
    }
    if (response.status != 200)
        return response;
    const std::optional<Span> span = answerRange(response, request, paperETag(number));
    if (!span || request.method != "GET")
        return response;
    ++m_papersServed;
    qint64 cut = -1;
    if (mayDrop(number, request))
        cut = m_flaky.startTransfer(number, span->from, span->end, bytes.size());
    if (cut >= 0) {
        response.cutAfter = cut - span->from;
        ++m_droppedTransfers;
    }
    m_paperBytesSent += cut >= 0 ? cut - span->from : span->end - span->from;
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

DemoResponse DemoSite::largeFile(const DemoRequest &request) const
{
    const std::optional<DemoBody> body = largeBody();
    if (!body)
        return notFound();
    DemoResponse response;
    response.contentType = "application/pdf";
    response.body = *body;
    QByteArray etag = "\"large-" + QByteArray::number(body->size(), 16);
    if (!m_largePdf)
        etag += '-' + QByteArray::number(QFileInfo(m_largePath).lastModified().toMSecsSinceEpoch(), 16);
    answerRange(response, request, etag + '"');
    return response;
}
