#include "demo/demosite.h"

#include "demo/democatalog.h"
#include "demo/democonnection.h"
#include "demo/demodoi.h"
#include "demo/demopages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <optional>

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
    if (m_catalog.defsLayout())
        return siteUrl(DemoPages::defsSearchPath(QString(), 1));
    if (m_catalog.cardsLayout())
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

QUrl DemoSite::verifyUrl() const
{
    return siteUrl(QStringLiteral("/verify"));
}

QUrl DemoSite::largeFileUrl() const
{
    return siteUrl(DemoLargeFile::path());
}

QUrl DemoSite::paperLink(int number) const
{
    return siteUrl(QStringLiteral("/paper/%1").arg(number));
}

QUrl DemoSite::paperFileUrl(int number) const
{
    return siteUrl(QStringLiteral("/paper/%1.pdf").arg(number));
}

QUrl DemoSite::landingFileUrl(int number) const
{
    const QString path = DemoCatalogPages::landingFilePath(number);
    return path.isEmpty() ? QUrl() : siteUrl(path);
}

DemoPaper DemoSite::paper(int number) const
{
    return DemoCatalog::paper(number);
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

QByteArray DemoSite::paperBytes(int number) const
{
    return m_catalog.paperBytes(number);
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

namespace {

// A method the path does not take: 405 with what it takes.
std::optional<DemoResponse> refuseMethod(const DemoRequest &request)
{
    // Only the login and the verification take forms; everything else is read.
    const QString path = request.url.path();
    const bool takesForms = path == QLatin1String("/login") || path == QLatin1String("/verify");
    if (request.method == "GET" || request.method == "HEAD" || (request.method == "POST" && takesForms))
        return std::nullopt;
    DemoResponse response = DemoResponse::html(405, DemoPages::methodNotAllowed());
    response.headers.emplaceBack("Allow", takesForms ? "GET, HEAD, POST" : "GET, HEAD");
    return response;
}

} // namespace

DemoResponse DemoSite::respond(const DemoRequest &request)
{
    ++m_requestCount;
    std::optional<DemoResponse> answer = refuseMethod(request);
    if (!answer)
        answer = sitePage(request);
    DemoResponse response = answer ? *answer : paperRoute(request);
    Q_EMIT requestServed(request.url.path(), response.status);
    return response;
}

std::optional<DemoResponse> DemoSite::sitePage(const DemoRequest &request)
{
    const QString path = request.url.path();
    if (path == QLatin1String("/") || path == QLatin1String("/index.html"))
        return DemoResponse::html(200, DemoPages::home());
    if (DemoCatalogPages::isResultPath(path))
        return m_catalog.resultPage(request.url);
    if (path == QLatin1String("/login"))
        return m_login.answer(request);
    if (path == QLatin1String("/verify"))
        return m_faults.answerVerification(request);
    if (path == QLatin1String("/about"))
        return DemoResponse::html(200, DemoPages::about());
    if (path == QLatin1String("/logo.svg")) {
        DemoResponse response;
        response.contentType = "image/svg+xml";
        response.body = DemoBody::fromBytes(DemoPages::logo());
        return response;
    }
    if (path == DemoLargeFile::path())
        return m_largeFile.answer(request);
    return std::nullopt;
}

DemoResponse DemoSite::paperRoute(const DemoRequest &request)
{
    const QString path = request.url.path();
    if (const int number = m_catalog.fullTextNumber(path))
        return paperRequest(number, request);
    if (std::optional<DemoResponse> resolved =
            demodoi::answer(path, m_catalog.paperCount(), paperFileUrl(demodoi::paperOfPath(path))))
        return *resolved;
    if (path.startsWith(demodoi::IndexPath))
        return indexAnswer(path);
    bool file = false;
    const int number = DemoCatalogPages::paperNumber(path, &file);
    if (number < 1 || number > m_catalog.paperCount())
        return DemoResponse::html(404, DemoPages::notFound());
    if (!file)
        return DemoResponse::html(200, DemoPages::paperDetail(paper(number)));
    if (m_catalog.landingPages())
        return m_catalog.landingPage(number, landingFileUrl(number));
    return paperRequest(number, request);
}

DemoResponse DemoSite::paperRequest(int number, const DemoRequest &request)
{
    if (std::optional<DemoResponse> refusal = m_faults.refusal(request))
        return *refusal;
    if (m_login.refuses(request))
        return DemoResponse::html(200, DemoPages::loginRequired());
    std::optional<DemoSpan> sent;
    DemoResponse response = m_catalog.paperFile(number, request, &sent);
    if (sent)
        m_faults.sendPaper(number, request, *sent, response);
    return response;
}

DemoResponse DemoSite::indexAnswer(const QString &path) const
{
    const QString doi = QUrl::fromPercentEncoding(path.mid(demodoi::IndexPath.size()).toUtf8());
    const int number = demodoi::paperOfPath(demodoi::ResolverPath + doi);
    if (number < 1 || number > m_catalog.paperCount())
        return DemoResponse::html(404, DemoPages::notFound());
    // A paper whose page offers no full text is closed to the index as well.
    QUrl file = m_catalog.landingPages() ? landingFileUrl(number) : paperFileUrl(number);
    if (m_catalog.landingPages() && m_catalog.offersNoFullText(number))
        file = QUrl();
    DemoResponse response;
    response.contentType = "application/json";
    response.body = DemoBody::fromBytes(demodoi::indexAnswer(doi, file, paperFileUrl(number)));
    return response;
}
