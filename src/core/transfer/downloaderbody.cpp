#include "core/common/classify.h"
#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/rows/targetfile.h"
#include "core/sites/loginpage.h"
#include "core/sites/siterules.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/downloader.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

// A transfer's body: what the answer holds, read into its temporary file (or held while it may be a web
// page), ranges taken up again, and the end of the body, whole or not.

namespace {

constexpr qint64 kPiece = 256 * 1024;
constexpr qint64 kSmallFile = 5001; // smaller answers of a parallel slot are read for error-page markers
// At most this much of a body waits for the disk; beyond it the answer is left unread until the disk
// has caught up (the connection then waits too).
constexpr qint64 kDiskBacklog = 8LL * 1024 * 1024;

using Kind = FailureReason::Kind;

// The rules of the transfer's site, which tell the pages that are no paper.
const SiteRules &rulesFor(const TransferOptions &options, const QUrl &address)
{
    return (options.siteRules ? *options.siteRules : builtInSiteCatalog()).pick(address);
}

// Where the answer came from at last.
QUrl pageAddress(const TransferResult &result, const QUrl &address)
{
    return result.finalUrl.isValid() ? result.finalUrl : address;
}

// Why the reply failed; none when it did not.
FailureReason replyFailure(const QNetworkReply *reply)
{
    if (!reply || reply->error() == QNetworkReply::NoError)
        return {};
    switch (reply->error()) {
    case QNetworkReply::SslHandshakeFailedError:
        return FailureReason::of(Kind::Certificate, reply->error(), reply->errorString());
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return FailureReason::of(Kind::Timeout, reply->error(), reply->errorString());
    default:
        return FailureReason::of(Kind::Network, reply->error(), reply->errorString());
    }
}

// The finished file at path named after the type its content shows (the answer named no type it could
// take): its path, type and row name then; no type when the content shows none.
struct RepairedType
{
    QString path;
    QString type;
    QString name;
};

RepairedType repairType(const QString &path)
{
    RepairedType repaired;
    const QString sniffed = sniffedTypeExtension(SniffFileType(path));
    if (sniffed.isEmpty())
        return repaired;
    const RenameResult renamed = RenameWithExtension(path, sniffed);
    repaired.path = renamed.ok ? renamed.path : path;
    // Names differ in letter case on this file system: when the file kept an extension that differs from
    // the sniffed type only in case (paper.pdf for "PDF"), the row names that extension so it finds its file.
    repaired.type = sniffed;
    if (!renamed.moved) {
        QString base;
        const QString kept = SplitFileName(repaired.path, &base);
        if (kept.compare(sniffed, Qt::CaseInsensitive) == 0)
            repaired.type = kept;
    }
    repaired.name = FileNameFromPath(repaired.path, true);
    return repaired;
}

// Why a body that ended is not the whole file, if it is not.
FailureReason shortfallOf(const TransferBody &body, bool resumed, qint64 fileTotal)
{
    if (body.length >= 0 && body.wireBytes != body.length)
        return FailureReason::of(
            Kind::ShortBody, 0,
            QStringLiteral("%1 of %2 bytes arrived").arg(body.wireBytes).arg(body.length));
    if (!body.decoder->complete())
        return FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the compressed body ended early"));
    // A range that arrived whole but stops short of the file's end: what came is kept for the rest.
    if (resumed && body.size() != fileTotal)
        return FailureReason::of(
            Kind::ShortBody, 0,
            QStringLiteral("%1 of %2 bytes of the file arrived").arg(body.size()).arg(fileTotal));
    // Nothing stated the length and the connection's end is all that ended it: a PDF cut short there (a
    // chunked answer whose close the network layer takes for its end, or a close-delimited one) lacks its
    // end mark. What came is kept for the rest when the server names the file.
    if (body.length < 0 && !resumed && !EndsLikeWholePdf(body.head, body.tail))
        return FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the PDF ends before its end mark"));
    return {};
}

// One piece of what the reply holds, into the body: whether any bytes came, and whether they went on
// into the file (a body that may be a web page is held until it is judged).
struct Piece
{
    bool read = false;
    bool wrote = false;
    FailureReason failure;
};

Piece readPiece(QNetworkReply &reply, TransferBody &body, bool expectPaper, const QString &folder)
{
    Piece piece;
    QByteArray bytes = PartFile::buffer(std::min(kPiece, reply.bytesAvailable()));
    const qint64 read = reply.read(bytes.data(), bytes.size());
    if (read <= 0)
        return piece;
    bytes.resize(read);
    piece.read = true;
    piece.failure = body.take(bytes, expectPaper, folder, &piece.wrote);
    return piece;
}

// What a body that ended is: cut short, empty (worth a request of its own on a parallel slot), a web page
// or an error page where a paper was expected, or the paper.
enum class BodyEnd { Short, Empty, TryAlone, WebPage, ErrorPage, Paper };

struct BodyVerdict
{
    BodyEnd end = BodyEnd::Paper;
    FailureReason shortfall; // with Short
};

BodyVerdict judgeBody(const TransferBody &body, const TransferOptions &options, const TransferResult &result,
                      bool fallback, const QUrl &address)
{
    if (FailureReason shortfall = shortfallOf(body, result.resumed, result.total); !shortfall.isNone())
        return {BodyEnd::Short, shortfall};
    if (body.size() == 0)
        return {!options.singleConnection && !fallback ? BodyEnd::TryAlone : BodyEnd::Empty, {}};
    // Whatever type the row had or an earlier answer named, a page is never the paper.
    if (options.expectPaper && LooksLikeWebPage(body.mediaType, body.head))
        return {BodyEnd::WebPage, {}};
    if (!options.singleConnection && body.size() < kSmallFile &&
        !body.isUsableSmallAnswer(rulesFor(options, address)))
        return {BodyEnd::ErrorPage, {}};
    return {};
}

// The next free name for a file whose name another program took: its path, in the same folder and not
// the name taken; empty when the rule gives none.
QString nextFreeName(const Downloader::TargetResolver &resolve, const QString &type, const QString &folder,
                     const QString &taken, QString *newName)
{
    const QString path = resolve(type, newName);
    const QFileInfo target(path);
    if (path.isEmpty() || withTrailingSlash(target.path()) != folder || target.fileName() == taken)
        return QString();
    return path;
}

} // namespace

bool Downloader::takeRange(int status)
{
    qint64 fileTotal = -1, rangeLength = -1;
    if (const FailureReason failure = m_body.checkRange(m_reply, status, &fileTotal, &rangeLength);
        !failure.isNone()) {
        fail(failure);
        return false;
    }
    m_body.takeMediaType(m_reply);
    // The type comes from this answer as from a whole one; the row keeps none from a failed try.
    if (m_options.singleConnection && !takeTarget(fileTotal, &m_body.resume.folder)) {
        PartFile::removeKept(m_body.resume.folder, m_body.resume.temporaryName);
        m_body.resume = {};
        fail(FailureReason::of(Kind::Disk, 0, QStringLiteral("no file name is free")));
        return false;
    }
    // The body is read once the kept bytes are open again and their head is in.
    if (!m_body.reopenKept(m_folder, this, [this, rangeLength](bool ok) { onReopened(ok, rangeLength); })) {
        fail(FailureReason::of(Kind::Disk, 0, QStringLiteral("the kept part of the file is gone")));
        return false;
    }
    m_phase = Phase::Reopening;
    m_result.total = fileTotal;
    m_result.resumed = true;
    return true;
}

void Downloader::onReopened(bool ok, qint64 rangeLength)
{
    if (m_phase != Phase::Reopening)
        return;
    if (!ok) {
        fail(FailureReason::of(Kind::Disk, 0, QStringLiteral("the kept part of the file is gone")));
        return;
    }
    m_body.continueKept(rangeLength);
    startReceiving();
    // The answer may have ended while the kept bytes were opened.
    if (m_phase == Phase::Receiving && m_reply && m_reply->isFinished())
        onReplyFinished();
}

void Downloader::readBody(bool all)
{
    bool wrote = false;
    while (m_reply && m_phase == Phase::Receiving && m_reply->bytesAvailable() > 0) {
        if (!all && m_body.part.backlog() >= kDiskBacklog) {
            m_body.part.whenBacklogBelow(kDiskBacklog / 2, this, [this] {
                if (m_phase != Phase::Receiving || !m_reply)
                    return;
                if (m_reply->isFinished())
                    onReplyFinished();
                else
                    readBody();
            });
            break;
        }
        const Piece piece = readPiece(*m_reply, m_body, m_options.expectPaper, m_folder);
        if (!piece.failure.isNone()) {
            fail(piece.failure);
            return;
        }
        if (!piece.read)
            break;
        wrote = wrote || piece.wrote;
        if (piece.wrote && m_body.pageIsWhole(m_options.expectPaper)) {
            // A web page is never the paper: once as much of it as is ever read is in, the rest is not
            // waited for (a page of many megabytes ends as soon as one that ends early).
            m_result.received = m_body.size();
            dropReply();
            endAsWebPage();
            return;
        }
    }
    if (!wrote)
        return;
    m_result.received = m_body.size();
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
            const FailureReason reason = replyFailure(m_reply);
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
        const FailureReason network = replyFailure(m_reply);
        if (m_body.length >= 0 && m_body.wireBytes < m_body.length)
            fail(FailureReason::of(Kind::ShortBody, 0,
                                   QStringLiteral("%1 of %2 bytes arrived (%3)")
                                       .arg(m_body.wireBytes)
                                       .arg(m_body.length)
                                       .arg(reasonText(network))));
        else
            fail(network);
        return;
    }
    completeBody();
}

void Downloader::completeBody()
{
    if (m_phase != Phase::Receiving)
        return;
    m_headerTimer.stop();
    m_stallTimer.stop();
    const BodyVerdict verdict = judgeBody(m_body, m_options, m_result, m_fallback, m_address);
    switch (verdict.end) {
    case BodyEnd::Short:
        fail(verdict.shortfall);
        return;
    case BodyEnd::TryAlone:
        DownloadWithInet();
        return;
    case BodyEnd::Empty:
        fail(FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the answer is empty")));
        return;
    default:
        break;
    }
    m_result.received = m_body.size();
    setState(ConnectionState::Complete);
    dropReply();
    if (verdict.end == BodyEnd::WebPage) {
        endAsWebPage();
    } else if (verdict.end == BodyEnd::ErrorPage) {
        // A small answer with an error page's marks, or with one its site's rules name: no file of it stays.
        m_result.clearPercent = true;
        m_result.loginPage =
            LooksLikeLoginPage(m_body.page, pageAddress(m_result, m_address), rulesFor(m_options, m_address));
        Q_EMIT webPageReceived(m_id);
        fail(FailureReason::of(Kind::WebPage, 0, QStringLiteral("error page")));
    } else {
        commitBody();
    }
}

void Downloader::commitBody()
{
    if (const FailureReason held = m_body.deferred ? m_body.putHeldOnDisk(m_folder) : FailureReason();
        !held.isNone()) {
        fail(held);
        return;
    }
    m_phase = Phase::Committing;
    Q_EMIT bodyReceived(m_id);
    if (const OwnedFile &earlier = m_options.earlierCopy;
        !earlier.isNone() && m_folder + m_fileName == earlier.path)
        m_body.part.replaceOnly(m_fileName, earlier.identity);
    const auto moved = [this](const PartFile::MoveResult &result) { onMoved(result); };
    m_body.part.flushAndMove(m_fileName, m_options.replaceExisting, this, moved, m_options.pdfChecker);
}

void Downloader::endAsWebPage()
{
    // The page may be a paper's own page that names its full text; what it declares goes with the result.
    const QUrl address = pageAddress(m_result, m_address);
    m_result.pageRead = true;
    if (m_options.readsAnswer) {
        // Where the paper is, not a page of the site: no login or wall is looked for in it.
        m_result.answer = std::exchange(m_body.page, QByteArray());
        fail(FailureReason::of(Kind::WebPage, 0, QStringLiteral("the answer names where the paper is")));
        return;
    }
    m_result.landing = ReadLandingPage(m_body.page, address);
    const SiteRules &rules = rulesFor(m_options, m_address);
    m_result.loginPage = LooksLikeLoginPage(m_body.page, address, rules);
    m_result.wallPage = LooksLikeAWallPage(m_body.page, address, rules);
    m_body.page.clear();
    if (m_result.landing.namesFullText()) {
        fail(FailureReason::of(Kind::WebPage));
        return;
    }
    Q_EMIT webPageReceived(m_id);
    // A paper's own page that offers no full text the program may take says so; it is no wall.
    if (m_result.landing.refusedTarget)
        fail(FailureReason::of(Kind::FullTextRefused, static_cast<int>(FullTextRefusal::Scheme),
                               m_result.landing.refusedScheme));
    else if (m_result.landing.declaresPaper)
        fail(FailureReason::of(Kind::LandingWithoutFullText));
    else
        fail(FailureReason::of(Kind::WebPage));
}

void Downloader::DownloadWithInet()
{
    // Nothing arrived although the answer was fine: ask once more on a request of its own, naming the
    // site as referrer.
    m_fallback = true;
    m_body.restart();
    m_phase = Phase::Requesting;
    m_referer = GetUrlBase(m_address.adjusted(QUrl::RemoveUserInfo).toString(), false).toUtf8();
    startRequest(m_address);
}

void Downloader::onMoved(const PartFile::MoveResult &moved, bool retried)
{
    if (m_phase != Phase::Committing)
        return;
    if (moved.pdfChecked)
        m_result.pdf = moved.pdf;
    if (moved.pdfDamaged()) {
        // Most damage is a transfer cut on the way: the bytes are gone, and the row may be fetched again.
        fail(FailureReason::of(Kind::PdfDamaged, static_cast<int>(moved.pdf.damage),
                               pdfVerdictCause(moved.pdf)));
        return;
    }
    if (moved.nameTaken && m_resolve && !retried) {
        // Another program took the name meanwhile: the next free name under the same rule.
        QString newName;
        if (const QString path = nextFreeName(m_resolve, m_result.type, m_folder, m_fileName, &newName);
            !path.isEmpty()) {
            m_result.path = path;
            m_result.name = newName;
            m_fileName = QFileInfo(path).fileName();
            m_body.part.moveLater(m_fileName, m_options.replaceExisting, this,
                                  [this](const PartFile::MoveResult &again) { onMoved(again, true); });
            return;
        }
    }
    if (!moved.ok) {
        m_body.part.discard();
        fail(FailureReason::of(Kind::Disk, moved.errorCode, moved.error));
        return;
    }
    m_result.path = m_folder + m_fileName;
    m_result.identity = moved.identity;
    m_result.sha256 = moved.sha256;
    if (m_options.singleConnection && !m_typeFromAnswer) {
        repairTypeAndFinish();
        return;
    }
    m_result.done = true;
    finish();
}

void Downloader::repairTypeAndFinish()
{
    QPointer<Downloader> guard(this);
    QPointer<QObject> receiver(this);
    diskwork::writePool().start([guard, receiver, path = m_result.path] {
        const RepairedType repaired = repairType(path);
        diskwork::postToReceiver(receiver, [guard, repaired] {
            if (!guard || guard->m_phase != Phase::Committing)
                return;
            if (!repaired.type.isEmpty()) {
                guard->m_result.path = repaired.path;
                guard->m_result.type = repaired.type;
                guard->m_result.name = repaired.name;
            }
            guard->m_result.done = true;
            guard->finish();
        });
    });
}
