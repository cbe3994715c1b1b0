#pragma once

#include "core/rows/failurereason.h"
#include "core/transfer/bodydecoder.h"
#include "core/transfer/partfile.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

struct SiteRules;

class QNetworkReply;

// What a failed transfer left for the next try: the bytes it kept and how the server named that version
// of the file, so the next request asks for the rest of the same file only.
struct ResumePoint
{
    QString folder;
    QString temporaryName;
    qint64 bytes = 0;
    QByteArray etag;
    QByteArray lastModified;
    qint64 total = -1; // the whole file's length as the server stated it

    bool isValid() const
    {
        return !temporaryName.isEmpty() && bytes > 0 && (!etag.isEmpty() || !lastModified.isEmpty());
    }
};

// A transfer's body: its content coding undone as it streams in, its temporary file (or its bytes held in
// memory while it may be a web page), the first bytes that tell what it is, and the bookkeeping that lets a
// later try ask for the rest of the same file. The methods that can fail return the reason (none when all
// went well); the transfer that owns the body ends on it.
struct TransferBody
{
    static constexpr qint64 HeadBytes = 8 * 1024;

    PartFile part;
    std::unique_ptr<BodyDecoder> decoder;
    QString mediaType;
    qint64 length = -1;    // stated length of the body as sent
    qint64 wireBytes = 0;  // body bytes as sent (before decoding)
    QByteArray head;       // the first bytes of the file, to tell what it is
    QByteArray tail;       // the last bytes taken, to tell whether a body of no stated length is whole
    QByteArray page;       // the first bytes of a body that may be a web page, read for a full text
    bool notPage = false;  // the body's head shows it is no web page
    bool deferred = false; // the body is held in memory until it shows whether it is a web page
    QByteArray held;       // its bytes so far (until its head is in)
    qint64 heldBytes = 0;
    ResumePoint resume; // asked for with Range; cleared when the server sends the whole file
    QByteArray etag;
    QByteArray lastModified;

    // Bytes of the file so far.
    qint64 size() const;
    // The stated length is reached and the coding is complete.
    bool isWhole() const { return length >= 0 && wireBytes == length && decoder->complete(); }

    // How the answer names this version of the file.
    void takeValidators(const QNetworkReply *reply);
    void takeMediaType(const QNetworkReply *reply);
    // The stated length (one agreed value or none) and the content coding of a whole answer.
    FailureReason takeLengthAndCoding(const QNetworkReply *reply);
    // Checks that a range answer continues the kept bytes of the same file; gives the whole file's length
    // and the length of the range as sent. A range that does not fit drops the kept bytes.
    FailureReason checkRange(const QNetworkReply *reply, int status, qint64 *fileTotal, qint64 *rangeLength);
    // Opens the kept bytes in folder again to write the rest after them (on a worker, see PartFile::reopen);
    // done gets on the receiver's thread whether they are there as they were kept, and their first bytes
    // are in head then. False at once when they cannot be (another folder, or the folder is gone); the
    // kept bytes are forgotten when they are not there.
    bool reopenKept(const QString &folder, QObject *receiver, std::function<void(bool ok)> done);
    // The range is taken and the kept bytes are open: the body continues them as sent.
    void continueKept(qint64 rangeLength);
    // Keeps the bytes for another try when they can be continued (see ResumePoint).
    void keepForResume(qint64 total, ResumePoint *point);

    // Decodes a piece as sent and writes it to folder's temporary file (or holds it); wrote tells
    // whether any of the file came of it.
    FailureReason take(const QByteArray &piece, bool expectPaper, const QString &folder, bool *wrote);
    // The body goes to a fresh temporary file in the folder, or, for an answer that calls itself a web
    // page, is held in memory until its first bytes tell.
    FailureReason open(const QString &folder, bool expectPaper);
    // Not a page after all: the file starts with the bytes held so far.
    FailureReason putHeldOnDisk(const QString &folder);
    // As much of a web page is in as is ever read of one.
    bool pageIsWhole(bool expectPaper) const;
    // A small answer without the marks of an error page or of a page its site's rules name.
    bool isUsableSmallAnswer(const SiteRules &rules) const;
    // Forgets all of the body for a request that starts over.
    void restart();

private:
    FailureReason write(const QByteArray &decoded, const QString &folder);
};
