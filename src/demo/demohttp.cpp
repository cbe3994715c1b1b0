#include "demo/demohttp.h"

#include "core/common/rangerequest.h"
#include "demo/demopages.h"

#include <QRandomGenerator>

QByteArray DemoRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

QByteArray DemoRequest::cookie(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare("Cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &part : value.split(';')) {
            const int eq = part.indexOf('=');
            if (eq > 0 && part.left(eq).trimmed() == name)
                return part.mid(eq + 1).trimmed();
        }
    }
    return QByteArray();
}

QByteArray DemoRequest::form() const
{
    return method == "POST" ? body : url.query(QUrl::FullyEncoded).toLatin1();
}

std::optional<QString> demoFormValue(const QByteArray &encoded, const QByteArray &key)
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

QByteArray demoToken()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16) +
           QByteArray::number(QRandomGenerator::system()->generate64(), 16);
}

DemoResponse DemoResponse::html(int status, const QString &page)
{
    DemoResponse response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = DemoBody::fromBytes(page.toUtf8());
    return response;
}

QByteArray DemoResponse::reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 501:
        return "Not Implemented";
    default:
        return "Unknown";
    }
}

std::optional<DemoSpan> answerByteRange(DemoResponse &response, const DemoRequest &request,
                                        const QByteArray &etag)
{
    response.headers.emplaceBack("ETag", etag);
    response.headers.emplaceBack("Accept-Ranges", "bytes");
    const qint64 size = response.body.size();
    if (request.method != "GET") // ranges are defined for GET alone
        return DemoSpan{0, size, size};
    const RangeAnswer range =
        RangeAnswer::read(request.header("Range"), request.header("If-Range"), size, etag);
    switch (range.kind) {
    case RangeAnswer::Kind::Whole:
        return DemoSpan{0, size, size};
    case RangeAnswer::Kind::Unsatisfiable:
        response = DemoResponse::html(416, DemoPages::rangeNotSatisfiable());
        response.headers.emplaceBack("Content-Range", range.contentRange());
        response.headers.emplaceBack("ETag", etag);
        return std::nullopt;
    case RangeAnswer::Kind::Partial:
        response.status = 206;
        response.headers.emplaceBack("Content-Range", range.contentRange());
        response.body = response.body.slice(range.first, range.length());
        return DemoSpan{range.first, range.last + 1, size};
    }
    return DemoSpan{0, size, size};
}

QByteArray demoSetSessionCookie(DemoResponse &response, const QString &name)
{
    const QByteArray token = demoToken();
    response.headers.emplaceBack("Set-Cookie", name.toLatin1() + '=' + token + "; Path=/; HttpOnly");
    return token;
}
