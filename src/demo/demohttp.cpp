#include "demo/demohttp.h"

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
