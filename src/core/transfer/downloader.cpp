#include "core/transfer/downloader.h"

#include "core/common/classify.h"
#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/rows/targetfile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>

namespace {

// The single connection takes only 200 with the reason "OK" (HTTP/2 answers carry no reason).
bool acceptsStatus(int status, const QString &reason, bool http2)
{
    return status == 200 && (http2 || reason.compare(QStringLiteral("OK"), Qt::CaseInsensitive) == 0);
}

// Why the answer's status cannot bring the file, none when it may: the single connection takes only
// " 200 OK", a parallel slot any successful answer but a range (an error page sent with an error status
// never becomes a file).
FailureReason statusRefusal(int status, const QString &reason, bool single, bool http2)
{
    const bool refused =
        single ? !acceptsStatus(status, reason, http2) : status < 200 || status >= 300 || status == 206;
    return refused ? FailureReason::of(FailureReason::Kind::HttpStatus, status, reason) : FailureReason();
}

constexpr qint64 kReadBuffer = 4 * 1024 * 1024;
constexpr int kFallbackHeaderMs = 60000;

using Kind = FailureReason::Kind;

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Retry-After as seconds or as an HTTP date; -1 when absent or unreadable.
qint64 retryAfterMs(const QByteArray &value)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool numeric = false;
    const qint64 seconds = text.toLongLong(&numeric);
    if (numeric)
        return seconds < 0 ? -1 : seconds * 1000;
    QDateTime when = QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
    if (!when.isValid()) {
        // RFC 850 and asctime forms.
        static const char *const forms[] = {"dddd, dd-MMM-yy HH:mm:ss 'GMT'", "ddd MMM d HH:mm:ss yyyy",
                                            "ddd, dd MMM yyyy HH:mm:ss 'GMT'"};
        for (const char *form : forms) {
            when = QLocale::c().toDateTime(QString::fromLatin1(text).simplified(), QLatin1String(form));
            if (when.isValid())
                break;
        }
        if (when.isValid() && when.date().year() < 1970)
            when = when.addYears(100);
        when.setTimeSpec(Qt::UTC);
    }
    if (!when.isValid())
        return -1;
    return std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when));
}

// What the answer's headers tell before its status is judged: when to ask again, where it came from at
// last and what identifies the file for a later range.
void noteAnswer(TransferResult &result, TransferBody &body, QNetworkReply *reply)
{
    result.total = -1;
    result.retryAfterMs = retryAfterMs(reply->rawHeader("Retry-After"));
    result.finalUrl = reply->url();
    body.takeValidators(reply);
}

// The body's length and coding; the file's own length is known only when the body is sent as it is.
FailureReason takeLength(TransferResult &result, TransferBody &body, QNetworkReply *reply)
{
    if (const FailureReason failure = body.takeLengthAndCoding(reply); !failure.isNone())
        return failure;
    if (body.decoder->coding() == BodyDecoder::Coding::Identity && body.length > 0)
        result.total = body.length;
    return {};
}

// Scheme, host and port: where a Referer that names the file's site may go.
bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const int port = a.scheme().compare(u"https", Qt::CaseInsensitive) == 0 ? 443 : 80;
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && a.port(port) == b.port(port);
}

} // namespace

Downloader::Downloader(RowId id, QNetworkAccessManager *manager, const TransferOptions &options,
                       QObject *parent)
    : QObject(parent), m_id(id), m_manager(manager), m_options(options)
{
    qRegisterMetaType<TransferResult>();
    m_headerTimer.setSingleShot(true);
    m_stallTimer.setInterval(options.stallWindowMs);
    connect(&m_headerTimer, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Requesting)
            fail(FailureReason::of(
                Kind::Timeout, 0,
                QStringLiteral("no answer within %1 seconds").arg(m_headerTimer.interval() / 1000)));
    });
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        if (m_phase != Phase::Receiving)
            return;
        if (m_body.wireBytes - m_stallMark < m_options.stallMinBytes) {
            fail(FailureReason::of(Kind::Stall, 0,
                                   QStringLiteral("less than %1 bytes in %2 seconds")
                                       .arg(m_options.stallMinBytes)
                                       .arg(m_options.stallWindowMs / 1000.0)));
            return;
        }
        m_stallMark = m_body.wireBytes;
    });
}

Downloader::~Downloader()
{
    dropReply();
    m_body.part.discard();
}

QString Downloader::GetUrlBase(const QString &addressIn, bool folderMode)
{
    QString address = addressIn;
    if (!address.contains(QStringLiteral("://")))
        address.prepend(QStringLiteral("http://"));
    const qsizetype rest = address.indexOf(QStringLiteral("://")) + 3;
    if (address.indexOf(u'/', rest) < 0)
        address.append(u'/');
    if (!folderMode)
        return address.left(address.indexOf(u'/', rest) + 1);
    const qsizetype query = address.indexOf(u'?');
    if (query >= 0)
        address.truncate(query);
    return address.left(address.lastIndexOf(u'/') + 1);
}

QString Downloader::stateText(ConnectionState state, int code, const QString &text)
{
    switch (state) {
    case ConnectionState::None:
        return QStringLiteral("0 无状态可报告。");
    case ConnectionState::Resolving:
        return QStringLiteral("1 正在查询所指定的主机的 IP 地址...");
    case ConnectionState::Resolved:
        return QStringLiteral("2 已成功地找到所指定的主机的 IP 地址。");
    case ConnectionState::Connecting:
        return QStringLiteral("3 正在与主机连接...");
    case ConnectionState::Connected:
        return QStringLiteral("4 已与主机连接成功。");
    case ConnectionState::Sending:
        return QStringLiteral("5 正在向主机发送请求...");
    case ConnectionState::Sent:
        return QStringLiteral("6 发送请求已成功。");
    case ConnectionState::Receiving:
        return QStringLiteral("7 正在接收主机的响应...");
    case ConnectionState::Received:
        return QStringLiteral("8 已成功地接收到主机的响应。");
    case ConnectionState::Closing:
        return QStringLiteral("9 正在解除与主机的连接...");
    case ConnectionState::Closed:
        return QStringLiteral("10 已成功地与主机解除了连接。");
    case ConnectionState::Error:
        return QStringLiteral("11 与主机通讯时出现了错误:%1:%2").arg(code).arg(text);
    case ConnectionState::Complete:
        return QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。");
    }
    return QStringLiteral("%1:%2").arg(code).arg(text);
}

void Downloader::setState(ConnectionState state)
{
    if (!m_options.singleConnection)
        return;
    int code = 0;
    QString text;
    if (m_reply) {
        code = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        text = m_reply->errorString();
    }
    Q_EMIT connectionStateChanged(m_id, state, code, text);
}

void Downloader::BeginDownload(const QString &address, const QString &saveFile, TargetResolver resolveAgain)
{
    const QFileInfo target(saveFile);
    m_folder = withTrailingSlash(target.path());
    m_fileName = target.fileName();
    m_resolve = std::move(resolveAgain);
    QString base;
    m_result.type = SplitFileName(saveFile, &base);
    m_result.name = FileNameFromPath(saveFile, true);
    m_result.path = saveFile;
    m_address = QUrl(address);
    m_phase = Phase::Requesting;
    startRequest(m_address);
}

void Downloader::Inet下载文件(const QString &address, const QString &name, const QString &type,
                              TargetResolver resolve)
{
    m_resolve = std::move(resolve);
    m_result.name = name;
    m_result.type = type;
    m_address = QUrl(address);
    // The Referer names the file's own site, never a user name or password written into the link.
    m_referer = SiteRootOf(WithoutCredentials(address)).toUtf8();
    m_phase = Phase::Requesting;
    setState(ConnectionState::Resolving);
    setState(ConnectionState::Connecting);
    setState(ConnectionState::Sending);
    startRequest(m_address);
}

void Downloader::startRequest(const QUrl &url)
{
    dropReply();
    QNetworkRequest request(url);
    // Redirects are followed here, one request per hop, so that each hop carries only the cookies the
    // jar holds for its own host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // The body is decoded here, so that a compressed stream that stops early is seen for what it is.
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
    // The site is named only to itself: a redirect to another host takes no Referer along.
    if (!m_referer.isEmpty() && sameOrigin(url, m_address))
        request.setRawHeader("Referer", m_referer);
    const ResumePoint &resume = m_body.resume;
    if (resume.isValid() && !m_fallback) {
        // Only the rest, and only of the same file: a changed file comes whole.
        request.setRawHeader("Range", "bytes=" + QByteArray::number(resume.bytes) + '-');
        request.setRawHeader("If-Range", resume.etag.isEmpty() ? resume.lastModified : resume.etag);
    }
    m_result.requested.append(url);
    QNetworkReply *reply = m_manager->get(request);
    reply->setReadBufferSize(kReadBuffer);
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &Downloader::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, [this] {
        if (m_phase == Phase::Receiving)
            readBody();
    });
    connect(reply, &QNetworkReply::finished, this, &Downloader::onReplyFinished);
    connect(reply, &QNetworkReply::encrypted, this, [this] { setState(ConnectionState::Connected); });
    m_headerTimer.start(m_fallback ? kFallbackHeaderMs : m_options.headerTimeoutMs);
}

void Downloader::onMetaData()
{
    if (!m_reply || m_phase != Phase::Requesting)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0)
        return;
    if (isRedirectStatus(status) && m_reply->hasRawHeader("Location")) {
        followRedirect(status);
        return;
    }
    m_headerTimer.stop();
    m_result.answered = true;
    setState(ConnectionState::Receiving);
    if (!takeAnswer(status) || m_phase == Phase::Reopening)
        return;
    startReceiving();
}

void Downloader::startReceiving()
{
    m_phase = Phase::Receiving;
    m_stallMark = 0;
    m_stallTimer.start();
    readBody();
}

bool Downloader::followRedirect(int status)
{
    const QUrl next = m_reply->url().resolved(QUrl::fromEncoded(m_reply->rawHeader("Location").trimmed()));
    if (++m_redirects > m_options.maxRedirects) {
        fail(FailureReason::of(Kind::Redirect, status,
                               QStringLiteral("more than %1 redirects").arg(m_options.maxRedirects)));
        return false;
    }
    const QString scheme = next.scheme().toLower();
    if (!next.isValid() || (scheme != u"http" && scheme != u"https")) {
        fail(FailureReason::of(Kind::Redirect, status, QStringLiteral("to an address that is not http(s)")));
        return false;
    }
    if (m_reply->url().scheme().compare(u"https", Qt::CaseInsensitive) == 0 && scheme == u"http") {
        fail(FailureReason::of(Kind::Redirect, status, QStringLiteral("from https to plain http")));
        return false;
    }
    startRequest(next);
    return true;
}

bool Downloader::takeAnswer(int status)
{
    const QString reason = m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    noteAnswer(m_result, m_body, m_reply);
    if (m_body.resume.isValid()) {
        if (status == 206)
            return takeRange(status);
        if (status >= 200 && status < 300) {
            // The whole file again (it changed, or the server does not do ranges): start over.
            PartFile::removeKept(m_body.resume.folder, m_body.resume.temporaryName);
            m_body.resume = {};
        }
    }
    const bool http2 = m_reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
    if (const FailureReason refused = statusRefusal(status, reason, m_options.singleConnection, http2);
        !refused.isNone()) {
        if (m_options.singleConnection)
            m_result.sizeNote = SizeNote::NotFound;
        fail(refused);
        return false;
    }
    if (const FailureReason failure = takeLength(m_result, m_body, m_reply); !failure.isNone()) {
        fail(failure);
        return false;
    }
    m_body.takeMediaType(m_reply);
    if (m_options.singleConnection && !takeTarget(m_result.total)) {
        fail(FailureReason::of(Kind::Disk, 0, QStringLiteral("no file name is free")));
        return false;
    }
    // An answer read for where the paper is is held in memory as a page is, whatever it calls itself.
    if (m_options.readsAnswer)
        m_body.mediaType = QStringLiteral("text/html");
    if (const FailureReason failure = m_body.open(m_folder, m_options.expectPaper); !failure.isNone()) {
        fail(failure);
        return false;
    }
    return true;
}

bool Downloader::takeTarget(qint64 total, const QString *keptFolder)
{
    // A type from the server may become part of the path only as a short plain token; anything else
    // leaves the row's type and the content decides after the download.
    const QString extension = MediaTypeToExtension(m_body.mediaType);
    m_typeFromAnswer = IsSafeFileType(extension);
    if (m_typeFromAnswer)
        m_result.type = extension;
    QString newName;
    const QString path = m_resolve ? m_resolve(m_result.type, &newName) : QString();
    const QFileInfo target(path);
    if (path.isEmpty() || (keptFolder && withTrailingSlash(target.path()) != withTrailingSlash(*keptFolder)))
        return false;
    m_result.name = newName;
    m_result.path = path;
    m_folder = withTrailingSlash(target.path());
    m_fileName = target.fileName();
    Q_EMIT answered(m_id, total, m_result.type, m_result.name);
    return true;
}

void Downloader::stop(const FailureReason &reason)
{
    switch (m_phase) {
    case Phase::Finished:
    case Phase::Committing:
        return; // the whole file is in; it is being put in place
    case Phase::Receiving:
        if (m_reply)
            readBody(true);
        if (m_phase == Phase::Receiving && m_body.isWhole()) {
            completeBody();
            return;
        }
        if (m_phase != Phase::Receiving)
            return;
        m_result.sizeNote = SizeNote::Cancelled;
        break;
    case Phase::Idle:
    case Phase::Requesting:
    case Phase::Reopening:
        break;
    }
    m_result.stamped = false;
    fail(reason);
}

void Downloader::abort(const FailureReason &reason)
{
    if (m_phase == Phase::Finished)
        return;
    if (m_phase == Phase::Committing && !m_body.part.callOffMove())
        return; // on its way to its name already: the move reports as usual
    fail(reason);
}

void Downloader::fail(const FailureReason &reason)
{
    if (m_phase == Phase::Finished)
        return;
    m_result.done = false;
    m_result.reason = reason;
    m_result.received = m_body.size();
    const bool transient = reason.kind == Kind::ShortBody || reason.kind == Kind::Stall ||
                           reason.kind == Kind::Network || reason.kind == Kind::Timeout;
    if (transient && m_phase == Phase::Receiving)
        m_body.keepForResume(m_result.total, &m_result.resume);
    else if (m_body.resume.isValid() && reason.kind != Kind::PdfDamaged)
        m_result.resume = m_body.resume; // not continued yet: still there for the next try
    if (m_phase == Phase::Reopening)
        m_body.part.keep(); // the kept bytes, opened again and not added to
    m_body.part.discard();
    finish();
}

void Downloader::finish()
{
    if (m_phase == Phase::Finished)
        return;
    m_phase = Phase::Finished;
    dropReply();
    Q_EMIT finished(m_id, m_result);
}

void Downloader::dropReply()
{
    m_headerTimer.stop();
    m_stallTimer.stop();
    if (QNetworkReply *r = m_reply.data()) {
        m_reply = nullptr;
        r->disconnect(this);
        // Aborted from the event loop, not from inside one of its own signals: the reply may still be
        // reporting an error status, and an abort in the middle of that would report a second error.
        QMetaObject::invokeMethod(
            r,
            [r] {
                r->abort();
                r->deleteLater();
            },
            Qt::QueuedConnection);
    }
}
