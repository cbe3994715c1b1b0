#include "core/transfer/downloader.h"

#include "core/common/classify.h"
#include "core/common/filenames.h"
#include "core/common/gbk.h"
#include "core/common/safetext.h"
#include "core/queue/targetfile.h"
#include "core/sites/loginpage.h"
#include "core/sites/siterules.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QSslError>

namespace {

constexpr qint64 kPiece = 256 * 1024;
constexpr qint64 kReadBuffer = 4 * 1024 * 1024;
constexpr qint64 kHeadBytes = 8 * 1024;
constexpr qint64 kSmallFile = 5001; // smaller answers of a parallel slot are read for error-page markers
constexpr int kFallbackHeaderMs = 60000;
constexpr qint64 kBombFloor = 64LL * 1024 * 1024;
// At most this much of a body waits for the disk; beyond it the answer is left unread until the disk
// has caught up (the connection then waits too).
constexpr qint64 kDiskBacklog = 8LL * 1024 * 1024;

using Kind = FailureReason::Kind;

// Every value the answer gives for its length (repeated headers, or values joined by commas).
QList<QByteArray> lengthValues(const QNetworkReply *reply)
{
    QList<QByteArray> values;
    for (const auto &[name, value] : reply->rawHeaderPairs()) {
        if (name.compare("content-length", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &part : value.split(','))
            values.append(part.trimmed());
    }
    return values;
}

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

// "bytes START-END/TOTAL" (TOTAL may be "*").
bool parseContentRange(const QByteArray &value, qint64 *start, qint64 *end, qint64 *total)
{
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return false;
    const QList<QByteArray> parts = text.mid(6).split('/');
    if (parts.size() != 2)
        return false;
    const QList<QByteArray> span = parts.at(0).split('-');
    bool ok1 = false, ok2 = false, ok3 = true;
    if (span.size() != 2)
        return false;
    *start = span.at(0).trimmed().toLongLong(&ok1);
    *end = span.at(1).trimmed().toLongLong(&ok2);
    *total = parts.at(1).trimmed() == "*" ? -1 : parts.at(1).trimmed().toLongLong(&ok3);
    return ok1 && ok2 && ok3 && *start >= 0 && *end >= *start && (*total < 0 || *end < *total);
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
    connect(&m_headerTimer, &QTimer::timeout, this, &Downloader::onHeaderTimeout);
    connect(&m_stallTimer, &QTimer::timeout, this, &Downloader::onStallCheck);
}

Downloader::~Downloader()
{
    dropReply();
    m_part.discard();
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

bool Downloader::isUsableSmallAnswer() const
{
    if (!IsUsablePage(gbk::decode(m_head)))
        return false;
    // A site's own texts come in its own encoding: GBK or UTF-8.
    const SiteRules &rules = programSiteRules().pick(m_address);
    return !rules.marksNotPaper(gbk::decode(m_head)) && !rules.marksNotPaper(QString::fromUtf8(m_head));
}

bool Downloader::acceptsStatus(int status, const QString &reason, bool http2)
{
    return status == 200 && (http2 || reason.compare(QStringLiteral("OK"), Qt::CaseInsensitive) == 0);
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
    if (m_resume.isValid() && !m_fallback) {
        // Only the rest, and only of the same file: a changed file comes whole.
        request.setRawHeader("Range", "bytes=" + QByteArray::number(m_resume.bytes) + '-');
        request.setRawHeader("If-Range", m_resume.etag.isEmpty() ? m_resume.lastModified : m_resume.etag);
    }
    m_result.requested.append(url);
    QNetworkReply *reply = m_manager->get(request);
    reply->setReadBufferSize(kReadBuffer);
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &Downloader::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
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
    if (!takeAnswer(status))
        return;
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
    m_result.total = -1;
    m_result.retryAfterMs = retryAfterMs(m_reply->rawHeader("Retry-After"));
    m_result.finalUrl = m_reply->url();
    m_etag = m_reply->rawHeader("ETag").trimmed();
    m_lastModified = m_reply->rawHeader("Last-Modified").trimmed();
    if (m_resume.isValid()) {
        if (status == 206)
            return takeRange(status);
        if (status >= 200 && status < 300) {
            // The whole file again (it changed, or the server does not do ranges): start over.
            PartFile::removeKept(m_resume.folder, m_resume.temporaryName);
            m_resume = {};
        }
    }
    if (m_options.singleConnection) {
        const bool http2 = m_reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
        if (!acceptsStatus(status, reason, http2)) {
            m_result.sizeNote = SizeNote::NotFound;
            fail(FailureReason::of(Kind::HttpStatus, status, reason));
            return false;
        }
    } else if (status < 200 || status >= 300 || status == 206) {
        // Only a successful answer is a file; an error page sent with an error status never becomes one.
        fail(FailureReason::of(Kind::HttpStatus, status, reason));
        return false;
    }

    // The body is whole only when one agreed length is reached exactly.
    QSet<qint64> lengths;
    bool unreadable = false;
    for (const QByteArray &value : lengthValues(m_reply)) {
        bool numeric = false;
        const qint64 length = value.toLongLong(&numeric);
        if (numeric && length >= 0)
            lengths.insert(length);
        else
            unreadable = true;
    }
    if (lengths.size() > 1 || (unreadable && !lengths.isEmpty())) {
        fail(FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the answer states conflicting lengths")));
        return false;
    }
    m_length = lengths.isEmpty() ? -1 : *lengths.cbegin();

    m_decoder = std::make_unique<BodyDecoder>(BodyDecoder::codingOf(m_reply->rawHeader("Content-Encoding")));
    if (m_decoder->coding() == BodyDecoder::Coding::Unsupported) {
        fail(FailureReason::of(Kind::Network, 0,
                               QStringLiteral("unsupported content coding %1")
                                   .arg(QString::fromLatin1(m_reply->rawHeader("Content-Encoding")))));
        return false;
    }
    // The file's own length is known only when the body is sent as it is.
    if (m_decoder->coding() == BodyDecoder::Coding::Identity && m_length > 0)
        m_result.total = m_length;

    QString mediaType = QString::fromLatin1(m_reply->rawHeader("Content-Type"));
    mediaType = mediaType.left(mediaType.indexOf(u';')).trimmed();
    m_mediaType = mediaType;
    if (m_options.singleConnection) {
        // A type from the server may become part of the path only as a short plain token; anything else
        // leaves the row's type and the content decides after the download.
        const QString extension = MediaTypeToExtension(mediaType);
        m_typeFromAnswer = IsSafeFileType(extension);
        if (m_typeFromAnswer)
            m_result.type = extension;
        QString newName;
        const QString path = m_resolve ? m_resolve(m_result.type, &newName) : QString();
        if (path.isEmpty()) {
            fail(FailureReason::of(Kind::Disk, 0, QStringLiteral("no file name is free")));
            return false;
        }
        m_result.name = newName;
        m_result.path = path;
        const QFileInfo target(path);
        m_folder = withTrailingSlash(target.path());
        m_fileName = target.fileName();
        Q_EMIT answered(m_id, m_result.total, m_result.type, m_result.name);
    }
    // An answer that calls itself a web page is held in memory until its first bytes tell: a page never
    // becomes a file, and making and removing a file for each one costs more than the page itself.
    const QString media = m_mediaType.toLower();
    if (m_options.expectPaper && (media == u"text/html" || media == u"application/xhtml+xml")) {
        m_deferred = true;
        return true;
    }
    if (!m_part.open(m_folder)) {
        fail(FailureReason::of(Kind::Disk, 0, m_part.errorText()));
        return false;
    }
    return true;
}

qint64 Downloader::bodySize() const
{
    return m_deferred ? m_heldBytes : m_part.size();
}

bool Downloader::writeBody(const QByteArray &decoded)
{
    if (m_deferred) {
        m_heldBytes += decoded.size();
        if (m_head.size() < kHeadBytes) {
            m_held.append(decoded);
            return true;
        }
        if (LooksLikeWebPage(m_mediaType, m_head)) {
            m_held = QByteArray(); // what is read of it is in m_page
            return true;
        }
        m_heldBytes -= decoded.size();
        if (!putHeldOnDisk())
            return false;
    }
    if (!m_part.write(decoded)) {
        fail(FailureReason::of(Kind::Disk, 0, m_part.errorText()));
        return false;
    }
    return true;
}

bool Downloader::putHeldOnDisk()
{
    // Not a page after all: the file starts with the bytes held so far.
    m_deferred = false;
    if (!m_part.open(m_folder) || !m_part.write(m_held)) {
        fail(FailureReason::of(Kind::Disk, 0, m_part.errorText()));
        return false;
    }
    m_held = QByteArray();
    m_heldBytes = 0;
    return true;
}

bool Downloader::takeRange(int status)
{
    // The rest of the kept bytes: exactly from where they end, of the same file.
    qint64 start = -1, end = -1, total = -1;
    const bool readable = parseContentRange(m_reply->rawHeader("Content-Range"), &start, &end, &total);
    const bool sameFile = m_etag.isEmpty() || m_resume.etag.isEmpty() || m_etag == m_resume.etag;
    const bool sameTotal = m_resume.total < 0 || total < 0 || total == m_resume.total;
    bool numeric = false;
    const qint64 length = m_reply->rawHeader("Content-Length").trimmed().toLongLong(&numeric);
    const bool encoded =
        BodyDecoder::codingOf(m_reply->rawHeader("Content-Encoding")) != BodyDecoder::Coding::Identity;
    if (!readable || start != m_resume.bytes || !sameFile || !sameTotal || encoded ||
        (numeric && length != end - start + 1)) {
        PartFile::removeKept(m_resume.folder, m_resume.temporaryName);
        m_resume = {};
        fail(FailureReason::of(Kind::ShortBody, status,
                               QStringLiteral("the server sent another part of the file")));
        return false;
    }
    // The kept part and the range make a whole file only against a known length: the one this answer
    // states, or else the one the first try stated.
    const qint64 fileTotal = total >= 0 ? total : m_resume.total;
    if (fileTotal < 0 || end >= fileTotal) {
        PartFile::removeKept(m_resume.folder, m_resume.temporaryName);
        m_resume = {};
        fail(FailureReason::of(Kind::ShortBody, status,
                               QStringLiteral("the length of the whole file is not known")));
        return false;
    }
    m_mediaType = QString::fromLatin1(m_reply->rawHeader("Content-Type"));
    m_mediaType = m_mediaType.left(m_mediaType.indexOf(u';')).trimmed();
    if (m_options.singleConnection) {
        // The type comes from this answer as from a whole one; the row keeps none from a failed try.
        const QString extension = MediaTypeToExtension(m_mediaType);
        m_typeFromAnswer = IsSafeFileType(extension);
        if (m_typeFromAnswer)
            m_result.type = extension;
        QString newName;
        const QString path = m_resolve ? m_resolve(m_result.type, &newName) : QString();
        const QFileInfo target(path);
        if (path.isEmpty() || withTrailingSlash(target.path()) != withTrailingSlash(m_resume.folder)) {
            PartFile::removeKept(m_resume.folder, m_resume.temporaryName);
            m_resume = {};
            fail(FailureReason::of(Kind::Disk, 0, QStringLiteral("no file name is free")));
            return false;
        }
        m_result.name = newName;
        m_result.path = path;
        m_folder = withTrailingSlash(target.path());
        m_fileName = target.fileName();
        Q_EMIT answered(m_id, fileTotal, m_result.type, m_result.name);
    }
    if (withTrailingSlash(m_resume.folder) != m_folder || !m_part.reopen(m_folder, m_resume.temporaryName) ||
        m_part.size() != m_resume.bytes) {
        m_part.discard();
        m_resume = {};
        fail(FailureReason::of(Kind::Disk, 0, QStringLiteral("the kept part of the file is gone")));
        return false;
    }
    if (m_etag.isEmpty())
        m_etag = m_resume.etag;
    if (m_lastModified.isEmpty())
        m_lastModified = m_resume.lastModified;
    m_head = m_part.readHead(kHeadBytes);
    m_length = numeric ? length : end - start + 1;
    m_result.total = fileTotal;
    m_result.resumed = true;
    m_decoder = std::make_unique<BodyDecoder>(BodyDecoder::Coding::Identity);
    m_resume = {};
    return true;
}

void Downloader::keepForResume()
{
    // Only bytes sent as they are, of a file the server names, can be continued later.
    const bool identity = m_decoder && m_decoder->coding() == BodyDecoder::Coding::Identity;
    if (!identity || m_part.size() <= 0 || (m_etag.isEmpty() && m_lastModified.isEmpty()))
        return;
    ResumePoint point;
    point.folder = m_part.folder();
    point.temporaryName = m_part.temporaryName();
    point.bytes = m_part.size();
    point.etag = m_etag;
    point.lastModified = m_lastModified;
    point.total = m_result.total;
    m_part.keep();
    m_result.resume = point;
}

void Downloader::onDiskCaughtUp()
{
    if (m_phase != Phase::Receiving || !m_reply)
        return;
    if (m_reply->isFinished())
        onReplyFinished();
    else
        readBody();
}

void Downloader::onReadyRead()
{
    if (m_phase == Phase::Receiving)
        readBody();
}

void Downloader::readBody(bool all)
{
    bool wrote = false;
    QByteArray decoded;
    while (m_reply && m_phase == Phase::Receiving && m_reply->bytesAvailable() > 0) {
        if (!all && m_part.backlog() >= kDiskBacklog) {
            m_part.whenBacklogBelow(kDiskBacklog / 2, this, [this] { onDiskCaughtUp(); });
            break;
        }
        QByteArray piece = PartFile::buffer(std::min(kPiece, m_reply->bytesAvailable()));
        const qint64 read = m_reply->read(piece.data(), piece.size());
        if (read <= 0)
            break;
        piece.resize(read);
        m_wireBytes += piece.size();
        if (!m_decoder->feed(piece, &decoded)) {
            fail(FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the compressed body is damaged")));
            return;
        }
        if (decoded.isEmpty())
            continue;
        // A paper compresses a few times over; a large body that grows a hundredfold is a bomb, not a file.
        if (bodySize() + decoded.size() > kBombFloor && bodySize() + decoded.size() > 100 * m_wireBytes) {
            fail(
                FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the compressed body expands too far")));
            return;
        }
        if (m_head.size() < kHeadBytes)
            m_head.append(decoded.left(kHeadBytes - m_head.size()));
        if (m_options.expectPaper && !m_notPage) {
            // Kept only while the body may still be a web page.
            if (m_head.size() >= kHeadBytes && !LooksLikeWebPage(m_mediaType, m_head)) {
                m_notPage = true;
                m_page = QByteArray();
            } else if (m_page.size() < LandingPageReadLimit) {
                m_page.append(decoded.left(LandingPageReadLimit - m_page.size()));
            }
        }
        if (!writeBody(decoded))
            return;
        wrote = true;
        if (pageIsWhole()) {
            // A web page is never the paper: once as much of it as is ever read is in, the rest is not
            // waited for (a page of many megabytes ends as soon as one that ends early).
            m_headerTimer.stop();
            m_stallTimer.stop();
            m_result.received = bodySize();
            dropReply();
            endAsWebPage();
            return;
        }
    }
    if (!wrote)
        return;
    m_result.received = bodySize();
    if (m_result.total > 0)
        m_progressWithTotal = true;
    Q_EMIT DownloadProgress(m_id, m_result.received, m_result.total);
    // A stop may arrive between the last byte and the reply's end: the body is complete then already.
}

void Downloader::onReplyFinished()
{
    if (!m_reply)
        return;
    if (m_phase == Phase::Requesting) {
        onMetaData();
        if (m_phase == Phase::Requesting && m_reply) {
            // No answer at all (refused connection, certificate, time-out, ...).
            const FailureReason reason = replyFailure();
            setState(ConnectionState::Error);
            fail(reason.isNone() ? FailureReason::of(Kind::Network, 0, QStringLiteral("no answer")) : reason);
            return;
        }
    }
    if (m_phase != Phase::Receiving || !m_reply)
        return;
    readBody();
    if (m_phase != Phase::Receiving)
        return;
    if (m_reply->bytesAvailable() > 0)
        return; // the rest is read when the disk has caught up
    if (m_reply->error() != QNetworkReply::NoError) {
        setState(ConnectionState::Error);
        const FailureReason network = replyFailure();
        if (m_length >= 0 && m_wireBytes < m_length)
            fail(FailureReason::of(Kind::ShortBody, 0,
                                   QStringLiteral("%1 of %2 bytes arrived (%3)")
                                       .arg(m_wireBytes)
                                       .arg(m_length)
                                       .arg(reasonText(network))));
        else
            fail(network);
        return;
    }
    completeBody();
}

FailureReason Downloader::replyFailure() const
{
    if (!m_reply || m_reply->error() == QNetworkReply::NoError)
        return {};
    switch (m_reply->error()) {
    case QNetworkReply::SslHandshakeFailedError:
        return FailureReason::of(Kind::Certificate, m_reply->error(), m_reply->errorString());
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return FailureReason::of(Kind::Timeout, m_reply->error(), m_reply->errorString());
    default:
        return FailureReason::of(Kind::Network, m_reply->error(), m_reply->errorString());
    }
}

void Downloader::completeBody()
{
    if (m_phase != Phase::Receiving)
        return;
    m_headerTimer.stop();
    m_stallTimer.stop();
    if (m_length >= 0 && m_wireBytes != m_length) {
        fail(FailureReason::of(Kind::ShortBody, 0,
                               QStringLiteral("%1 of %2 bytes arrived").arg(m_wireBytes).arg(m_length)));
        return;
    }
    if (!m_decoder->complete()) {
        fail(FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the compressed body ended early")));
        return;
    }
    const qint64 received = bodySize();
    if (m_result.resumed && received != m_result.total) {
        // The range arrived whole but stops short of the file's end: what came is kept for the rest.
        fail(FailureReason::of(
            Kind::ShortBody, 0,
            QStringLiteral("%1 of %2 bytes of the file arrived").arg(received).arg(m_result.total)));
        return;
    }
    if (received == 0) {
        if (!m_options.singleConnection && !m_fallback) {
            DownloadWithInet();
            return;
        }
        fail(FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the answer is empty")));
        return;
    }
    m_result.received = received;
    setState(ConnectionState::Complete);
    dropReply();
    // Whatever type the row had or an earlier answer named, a page is never the paper.
    if (m_options.expectPaper && LooksLikeWebPage(m_mediaType, m_head)) {
        endAsWebPage();
        return;
    }
    if (!m_options.singleConnection && received < kSmallFile && !isUsableSmallAnswer()) {
        // A small answer with an error page's marks, or with one its site's rules name: no file of it stays.
        m_result.clearPercent = true;
        m_result.loginPage = LooksLikeLoginPage(m_page, pageAddress(), programSiteRules().pick(m_address));
        Q_EMIT webPageReceived(m_id);
        fail(FailureReason::of(Kind::WebPage, 0, QStringLiteral("error page")));
        return;
    }
    if (m_deferred && !putHeldOnDisk())
        return;
    m_phase = Phase::Committing;
    Q_EMIT bodyReceived(m_id);
    m_part.flushAndMove(m_fileName, m_options.replaceExisting, this,
                        [this](const PartFile::MoveResult &moved) { onMoved(moved); });
}

QUrl Downloader::pageAddress() const
{
    return m_result.finalUrl.isValid() ? m_result.finalUrl : m_address;
}

bool Downloader::pageIsWhole() const
{
    return m_options.expectPaper && !m_notPage && m_page.size() >= LandingPageReadLimit &&
           m_head.size() >= kHeadBytes && LooksLikeWebPage(m_mediaType, m_head);
}

void Downloader::endAsWebPage()
{
    // The page may be a paper's own page that names its full text; what it declares goes with the result.
    m_result.pageRead = true;
    m_result.landing = ReadLandingPage(m_page, pageAddress());
    m_result.loginPage = LooksLikeLoginPage(m_page, pageAddress(), programSiteRules().pick(m_address));
    m_page.clear();
    if (m_result.landing.namesFullText()) {
        fail(FailureReason::of(Kind::WebPage));
        return;
    }
    Q_EMIT webPageReceived(m_id);
    if (m_result.landing.declaresPaper || m_result.landing.refusedTarget)
        fail(FailureReason::of(Kind::LandingWithoutFullText));
    else
        fail(FailureReason::of(Kind::WebPage));
}

void Downloader::DownloadWithInet()
{
    // Nothing arrived although the answer was fine: ask once more on a request of its own, naming the
    // site as referrer.
    m_fallback = true;
    m_part.discard();
    m_page.clear();
    m_notPage = false;
    m_deferred = false;
    m_held.clear();
    m_heldBytes = 0;
    m_decoder.reset();
    m_length = -1;
    m_wireBytes = 0;
    m_phase = Phase::Requesting;
    m_referer = GetUrlBase(m_address.adjusted(QUrl::RemoveUserInfo).toString(), false).toUtf8();
    startRequest(m_address);
}

void Downloader::onMoved(PartFile::MoveResult moved)
{
    if (m_phase != Phase::Committing)
        return;
    if (moved.nameTaken && m_resolve) {
        // Another program took the name meanwhile: the next free name under the same rule.
        QString newName;
        const QString path = m_resolve(m_result.type, &newName);
        const QFileInfo target(path);
        if (!path.isEmpty() && withTrailingSlash(target.path()) == m_folder &&
            target.fileName() != m_fileName) {
            m_result.path = path;
            m_result.name = newName;
            m_fileName = target.fileName();
            moved = m_part.moveTo(m_fileName, m_options.replaceExisting);
        }
    }
    if (!moved.ok) {
        m_part.discard();
        fail(FailureReason::of(Kind::Disk, 0, moved.error));
        return;
    }
    m_result.path = m_folder + m_fileName;
    m_result.identity = moved.identity;
    if (m_options.singleConnection && !m_typeFromAnswer)
        repairType();
    m_result.done = true;
    finish();
}

void Downloader::repairType()
{
    const QString sniffed = SniffFileType(m_result.path);
    if (sniffed.isEmpty())
        return;
    const RenameResult renamed = RenameWithExtension(m_result.path, sniffed);
    if (renamed.ok)
        m_result.path = renamed.path;
    // Names differ in letter case on this file system: when the file kept an extension that differs from
    // the sniffed type only in case (paper.pdf for "PDF"), the row names that extension so it finds its file.
    QString type = sniffed;
    if (!renamed.moved) {
        QString base;
        const QString kept = SplitFileName(m_result.path, &base);
        if (kept.compare(sniffed, Qt::CaseInsensitive) == 0)
            type = kept;
    }
    m_result.type = type;
    m_result.name = FileNameFromPath(m_result.path, true);
}

void Downloader::onHeaderTimeout()
{
    if (m_phase == Phase::Requesting)
        fail(FailureReason::of(
            Kind::Timeout, 0,
            QStringLiteral("no answer within %1 seconds").arg(m_headerTimer.interval() / 1000)));
}

void Downloader::onStallCheck()
{
    if (m_phase != Phase::Receiving)
        return;
    if (m_wireBytes - m_stallMark < m_options.stallMinBytes) {
        fail(FailureReason::of(Kind::Stall, 0,
                               QStringLiteral("less than %1 bytes in %2 seconds")
                                   .arg(m_options.stallMinBytes)
                                   .arg(m_options.stallWindowMs / 1000.0)));
        return;
    }
    m_stallMark = m_wireBytes;
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
        if (m_phase == Phase::Receiving && m_length >= 0 && m_wireBytes == m_length &&
            m_decoder->complete()) {
            completeBody();
            return;
        }
        if (m_phase != Phase::Receiving)
            return;
        m_result.sizeNote = SizeNote::Cancelled;
        break;
    case Phase::Idle:
    case Phase::Requesting:
        break;
    }
    m_result.stamped = false;
    fail(reason);
}

void Downloader::abort(const FailureReason &reason)
{
    if (m_phase == Phase::Committing || m_phase == Phase::Finished)
        return;
    fail(reason);
}

void Downloader::fail(const FailureReason &reason)
{
    if (m_phase == Phase::Finished)
        return;
    m_result.done = false;
    m_result.reason = reason;
    m_result.received = bodySize();
    const bool transient = reason.kind == Kind::ShortBody || reason.kind == Kind::Stall ||
                           reason.kind == Kind::Network || reason.kind == Kind::Timeout;
    if (transient && m_phase == Phase::Receiving)
        keepForResume();
    else if (m_resume.isValid())
        m_result.resume = m_resume; // not asked for yet: still there for the next try
    m_part.discard();
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
