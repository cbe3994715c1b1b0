// The ways to a listed paper's full text and what the list says of it, as the queue and the hand-over
// get them: the order of the ways, the resolver's template, rows carried over by a resumed run, the
// metadata under the headers the names and the exports read, and the papers put into the candidates.
#include "core/references/htmlselect.h"
#include "core/references/referencelist.h"
#include "core/rows/downloadlistmodel.h"
#include "core/search/candidatelistmodel.h"
#include "core/search/referenceimporting.h"
#include "core/search/referencerows.h"

#include <QtTest>

namespace {

QStringList addressesOf(const QList<RowSources::Source> &sources)
{
    QStringList addresses;
    for (const RowSources::Source &source : sources)
        addresses.append(source.address + u' ' + source.origin);
    return addresses;
}

DownloadRow rowAt(const QString &key)
{
    DownloadRow row;
    row.key = key;
    return row;
}

} // namespace

class TestReferenceSources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void waysComeInOrder_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QStringList>("expected");
        const QString resolver = QStringLiteral(" DOI resolver");
        QTest::newRow("file, arXiv, DOI, page")
            << QByteArray("@article{a, doi = {10.1000/ABC}, eprint = {2101.00001v2}, archivePrefix = {arXiv},"
                          " pdf = {http://files.example/a.pdf}, url = {http://pages.example/a}}\n")
            << QStringList{QStringLiteral("http://files.example/a.pdf file address"),
                           QStringLiteral("https://arxiv.org/pdf/2101.00001v2 arXiv"),
                           QStringLiteral("http://127.0.0.1:8080/doi/10.1000/ABC") + resolver,
                           QStringLiteral("http://pages.example/a web page")};
        // An arXiv DOI leads to the arXiv as well; a DOI with a query character is encoded in the path.
        QTest::newRow("arXiv DOI")
            << QByteArray("10.48550/arXiv.2101.00001\n")
            << QStringList{QStringLiteral("https://arxiv.org/pdf/2101.00001 arXiv"),
                           QStringLiteral("http://127.0.0.1:8080/doi/10.48550/arXiv.2101.00001") + resolver};
        QTest::newRow("encoded DOI")
            << QByteArray("doi:10.1000/a?b#c\n")
            << QStringList{QStringLiteral("http://127.0.0.1:8080/doi/10.1000/a%3Fb%23c") + resolver};
        QTest::newRow("plain link") << QByteArray("Title\thttp://files.example/x.pdf\n")
                                    << QStringList{QStringLiteral("http://files.example/x.pdf web page")};
    }

    void waysComeInOrder()
    {
        QFETCH(QByteArray, list);
        QFETCH(QStringList, expected);
        const ReferenceList read = ReadReferences(list);
        QCOMPARE(read.entries.size(), 1);
        const QString resolver = QStringLiteral("http://127.0.0.1:8080/doi/{doi}");
        QCOMPARE(addressesOf(EntrySources(read.entries.first(), resolver)), expected);

        // The queue is given the ways after the row's own address, one at a time, and then none.
        ReferenceSources sources(resolver);
        RowSources::Source first;
        QVERIFY(sources.add(read.entries.first(), &first));
        QCOMPARE(first.address + u' ' + first.origin, expected.first());
        QVERIFY(!sources.add(read.entries.first(), &first)); // listed already
        const DownloadRow row = rowAt(first.address);
        for (int tried = 0; tried + 1 < expected.size(); ++tried) {
            const std::optional<RowSources::Source> next = sources.sourceAfter(row, tried);
            QVERIFY(next);
            QCOMPARE(next->address + u' ' + next->origin, expected.at(tried + 1));
        }
        QVERIFY(!sources.sourceAfter(row, int(expected.size()) - 1));
        QVERIFY(!sources.sourceAfter(rowAt(QStringLiteral("http://other.example/")), 0));
    }

    // The finders come after the entry's own file address and before the arXiv and the resolver, each
    // with its reader; a finder whose template names an identifier the entry lacks is left out.
    void findersStandInTheirPlace()
    {
        const FindersRead read = ParseFinders(
            "[{\"name\": \"Index\", \"url\": \"http://index.example/{doi}\", \"mode\": \"json\","
            "  \"path\": \"best_oa_location.url_for_pdf\"},"
            " {\"name\": \"Preprints\", \"url\": \"http://pre.example/{arxiv}\", \"mode\": \"html\","
            "  \"selector\": \"a.pdf\", \"attribute\": \"href\"}]",
            QStringLiteral("finders.json"));
        QVERIFY2(read.ok(), qPrintable(read.error ? read.error->text() : QString()));
        const FinderReaders readers = ReadersOf(read.finders);
        const ReferenceList list =
            ReadReferences("@article{a, doi = {10.1000/x}, pdf = {http://files.example/a.pdf}}\n");
        const QList<RowSources::Source> sources =
            EntrySources(list.entries.first(), QStringLiteral("https://doi.org/{doi}"), readers);
        QCOMPARE(addressesOf(sources),
                 (QStringList{QStringLiteral("http://files.example/a.pdf file address"),
                              QStringLiteral("http://index.example/10.1000/x Index"),
                              QStringLiteral("https://doi.org/10.1000/x DOI resolver")}));
        QVERIFY(!sources.at(0).reader);
        QVERIFY(sources.at(1).reader == readers.first());
        QVERIFY(!sources.at(2).reader);

        // A paper listed by its DOI alone starts at the first finder: its row's own answer is read too.
        ReferenceSources listed;
        listed.setFinders(readers);
        RowSources::Source first;
        QVERIFY(listed.add(ReadReferences("10.1000/y\n").entries.first(), &first));
        QCOMPARE(first.origin, QStringLiteral("Index"));
        QVERIFY(listed.readerOf(rowAt(first.address)) == readers.first());
        QVERIFY(!listed.sourceAfter(rowAt(first.address), 0)->reader);

        // The readers take the addresses out of the answers, relative ones against the address asked.
        const QUrl asked(QStringLiteral("http://index.example/10.1000/x"));
        QCOMPARE(
            readers.at(0)->addressesIn("{\"best_oa_location\": {\"url_for_pdf\": \"/files/x.pdf\"}}", asked),
            QStringList{QStringLiteral("http://index.example/files/x.pdf")});
        QVERIFY(readers.at(0)->addressesIn("{\"best_oa_location\": null}", asked).isEmpty());
        QVERIFY(readers.at(0)->addressesIn("not json", asked).isEmpty());
        QCOMPARE(readers.at(1)->addressesIn(
                     "<p><a href='/abs'>abs</a><A CLASS=\"big pdf\" HREF=\"x.pdf?a=1&amp;b=2\">"
                     "PDF</A>",
                     asked),
                 QStringList{QStringLiteral("http://index.example/10.1000/x.pdf?a=1&b=2")});
    }

    // The selectors a finder's html mode takes, and those it refuses rather than guess at.
    void htmlSelectors_data()
    {
        QTest::addColumn<QString>("selector");
        QTest::addColumn<QString>("attribute");
        QTest::addColumn<QStringList>("values");
        const QStringList none;
        QTest::newRow("meta by name") << "meta[name=citation_pdf_url]"
                                      << "content" << QStringList{"/a.pdf"};
        QTest::newRow("quoted, any case") << "META[NAME=\"citation_pdf_url\"]"
                                          << "CONTENT" << QStringList{"/a.pdf"};
        QTest::newRow("id") << "#main"
                            << "href" << QStringList{"/main.pdf"};
        QTest::newRow("class among several") << "a.pdf"
                                             << "href" << QStringList{"/main.pdf", "/b.pdf"};
        QTest::newRow("prefix and suffix") << "a[href^=/b][href$=.pdf]"
                                           << "href" << QStringList{"/b.pdf"};
        QTest::newRow("contains") << "link[type*=pdf]"
                                  << "href" << QStringList{"/alt.pdf"};
        QTest::newRow("present, any tag") << "*[data-pdf]"
                                          << "data-pdf" << QStringList{"/data.pdf"};
        QTest::newRow("descendant refused") << "div a"
                                            << "href" << none;
        QTest::newRow("child refused") << "div>a"
                                       << "href" << none;
        QTest::newRow("unclosed bracket refused") << "a[href"
                                                  << "href" << none;
    }

    void htmlSelectors()
    {
        QFETCH(QString, selector);
        QFETCH(QString, attribute);
        QFETCH(QStringList, values);
        const QByteArray page = "<html><head><meta name=\"citation_pdf_url\" content=\"/a.pdf\">"
                                "<link rel=alternate type=\"application/pdf\" href='/alt.pdf'></head>"
                                "<body><div><a id=main class=\"pdf big\" href=\"/main.pdf\">x</a>"
                                "<a class=pdf href=\"/b.pdf\">y</a><span data-pdf=\"/data.pdf\"></span></div>"
                                "<a href=\"/b.pdf\" title=\"a > b\">again</a></body></html>";
        const HtmlSelector parsed(selector);
        QCOMPARE(parsed.supported(), !values.isEmpty());
        QCOMPARE(parsed.values(page, attribute), values);
    }

    // A link list is read as one whatever its titles start with: a bracket or an at sign is no JSON or
    // BibTeX when a tab and an address follow it.
    void linkListsWithOddTitles()
    {
        const QByteArray links = "[PDF] First\thttp://files.example/1.pdf\n"
                                 "@SUM(A1)\thttp://files.example/2.pdf\n"
                                 "{braced}\thttps://files.example/3.pdf\n";
        QCOMPARE(GuessReferenceFormat(links), ReferenceFormat::Lines);
        QCOMPARE(ReadReferences(links).entries.size(), 3);
        // A BibTeX entry or a JSON list is still told by its content.
        QCOMPARE(GuessReferenceFormat("@article{a, url = {http://x.example/}}\n"), ReferenceFormat::BibTeX);
        QCOMPARE(GuessReferenceFormat("[{\"DOI\": \"10.1000/x\"}]"), ReferenceFormat::CslJson);
    }

    // A row of an earlier run comes back under its own address: the ways its identifier gives follow it.
    void resumedRowsGoOnByTheirIdentifier()
    {
        ReferenceSources sources;
        const QString key = QStringLiteral("http://files.example/gone.pdf");
        sources.addResumed(key, QStringLiteral("10.1000/xyz"));
        sources.addResumed(QStringLiteral("http://files.example/b"), QStringLiteral("not an identifier"));
        const std::optional<RowSources::Source> next = sources.sourceAfter(rowAt(key), 0);
        QVERIFY(next);
        QCOMPARE(next->address, QStringLiteral("https://doi.org/10.1000/xyz"));
        QVERIFY(!sources.sourceAfter(rowAt(key), 1));
        QVERIFY(!sources.knows(QStringLiteral("http://files.example/b")));
        // A resumed row whose own address was the resolver's is not sent there again.
        const QString resolved = QStringLiteral("https://doi.org/10.1000/again");
        sources.addResumed(resolved, QStringLiteral("10.1000/again"));
        QVERIFY(!sources.sourceAfter(rowAt(resolved), 0));
    }

    // A row restored from the last run is known by the identifier it carries; a row of no list has none.
    void restoredRowsGoOnByTheIdentifierTheyCarry()
    {
        ReferenceSources sources;
        DownloadRow restored = rowAt(QStringLiteral("http://files.example/elsewhere.pdf"));
        restored.identifier = QStringLiteral("10.1000/Carried");
        const std::optional<RowSources::Source> next = sources.sourceAfter(restored, 0);
        QVERIFY(next);
        QCOMPARE(next->address, QStringLiteral("https://doi.org/10.1000/Carried"));
        QCOMPARE(next->origin, sourceorigin::Resolver);
        QVERIFY(!sources.sourceAfter(rowAt(restored.key), 0));
    }

    // Rows made from a list keep what it says of each paper once its entries are let go, and still find
    // their other ways; names that hold a separator stay one by one.
    void rowsKeepTheListsMetadataWithoutItsEntries()
    {
        ReferenceList list = ReadReferences(
            "TY  - JOUR\nTI  - First paper\nAU  - Roe, Jane\nAU  - Doe, John\nPY  - 2019\nJO  - Journal\n"
            "DO  - 10.1000/One\nL1  - http://files.example/one.pdf\nER  - \n"
            "TY  - JOUR\nTI  - Second paper\nAU  - 张、伟\nAU  - Roe, Jane\nPY  - 2019\nJO  - Journal\n"
            "DO  - 10.1000/two\nER  - \n");
        QCOMPARE(list.entries.size(), 2);
        DownloadListModel listed;
        ReferenceSources sources;
        HandOverOptions options;
        options.defaultFolder = QStringLiteral("/tmp/papers/");
        ReferenceRowMaker maker(listed, sources, options);
        const QList<DownloadRow> rows = maker.takeRows(list.entries, 0, list.entries.size());
        QCOMPARE(rows.size(), 2);
        QVERIFY(list.entries.first().title().isEmpty());
        QVERIFY(!list.entries.last().namesIdentifier());

        const PaperMetadata &first = rows.first().naming.given;
        QCOMPARE(rows.first().key, QStringLiteral("http://files.example/one.pdf"));
        QCOMPARE(rows.first().name, QStringLiteral("First paper"));
        QCOMPARE(first.title, QStringLiteral("First paper"));
        QCOMPARE(first.authorList(), (QStringList{QStringLiteral("Roe, Jane"), QStringLiteral("Doe, John")}));
        QCOMPARE(first.authors(), QStringLiteral("Roe, Jane; Doe, John"));
        QCOMPARE(first.year(), QStringLiteral("2019"));
        QCOMPARE(first.source(), QStringLiteral("Journal"));
        QCOMPARE(first.doi(), QStringLiteral("10.1000/One"));
        QCOMPARE(rows.first().identifier, QStringLiteral("10.1000/One"));
        QCOMPARE(rows.first().origin, sourceorigin::FileAddress);
        const std::optional<RowSources::Source> next = sources.sourceAfter(rows.first(), 0);
        QVERIFY(next);
        QCOMPARE(next->address, QStringLiteral("https://doi.org/10.1000/One"));

        QCOMPARE(rows.last().naming.given.authorList(),
                 (QStringList{QStringLiteral("张、伟"), QStringLiteral("Roe, Jane")}));
        QCOMPARE(rows.last().naming.given.source(), QStringLiteral("Journal"));
        QCOMPARE(sources.identifierOf(rows.last().key), QStringLiteral("10.1000/two"));
    }

    // The list's metadata goes under the headers the names, the library and the exports read; the
    // candidates are titled by the list, or after their address as links are when it gives no title.
    void metadataAndCandidates()
    {
        const ReferenceList read = ReadReferences(
            "TY  - JOUR\r\nTI  - A title\r\nAU  - Roe, Jane\r\nAU  - Doe, John\r\nPY  - 2019///\r\n"
            "JO  - Journal of Tests\r\nDO  - 10.1000/RIS\r\nER  - \r\n"
            "TY  - JOUR\r\nDO  - 10.1000/untitled\r\nER  - \r\n");
        QCOMPARE(read.entries.size(), 2);
        const PaperMetadata metadata = EntryMetadata(read.entries.first());
        QCOMPARE(metadata.title, QStringLiteral("A title"));
        QCOMPARE(metadata.authorList(),
                 (QStringList{QStringLiteral("Roe, Jane"), QStringLiteral("Doe, John")}));
        QCOMPARE(metadata.year(), QStringLiteral("2019"));
        QCOMPARE(metadata.source(), QStringLiteral("Journal of Tests"));
        QCOMPARE(metadata.doi(), QStringLiteral("10.1000/RIS"));
        QCOMPARE(EntryIdentifier(read.entries.first()), QStringLiteral("10.1000/RIS"));

        CandidateListModel candidates;
        ReferenceSources sources;
        ReferenceImportOutcome outcome =
            AddReferenceEntries(read, candidates, sources, QStringLiteral("/tmp/"));
        QCOMPARE(outcome.added, 2);
        QCOMPARE(candidates.row(0).key, QStringLiteral("https://doi.org/10.1000/RIS"));
        QCOMPARE(candidates.row(0).metadata(), metadata);
        QCOMPARE(candidates.row(1).title, QStringLiteral("untitled")); // as a link is, until a page names it
        QCOMPARE(sources.identifierOf(candidates.row(1).key), QStringLiteral("10.1000/untitled"));
        QCOMPARE(sources.originOf(candidates.row(1).key), sourceorigin::Resolver);
        // The same list again adds nothing.
        outcome = AddReferenceEntries(read, candidates, sources, QStringLiteral("/tmp/"));
        QCOMPARE(outcome.added, 0);
        QCOMPARE(outcome.alreadyListed, 2);
    }
};

QTEST_GUILESS_MAIN(TestReferenceSources)
#include "tst_referencesources.moc"
