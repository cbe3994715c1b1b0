#include "core/common/classify.h"
#include "core/common/filenames.h"
#include "core/common/gbk.h"
#include "core/common/safetext.h"
#include "core/queue/targetfile.h"
#include "core/sites/loginpage.h"
#include "core/sites/siterules.h"
#include "core/transfer/downloader.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>

// A transfer's body: what the answer holds, read into its temporary file (or held while it may be a web
// page), ranges taken up again, and the end of the body, whole or not.

namespace {

constexpr qint64 kPiece = 256 * 1024;
constexpr qint64 kHeadBytes = 8 * 1024;
constexpr qint64 kSmallFile = 5001; // smaller answers of a parallel slot are read for error-page markers
constexpr qint64 kBombFloor = 64LL * 1024 * 1024;
// At most this much of a body waits for the disk; beyond it the answer is left unread until the disk
// has caught up (the connection then waits too).
constexpr qint64 kDiskBacklog = 8LL * 1024 * 1024;

using Kind = FailureReason::Kind;

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

} // namespace

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
        fail(FailureReason::of(Kind::Disk, m_part.errorCode(), m_part.errorText()));
        return false;
    }
    return true;
}

bool Downloader::putHeldOnDisk()
{
    // Not a page after all: the file starts with the bytes held so far.
    m_deferred = false;
    if (!m_part.open(m_folder) || !m_part.write(m_held)) {
        fail(FailureReason::of(Kind::Disk, m_part.errorCode(), m_part.errorText()));
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
        fail(FailureReason::of(Kind::Disk, moved.errorCode, moved.error));
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
