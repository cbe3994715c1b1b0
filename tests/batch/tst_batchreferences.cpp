// A reference list through the real program against the demo site answering as a DOI resolver: each
// entry is tried way after way (its own file address, then its DOI's landing page), paywalled papers end
// their rows with their reason while the run goes on, the list's metadata names the files, and the
// manifest says for each paper where its file came from.
#include "core/common/csv.h"
#include "demo/demodoi.h"
#include "demo/demosite.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct RunResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

enum Column { Address = 0, Name = 1, State = 3, Reason = 8, FileAddress = 9, Identifier = 12, FoundBy = 13 };

// Manifest rows without the header, by identifier.
QHash<QString, QStringList> manifestRows(const QString &folder, QStringList *header = nullptr)
{
    csv::ParseError error;
    QList<csv::Record> records =
        csv::parse(QString::fromUtf8(fntest::readFile(folder + QStringLiteral("/manifest.csv"))), &error);
    QHash<QString, QStringList> rows;
    for (qsizetype i = 0; i < records.size(); ++i) {
        QStringList cells;
        for (const QString &cell : std::as_const(records.at(i).cells))
            cells.append(csv::restored(cell));
        if (i == 0 && header)
            *header = cells;
        else if (i > 0)
            rows.insert(cells.value(Identifier), cells);
    }
    return rows;
}

} // namespace

class TestBatchReferences : public QObject
{
    Q_OBJECT

    DemoSite m_site;
    std::unique_ptr<QTemporaryDir> m_work;
    QStringList m_requests;

    QString path(const QString &name) const { return m_work->filePath(name); }
    QString resolver() const
    {
        const QUrl home = m_site.homeUrl();
        return QStringLiteral("http://%1:%2/doi/{doi}").arg(home.host()).arg(home.port());
    }

    RunResult run(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString home = path(QStringLiteral("home"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(FOLIONEXUS_EXE), QStringList{QStringLiteral("--batch")} + arguments);
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 120000))
            process.kill();
        process.waitForFinished();
        RunResult result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QString write(const QString &name, const QByteArray &text)
    {
        fntest::writeFile(path(name), text);
        return path(name);
    }

    static QByteArray bibEntry(const QByteArray &key, const QString &doi, const QByteArray &more = {})
    {
        return "@article{" + key + ",\n  title = {Paper " + key +
               "},\n  author = {M{\\\"u}ller, Anna and Li, "
               "Wei},\n  year = 2021,\n  journal = {Demo Letters},\n  doi = {" +
               doi.toUtf8() + "}," + more + "\n}\n\n";
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_site.catalog().setLandingPages(true);
        m_site.catalog().setPaywall(true); // papers 5 to 12 offer no full text
        QVERIFY(m_site.listen());
        connect(&m_site, &DemoSite::requestServed, this,
                [this](const QString &served, int) { m_requests.append(served); });
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        m_requests.clear();
    }

    // Open papers and a paywalled one from a BibTeX file: the open ones come in under the list's names,
    // the paywalled one ends with its reason, the run goes on to the end and says some failed.
    void aBibTeXListThroughTheResolver()
    {
        const QByteArray bib =
            bibEntry("one", demodoi::doiOf(1)) + bibEntry("two", demodoi::doiOf(2)) +
            bibEntry("walled", demodoi::doiOf(6)) +
            // The same paper again under another spelling of its DOI: one row.
            bibEntry("again", QStringLiteral("https://doi.org/") + demodoi::doiOf(1).toUpper()) +
            "@article{broken,\n  title = {No identifier at all}\n}\n";
        const QString list = write(QStringLiteral("papers.bib"), bib);
        const QString out = path(QStringLiteral("out"));
        const RunResult r = run({QStringLiteral("--input"), list, QStringLiteral("--out"), out,
                                 QStringLiteral("--doi-resolver"), resolver(), QStringLiteral("--names"),
                                 QStringLiteral("template:{年份}-{标题}"), QStringLiteral("--no-library")});
        QCOMPARE(r.exitCode, 2);
        // The entry without an identifier is named with its line, the second listing with the first.
        QVERIFY2(r.err.contains(QStringLiteral("line 33: names no DOI, arXiv id or web address")),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("line 25: the same paper as line 1,")), qPrintable(r.err));
        QStringList header;
        const QHash<QString, QStringList> rows = manifestRows(out, &header);
        QCOMPARE(header.mid(Identifier),
                 (QStringList{QStringLiteral("identifier"), QStringLiteral("found_by")}));
        QCOMPARE(rows.size(), 3);
        for (int n : {1, 2}) {
            const QStringList row = rows.value(demodoi::doiOf(n));
            QCOMPARE(row.value(State), QStringLiteral("Done"));
            QCOMPARE(row.value(Address), resolver().replace(QStringLiteral("{doi}"), demodoi::doiOf(n)));
            QCOMPARE(row.value(FoundBy), QStringLiteral("DOI resolver (landing page)"));
            QCOMPARE(row.value(FileAddress), m_site.landingFileUrl(n).toString());
        }
        // The list's year and title name the file, not the landing page's.
        QCOMPARE(fntest::readFile(out + QStringLiteral("/2021-Paper one.pdf")), m_site.paperBytes(1));
        const QStringList walled = rows.value(demodoi::doiOf(6));
        QCOMPARE(walled.value(State), QStringLiteral("Failed"));
        QCOMPARE(walled.value(Reason), QStringLiteral("no full text offered"));
        QCOMPARE(walled.value(FoundBy), QStringLiteral("none"));
        // Not tried again: the paywalled paper's page was asked for once.
        QCOMPARE(m_requests.count(m_site.paperFileUrl(6).path()), 1);
        QVERIFY2(!r.err.contains(QStringLiteral("verification page")), qPrintable(r.err));
    }

    // An entry's own file address goes first; where it gives no file the DOI's landing page is asked, in
    // that order, each once. The list's DOI stays the row's identifier.
    void waysAreTriedInOrder()
    {
        const QString missing =
            m_site.homeUrl().resolved(QUrl(QStringLiteral("/files/missing.pdf"))).toString();
        const QByteArray ris = "TY  - JOUR\r\nTI  - Third paper\r\nAU  - Roe, Jane\r\nPY  - 2019\r\nDO  - " +
                               demodoi::doiOf(3).toUtf8() + "\r\nL1  - " + missing.toUtf8() +
                               "\r\nER  - \r\n";
        const QString list = write(QStringLiteral("papers.ris"), ris);
        const QString out = path(QStringLiteral("out"));
        const RunResult r =
            run({QStringLiteral("--input"), list, QStringLiteral("--out"), out,
                 QStringLiteral("--doi-resolver"), resolver(), QStringLiteral("--no-library")});
        QCOMPARE(r.exitCode, 0);
        const QStringList row = manifestRows(out).value(demodoi::doiOf(3));
        QCOMPARE(row.value(State), QStringLiteral("Done"));
        QCOMPARE(row.value(Address), missing);
        QCOMPARE(row.value(FoundBy), QStringLiteral("DOI resolver (landing page)"));
        const QStringList expected{QStringLiteral("/files/missing.pdf"),
                                   QStringLiteral("/doi/") + demodoi::doiOf(3), m_site.paperFileUrl(3).path(),
                                   m_site.landingFileUrl(3).path()};
        QCOMPARE(m_requests, expected);
    }

    // Finders in both modes: the open-access index's JSON for the first, a page's meta tag for the second.
    // An open paper is found by the first finder; a paywalled one goes from finder to finder and then to
    // its landing page, each way once and in order, and ends with its reason.
    void findersInBothModes()
    {
        const QUrl home = m_site.homeUrl();
        const QString site = QStringLiteral("http://%1:%2").arg(home.host()).arg(home.port());
        const QByteArray finders =
            "{\"format\": 1, \"finders\": [\n"
            " {\"name\": \"Demo index\", \"url\": \"" +
            site.toUtf8() +
            "/oa/{doi}?email=me@example.org\","
            "  \"mode\": \"json\", \"path\": [\"best_oa_location.url_for_pdf\", "
            "\"oa_locations[*].url_for_pdf\"]},\n"
            " {\"name\": \"Demo pages\", \"url\": \"" +
            site.toUtf8() +
            "/doi/{doi}?via=finder\", \"mode\": \"html\","
            "  \"selector\": \"meta[name=citation_pdf_url]\", \"attribute\": \"content\"}]}\n";
        const QString findersFile = write(QStringLiteral("finders.json"), finders);
        const QString list = write(QStringLiteral("dois.txt"),
                                   demodoi::doiOf(4).toUtf8() + "\n" + demodoi::doiOf(6).toUtf8() + "\n");
        const QString out = path(QStringLiteral("out"));
        const RunResult r =
            run({QStringLiteral("--input"), list, QStringLiteral("--out"), out, QStringLiteral("--finders"),
                 findersFile, QStringLiteral("--doi-resolver"), resolver(), QStringLiteral("--no-library"),
                 QStringLiteral("--method"), QStringLiteral("1")});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("asking the finders Demo index, Demo pages")),
                 qPrintable(r.err));
        const QHash<QString, QStringList> rows = manifestRows(out);
        const QStringList open = rows.value(demodoi::doiOf(4));
        QCOMPARE(open.value(State), QStringLiteral("Done"));
        QCOMPARE(open.value(FoundBy), QStringLiteral("Demo index"));
        QCOMPARE(open.value(FileAddress), m_site.landingFileUrl(4).toString());
        QCOMPARE(fntest::readFile(out + u'/' + open.value(Name) + QStringLiteral(".pdf")),
                 m_site.paperBytes(4));
        const QStringList walled = rows.value(demodoi::doiOf(6));
        QCOMPARE(walled.value(State), QStringLiteral("Failed"));
        QCOMPARE(walled.value(Reason), QStringLiteral("no full text offered"));
        QCOMPARE(walled.value(FoundBy), QStringLiteral("none"));
        // The single connection asks one thing at a time: the order the site saw is the order of the ways.
        const QString index = QStringLiteral("/oa/");
        const QString resolved = QStringLiteral("/doi/") + demodoi::doiOf(6);
        const QStringList expected{index + demodoi::doiOf(4),     m_site.landingFileUrl(4).path(),
                                   index + demodoi::doiOf(6),     resolved,
                                   m_site.paperFileUrl(6).path(), resolved,
                                   m_site.paperFileUrl(6).path()};
        QCOMPARE(m_requests, expected);
    }

    // The library knows papers by DOI: a paper downloaded through its DOI and listed again under another
    // address and another spelling of the DOI is held, and --skip-held asks nothing for it.
    void skipHeldKnowsPapersByDoi()
    {
        const QString first = write(QStringLiteral("first.txt"), "doi:" + demodoi::doiOf(1).toUtf8() + "\n");
        RunResult r = run({QStringLiteral("--input"), first, QStringLiteral("--out"),
                           path(QStringLiteral("first")), QStringLiteral("--doi-resolver"), resolver()});
        QCOMPARE(r.exitCode, 0);
        m_requests.clear();
        const QString again = write(QStringLiteral("again.bib"),
                                    bibEntry("again", demodoi::doiOf(1).toUpper(),
                                             "\n  pdf = {" + m_site.landingFileUrl(1).toEncoded() + "},") +
                                        bibEntry("other", demodoi::doiOf(2)));
        const QString out = path(QStringLiteral("again"));
        r = run({QStringLiteral("--input"), again, QStringLiteral("--out"), out,
                 QStringLiteral("--doi-resolver"), resolver(), QStringLiteral("--skip-held")});
        QCOMPARE(r.exitCode, 0);
        const QHash<QString, QStringList> rows = manifestRows(out);
        const QStringList held = rows.value(demodoi::doiOf(1).toUpper());
        QCOMPARE(held.value(Address), m_site.landingFileUrl(1).toString());
        QCOMPARE(held.value(Reason), QStringLiteral("downloaded before"));
        QCOMPARE(rows.value(demodoi::doiOf(2)).value(State), QStringLiteral("Done"));
        for (const QString &asked : std::as_const(m_requests))
            QVERIFY2(!asked.contains(QStringLiteral("demo.1")) && asked != m_site.landingFileUrl(1).path(),
                     qPrintable(asked));
    }

    // A resumed run takes the rows of a list up again way after way: a row that starts at a finder has
    // its answer read again (never saved as the paper), then its DOI's landing page.
    void aResumedListGoesOnWayAfterWay()
    {
        const QUrl home = m_site.homeUrl();
        const QByteArray finders =
            "[{\"name\": \"Demo index\", \"url\": \"http://" + home.host().toUtf8() + ':' +
            QByteArray::number(home.port()) +
            "/oa/{doi}\", \"mode\": \"json\", \"path\": \"best_oa_location.url_for_pdf\"}]";
        const QString findersFile = write(QStringLiteral("finders.json"), finders);
        const QString list = write(QStringLiteral("dois.txt"), demodoi::doiOf(6).toUtf8() + "\n");
        const QString out = path(QStringLiteral("out"));
        const QStringList common{QStringLiteral("--finders"), findersFile, QStringLiteral("--doi-resolver"),
                                 resolver(), QStringLiteral("--no-library")};
        RunResult r =
            run(QStringList{QStringLiteral("--input"), list, QStringLiteral("--out"), out} + common);
        QCOMPARE(r.exitCode, 2);
        m_requests.clear();
        r = run(QStringList{QStringLiteral("--resume"), out} + common);
        QCOMPARE(r.exitCode, 2);
        const QStringList row = manifestRows(out).value(demodoi::doiOf(6));
        QCOMPARE(row.value(State), QStringLiteral("Failed"));
        QCOMPARE(row.value(Reason), QStringLiteral("no full text offered"));
        QCOMPARE(m_requests,
                 (QStringList{QStringLiteral("/oa/") + demodoi::doiOf(6),
                              QStringLiteral("/doi/") + demodoi::doiOf(6), m_site.paperFileUrl(6).path()}));
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{QStringLiteral("manifest.csv")});
    }

    // A finders file that cannot be used stops the run before anything is asked, naming what is wrong.
    void aBrokenFindersFileIsNamed()
    {
        const QString findersFile = write(QStringLiteral("finders.json"),
                                          "{\"finders\": [{\"name\": \"x\", \"url\": \"http://x/\"}]}");
        const QString list = write(QStringLiteral("dois.txt"), demodoi::doiOf(1).toUtf8() + "\n");
        const RunResult r =
            run({QStringLiteral("--input"), list, QStringLiteral("--out"), path(QStringLiteral("out")),
                 QStringLiteral("--finders"), findersFile, QStringLiteral("--no-library")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("the finders cannot be used: ") + findersFile),
                 qPrintable(r.err));
        QVERIFY(m_requests.isEmpty());
    }

    // Today's link lists read as before, and a resolver template that names no {doi} is refused.
    void linkListsAndResolverTemplates()
    {
        const QString list = write(QStringLiteral("links.txt"),
                                   "Named\t" + m_site.paperFileUrl(14).toEncoded() + "\nnot a link\n");
        const QString out = path(QStringLiteral("out"));
        RunResult r = run(
            {QStringLiteral("--input"), list, QStringLiteral("--out"), out, QStringLiteral("--no-library")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains(QStringLiteral("line 2: names no DOI, arXiv id or web address")),
                 qPrintable(r.err));
        QVERIFY(QFileInfo::exists(out + QStringLiteral("/Named.pdf")));
        const QStringList row = manifestRows(out).value(QString());
        QCOMPARE(row.value(Address), m_site.paperFileUrl(14).toString());
        QCOMPARE(row.value(FoundBy), QStringLiteral("web page (landing page)"));

        for (const QString &bad : {QStringLiteral("http://127.0.0.1/doi/"), QStringLiteral("ftp://x/{doi}"),
                                   QStringLiteral("http://127.0.0.1/{arxiv}")}) {
            r = run({QStringLiteral("--input"), list, QStringLiteral("--out"), out,
                     QStringLiteral("--doi-resolver"), bad});
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(QStringLiteral("--doi-resolver")), qPrintable(r.err));
        }
    }
};

QTEST_GUILESS_MAIN(TestBatchReferences)
#include "tst_batchreferences.moc"
