#include "democlient.h"

#include "testenv.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

namespace democlient {

namespace {

QString unescapeHtml(QString text)
{
    text.replace(u"&quot;"_qs, u"\""_qs).replace(u"&lt;"_qs, u"<"_qs).replace(u"&gt;"_qs, u">"_qs);
    return text.replace(u"&#39;"_qs, u"'"_qs).replace(u"&amp;"_qs, u"&"_qs);
}

} // namespace

Fetched collect(QNetworkReply *reply)
{
    Fetched f;
    f.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    f.mediaType = reply->header(QNetworkRequest::ContentTypeHeader).toString().section(u';', 0, 0).trimmed();
    f.contentLength = reply->header(QNetworkRequest::ContentLengthHeader);
    f.body = reply->readAll();
    f.headers = reply->rawHeaderPairs();
    f.error = reply->error();
    reply->deleteLater();
    return f;
}

bool waitFor(QNetworkReply *reply, int ms)
{
    if (!reply->isFinished()) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return reply->isFinished();
}

Fetched get(QNetworkAccessManager &nam, const QUrl &url)
{
    QNetworkReply *reply = nam.get(QNetworkRequest(url));
    if (!waitFor(reply)) {
        reply->abort();
        return Fetched{};
    }
    return collect(reply);
}

Fetched post(QNetworkAccessManager &nam, const QUrl &url, const QByteArray &form)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
    QNetworkReply *reply = nam.post(request, form);
    waitFor(reply);
    return collect(reply);
}

QByteArray exchange(quint16 port, const QByteArray &request, bool *closed, int ms)
{
    QTcpSocket socket;
    QByteArray answer;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::connected, &loop, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] { answer += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress::LocalHost, port);
    loop.exec();
    answer += socket.readAll();
    if (closed)
        *closed = socket.state() != QAbstractSocket::ConnectedState;
    return answer;
}

RawAnswer splitAnswer(const QByteArray &raw)
{
    RawAnswer answer;
    const int end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return answer;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    answer.statusLine = lines.first().trimmed();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        answer.headers.append({lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed()});
    }
    answer.body = raw.mid(end + 4);
    return answer;
}

QByteArray dechunk(const QByteArray &body, int *chunks, bool *ended)
{
    QByteArray out;
    qsizetype at = 0;
    *chunks = 0;
    if (ended)
        *ended = false;
    for (;;) {
        const qsizetype lineEnd = body.indexOf("\r\n", at);
        if (lineEnd < 0)
            return ended && at == body.size() ? out : QByteArray();
        bool ok = false;
        const qsizetype size = body.mid(at, lineEnd - at).toLongLong(&ok, 16);
        if (!ok)
            return QByteArray();
        at = lineEnd + 2;
        if (size == 0 && ended)
            *ended = body.mid(at) == "\r\n";
        if (size == 0)
            return body.mid(at) == "\r\n" ? out : QByteArray();
        if (body.mid(at + size, 2) != "\r\n")
            return QByteArray();
        out += body.mid(at, size);
        at += size + 2;
        ++*chunks;
    }
}

ResultPage readResultPage(const QString &html)
{
    ResultPage page;
    page.listDivs = html.count(u"class=\"tablelist paperlist\""_qs);
    const qsizetype start = html.indexOf(u"class=\"tablelist paperlist\""_qs);
    const qsizetype end = html.indexOf(u"</div>"_qs, start);
    const QString list = start < 0 ? QString() : html.mid(start, end - start);
    page.tablesInList = list.count(u"<table"_qs);
    static const QRegularExpression anchor(u"<a href=\"([^\"]*)\">([^<]*)</a>"_qs);
    for (auto it = anchor.globalMatch(list); it.hasNext();) {
        const auto m = it.next();
        page.links.append({unescapeHtml(m.captured(1)), unescapeHtml(m.captured(2))});
    }
    const QString rest = end < 0 ? html : html.mid(end);
    for (auto it = anchor.globalMatch(rest); it.hasNext();) {
        const auto m = it.next();
        if (unescapeHtml(m.captured(2)).trimmed() == u">"_qs)
            page.nextHref = unescapeHtml(m.captured(1));
    }
    return page;
}

QString pdfFault(const QByteArray &pdf)
{
    if (!pdf.startsWith("%PDF-1."))
        return u"no header"_qs;
    if (!pdf.endsWith("%%EOF\n"))
        return u"no end marker"_qs;
    const qsizetype sx = pdf.lastIndexOf("startxref\n");
    const qint64 xref = pdf.mid(sx + 10, pdf.indexOf('\n', sx + 10) - sx - 10).toLongLong();
    if (pdf.mid(xref, 5) != "xref\n")
        return u"startxref does not point at the table"_qs;
    const QList<QByteArray> lines = pdf.mid(xref).split('\n');
    const int count = lines.at(1).split(' ').at(1).toInt();
    for (int i = 1; i < count; ++i) {
        const QByteArray entry = lines.at(2 + i);
        if (entry.size() != 19) // 20 bytes with the newline
            return u"entry %1 has the wrong length"_qs.arg(i);
        const qint64 offset = entry.left(10).toLongLong();
        // An object must start on a line of its own, not at the end of a comment.
        if (!pdf.mid(offset).startsWith(QByteArray::number(i) + " 0 obj\n") || pdf.at(offset - 1) != '\n')
            return u"entry %1 does not point at its object"_qs.arg(i);
    }
    static const QRegularExpression lengthPattern(u"/Length (\\d+) >>\nstream\n"_qs);
    const auto m = lengthPattern.match(QString::fromLatin1(pdf.mid(xref - 2000 > 0 ? xref - 2000 : 0)));
    if (!m.hasMatch())
        return u"no content stream"_qs;
    const qsizetype streamStart = pdf.indexOf("stream\n", pdf.indexOf("/Length ")) + 7;
    if (pdf.mid(streamStart + m.captured(1).toInt(), 9) != "endstream")
        return u"stream length is wrong"_qs;
    return QString();
}

QString saveTo(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    fntest::writeFile(path, bytes);
    return path;
}

RawAnswer rawGet(quint16 port, const QByteArray &path, const QByteArray &extraHeaders, bool *closed,
                 const QByteArray &version)
{
    return splitAnswer(exchange(port,
                                "GET " + path + ' ' + version + "\r\nHost: 127.0.0.1\r\n" + extraHeaders +
                                    "Connection: close\r\n\r\n",
                                closed));
}

void DemoSiteFixture::reset()
{
    m_site.setPaperCount(25);
    m_site.setPageSize(10);
    m_site.login().setRequireLogin(false);
    m_site.login().setAccount(u"demo"_qs);
    m_site.login().setPassword(u"demo"_qs);
    m_site.login().clearSessions();
    m_site.faults().setPaperLimit(0);
    m_site.faults().setFlakyPercent(0);
    m_site.faults().setVerifyAfter(-1);
    m_site.faults().resetVerification();
    m_site.catalog().setLandingPages(false);
}

QPair<QByteArray, bool> DemoSiteFixture::fetchRest(int n, qint64 have)
{
    const QByteArray etag = m_site.catalog().paperETag(n);
    const RawAnswer answer =
        rawGet(m_site.port(), "/paper/" + QByteArray::number(n) + ".pdf",
               have > 0 ? "Range: bytes=" + QByteArray::number(have) + "-\r\nIf-Range: " + etag + "\r\n"
                        : QByteArray());
    if (answer.statusLine != (have > 0 ? "HTTP/1.1 206 Partial Content" : "HTTP/1.1 200 OK"))
        return {};
    bool ended = false;
    int chunks = 0;
    if (answer.header("Transfer-Encoding") == "chunked")
        return {dechunk(answer.body, &chunks, &ended), ended};
    const bool sized = answer.has("Content-Length");
    return {answer.body, !sized || answer.body.size() == answer.header("Content-Length").toLongLong()};
}

} // namespace democlient
