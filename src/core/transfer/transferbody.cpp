#include "core/transfer/transferbody.h"

#include "core/common/classify.h"
#include "core/common/gbk.h"
#include "core/library/landingpage.h"
#include "core/rows/targetfile.h"
#include "core/sites/siterules.h"

#include <QNetworkReply>
#include <QSet>

namespace {

constexpr qint64 kBombFloor = 64LL * 1024 * 1024;

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

qint64 TransferBody::size() const
{
    return deferred ? heldBytes : part.size();
}

void TransferBody::takeValidators(const QNetworkReply *reply)
{
    etag = reply->rawHeader("ETag").trimmed();
    lastModified = reply->rawHeader("Last-Modified").trimmed();
}

void TransferBody::takeMediaType(const QNetworkReply *reply)
{
    mediaType = QString::fromLatin1(reply->rawHeader("Content-Type"));
    mediaType = mediaType.left(mediaType.indexOf(u';')).trimmed();
}

FailureReason TransferBody::takeLengthAndCoding(const QNetworkReply *reply)
{
    // The body is whole only when one agreed length is reached exactly.
    QSet<qint64> lengths;
    bool unreadable = false;
    for (const QByteArray &value : lengthValues(reply)) {
        bool numeric = false;
        const qint64 stated = value.toLongLong(&numeric);
        if (numeric && stated >= 0)
            lengths.insert(stated);
        else
            unreadable = true;
    }
    if (lengths.size() > 1 || (unreadable && !lengths.isEmpty()))
        return FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the answer states conflicting lengths"));
    length = lengths.isEmpty() ? -1 : *lengths.cbegin();

    decoder = std::make_unique<BodyDecoder>(BodyDecoder::codingOf(reply->rawHeader("Content-Encoding")));
    if (decoder->coding() == BodyDecoder::Coding::Unsupported)
        return FailureReason::of(Kind::Network, 0,
                                 QStringLiteral("unsupported content coding %1")
                                     .arg(QString::fromLatin1(reply->rawHeader("Content-Encoding"))));
    return {};
}

FailureReason TransferBody::checkRange(const QNetworkReply *reply, int status, qint64 *fileTotal,
                                       qint64 *rangeLength)
{
    // The rest of the kept bytes: exactly from where they end, of the same file.
    qint64 start = -1, end = -1, total = -1;
    const bool readable = parseContentRange(reply->rawHeader("Content-Range"), &start, &end, &total);
    const bool sameFile = etag.isEmpty() || resume.etag.isEmpty() || etag == resume.etag;
    const bool sameTotal = resume.total < 0 || total < 0 || total == resume.total;
    bool numeric = false;
    const qint64 stated = reply->rawHeader("Content-Length").trimmed().toLongLong(&numeric);
    const bool encoded =
        BodyDecoder::codingOf(reply->rawHeader("Content-Encoding")) != BodyDecoder::Coding::Identity;
    FailureReason failure;
    if (!readable || start != resume.bytes || !sameFile || !sameTotal || encoded ||
        (numeric && stated != end - start + 1)) {
        failure = FailureReason::of(Kind::ShortBody, status,
                                    QStringLiteral("the server sent another part of the file"));
    } else {
        // The kept part and the range make a whole file only against a known length: the one this answer
        // states, or else the one the first try stated.
        *fileTotal = total >= 0 ? total : resume.total;
        if (*fileTotal < 0 || end >= *fileTotal)
            failure = FailureReason::of(Kind::ShortBody, status,
                                        QStringLiteral("the length of the whole file is not known"));
    }
    if (!failure.isNone()) {
        PartFile::removeKept(resume.folder, resume.temporaryName);
        resume = {};
        return failure;
    }
    *rangeLength = numeric ? stated : end - start + 1;
    return {};
}

bool TransferBody::reopenKept(const QString &folder, QObject *receiver, std::function<void(bool ok)> done)
{
    const auto reopened = [this, done = std::move(done)](bool ok, const QByteArray &kept) {
        if (ok) {
            head = kept;
        } else {
            part.discard();
            resume = {};
        }
        done(ok);
    };
    if (withTrailingSlash(resume.folder) != folder ||
        !part.reopen(folder, resume.temporaryName, resume.bytes, HeadBytes, receiver, reopened)) {
        part.discard();
        resume = {};
        return false;
    }
    return true;
}

void TransferBody::continueKept(qint64 rangeLength)
{
    if (etag.isEmpty())
        etag = resume.etag;
    if (lastModified.isEmpty())
        lastModified = resume.lastModified;
    length = rangeLength;
    decoder = std::make_unique<BodyDecoder>(BodyDecoder::Coding::Identity);
    resume = {};
}

void TransferBody::keepForResume(qint64 total, ResumePoint *point)
{
    // Only bytes sent as they are, of a file the server names, can be continued later.
    const bool identity = decoder && decoder->coding() == BodyDecoder::Coding::Identity;
    if (!identity || part.size() <= 0 || (etag.isEmpty() && lastModified.isEmpty()))
        return;
    point->folder = part.folder();
    point->temporaryName = part.temporaryName();
    point->bytes = part.size();
    point->etag = etag;
    point->lastModified = lastModified;
    point->total = total;
    part.keep();
}

FailureReason TransferBody::take(const QByteArray &piece, bool expectPaper, const QString &folder,
                                 bool *wrote)
{
    *wrote = false;
    wireBytes += piece.size();
    QByteArray decoded;
    if (!decoder->feed(piece, &decoded))
        return FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the compressed body is damaged"));
    if (decoded.isEmpty())
        return {};
    // A paper compresses a few times over; a large body that grows a hundredfold is a bomb, not a file.
    if (size() + decoded.size() > kBombFloor && size() + decoded.size() > 100 * wireBytes)
        return FailureReason::of(Kind::ShortBody, 0, QStringLiteral("the compressed body expands too far"));
    if (head.size() < HeadBytes)
        head.append(decoded.left(HeadBytes - head.size()));
    if (decoded.size() >= PdfTailBytes) {
        tail = decoded.right(PdfTailBytes);
    } else {
        tail.append(decoded);
        if (tail.size() > 2 * PdfTailBytes)
            tail.remove(0, tail.size() - PdfTailBytes);
    }
    if (expectPaper && !notPage) {
        // Kept only while the body may still be a web page.
        if (head.size() >= HeadBytes && !LooksLikeWebPage(mediaType, head)) {
            notPage = true;
            page = QByteArray();
        } else if (page.size() < LandingPageReadLimit) {
            page.append(decoded.left(LandingPageReadLimit - page.size()));
        }
    }
    FailureReason failure = write(decoded, folder);
    *wrote = failure.isNone();
    return failure;
}

FailureReason TransferBody::write(const QByteArray &decoded, const QString &folder)
{
    if (deferred) {
        heldBytes += decoded.size();
        if (head.size() < HeadBytes) {
            held.append(decoded);
            return {};
        }
        if (LooksLikeWebPage(mediaType, head)) {
            held = QByteArray(); // what is read of it is in page
            return {};
        }
        heldBytes -= decoded.size();
        if (FailureReason failure = putHeldOnDisk(folder); !failure.isNone())
            return failure;
    }
    if (!part.write(decoded))
        return FailureReason::of(Kind::Disk, part.errorCode(), part.errorText());
    return {};
}

FailureReason TransferBody::open(const QString &folder, bool expectPaper)
{
    // A page never becomes a file, and making and removing a file for each one costs more than the page.
    const QString media = mediaType.toLower();
    if (expectPaper && (media == u"text/html" || media == u"application/xhtml+xml")) {
        deferred = true;
        return {};
    }
    if (!part.open(folder))
        return FailureReason::of(FailureReason::Kind::Disk, part.errorCode(), part.errorText());
    return {};
}

FailureReason TransferBody::putHeldOnDisk(const QString &folder)
{
    deferred = false;
    if (!part.open(folder) || !part.write(held))
        return FailureReason::of(Kind::Disk, part.errorCode(), part.errorText());
    held = QByteArray();
    heldBytes = 0;
    return {};
}

bool TransferBody::pageIsWhole(bool expectPaper) const
{
    return expectPaper && !notPage && page.size() >= LandingPageReadLimit && head.size() >= HeadBytes &&
           LooksLikeWebPage(mediaType, head);
}

bool TransferBody::isUsableSmallAnswer(const SiteRules &rules) const
{
    if (!IsUsablePage(gbk::decode(head)))
        return false;
    // A site's own texts come in its own encoding: GBK or UTF-8.
    return !rules.marksNotPaper(gbk::decode(head)) && !rules.marksNotPaper(QString::fromUtf8(head));
}

void TransferBody::restart()
{
    part.discard();
    page.clear();
    notPage = false;
    deferred = false;
    held.clear();
    heldBytes = 0;
    decoder.reset();
    length = -1;
    wireBytes = 0;
}
