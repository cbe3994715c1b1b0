#pragma once

#include "demo/demobody.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QUrl>
#include <optional>

// A request as the demo site's connections read it.
struct DemoRequest
{
    QByteArray method;
    QByteArray version; // "HTTP/1.1" or "HTTP/1.0"
    QUrl url;           // path and query of the request target
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // Value of the first header of that name (compared without letter case), or empty.
    QByteArray header(const QByteArray &name) const;
    // Value of the named cookie in the Cookie headers, or empty.
    QByteArray cookie(const QByteArray &name) const;
    // The x-www-form-urlencoded fields it carries: the posted body of a POST, the query otherwise.
    QByteArray form() const;
};

// Value of a field of an x-www-form-urlencoded text (a query or a posted form).
std::optional<QString> demoFormValue(const QByteArray &encoded, const QByteArray &key);
// A fresh random value for a cookie that names a session.
QByteArray demoToken();

// An answer of the demo site. Content-Length, Transfer-Encoding and Connection are added by the
// connection according to the framing.
struct DemoResponse
{
    enum class Framing {
        Length,  // Content-Length
        Chunked, // Transfer-Encoding: chunked (close-delimited for HTTP/1.0 clients)
        Close,   // no length at all: the body ends when the connection closes
    };

    int status = 200;
    QByteArray contentType;
    QList<QPair<QByteArray, QByteArray>> headers;
    DemoBody body;
    Framing framing = Framing::Length;
    // Close the connection after this many body bytes, as a dropped transfer does; -1 sends it all.
    // Never applied to a body that only the close ends, where the client could not tell.
    qint64 cutAfter = -1;
    // Send the body at this many bytes a second; 0 as fast as the client reads.
    qint64 bytesPerSecond = 0;

    static DemoResponse html(int status, const QString &page);
    static QByteArray reasonPhrase(int status);
};

// The offsets [from, end) of a file of `size` bytes that an answer carries.
struct DemoSpan
{
    qint64 from = 0;
    qint64 end = 0;
    qint64 size = 0;
};

// Gives the answer carrying a whole file its validator and makes it answer the request's byte range, if it
// asks for one the site serves. Empty when the range cannot be satisfied: the answer is then the 416 page.
std::optional<DemoSpan> answerByteRange(DemoResponse &response, const DemoRequest &request,
                                        const QByteArray &etag);

// Sets a fresh session cookie of that name on the answer (path /, HttpOnly); the token it carries.
QByteArray demoSetSessionCookie(DemoResponse &response, const QString &name);
