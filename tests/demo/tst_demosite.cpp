// The demo site's pages and files: result pages walked to the end, every kind of paper, landing pages,
// generated PDFs and large files.

#include "core/common/classify.h"
#include "core/library/landingpage.h"
#include "demo/minipdf.h"
#include "democlient.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>

using namespace democlient;

class TestDemoSite : public DemoSiteFixture
{
    Q_OBJECT

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
};

FN_TEST_MAIN_CORE(TestDemoSite)
#include "tst_demosite.moc"
