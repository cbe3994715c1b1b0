// Addresses that answer with the paper's own web page: the page is read for its full text and what it
// declares, the full text is fetched under every rule a transfer keeps, and a page never leads the row
// in circles, off http(s), to another host's cookies or into the verification pause (a paper's own page
// that offers nothing to take fails honestly and never counts toward it).
#include "core/library/landingpage.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/targetfile.h"
#include "core/search/handover.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "testenv.h"
#include "testrows.h"

#include <QDir>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>

using Reply = FaultServer::Reply;
using Kind = FailureReason::Kind;

namespace {

Reply html(const QByteArray &head, const QByteArray &body = "<p>abstract and references</p>")
{
    Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = "<!DOCTYPE html><html><head><title>A paper</title>" + head + "</head><body>" + body +
                 "</body></html>";
    return reply;
}

QByteArray pdfPointer(const QByteArray &address)
{
    return "<meta name=\"citation_title\" content=\"A paper\"><meta name=\"citation_pdf_url\" content=\"" +
           address + "\">";
}

} // namespace

class TestLanding : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    FaultServer m_other; // another host as far as cookies go
    FaultServer m_third;
    FaultServer m_fourth;
    QTemporaryDir *m_dir = nullptr;
    DownloadListModel *m_model = nullptr;
    DownloadScheduler *m_scheduler = nullptr;

    QString folder() const { return m_dir->path() + QStringLiteral("/in/"); }

    RowId addRow(const QString &path, const QString &name)
    {
        DownloadRow row;
        row.key = path.startsWith(u'/') ? m_server.url(path).toString() : path;
        row.name = name;
        row.type = QStringLiteral("pdf");
        row.folder = folder();
        return TestRows::of(*m_model).addRow(row);
    }
    const DownloadRow &row(RowId id) const { return *m_model->find(id); }

    void runToEnd(int method, int threads = 1)
    {
        m_scheduler->options().method = methodFromNumber(method);
        m_scheduler->options().threadCount = threads;
        QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
        m_scheduler->start();
        QTRY_VERIFY2_WITH_TIMEOUT(finished.count() == 1, qPrintable(m_model->totalsText()), 30000);
        QVERIFY(!m_scheduler->transfers().anyTransferLive());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        QVERIFY(m_other.listen(false, QStringLiteral("127.0.0.2")));
        QVERIFY(m_third.listen(false, QStringLiteral("127.0.0.3")));
        QVERIFY(m_fourth.listen(false, QStringLiteral("127.0.0.4")));
    }

    void init()
    {
        m_dir = new QTemporaryDir;
        QDir().mkpath(folder());
        m_model = new DownloadListModel;
        m_scheduler = new DownloadScheduler(TestRows::of(*m_model));
        m_scheduler->options().headerTimeoutMs = 5000;
        m_scheduler->options().stallWindowMs = 2000;
        m_scheduler->options().policy = DuplicatePolicy::Rename;
        m_scheduler->options().retries = 0;
        m_server.clearRequests();
        m_other.clearRequests();
        m_third.clearRequests();
        m_fourth.clearRequests();
    }

    void cleanup()
    {
        m_server.releaseAll();
        delete m_scheduler;
        delete m_model;
        delete m_dir;
    }

    void findsTheFullTextTheWayPagesWriteIt_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QString>("fullText"); // empty: none to fetch
        QTest::addColumn<bool>("refused");
        QTest::newRow("quoted") << QByteArray(
                                       "<meta name=\"citation_pdf_url\" content=\"http://x.org/a.pdf\">")
                                << QStringLiteral("http://x.org/a.pdf") << false;
        QTest::newRow("unquoted, content first, mixed case")
            << QByteArray("<META CONTENT=http://x.org/a.pdf NAME=Citation_PDF_URL/>")
            << QStringLiteral("http://x.org/a.pdf") << false;
        QTest::newRow("property, single quotes")
            << QByteArray("<meta property='citation_pdf_url' content='https://x.org/b'>")
            << QStringLiteral("https://x.org/b") << false;
        QTest::newRow("entities in the value")
            << QByteArray("<meta name=\"citation_pdf_url\" content=\"/get?id=7&amp;type=pdf&#38;v=2\">")
            << QStringLiteral("http://example.org/get?id=7&type=pdf&v=2") << false;
        QTest::newRow("relative to the page")
            << QByteArray("<meta name=\"citation_pdf_url\" content=\"../files/42.pdf\">")
            << QStringLiteral("http://example.org/files/42.pdf") << false;
        QTest::newRow("relative to the base") << QByteArray("<base href=\"https://cdn.example.org/d/\"><meta "
                                                            "name=\"citation_pdf_url\" content=\"42\">")
                                              << QStringLiteral("https://cdn.example.org/d/42") << false;
        QTest::newRow("two tags: the first wins")
            << QByteArray("<meta name=\"citation_pdf_url\" content=\"/one.pdf\"><meta "
                          "name=\"citation_pdf_url\" content=\"/two.pdf\">")
            << QStringLiteral("http://example.org/one.pdf") << false;
        QTest::newRow("citation tag before the link, wherever they stand")
            << QByteArray("<link rel=\"alternate\" type=\"application/pdf\" href=\"/link.pdf\"><meta "
                          "name=\"citation_pdf_url\" content=\"/meta.pdf\">")
            << QStringLiteral("http://example.org/meta.pdf") << false;
        QTest::newRow("link rel=alternate")
            << QByteArray("<link type=\"application/pdf\" rel=\"Alternate nofollow\" href=\"/download/42\">")
            << QStringLiteral("http://example.org/download/42") << false;
        QTest::newRow("a link of another type is no full text")
            << QByteArray("<link rel=\"alternate\" type=\"application/rss+xml\" href=\"/feed\">") << QString()
            << false;
        QTest::newRow("no tag") << QByteArray("<meta name=\"description\" content=\"x\">") << QString()
                                << false;
        QTest::newRow("commented out or in a script")
            << QByteArray(
                   "<!-- <meta name=\"citation_pdf_url\" content=\"/c.pdf\"> --><script>var s = '<meta "
                   "name=\"citation_pdf_url\" content=\"/s.pdf\">';</script>")
            << QString() << false;
        QTest::newRow("after the head")
            << QByteArray("</head><body><meta name=citation_pdf_url content=/b.pdf>") << QString() << false;
        QTest::newRow("file:") << QByteArray(
                                      "<meta name=\"citation_pdf_url\" content=\"file:///etc/passwd\">")
                               << QString() << true;
        QTest::newRow("javascript:")
            << QByteArray("<meta name=\"citation_pdf_url\" content=\"javascript:alert(1)\">") << QString()
            << true;
        QTest::newRow("data:") << QByteArray("<link rel=\"alternate\" type=\"application/pdf\" "
                                             "href=\"data:application/pdf;base64,JVBERg==\">")
                               << QString() << true;
    }
    void findsTheFullTextTheWayPagesWriteIt()
    {
        QFETCH(QByteArray, head);
        QFETCH(QString, fullText);
        QFETCH(bool, refused);
        const LandingPage page =
            ReadLandingPage("<html><head>" + head + "</head><body></body></html>",
                            QUrl(QStringLiteral("http://example.org/article/42?lang=en")));
        QCOMPARE(page.fullText.toString(), fullText);
        QCOMPARE(page.namesFullText(), !fullText.isEmpty());
        QCOMPARE(page.refusedTarget, refused);
    }

    void readsTheMetadataInItsOrder()
    {
        // citation_* before Dublin Core before PRISM; og:title only for a title nobody else gives.
        const QByteArray head =
            "<meta name=\"DC.title\" content=\"Dublin title\"><meta name=\"citation_title\" "
            "content=\"Caf&eacute; &amp; Tea: a study\">"
            "<meta name=\"citation_author\" content=\"Zhang, Wei\"><meta name=\"citation_author\" "
            "content=\"Smith; John\">"
            "<meta name=\"citation_author\" content=\"Alder, Ann\"><meta name=\"DC.creator\" "
            "content=\"Nobody\">"
            "<meta name=\"citation_publication_date\" content=\"2021/03/04\"><meta "
            "name=citation_journal_title content=\"Journal of Tests\">"
            "<meta name=\"DC.identifier\" content=\"doi:10.1234/dc.5\">"
            "<meta name=\"citation_doi\" content=\"https://doi.org/10.5555/ABC-1(2)\">"
            "<meta name=\"prism.volume\" content=\"12\"><meta name=\"citation_issue\" content=\"3\">"
            "<meta name=\"citation_firstpage\" content=\"101\"><meta name=\"prism.endingpage\" "
            "content=\"117\">"
            "<meta name=\"DC.publisher\" content=\"Test Press\"><meta name=\"dc.language\" content=\"en\">"
            "<meta name=\"dcterms.abstract\" content=\"Line one&#10;line &lt;two&gt;\">"
            "<meta name=\"citation_keywords\" content=\"tests; parsing\"><meta name=\"citation_keywords\" "
            "content=\"html\">"
            "<meta property=\"og:title\" content=\"Social title\">";
        const PaperMetadata m =
            ReadLandingPage("<head>" + head, QUrl(QStringLiteral("http://x.org/p"))).metadata;
        QCOMPARE(m.title, QStringLiteral("Café & Tea: a study"));
        QCOMPARE(m.authorList(), (QStringList{QStringLiteral("Zhang, Wei"), QStringLiteral("Smith, John"),
                                              QStringLiteral("Alder, Ann")}));
        QCOMPARE(m.year(), QStringLiteral("2021"));
        QCOMPARE(m.source(), QStringLiteral("Journal of Tests"));
        QVERIFY(!m.isConference());
        QCOMPARE(m.doi(), QStringLiteral("10.5555/ABC-1(2)"));
        QCOMPARE(m.volume(), QStringLiteral("12"));
        QCOMPARE(m.issue(), QStringLiteral("3"));
        QCOMPARE(m.firstPage(), QStringLiteral("101"));
        QCOMPARE(m.lastPage(), QStringLiteral("117"));
        QCOMPARE(m.publisher(), QStringLiteral("Test Press"));
        QCOMPARE(m.language(), QStringLiteral("en"));
        QCOMPARE(m.abstractText(), QStringLiteral("Line one line <two>"));
        QCOMPARE(m.keywordList(),
                 (QStringList{QStringLiteral("tests"), QStringLiteral("parsing"), QStringLiteral("html")}));

        // Dublin Core alone: the identifier is a DOI with or without its prefix, or no DOI at all.
        const PaperMetadata dc =
            ReadLandingPage(
                "<meta name=\"dc.identifier\" content=\"urn:isbn:978-3-16\"><meta name=\"DC.Identifier\" "
                "content=\"DOI: 10.1000/xyz.9.\">"
                "<meta name=\"dc.title\" content=\"Dublin\"><meta property=\"og:title\" content=\"Social\">"
                "<meta name=\"citation_conference_title\" content=\"Conf on Tests\">",
                QUrl(QStringLiteral("http://x.org/p")))
                .metadata;
        QCOMPARE(dc.title, QStringLiteral("Dublin"));
        QCOMPARE(dc.doi(), QStringLiteral("10.1000/xyz.9"));
        QVERIFY(dc.isConference());
        const LandingPage og = ReadLandingPage("<meta property=\"og:title\" content=\"Social\"><meta "
                                               "name=\"dc.identifier\" content=\"hdl:123/456\">",
                                               QUrl(QStringLiteral("http://x.org/p")));
        QCOMPARE(og.metadata.title, QStringLiteral("Social"));
        QVERIFY(og.metadata.doi().isEmpty());
        for (const char *notDoi : {"10.12/x", "doi:", "110.1234/x", "10.1234"})
            QVERIFY2(DoiOf(QString::fromLatin1(notDoi)).isEmpty(), notDoi);
        QCOMPARE(DoiOf(QStringLiteral("see http://dx.doi.org/10.1093/ajae/aaq063.")),
                 QStringLiteral("10.1093/ajae/aaq063"));

        // What the result page gave stays; the page fills what is empty and adds the rest.
        PaperMetadata kept;
        kept.cells = {{QStringLiteral("作者"), QStringLiteral("张伟")},
                      {QStringLiteral("来源"), QStringLiteral("测试学报")}};
        const PaperMetadata merged = MergedMetadata(kept, m);
        QCOMPARE(merged.title, m.title);
        QCOMPARE(merged.authorList(), QStringList{QStringLiteral("张伟")});
        QCOMPARE(merged.source(), QStringLiteral("测试学报"));
        QCOMPARE(merged.doi(), m.doi());
        QCOMPARE(merged.year(), QStringLiteral("2021"));
    }

    void aFloodOfTagsOrAHugePageIsReadOnlyInPart()
    {
        QByteArray flood = "<html><head>";
        for (int i = 0; i < 100000; ++i)
            flood += "<meta name=citation_keywords content=k" + QByteArray::number(i) + '>';
        const QByteArray tail = "<meta name=citation_pdf_url content=/late.pdf>";
        const LandingPage beyond = ReadLandingPage(flood + tail, QUrl(QStringLiteral("http://x.org/")));
        QVERIFY(flood.size() > LandingPageReadLimit);
        QVERIFY(!beyond.namesFullText()); // past the part that is read
        QVERIFY(beyond.metadata.keywordList().size() <= 500);
        const LandingPage within =
            ReadLandingPage(flood.left(600000) + '>' + tail, QUrl(QStringLiteral("http://x.org/")));
        QCOMPARE(within.fullText.toString(), QStringLiteral("http://x.org/late.pdf"));
    }

    void followsTheFullTextUnderEveryRule_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void followsTheFullTextUnderEveryRule()
    {
        QFETCH(int, method);
        const Reply paper = FaultServer::pdf(40000);
        m_server.setReply(QStringLiteral("/f/paper.pdf"), paper);
        // A full-text address without ".pdf", behind a redirect, relative to the page.
        m_server.setReply(QStringLiteral("/f/get"), [] {
            Reply r;
            r.status = 302;
            r.reason = "Found";
            r.location = "/f/paper.pdf";
            return r;
        }());
        m_server.setReply(QStringLiteral("/l/direct"), html(pdfPointer("../f/get")));
        m_server.setReply(QStringLiteral("/l/link"),
                          html("<link rel=\"alternate\" type=\"application/pdf\" href=\"/f/paper.pdf\">"));
        // A chain of two pages, and one of three.
        m_server.setReply(QStringLiteral("/l/two"), html(pdfPointer("/l/direct")));
        m_server.setReply(QStringLiteral("/l/three"), html(pdfPointer("/l/two")));
        // Loops: a page that names itself, two that name each other.
        m_server.setReply(QStringLiteral("/l/self"), html(pdfPointer("/l/self#top")));
        m_server.setReply(QStringLiteral("/l/a"), html(pdfPointer("/l/b")));
        m_server.setReply(QStringLiteral("/l/b"), html(pdfPointer("/l/a")));
        // A paper's page without a full text; a page whose full text is a page again; a plain page;
        // a full text off http(s). Each on a host of its own, as these may add up to a wall.
        m_other.setReply(QStringLiteral("/l/nofull"), html("<meta name=citation_title content=Lonely>"));
        m_third.setReply(QStringLiteral("/l/again"), html(pdfPointer("/plain")));
        m_third.setReply(QStringLiteral("/plain"), html(""));
        m_fourth.setReply(QStringLiteral("/plain"), html(""));
        m_server.setReply(QStringLiteral("/l/script"), html(pdfPointer("javascript:void(0)")));

        // Papers that call themselves web pages are papers all the same, small or large.
        Reply small = FaultServer::pdf(3000, 's');
        small.contentType = "text/html";
        Reply large = FaultServer::pdf(300000, 'L');
        large.contentType = "text/html; charset=utf-8";
        m_server.setReply(QStringLiteral("/m/small"), small);
        m_server.setReply(QStringLiteral("/m/large"), large);
        const RowId mislabelledSmall = addRow(QStringLiteral("/m/small"), QStringLiteral("small"));
        const RowId mislabelledLarge = addRow(QStringLiteral("/m/large"), QStringLiteral("large"));
        const RowId direct = addRow(QStringLiteral("/l/direct"), QStringLiteral("direct"));
        const RowId link = addRow(QStringLiteral("/l/link"), QStringLiteral("link"));
        const RowId two = addRow(QStringLiteral("/l/two"), QStringLiteral("two"));
        const RowId three = addRow(QStringLiteral("/l/three"), QStringLiteral("three"));
        const RowId self = addRow(QStringLiteral("/l/self"), QStringLiteral("self"));
        const RowId loop = addRow(QStringLiteral("/l/a"), QStringLiteral("loop"));
        const RowId nofull =
            addRow(m_other.url(QStringLiteral("/l/nofull")).toString(), QStringLiteral("nofull"));
        const RowId again =
            addRow(m_third.url(QStringLiteral("/l/again")).toString(), QStringLiteral("again"));
        const RowId plain =
            addRow(m_fourth.url(QStringLiteral("/plain")).toString(), QStringLiteral("plain"));
        const RowId script = addRow(QStringLiteral("/l/script"), QStringLiteral("script"));
        m_scheduler->options().intervalSeconds = 0;
        QSignalSpy wall(&m_scheduler->pause(), &QueuePause::verificationNeeded);
        runToEnd(method, 3);

        for (RowId id : {direct, link, two}) {
            QCOMPARE(row(id).state, RowState::Done);
            QCOMPARE(fntest::readFile(folder() + row(id).name + QStringLiteral(".pdf")), paper.body);
            QCOMPARE(row(id).fileAddress,
                     m_server.url(id == link ? QStringLiteral("/f/paper.pdf") : QStringLiteral("/f/get"))
                         .toString());
            QCOMPARE(row(id).declared.title, id == link ? QString() : QStringLiteral("A paper"));
        }
        for (const auto &[id, reply] :
             {qMakePair(mislabelledSmall, small), qMakePair(mislabelledLarge, large)}) {
            QCOMPARE(row(id).state, RowState::Done);
            QCOMPARE(fntest::readFile(folder() + row(id).name + u'.' + row(id).type), reply.body);
        }
        QCOMPARE(row(direct).landingPage, m_server.url(QStringLiteral("/l/direct")).toString());
        const QString tip =
            m_model->data(m_model->index(m_model->positionOf(direct), 0), Qt::ToolTipRole).toString();
        QVERIFY2(tip.contains(row(direct).landingPage) && tip.contains(row(direct).fileAddress),
                 qPrintable(tip));
        // Rows known by their address alone are named after the declared title; the others keep theirs.
        QVERIFY(row(direct).name.startsWith(QStringLiteral("A paper")));
        QCOMPARE(row(link).name, QStringLiteral("link"));
        QCOMPARE(row(two).landingPage, m_server.url(QStringLiteral("/l/direct")).toString());
        const QList<QPair<RowId, Kind>> failures{
            {three, Kind::FullTextRefused}, {self, Kind::FullTextRefused},
            {loop, Kind::FullTextRefused},  {nofull, Kind::LandingWithoutFullText},
            {again, Kind::FullTextRefused}, {plain, Kind::WebPage},
            {script, Kind::FullTextRefused}};
        for (const auto &[id, kind] : failures) {
            QCOMPARE(row(id).state, RowState::Failed);
            QVERIFY2(row(id).reason.kind == kind,
                     qPrintable(row(id).name + u' ' + reasonText(row(id).reason)));
        }
        QCOMPARE(reasonText(row(nofull).reason), QStringLiteral("no full text offered"));
        QCOMPARE(row(nofull).declared.title, QStringLiteral("Lonely"));
        // No address asked twice by one row, nothing but the three papers in the folder.
        QCOMPARE(m_server.requestCount(QStringLiteral("/l/self")), 1);
        QCOMPARE(m_server.requestCount(QStringLiteral("/l/a")), 1);
        QCOMPARE(m_server.requestCount(QStringLiteral("/l/b")), 1);
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(), 5);
        // Pages that name their full text, loops included, are no wall.
        QCOMPARE(wall.count(), 0);
    }

    void theNameIsDecidedFromAllThatIsKnownWhenTheFileIsFetched_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void theNameIsDecidedFromAllThatIsKnownWhenTheFileIsFetched()
    {
        // The template was filled at the hand-over from what the result page gave; the paper's page
        // declares more (its DOI, volume, issue, date, and for a bare link its title) before the file comes.
        QFETCH(int, method);
        const QByteArray declared =
            "<meta name=citation_title content=\"Declared title\"><meta name=citation_doi "
            "content=\"doi:10.1000/xyz.1\"><meta name=citation_volume content=7><meta name=citation_issue "
            "content=3><meta name=citation_publication_date content=2021/05/01>";
        for (const char *paper : {"listed", "bare", "linked"}) {
            const QString path = QStringLiteral("/n/%1").arg(QLatin1String(paper));
            m_server.setReply(
                path, html(declared + "<meta name=citation_pdf_url content=" + path.toUtf8() + ".pdf>"));
            m_server.setReply(path + ".pdf", FaultServer::pdf(4000, paper[0]));
        }
        HandOverOptions byTemplate;
        byTemplate.nameTemplate = QStringLiteral("{年份}-{DOI}-{卷}-{期}-{标题}");
        HandOverOptions byLink = byTemplate;
        byLink.namesFromLinks = true;
        const RowWriter rows = TestRows::of(*m_model);
        const QString pdf = QStringLiteral("pdf");
        // What the result page gave wins over what the page declares; a bare link has only its address.
        QVERIFY(加入下载列表(rows, m_server.url("/n/listed").toString(), "Listed title", pdf, folder(), {},
                             byTemplate, {{QStringLiteral("年份"), QStringLiteral("2019")}}));
        QVERIFY(
            加入下载列表(rows, m_server.url("/n/bare").toString(), "bare", pdf, folder(), {}, byTemplate));
        QVERIFY(加入下载列表(rows, m_server.url("/n/linked").toString(), "Linked title", pdf, folder(), {},
                             byLink));
        // Another program's file stands under the name the bare link comes to: the duplicate rule holds.
        const QString taken = QStringLiteral("2021-10.1000_xyz.1-7-3-Declared title");
        fntest::writeFile(folder() + taken + ".pdf", "another program's");
        runToEnd(method, 2);

        const QStringList expected{QStringLiteral("2019-10.1000_xyz.1-7-3-Listed title.pdf"), taken + ".pdf",
                                   taken + "[001].pdf", QStringLiteral("linked.pdf")};
        QStringList files = QDir(folder()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(QSet<QString>(files.cbegin(), files.cend()),
                 QSet<QString>(expected.cbegin(), expected.cend()));
        QCOMPARE(fntest::readFile(folder() + expected.at(0)), FaultServer::pdf(4000, 'l').body);
        QCOMPARE(fntest::readFile(folder() + taken + ".pdf"), QByteArray("another program's"));
        QCOMPARE(fntest::readFile(folder() + taken + "[001].pdf"), FaultServer::pdf(4000, 'b').body);
        for (int i = 0; i < m_model->count(); ++i) {
            QCOMPARE(m_model->row(i).state, RowState::Done);
            QCOMPARE(m_model->row(i).owned.path, rowFilePath(m_model->row(i)));
        }
    }

    void landingPagesNeverPauseTheQueue()
    {
        QList<RowId> ids;
        for (int i = 0; i < 6; ++i) {
            const QString path = QStringLiteral("/q/page%1").arg(i);
            m_server.setReply(path, html(pdfPointer("/q/paper" + QByteArray::number(i))));
            m_server.setReply(QStringLiteral("/q/paper%1").arg(i), FaultServer::pdf(3000));
            ids.append(addRow(path, QStringLiteral("q%1").arg(i)));
        }
        QSignalSpy wall(&m_scheduler->pause(), &QueuePause::verificationNeeded);
        runToEnd(2, 2);
        QCOMPARE(wall.count(), 0);
        for (RowId id : ids)
            QCOMPARE(row(id).state, RowState::Done);
    }

    // Paywalled papers: every way a paper's own page offers nothing to take is the site's honest answer.
    // Each fails with its own reason, once, and nothing of it adds up to a wall, with rows skipped on
    // files already there in between; a page with a form where the full text should be still does.
    void aPapersOwnPageIsNeverAWall_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("threads");
        QTest::newRow("single connection") << 1 << 1;
        QTest::newRow("three parallel slots") << 2 << 3;
    }
    void aPapersOwnPageIsNeverAWall()
    {
        QFETCH(int, method);
        QFETCH(int, threads);
        const QByteArray paperTags = "<meta name=\"citation_title\" content=\"A paper\">";
        const QList<QPair<QByteArray, QByteArray>> pointers{{"javascript", "javascript:void(0)"},
                                                            {"data", "data:application/pdf;base64,JVBERi0K"},
                                                            {"file", "file:///etc/passwd"},
                                                            {"ftp", "ftp://127.0.0.1/p.pdf"},
                                                            {"self", "/h/self#pdf"},
                                                            {"loop", "/h/loop2"},
                                                            {"own", "/h/t/own"},
                                                            {"error", "/h/t/error"},
                                                            {"note", "/h/t/note"}};
        m_server.setReply(QStringLiteral("/h/none"), html(paperTags));
        for (const auto &[name, address] : pointers)
            m_server.setReply(QStringLiteral("/h/%1").arg(QString::fromLatin1(name)),
                              html(pdfPointer(address)));
        m_server.setReply(QStringLiteral("/h/loop2"), html(pdfPointer("/h/loop")));
        // What the full texts named come as: the paper's page again, an error page, a note.
        m_server.setReply(QStringLiteral("/h/t/own"), html(paperTags));
        Reply error = html("", "<h1>Not Found</h1>");
        error.body.replace("<title>A paper</title>", "<TITLE>404 Not Found</TITLE>");
        m_server.setReply(QStringLiteral("/h/t/error"), error);
        m_server.setReply(QStringLiteral("/h/t/note"), html("", "<p>The full text is not available.</p>"));
        for (const QString &name : {QStringLiteral("present1"), QStringLiteral("present2")})
            fntest::writeFile(folder() + name + QStringLiteral(".pdf"), "%PDF-1.4 kept");

        QList<RowId> honest{addRow(QStringLiteral("/h/none"), QStringLiteral("none"))};
        const RowId skipped = addRow(QStringLiteral("/h/present1.pdf"), QStringLiteral("present1"));
        for (const auto &[name, address] : pointers)
            honest.append(
                addRow(QStringLiteral("/h/%1").arg(QString::fromLatin1(name)), QString::fromLatin1(name)));
        const RowId skippedToo = addRow(QStringLiteral("/h/present2.pdf"), QStringLiteral("present2"));
        m_scheduler->options().policy = DuplicatePolicy::Skip;
        m_scheduler->options().retries = 3;
        m_scheduler->options().method = methodFromNumber(method);
        m_scheduler->options().threadCount = threads;
        QSignalSpy wall(&m_scheduler->pause(), &QueuePause::verificationNeeded);
        QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
        m_scheduler->start();
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() == 1 || wall.count() > 0, 30000);
        QVERIFY2(wall.isEmpty(), qPrintable(m_model->totalsText()));

        for (RowId id : {skipped, skippedToo})
            QCOMPARE(row(id).percentNote, PercentNote::Skipped);
        const QStringList expected{
            "no full text offered",
            "full text refused: a javascript: address",
            "full text refused: a data: address",
            "full text refused: a file: address",
            "full text refused: a ftp: address",
            "full text refused: it is the page itself",
            "full text refused: it leads back to an address already asked for",
            "full text refused: the full text is a web page",
            "full text refused: the full text is a web page",
            "full text refused: the full text is a web page",
        };
        for (qsizetype i = 0; i < honest.size(); ++i) {
            QCOMPARE(row(honest.at(i)).state, RowState::Failed);
            QCOMPARE(reasonText(row(honest.at(i)).reason), expected.at(i));
            QVERIFY(!reasonTextForWindow(row(honest.at(i)).reason).contains(u"网页，不是文献"));
        }
        // Never tried again by itself: each page was asked for once.
        QCOMPARE(m_server.requestCount(QStringLiteral("/h/none")), 1);
        QCOMPARE(m_server.requestCount(QStringLiteral("/h/self")), 1);
        QCOMPARE(m_server.requestCount(QStringLiteral("/h/note")), 1);
        QCOMPARE(m_server.requestCount(QStringLiteral("/h/t/note")), 1);
        QCOMPARE(m_server.requestCount(QStringLiteral("/h/loop")), 1);
        QCOMPARE(m_server.requestCount(QStringLiteral("/h/loop2")), 1);

        // A form where the full text should be may be the site's check, and a page the site's rules mark
        // asks for its login: two of them pause the queue.
        Reply check = html("", "<FORM action=/verify method=post><input type=submit value=go></FORM>");
        m_server.setReply(QStringLiteral("/h/t/check"), check);
        m_server.setReply(QStringLiteral("/h/t/login"), html("", "<h1>请先登录</h1>"));
        m_server.setReply(QStringLiteral("/h/v1"), html(pdfPointer("/h/t/check")));
        m_server.setReply(QStringLiteral("/h/v2"), html(pdfPointer("/h/t/login")));
        addRow(QStringLiteral("/h/v1"), QStringLiteral("v1"));
        addRow(QStringLiteral("/h/v2"), QStringLiteral("v2"));
        m_scheduler->start();
        QTRY_COMPARE_WITH_TIMEOUT(wall.count(), 1, 30000);
        const QUrl page = wall.first().at(1).toUrl();
        QVERIFY2(page == m_server.url(QStringLiteral("/h/t/check")) ||
                     page == m_server.url(QStringLiteral("/h/t/login")),
                 qPrintable(page.toString()));
    }

    void cookiesStayWithTheirHostAndHugePagesEndEarly()
    {
        // The page's host set a cookie; the full text sits on another host and never gets it.
        QNetworkCookie cookie("session", "secret");
        cookie.setDomain(QStringLiteral("127.0.0.1"));
        cookie.setPath(QStringLiteral("/"));
        m_scheduler->network().cookieJar()->setCookiesFromUrl({cookie}, m_server.url(QStringLiteral("/")));
        Reply guarded = html(pdfPointer(m_other.url(QStringLiteral("/paper")).toEncoded()));
        guarded.requiredCookie = "session=secret";
        m_server.setReply(QStringLiteral("/c/page"), guarded);
        m_other.setReply(QStringLiteral("/paper"), FaultServer::pdf(5000));
        // Fifty megabytes of page with its pointer past what is read.
        Reply huge;
        huge.contentType = "text/html";
        huge.body =
            "<html><head><title>x</title>" + QByteArray(50 * 1024 * 1024, ' ') + pdfPointer("/c/none");
        m_server.setReply(QStringLiteral("/c/huge"), huge);
        const RowId across = addRow(QStringLiteral("/c/page"), QStringLiteral("across"));
        const RowId big = addRow(QStringLiteral("/c/huge"), QStringLiteral("big"));
        runToEnd(1);

        QCOMPARE(row(across).state, RowState::Done);
        QCOMPARE(row(across).name, QStringLiteral("across"));
        const QList<FaultServer::Request> asked = m_other.requests();
        QCOMPARE(asked.size(), 1);
        QVERIFY(!asked.first().headers.contains("cookie"));
        QVERIFY(m_server.requests().first().headers.value("cookie").contains("session=secret"));
        QCOMPARE(row(big).state, RowState::Failed);
        QCOMPARE(row(big).reason.kind, Kind::WebPage);
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
};

FN_TEST_MAIN_CORE(TestLanding)
#include "tst_landing.moc"
