#include "core/common/classify.h"
#include "core/common/clock.h"
#include "core/library/landingpage.h"
#include "demo/demoflaky.h"
#include "demo/demosite.h"
#include "demo/demositecommand.h"
#include "demo/minipdf.h"
#include "testenv.h"

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

struct Fetched
{
    int status = 0;
    QString mediaType;
    QVariant contentLength;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return QByteArray();
    }
};

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

bool waitFor(QNetworkReply *reply, int ms = 20000)
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

// Sends raw bytes and reads until the server closes the connection (or the time is up). The site
// runs in this thread, so the socket is driven by an event loop, not by blocking waits.
QByteArray exchange(quint16 port, const QByteArray &request, bool *closed = nullptr, int ms = 10000)
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

struct RawAnswer
{
    QByteArray statusLine;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return QByteArray();
    }
    bool has(const QByteArray &name) const
    {
        for (const auto &pair : headers) {
            if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }
};

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

// Decodes a chunked body; chunks counts the chunks met. Empty on a framing fault; with `ended`, a
// body cut after a whole chunk gives the chunks so far and *ended tells whether the last one came.
QByteArray dechunk(const QByteArray &body, int *chunks, bool *ended = nullptr)
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

QString unescapeHtml(QString text)
{
    text.replace(u"&quot;"_qs, u"\""_qs).replace(u"&lt;"_qs, u"<"_qs).replace(u"&gt;"_qs, u">"_qs);
    return text.replace(u"&#39;"_qs, u"'"_qs).replace(u"&amp;"_qs, u"&"_qs);
}

// The parts of a result page that the program's extraction reads.
struct ResultPage
{
    int listDivs = 0;
    int tablesInList = 0;
    QList<QPair<QString, QString>> links; // address, text of each link inside the list
    QString nextHref;                     // the ">" link, if any
};

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

// Checks the parts of a PDF that readers rely on: the header, every cross-reference entry pointing at
// its object, the content stream length, startxref pointing at the table, and the end marker.
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

// A GET of a path with extra header lines, over a fresh connection that the server is asked to close.
RawAnswer rawGet(quint16 port, const QByteArray &path, const QByteArray &extraHeaders = QByteArray(),
                 bool *closed = nullptr, const QByteArray &version = "HTTP/1.1")
{
    return splitAnswer(exchange(port,
                                "GET " + path + ' ' + version + "\r\nHost: 127.0.0.1\r\n" + extraHeaders +
                                    "Connection: close\r\n\r\n",
                                closed));
}

// Installs a clock for the life of the guard.
struct ClockGuard
{
    ManualClock clock;
    Clock *previous = Clock::install(&clock);
    ~ClockGuard() { Clock::install(previous); }
};

} // namespace

class TestDemoSite : public QObject
{
    Q_OBJECT

    DemoSite m_site;
    QNetworkAccessManager m_nam;
    QTemporaryDir m_dir;

    void reset()
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

    // A fetch of paper n as a resuming client makes it, keeping `have` bytes: the bytes that came,
    // and whether the answer ended properly.
    QPair<QByteArray, bool> fetchRest(int n, qint64 have)
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

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_site.listen());
        QVERIFY(m_site.port() != 0);
    }
    void init() { reset(); }

    void resultPagesWalkThroughEveryPaper_data()
    {
        QTest::addColumn<int>("papers");
        QTest::addColumn<int>("pageSize");
        QTest::addColumn<int>("pages");
        QTest::newRow("25 papers, 10 a page: three pages") << 25 << 10 << 3;
        QTest::newRow("7 a page: four pages, the last one short") << 25 << 7 << 4;
        QTest::newRow("two full pages: no empty third page") << 20 << 10 << 2;
        QTest::newRow("a single page has no next link") << 5 << 10 << 1;
        QTest::newRow("no papers: one empty page") << 0 << 10 << 1;
        QTest::newRow("a second round of titles stays distinct") << 60 << 25 << 3;
    }
    void resultPagesWalkThroughEveryPaper()
    {
        QFETCH(int, papers);
        QFETCH(int, pageSize);
        QFETCH(int, pages);
        m_site.setPaperCount(papers);
        m_site.setPageSize(pageSize);
        QCOMPARE(m_site.catalog().pageCount(), pages);

        QUrl url = m_site.searchUrl(u"古籍 & <研究>"_qs);
        QList<int> seen;
        QSet<QString> titles;
        for (int page = 1; page <= pages; ++page) {
            const Fetched f = get(m_nam, url);
            QCOMPARE(f.status, 200);
            QCOMPARE(f.mediaType, u"text/html"_qs);
            const QString html = QString::fromUtf8(f.body);
            QVERIFY2(!html.contains(u"<研究>"_qs), "the query must be escaped");
            const ResultPage r = readResultPage(html);
            QCOMPARE(r.listDivs, 1);
            QCOMPARE(r.tablesInList, 1);
            for (const auto &[href, text] : r.links) {
                const int n = href.section(u'/', -1).toInt();
                QCOMPARE(href, u"/paper/%1"_qs.arg(n));
                QCOMPARE(text, m_site.paperTitle(n));
                QVERIFY(html.contains(m_site.paper(n).englishTitle.toHtmlEscaped()));
                seen.append(n);
                titles.insert(text);
            }
            QCOMPARE(r.links.size(), std::min(pageSize, papers - (page - 1) * pageSize));
            if (page == pages) {
                QVERIFY2(r.nextHref.isEmpty(), "the last page has no next link");
            } else {
                QVERIFY2(!r.nextHref.isEmpty(), qPrintable(u"page %1 has no next link"_qs.arg(page)));
                url = url.resolved(QUrl(r.nextHref));
            }
        }
        QList<int> expected;
        for (int n = 1; n <= papers; ++n)
            expected.append(n);
        QCOMPARE(seen, expected);
        QCOMPARE(titles.size(), papers);
    }

    void pagesCarryOtherLinksAndTheSearchForm()
    {
        const Fetched home = get(m_nam, m_site.homeUrl());
        QCOMPARE(home.status, 200);
        const QString html = QString::fromUtf8(home.body);
        QVERIFY(html.contains(u"action=\"/search\""_qs));
        QVERIFY(html.contains(u"name=\"q\""_qs));
        QVERIFY(html.contains(u"<a href=\"/login\">"_qs));
        QVERIFY(html.contains(u"<a href=\"/\"><img src=\"/logo.svg\""_qs));

        const Fetched logo = get(m_nam, m_site.homeUrl().resolved(QUrl(u"/logo.svg"_qs)));
        QCOMPARE(logo.status, 200);
        QCOMPARE(logo.mediaType, u"image/svg+xml"_qs);
        for (const char *path : {"/about", "/paper/1", "/search?q=&page=99", "/search?page=x"})
            QCOMPARE(get(m_nam, m_site.homeUrl().resolved(QUrl(QString::fromLatin1(path)))).status, 200);

        // The paper's own page leads to its file.
        const Fetched detail = get(m_nam, m_site.paperLink(4));
        QVERIFY(QString::fromUtf8(detail.body).contains(u"href=\"/paper/4.pdf\""_qs));
    }

    void everyPaperKindAnswersAsDescribed()
    {
        QSet<DemoPaperKind> kinds;
        QSet<QByteArray> bodies;
        for (int n = 1; n <= m_site.paperCount(); ++n) {
            const DemoPaperKind kind = m_site.paperKind(n);
            kinds.insert(kind);
            const QString what = u"paper %1 (%2)"_qs.arg(n).arg(demoPaperKindName(kind));
            const Fetched f = get(m_nam, m_site.paperFileUrl(n));
            QVERIFY2(f.status == m_site.paperStatus(n), qPrintable(what));
            QVERIFY2(f.mediaType == m_site.catalog().paperMediaType(n),
                     qPrintable(what + u" "_qs + f.mediaType));
            QVERIFY2(f.body == m_site.paperBytes(n), qPrintable(what));
            QVERIFY2(f.contentLength.isValid() == m_site.catalog().paperHasContentLength(n),
                     qPrintable(what));
            bodies.insert(f.body);

            const QString path = saveTo(m_dir, u"paper%1"_qs.arg(n), f.body);
            switch (kind) {
            case DemoPaperKind::ErrorPage:
                QCOMPARE(f.status, 200);
                QVERIFY(f.body.size() <= 5000);
                QVERIFY(f.body.contains("<TITLE>404 Not Found</TITLE>"));
                QVERIFY(!IsUsablePage(QString::fromUtf8(f.body)));
                break;
            case DemoPaperKind::Missing:
                QCOMPARE(f.status, 404);
                break;
            case DemoPaperKind::Caj:
                QCOMPARE(SniffPaperType(path), u"CAJ"_qs);
                break;
            case DemoPaperKind::Kdh:
                QCOMPARE(SniffPaperType(path), u"KDH"_qs);
                break;
            case DemoPaperKind::Nh:
                QCOMPARE(SniffPaperType(path), u"NH"_qs);
                break;
            default:
                QCOMPARE(SniffFileType(path), SniffedType::Pdf);
                QCOMPARE(pdfFault(f.body), QString());
                QVERIFY(f.body.contains(m_site.paper(n).englishTitle.left(20).toLatin1()));
                break;
            }
            if (f.status == 200 && kind != DemoPaperKind::ErrorPage)
                QVERIFY2(f.body.size() > 5001,
                         qPrintable(what + u" is small enough to pass for an error page"_qs));
        }
        QCOMPARE(kinds.size(), 9);
        QCOMPARE(bodies.size(), m_site.paperCount());
        QVERIFY2(m_site.catalog().papersOfKind(DemoPaperKind::Pdf).size() > m_site.paperCount() / 2,
                 "most papers are plain PDFs");
    }

    void landingPagesNameTheFullTextInEveryWay()
    {
        m_site.catalog().setLandingPages(true);
        QSet<QString> shapes;
        for (int n = 1; n <= 10; ++n) {
            const Fetched page = get(m_nam, m_site.paperFileUrl(n));
            QCOMPARE(page.status, 200);
            QCOMPARE(page.mediaType, u"text/html"_qs);
            const LandingPage landing = ReadLandingPage(page.body, m_site.paperFileUrl(n));
            QCOMPARE(landing.fullText, m_site.landingFileUrl(n));
            QCOMPARE(landing.metadata.title, m_site.paperTitle(n));
            QCOMPARE(landing.metadata.doi(), u"10.5555/demo.%1"_qs.arg(n));
            QCOMPARE(landing.metadata.authorList(), m_site.paper(n).authors);
            if (n == 5)
                continue; // the one page without a full text
            const QByteArray head = page.body.left(page.body.indexOf("</head>"));
            for (const char *shape :
                 {"<link rel=\"alternate\"", "property=\"citation_pdf_url\"", "NAME=citation_pdf_url",
                  "name='citation_pdf_url'", "name=\"citation_pdf_url\" content=\"http"}) {
                if (head.contains(shape))
                    shapes.insert(QString::fromLatin1(shape));
            }
            if (!m_site.landingFileUrl(n).path().endsWith(u".pdf"_qs))
                shapes.insert(u"without .pdf"_qs);
            const Fetched file = get(m_nam, m_site.landingFileUrl(n));
            QCOMPARE(file.status, m_site.paperStatus(n));
            QVERIFY(file.body == m_site.paperBytes(n));
        }
        QCOMPARE(shapes.size(), 6);
        // Full-text addresses exist only for landing pages that name them.
        QCOMPARE(get(m_nam, QUrl(m_site.homeUrl().resolved(QUrl(u"/fulltext/5.pdf"_qs)))).status, 404);
        QCOMPARE(get(m_nam, QUrl(m_site.homeUrl().resolved(QUrl(u"/fulltext/4.pdf"_qs)))).status, 404);
        m_site.catalog().setLandingPages(false);
        QCOMPARE(get(m_nam, m_site.landingFileUrl(1)).status, 404);
    }

    void filesWithoutLengthAreFramedProperly()
    {
        const int chunkedPaper = m_site.catalog().papersOfKind(DemoPaperKind::ChunkedPdf).value(0);
        const int unsizedPaper = m_site.catalog().papersOfKind(DemoPaperKind::UnsizedPdf).value(0);
        QVERIFY(chunkedPaper > 0 && unsizedPaper > 0);
        const auto request = [](int n, const char *version) {
            return "GET /paper/" + QByteArray::number(n) + ".pdf " + version +
                   "\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        };

        RawAnswer chunked = splitAnswer(exchange(m_site.port(), request(chunkedPaper, "HTTP/1.1")));
        QCOMPARE(chunked.header("Transfer-Encoding"), QByteArray("chunked"));
        QVERIFY(!chunked.has("Content-Length"));
        int chunks = 0;
        QCOMPARE(dechunk(chunked.body, &chunks), m_site.paperBytes(chunkedPaper));
        QVERIFY(chunks > 1);

        // An HTTP/1.0 client cannot read chunks: it gets the body ended by the close.
        bool closed = false;
        RawAnswer old = splitAnswer(exchange(m_site.port(), request(chunkedPaper, "HTTP/1.0"), &closed));
        QVERIFY(closed);
        QVERIFY(!old.has("Transfer-Encoding") && !old.has("Content-Length"));
        QCOMPARE(old.body, m_site.paperBytes(chunkedPaper));

        RawAnswer unsized = splitAnswer(
            exchange(m_site.port(),
                     "GET /paper/" + QByteArray::number(unsizedPaper) + ".pdf HTTP/1.1\r\n\r\n", &closed));
        QVERIFY2(closed, "a body without length must end with the connection");
        QVERIFY(!unsized.has("Content-Length") && !unsized.has("Transfer-Encoding"));
        QCOMPARE(unsized.header("Connection"), QByteArray("close"));
        QCOMPARE(unsized.body, m_site.paperBytes(unsizedPaper));
    }

    void pipelinedAndHeadRequestsKeepTheirOrder()
    {
        const QByteArray pdf = m_site.paperBytes(1);
        const QByteArray raw =
            exchange(m_site.port(), "HEAD /paper/1.pdf HTTP/1.1\r\nHost: x\r\n\r\n"
                                    "GET /paper/1.pdf HTTP/1.1\r\nHost: x\r\n\r\n"
                                    "GET /nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        const RawAnswer head = splitAnswer(raw);
        QCOMPARE(head.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(head.header("Content-Length").toLongLong(), pdf.size());
        const RawAnswer second = splitAnswer(head.body); // a HEAD answer has no body
        QCOMPARE(second.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(second.body.left(pdf.size()), pdf);
        const RawAnswer third = splitAnswer(second.body.mid(pdf.size()));
        QCOMPARE(third.statusLine, QByteArray("HTTP/1.1 404 Not Found"));
        QCOMPARE(third.body.size(), third.header("Content-Length").toLongLong());
    }

    void unknownAndBadRequestsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        const auto get = [](const QByteArray &path) {
            return "GET " + path + " HTTP/1.1\r\nConnection: close\r\n\r\n";
        };
        QTest::newRow("unknown page") << get("/nope") << QByteArray("404");
        QTest::newRow("paper 0") << get("/paper/0.pdf") << QByteArray("404");
        QTest::newRow("paper past the last") << get("/paper/26.pdf") << QByteArray("404");
        QTest::newRow("paper number with a leading zero") << get("/paper/01.pdf") << QByteArray("404");
        QTest::newRow("paper number that is no number") << get("/paper/abc.pdf") << QByteArray("404");
        QTest::newRow("paper number too large for an int")
            << get("/paper/99999999999.pdf") << QByteArray("404");
        QTest::newRow("path below a file") << get("/paper/1.pdf/x") << QByteArray("404");
        QTest::newRow("large file not set") << get("/files/large.pdf") << QByteArray("404");
        QTest::newRow("posting a search")
            << QByteArray("POST /search HTTP/1.1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            << QByteArray("405");
        QTest::newRow("garbage request line") << QByteArray("HELLO\r\n\r\n") << QByteArray("400");
        QTest::newRow("header line without colon")
            << QByteArray("GET / HTTP/1.1\r\nbroken\r\n\r\n") << QByteArray("400");
        QTest::newRow("endless head")
            << "GET / HTTP/1.1\r\nX: " + QByteArray(70000, 'a') << QByteArray("431");
        QTest::newRow("body too large")
            << QByteArray("POST /login HTTP/1.1\r\nContent-Length: 9999999\r\n\r\n") << QByteArray("413");
    }
    void unknownAndBadRequestsAreRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        bool closed = false;
        const RawAnswer answer = splitAnswer(exchange(m_site.port(), request, &closed));
        QVERIFY2(answer.statusLine.startsWith("HTTP/1.1 " + status), answer.statusLine.constData());
        QVERIFY(closed);
    }

    void generatedPdfsAreWellFormedAtAnySize()
    {
        // Sizes around the point where the table's offset gains a digit, and a few others.
        QList<qint64> sizes = {0, 500, 5002, 65536, 1000000};
        for (qint64 s = 99930; s < 100010; ++s)
            sizes.append(s);
        for (const qint64 size : sizes) {
            const MiniPdf pdf({u"Line (one) \\ two"_qs, u"中文"_qs}, size);
            QVERIFY2(pdf.size() >= size && pdf.size() <= std::max<qint64>(size + 1, 1000),
                     qPrintable(u"%1 for %2"_qs.arg(pdf.size()).arg(size)));
            const QByteArray bytes = pdf.bytes();
            QCOMPARE(bytes.size(), pdf.size());
            QCOMPARE(pdfFault(bytes), QString());
            QVERIFY(bytes.contains("(Line \\(one\\) \\\\ two) Tj"));
        }

        // Read piece by piece from any offsets, the file is the same as read whole.
        const MiniPdf pdf({u"pieces"_qs}, 300000);
        const QByteArray whole = pdf.bytes();
        QByteArray pieces;
        auto *random = QRandomGenerator::global();
        while (pieces.size() < whole.size())
            pieces += pdf.read(pieces.size(), random->bounded(1, 5000));
        QCOMPARE(pieces, whole);
        QVERIFY(pdf.read(whole.size(), 10).isEmpty());
        QVERIFY(pdf.read(-1, 10).isEmpty());
    }

    void loginUnlocksPapersWhenRequired()
    {
        const Fetched form = get(m_nam, m_site.loginUrl());
        static const QRegularExpression input(u"<input type=\"([^\"]*)\"(?: name=\"([^\"]*)\")?"_qs);
        QStringList inputs;
        for (auto it = input.globalMatch(QString::fromUtf8(form.body)); it.hasNext();) {
            const auto m = it.next();
            inputs.append(m.captured(1) + u':' + m.captured(2));
        }
        QCOMPARE(inputs, (QStringList{u"text:username"_qs, u"password:password"_qs, u"submit:"_qs}));

        m_site.login().setRequireLogin(true);
        m_site.login().setAccount(u"张 三"_qs);
        m_site.login().setPassword(u"p&ss=1"_qs);
        QNetworkAccessManager nam;
        const int n = m_site.catalog().papersOfKind(DemoPaperKind::Pdf).first();

        const Fetched locked = get(nam, m_site.paperFileUrl(n));
        QCOMPARE(locked.status, 200);
        QCOMPARE(locked.mediaType, u"text/html"_qs);
        QVERIFY(locked.body != m_site.paperBytes(n));
        QVERIFY(QString::fromUtf8(locked.body).contains(u"请先登录"_qs));

        const Fetched wrong =
            post(nam, m_site.loginUrl(), "username=%E5%BC%A0+%E4%B8%89&password=p%26ss%3D2");
        QVERIFY(wrong.header("Set-Cookie").isEmpty());
        QVERIFY(!QString::fromUtf8(wrong.body).contains(u"已登录"_qs));
        QCOMPARE(get(nam, m_site.paperFileUrl(n)).mediaType, u"text/html"_qs);

        const Fetched right =
            post(nam, m_site.loginUrl(), "username=%E5%BC%A0+%E4%B8%89&password=p%26ss%3D1");
        QVERIFY(right.header("Set-Cookie").startsWith(DemoLogin::sessionCookieName().toLatin1() + '='));
        QVERIFY(QString::fromUtf8(right.body).contains(u"已登录"_qs));
        const Fetched unlocked = get(nam, m_site.paperFileUrl(n));
        QCOMPARE(unlocked.mediaType, u"application/pdf"_qs);
        QCOMPARE(unlocked.body, m_site.paperBytes(n));

        // Another client without the cookie is still refused; a made-up cookie does not help.
        QNetworkAccessManager other;
        QNetworkRequest forged(m_site.paperFileUrl(n));
        forged.setRawHeader("Cookie", DemoLogin::sessionCookieName().toLatin1() + "=0123456789abcdef");
        QNetworkReply *reply = other.get(forged);
        QVERIFY(waitFor(reply));
        QCOMPARE(collect(reply).mediaType, u"text/html"_qs);

        // A login by GET form works too; lapsed sessions lock the files again.
        QUrl byGet = m_site.loginUrl();
        byGet.setQuery(u"username=%E5%BC%A0%20%E4%B8%89&password=p%26ss%3D1"_qs);
        QVERIFY(!get(other, byGet).header("Set-Cookie").isEmpty());
        QCOMPARE(get(other, m_site.paperFileUrl(n)).body, m_site.paperBytes(n));
        m_site.login().clearSessions();
        QCOMPARE(get(other, m_site.paperFileUrl(n)).mediaType, u"text/html"_qs);
    }

    void connectionsAreKeptAliveAndServedConcurrently()
    {
        QNetworkAccessManager nam;
        const int before = m_site.connectionCount();
        for (int i = 0; i < 15; ++i)
            QCOMPARE(get(nam, m_site.searchUrl(QString(), i % 3 + 1)).status, 200);
        QVERIFY2(m_site.connectionCount() - before <= 2, "sequential requests should reuse the connection");

        m_site.largeFile().setSize(8 * 1024 * 1024);
        QList<QPair<QNetworkReply *, QByteArray>> replies;
        for (QNetworkAccessManager *client :
             {&nam, new QNetworkAccessManager(&nam), new QNetworkAccessManager(&nam)}) {
            replies.append({client->get(QNetworkRequest(m_site.largeFileUrl())),
                            m_site.largeFile().bytes(0, m_site.largeFile().size())});
            for (int n = 1; n <= m_site.paperCount(); ++n) {
                if (m_site.paperStatus(n) == 200)
                    replies.append(
                        {client->get(QNetworkRequest(m_site.paperFileUrl(n))), m_site.paperBytes(n)});
            }
        }
        for (const auto &[reply, expected] : replies) {
            QVERIFY(waitFor(reply, 60000));
            QCOMPARE(reply->error(), QNetworkReply::NoError);
            QVERIFY2(reply->readAll() == expected, qPrintable(reply->url().toString()));
            reply->deleteLater();
        }
        m_site.largeFile().setFile(QString());
    }

    void largeFilesStreamWithTheirLength()
    {
        // Generated: hashed as it arrives, compared with the site's own bytes.
        m_site.largeFile().setSize(96LL * 1024 * 1024 + 7);
        const qint64 size = m_site.largeFile().size();
        QCOMPARE(size, 96LL * 1024 * 1024 + 7);
        QCryptographicHash expected(QCryptographicHash::Sha1);
        for (qint64 at = 0; at < size; at += 4 * 1024 * 1024)
            expected.addData(m_site.largeFile().bytes(at, 4 * 1024 * 1024));

        QNetworkReply *reply = m_nam.get(QNetworkRequest(m_site.largeFileUrl()));
        QCryptographicHash received(QCryptographicHash::Sha1);
        qint64 count = 0;
        QByteArray start;
        QByteArray end;
        connect(reply, &QIODevice::readyRead, this, [&] {
            const QByteArray piece = reply->readAll();
            if (start.size() < 8)
                start += piece.left(8);
            end = (end + piece).right(6);
            received.addData(piece);
            count += piece.size();
        });
        QVERIFY(waitFor(reply, 120000));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(), size);
        QCOMPARE(reply->header(QNetworkRequest::ContentTypeHeader).toString(), u"application/pdf"_qs);
        reply->deleteLater();
        QCOMPARE(count, size);
        QVERIFY(start.startsWith("%PDF-1.4"));
        QCOMPARE(end, QByteArray("%%EOF\n"));
        QCOMPARE(received.result(), expected.result());

        // From disk: exactly the file's bytes.
        QByteArray random(3 * 1024 * 1024 + 11, Qt::Uninitialized);
        for (char &c : random)
            c = char(QRandomGenerator::global()->bounded(256));
        m_site.largeFile().setFile(saveTo(m_dir, u"large.bin"_qs, random));
        QCOMPARE(m_site.largeFile().size(), random.size());
        const Fetched f = get(m_nam, m_site.largeFileUrl());
        QCOMPARE(f.contentLength.toLongLong(), random.size());
        QVERIFY(f.body == random);

        m_site.largeFile().setFile(m_dir.filePath(u"gone.bin"_qs));
        QCOMPARE(m_site.largeFile().size(), -1);
        QCOMPARE(get(m_nam, m_site.largeFileUrl()).status, 404);
        m_site.largeFile().setFile(QString());
    }

    void paperLimitIsASlidingMinute()
    {
        ClockGuard time;
        m_site.faults().setPaperLimit(2);
        const auto fetch = [&](int n) { return get(m_nam, m_site.paperFileUrl(n)); };
        const auto refusedFor = [&](int n) {
            const Fetched f = fetch(n);
            return f.status == 429 && f.body != m_site.paperBytes(n) ? f.header("Retry-After")
                                                                     : QByteArray("served");
        };
        QCOMPARE(fetch(1).status, 200); // at 0 s
        time.clock.advanceMs(30000);
        QCOMPARE(fetch(2).status, 200); // at 30 s
        time.clock.advanceMs(10000);
        QCOMPARE(refusedFor(4), QByteArray("20")); // until the paper of 0 s leaves the minute
        // Other pages are not limited, and refused requests take up no room.
        QCOMPARE(get(m_nam, m_site.paperLink(4)).status, 200);
        QCOMPARE(refusedFor(4), QByteArray("20"));
        time.clock.advanceMs(19500);
        QCOMPARE(refusedFor(4), QByteArray("1")); // half a second is announced as one, never zero
        time.clock.advanceMs(500);
        QCOMPARE(fetch(4).body, m_site.paperBytes(4)); // at 60 s
        QCOMPARE(refusedFor(6), QByteArray("30"));     // the window slides: 30 s holds its place until 90 s
        time.clock.advanceMs(30000);
        QCOMPARE(refusedFor(6), QByteArray("served"));
        m_site.faults().setPaperLimit(0);
        QCOMPARE(refusedFor(8), QByteArray("served"));
    }

    void rangesAnswerExactlyTheAskedBytes_data()
    {
        // SIZE in a range stands for the file's size; a negative offset counts from the end.
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<QByteArray>("ifRange"); // ETAG: the file's own
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        const auto row = [](const char *name, const char *range, int status, qint64 first = 0,
                            qint64 last = -1, const char *ifRange = "") {
            QTest::newRow(name) << QByteArray(range) << QByteArray(ifRange) << status << first << last;
        };
        row("the rest from an offset", "bytes=100-", 206, 100);
        row("everything as a range", "bytes=0-", 206);
        row("a closed range", "bytes=100-199", 206, 100, 199);
        row("a single byte", "bytes=100-100", 206, 100, 100);
        row("an end past the file is cut", "bytes=100-99999999", 206, 100);
        row("an end beyond 64 bits", "bytes=5-99999999999999999999999", 206, 5);
        row("the last 500 bytes", "bytes=-500", 206, -500);
        row("a suffix longer than the file", "bytes=-99999999", 206);
        row("unit in capitals, blanks around", "BYTES= 10-19 ", 206, 10, 19);
        row("starting at the end: 416", "bytes=SIZE-", 416);
        row("a start beyond 64 bits: 416", "bytes=99999999999999999999-", 416);
        row("an empty suffix: 416", "bytes=-0", 416);
        for (const char *ignored : {"bytes=200-100", "bytes=0-1,5-6", "items=0-10", "bytes=abc-",
                                    "bytes=-5-10", "bytes=", "bytes=+5-", "bytes 5-", "bytes=5"})
            QTest::addRow("not served, the whole file: %s", ignored)
                << QByteArray(ignored) << QByteArray() << 200 << 0LL << -1LL;
        row("If-Range with the file's ETag", "bytes=100-", 206, 100, -1, "ETAG");
        row("If-Range with another ETag", "bytes=100-", 200, 0, -1, "\"0123\"");
        row("If-Range with the weak ETag", "bytes=100-", 200, 0, -1, "W/ETAG");
        row("If-Range with a date", "bytes=100-", 200, 0, -1, "Wed, 21 Oct 2015 07:28:00 GMT");
        row("If-Range with another ETag beats a range past the end", "bytes=SIZE-", 200, 0, -1, "\"0123\"");
    }
    void rangesAnswerExactlyTheAskedBytes()
    {
        QFETCH(QByteArray, range);
        QFETCH(QByteArray, ifRange);
        QFETCH(int, status);
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        const QByteArray bytes = m_site.paperBytes(1);
        const QByteArray etag = m_site.catalog().paperETag(1);
        range.replace("SIZE", QByteArray::number(bytes.size()));
        ifRange.replace("ETAG", etag);
        const RawAnswer answer =
            rawGet(m_site.port(), "/paper/1.pdf",
                   "Range: " + range + "\r\n" + (ifRange.isEmpty() ? "" : "If-Range: " + ifRange + "\r\n"));
        QVERIFY2(answer.statusLine.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '),
                 answer.statusLine);
        QCOMPARE(answer.body.size(), answer.header("Content-Length").toLongLong());
        QCOMPARE(answer.header("ETag"), etag);
        const QByteArray size = QByteArray::number(bytes.size());
        if (status == 416) {
            QCOMPARE(answer.header("Content-Range"), "bytes */" + size);
            QVERIFY(!answer.body.contains("%PDF"));
            return;
        }
        QCOMPARE(answer.header("Accept-Ranges"), QByteArray("bytes"));
        first = first < 0 ? bytes.size() + first : first;
        last = last < 0 ? bytes.size() + last : last;
        const QByteArray span = QByteArray::number(first) + '-' + QByteArray::number(last) + '/' + size;
        QCOMPARE(answer.header("Content-Range"), status == 206 ? "bytes " + span : QByteArray());
        QVERIFY(answer.body == bytes.mid(first, last - first + 1));
    }

    void rangesServeEveryKindOfFile()
    {
        QSet<QByteArray> etags;
        for (int n = 1; n <= m_site.paperCount(); ++n) {
            const QByteArray path = "/paper/" + QByteArray::number(n) + ".pdf";
            const qint64 from = m_site.paperBytes(n).size() / 2;
            const RawAnswer answer =
                rawGet(m_site.port(), path, "Range: bytes=" + QByteArray::number(from) + "-\r\n");
            const QByteArray what = demoPaperKindName(m_site.paperKind(n)).toUtf8();
            if (m_site.paperStatus(n) != 200) { // no ranges on a 404
                QVERIFY2(answer.statusLine.startsWith("HTTP/1.1 404") && !answer.has("ETag"), what);
                continue;
            }
            QVERIFY2(answer.statusLine == "HTTP/1.1 206 Partial Content", what);
            int chunks = 0;
            const bool chunked = answer.header("Transfer-Encoding") == "chunked";
            QVERIFY2((chunked ? dechunk(answer.body, &chunks) : answer.body) ==
                         m_site.paperBytes(n).mid(from),
                     what);
            // The same validator every time, and one per file.
            QCOMPARE(answer.header("ETag"), m_site.catalog().paperETag(n));
            QCOMPARE(rawGet(m_site.port(), path).header("ETag"), m_site.catalog().paperETag(n));
            etags.insert(answer.header("ETag"));
        }
        QCOMPARE(etags.size(),
                 m_site.paperCount() - m_site.catalog().papersOfKind(DemoPaperKind::Missing).size());

        // Ranges are for GET: a HEAD tells about the whole file.
        const RawAnswer head = splitAnswer(exchange(
            m_site.port(), "HEAD /paper/1.pdf HTTP/1.1\r\nRange: bytes=10-\r\nConnection: close\r\n\r\n"));
        QCOMPARE(head.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(head.header("Content-Length").toLongLong(), m_site.paperBytes(1).size());

        // The large file takes ranges as well.
        m_site.largeFile().setSize(3 * 1024 * 1024);
        const RawAnswer large = rawGet(m_site.port(), "/files/large.pdf", "Range: bytes=1000000-2500000\r\n");
        QVERIFY(large.body == m_site.largeFile().bytes(1000000, 1500001));
        QVERIFY(!large.header("ETag").isEmpty());
        m_site.largeFile().setFile(QString());
    }

    void flakyTransfersResumeToIdenticalBytes()
    {
        m_site.faults().setFlakySeed(7);
        m_site.faults().setFlakyPercent(50);
        const int droppedBefore = m_site.faults().droppedTransfers();
        const qint64 sentBefore = m_site.faults().paperBytesSent();
        int resumes = 0;
        qint64 received = 0;
        for (int n = 1; n <= m_site.paperCount(); ++n) {
            if (m_site.paperStatus(n) != 200)
                continue;
            const QByteArray what = "paper " + QByteArray::number(n);
            QByteArray file;
            for (bool whole = false; !whole;) {
                resumes += file.isEmpty() ? 0 : 1;
                const qint64 cut = m_site.faults().plannedCut(n, file.size());
                const auto [got, ended] = fetchRest(n, file.size());
                QVERIFY2(!got.isEmpty(), what + ": an answer without a byte");
                // A dropped answer never looks whole, and ends where it was planned to.
                QCOMPARE(ended, cut < 0);
                if (cut >= 0)
                    QCOMPARE(file.size() + got.size(), cut);
                file += got;
                received += got.size();
                whole = ended;
            }
            QVERIFY2(file == m_site.paperBytes(n), what);
        }
        QVERIFY2(resumes >= 3, "with half the transfers dropped, several papers need resuming");
        QCOMPARE(m_site.faults().droppedTransfers() - droppedBefore, resumes); // each drop, one resume
        QCOMPARE(m_site.faults().paperBytesSent() - sentBefore, received);
    }

    void flakyDropsAlwaysMoveOn()
    {
        // A client that always starts over gets the paper too: each drop lands past the last one, and
        // after a few the paper goes through whole.
        m_site.faults().setFlakyPercent(100);
        const QByteArray bytes = m_site.paperBytes(1);
        qint64 previous = 0;
        for (int attempt = 1; attempt <= DemoFlaky::kMaxDrops; ++attempt) {
            const qint64 cut = m_site.faults().plannedCut(1);
            QVERIFY(cut > previous && cut < bytes.size());
            QVERIFY(rawGet(m_site.port(), "/paper/1.pdf").body == bytes.left(cut));
            previous = cut;
        }
        QCOMPARE(m_site.faults().plannedCut(1), -1);
        QVERIFY(rawGet(m_site.port(), "/paper/1.pdf").body == bytes);
        QVERIFY(m_site.faults().plannedCut(1) > 0); // once whole, it may be dropped again

        // Bodies that only the close ends are never dropped: the client could not tell.
        const int unsized = m_site.catalog().papersOfKind(DemoPaperKind::UnsizedPdf).first();
        QCOMPARE(rawGet(m_site.port(), "/paper/" + QByteArray::number(unsized) + ".pdf").body,
                 m_site.paperBytes(unsized));
        const int chunked = m_site.catalog().papersOfKind(DemoPaperKind::ChunkedPdf).first();
        QCOMPARE(
            rawGet(m_site.port(), "/paper/" + QByteArray::number(chunked) + ".pdf", "", nullptr, "HTTP/1.0")
                .body,
            m_site.paperBytes(chunked));

        // The same seed drops the same transfers, and about the share asked for.
        const auto firstCuts = [&](quint64 seed) {
            m_site.faults().setFlakySeed(seed);
            m_site.faults().setFlakyPercent(10);
            QList<qint64> cuts;
            for (int n = 1; n <= 2000; ++n)
                cuts.append(m_site.faults().plannedCut(n));
            return cuts;
        };
        const QList<qint64> cuts = firstCuts(11);
        QCOMPARE(firstCuts(11), cuts);
        QVERIFY(firstCuts(12) != cuts);
        const qsizetype dropped = cuts.size() - cuts.count(-1);
        QVERIFY2(dropped > 2000 * 23 / 25 * 7 / 100 &&
                     dropped < 2000 * 23 / 25 * 13 / 100, // 23 of 25 may drop
                 qPrintable(QString::number(dropped)));
    }

    void verificationPageUntilTheFormIsSubmitted()
    {
        m_site.faults().setVerifyAfter(2);
        QNetworkAccessManager a;
        QNetworkAccessManager b;
        QCOMPARE(get(a, m_site.paperFileUrl(1)).body, m_site.paperBytes(1));
        QCOMPARE(get(b, m_site.paperFileUrl(2)).body, m_site.paperBytes(2));
        const auto pageFor = [&](QNetworkAccessManager &client, int n) {
            const Fetched f = get(client, m_site.paperFileUrl(n));
            return f.status == 200 && f.mediaType == u"text/html"_qs &&
                   QString::fromUtf8(f.body).contains(u"<h1>请完成验证</h1>"_qs);
        };
        QVERIFY(pageFor(a, 4) && pageFor(b, 4));
        const QString html = QString::fromUtf8(get(a, m_site.paperFileUrl(4)).body);
        QVERIFY(html.contains(u"action=\"/verify\""_qs) && html.contains(u"type=\"submit\""_qs));
        QVERIFY(html.contains(u"name=\"back\" value=\"/paper/4.pdf\""_qs));
        QCOMPARE(m_site.faults().papersServed(), 2);

        // Looking at the form is not submitting it.
        QVERIFY(get(a, m_site.verifyUrl()).header("Set-Cookie").isEmpty());
        QVERIFY(pageFor(a, 4));

        // Submitting it gives this client its papers back; the other one, or a made-up cookie, still
        // meets the page.
        const Fetched done = post(a, m_site.verifyUrl(), "back=%2Fpaper%2F4.pdf&confirm=1");
        QVERIFY(done.header("Set-Cookie").startsWith(DemoFaults::verificationCookieName().toLatin1() + '='));
        QVERIFY(QString::fromUtf8(done.body).contains(u"验证成功"_qs) &&
                done.body.contains("href=\"/paper/4.pdf\""));
        QCOMPARE(get(a, m_site.paperFileUrl(4)).body, m_site.paperBytes(4));
        QVERIFY(pageFor(b, 4));
        QNetworkAccessManager c;
        QNetworkRequest forged(m_site.paperFileUrl(4));
        forged.setRawHeader("Cookie", DemoFaults::verificationCookieName().toLatin1() + "=0123456789abcdef");
        QNetworkReply *reply = c.get(forged);
        QVERIFY(waitFor(reply));
        QCOMPARE(collect(reply).mediaType, u"text/html"_qs);

        // A GET submission does as well; the page leads back only within the site.
        QUrl byGet = m_site.verifyUrl();
        byGet.setQuery(u"back=http%3A%2F%2Fevil.example%2F&confirm=1"_qs);
        const Fetched viaGet = get(b, byGet);
        QVERIFY(!viaGet.body.contains("evil") && viaGet.body.contains("<a href=\"/\">"));
        QCOMPARE(get(b, m_site.paperFileUrl(4)).body, m_site.paperBytes(4));

        // Starting over forgets who verified; 0 asks from the first paper on.
        m_site.faults().resetVerification();
        m_site.faults().setVerifyAfter(0);
        QVERIFY(pageFor(a, 1));
    }

    void commandLineSwitchesAreChecked()
    {
        const auto read = [](const QStringList &arguments, QString *error) {
            QCommandLineParser parser;
            parser.addOptions(demoSiteOptions());
            parser.parse(QStringList{u"folionexus"_qs} + arguments);
            return readDemoSiteSwitches(parser, error);
        };
        QString error;
        const std::optional<DemoSiteSwitches> all =
            read({u"--demo-login"_qs, u"--demo-limit=30"_qs, u"--demo-flaky"_qs, u"100"_qs,
                  u"--demo-verify"_qs, u"0"_qs, u"--demo-layout"_qs, u"cards"_qs},
                 &error);
        QVERIFY(all);
        DemoSite site;
        applyDemoSiteSwitches(site, *all);
        QVERIFY(site.login().requireLogin());
        QCOMPARE((QList<int>{site.faults().paperLimit(), site.faults().flakyPercent(),
                             site.faults().verifyAfter()}),
                 (QList<int>{30, 100, 0}));
        QCOMPARE(site.homeUrl().path(), u"/cards/search"_qs);
        QCOMPARE(read({}, &error)->verifyAfter, -1);
        // A limit of 0 would refuse every paper; more than 100 %, fractions and words make no sense.
        for (const QString &bad :
             {u"--demo-limit=0"_qs, u"--demo-flaky=101"_qs, u"--demo-flaky=2.5"_qs, u"--demo-verify=-1"_qs,
              u"--demo-limit=ten"_qs, u"--demo-layout=grid"_qs}) {
            QVERIFY2(!read({bad}, &error), qPrintable(bad));
            QVERIFY2(error.contains(bad.section(u'=', 0, 0)), qPrintable(error));
        }
    }

    void commandServesUntilStopped()
    {
        QCOMPARE(runDemoSiteCommand(70000) != 0, true);
        // Bad arguments end the command before it serves anything.
        for (const QStringList &bad :
             {QStringList{u"--port"_qs, u"x"_qs}, QStringList{u"--demo-flaky"_qs, u"200"_qs},
              QStringList{u"--demo-speed"_qs, u"1"_qs}, QStringList{u"extra"_qs}})
            QCOMPARE(runDemoSiteCommand(QStringList{u"folionexus"_qs, u"--demo-site"_qs} + bad), 2);

        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();

        struct sigaction before = {};
        ::sigaction(SIGTERM, nullptr, &before);

        const QString outPath = m_dir.filePath(u"stdout.txt"_qs);
        std::fflush(stdout);
        const int savedOut = ::dup(1);
        FILE *out = std::fopen(outPath.toLocal8Bit().constData(), "w");
        QVERIFY(out);
        ::dup2(::fileno(out), 1);

        // The home page, then one paper twice: the switches given on the command line hold.
        QList<int> statuses;
        QNetworkAccessManager nam;
        std::function<void()> next = [&] {
            static const QStringList paths = {u"/"_qs, u"/paper/1.pdf"_qs, u"/paper/1.pdf"_qs};
            QNetworkReply *reply = nam.get(
                QNetworkRequest(QUrl(u"http://127.0.0.1:%1%2"_qs.arg(port).arg(paths.at(statuses.size())))));
            connect(reply, &QNetworkReply::finished, &nam, [&, reply] {
                statuses.append(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
                reply->deleteLater();
                if (statuses.size() < paths.size())
                    next();
                else
                    std::raise(SIGTERM);
            });
        };
        QTimer::singleShot(0, &nam, next);
        // Stops the run even if the signal never gets through, so the test fails rather than hangs.
        QTimer::singleShot(30000, qApp, &QCoreApplication::quit);
        const int code = runDemoSiteCommand({u"folionexus"_qs, u"--demo-site"_qs, u"--port"_qs,
                                             QString::number(port), u"--demo-limit"_qs, u"1"_qs});

        std::fflush(stdout);
        ::dup2(savedOut, 1);
        ::close(savedOut);
        std::fclose(out);

        QCOMPARE(code, 0);
        QCOMPARE(statuses, (QList<int>{200, 200, 429}));
        QCOMPARE(fntest::readFile(outPath), u"Demo site: http://127.0.0.1:%1/\n"_qs.arg(port).toUtf8());
        struct sigaction after = {};
        ::sigaction(SIGTERM, nullptr, &after);
        QVERIFY2(after.sa_handler == before.sa_handler, "the stop handler must not outlive the command");
    }

    // The site comes back on the port of the last start while that port is free; a taken port, or a file
    // that holds no port, gives a free one, which is remembered in its place.
    void theSiteKeepsItsPortAcrossStarts()
    {
        QTemporaryDir dir;
        const QString file = dir.path() + u"/state/demo-port"_qs;
        quint16 first = 0;
        {
            DemoSite site;
            QVERIFY(site.listenAtRememberedPort(file));
            first = site.port();
            QCOMPARE(fntest::readFile(file).trimmed(), QByteArray::number(first));
        }
        {
            DemoSite again;
            QVERIFY(again.listenAtRememberedPort(file));
            QCOMPARE(again.port(), first);
        }
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, first));
        {
            DemoSite moved;
            QVERIFY(moved.listenAtRememberedPort(file));
            QVERIFY(moved.port() != first);
            QCOMPARE(fntest::readFile(file).trimmed(), QByteArray::number(moved.port()));
        }
        for (const QByteArray &junk :
             {QByteArray("http"), QByteArray("80"), QByteArray("70000"), QByteArray()}) {
            fntest::writeFile(file, junk);
            DemoSite site;
            QVERIFY(site.listenAtRememberedPort(file));
            QVERIFY(site.port() >= 1024);
            QCOMPARE(fntest::readFile(file).trimmed(), QByteArray::number(site.port()));
        }
    }
};

FN_TEST_MAIN_CORE(TestDemoSite)
#include "tst_demosite.moc"
