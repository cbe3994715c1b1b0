#pragma once

#include <QByteArray>

// A server's reading of a GET request's Range and If-Range headers for a body of a known size.
//
// One range is served: "bytes=N-", "bytes=N-M" (M past the end is cut to the end) and "bytes=-S"
// (the last S bytes). Anything else (another unit, a malformed range, several ranges, a reversed
// range) is ignored and the whole body is sent, which a client must always accept. A range that
// starts at or past the end is unsatisfiable. If-Range holding a validator other than the body's
// current one (a weak or different ETag, a date other than Last-Modified) also means the whole body.
struct RangeAnswer
{
    enum class Kind { Whole, Partial, Unsatisfiable };

    Kind kind = Kind::Whole;
    qint64 first = 0; // Partial: first and last offset, inclusive
    qint64 last = -1;
    qint64 size = 0; // of the whole body

    qint64 length() const { return kind == Kind::Partial ? last - first + 1 : 0; }
    // The Content-Range value: "bytes first-last/size" for a partial answer, "bytes */size" otherwise.
    QByteArray contentRange() const;

    static RangeAnswer read(const QByteArray &range, const QByteArray &ifRange, qint64 size,
                            const QByteArray &etag, const QByteArray &lastModified = QByteArray());
};
