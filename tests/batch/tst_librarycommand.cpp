#include "../core/library/libraryfixture.h"
#include "batch/librarycommand.h"
#include "core/library/paperlibrary.h"
#include "core/pdf/pdfchecker.h"
#include "testpdf.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>

using namespace fntest;

namespace {

struct Ran
{
    int status = -1;
    QString out;
    QString err;
    QStringList lines() const { return out.split(u'\n', Qt::SkipEmptyParts); }
};

} // namespace

class TestLibraryCommand : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<PdfChecker> m_checker;
    std::unique_ptr<PaperLibrary> m_library;
    QString m_whole;
    QString m_second;

    Ran run(const QStringList &arguments)
    {
        Ran ran;
        const LibraryCommandArguments parsed = parseLibraryCommand(arguments);
        if (!parsed.command) {
            ran.err = parsed.error;
            ran.status = 1;
            return ran;
        }
        QTextStream out(&ran.out);
        QTextStream err(&ran.err);
        ran.status = runLibraryCommand(*parsed.command, *m_library, m_checker.get(), out, err);
        return ran;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_checker = std::make_unique<PdfChecker>(QStringLiteral(FOLIONEXUS_PDFCHECK_EXE));
        m_library = std::make_unique<PaperLibrary>(m_dir.path() + "/PaperLibrary.db");
        QVERIFY(m_library->open().ok);
        m_whole = m_dir.path() + "/whole.pdf";
        m_second = m_dir.path() + "/second.pdf";
        fntest::writeFile(m_whole, wholePdf(5000));
        fntest::writeFile(m_second, wholePdf(7000));
        QVERIFY(m_library->recordSeen(
            {seenPaper("http://s/1", "Deep learning\tof\nold books",
                       paperCells("张伟; 王芳", "2019", "计算机学报", "10.1000/abc")),
             seenPaper("http://s/2", "Graph methods", paperCells("Smith", "2001", "J. Graphs")),
             seenPaper("http://s/3", "Never fetched", paperCells("李娜", "2010", "软件学报"))}));
        QVERIFY(m_library->recordDownloads({doneAt("http://s/1", m_whole), doneAt("http://s/2", m_second)}));
    }

    void argumentsAreReadOrRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("ok");
        QTest::newRow("check") << QStringList{"--library", "check"} << true;
        QTest::newRow("list as JSON with a query")
            << QStringList{"--library", "list", "--json", "--query", "x"} << true;
        QTest::newRow("export RIS") << QStringList{"--library", "export", "--ris", "out.ris"} << true;
        QTest::newRow("no action") << QStringList{"--library"} << false;
        QTest::newRow("unknown action") << QStringList{"--library", "purge"} << false;
        QTest::newRow("export without a file") << QStringList{"--library", "export"} << false;
        QTest::newRow("export to two files")
            << QStringList{"--library", "export", "--ris", "a", "--bibtex", "b"} << false;
        QTest::newRow("a query without text") << QStringList{"--library", "list", "--query"} << false;
        QTest::newRow("JSON is for the list") << QStringList{"--library", "check", "--json"} << false;
        QTest::newRow("unknown option") << QStringList{"--library", "list", "--all"} << false;
    }
    void argumentsAreReadOrRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, ok);
        const LibraryCommandArguments parsed = parseLibraryCommand(arguments);
        QCOMPARE(parsed.command.has_value(), ok);
        QCOMPARE(parsed.error.isEmpty(), ok);
    }

    void theListHasOneLinePerPaper()
    {
        const Ran all = run({"--library", "list"});
        QCOMPARE(all.status, 0);
        QCOMPARE(all.lines().size(), 3); // the title's tab and line break do not split it
        const QStringList first = all.lines().at(0).split(u'\t');
        QCOMPARE(first.size(), 8);
        QCOMPARE(first.at(0), QStringLiteral("held"));
        QCOMPARE(first.at(3), QStringLiteral("Deep learning of old books"));
        QCOMPARE(first.at(6), m_whole);
        QCOMPARE(all.lines().at(2).split(u'\t').at(0), QStringLiteral("not downloaded"));

        const Ran found = run({"--library", "list", "--json", "--query", "张伟"});
        QCOMPARE(found.status, 0);
        const QJsonArray papers = QJsonDocument::fromJson(found.out.toUtf8()).array();
        QCOMPARE(papers.size(), 1);
        const QJsonObject paper = papers.at(0).toObject();
        QCOMPARE(paper.value("doi").toString(), QStringLiteral("10.1000/abc"));
        QCOMPARE(paper.value("state").toString(), QStringLiteral("held"));
        QCOMPARE(paper.value("size").toInteger(), QFileInfo(m_whole).size());
        QCOMPARE(paper.value("year").toString(), QStringLiteral("2019"));
    }

    void theExportTakesTheQuery()
    {
        const QString ris = m_dir.path() + "/out.ris";
        const Ran ran = run({"--library", "export", "--ris", ris, "--query", "graph"});
        QCOMPARE(ran.status, 0);
        const QByteArray written = fntest::readFile(ris);
        QVERIFY(written.contains("TI  - Graph methods"));
        QVERIFY(!written.contains("Deep learning"));
        const QString bib = m_dir.path() + "/all.bib";
        QCOMPARE(run({"--library", "export", "--bibtex", bib}).status, 0);
        QCOMPARE(fntest::readFile(bib).count("@"), 3);
        // Never over the library itself, nor into a folder that is not there.
        QCOMPARE(run({"--library", "export", "--ris", m_library->path()}).status, 1);
        QVERIFY(m_library->open().ok);
        QCOMPARE(run({"--library", "export", "--ris", m_dir.path() + "/no/such/folder/x.ris"}).status, 1);
    }

    void theCheckSaysWhatIsWrongAndExitsWithTwo()
    {
        Ran ran = run({"--library", "check"});
        QCOMPARE(ran.status, 0);
        QVERIFY(ran.out.isEmpty());
        QVERIFY(ran.err.contains("2 held files checked"));

        const QByteArray bytes = fntest::readFile(m_second);
        QVERIFY(QFile::remove(m_second));
        ran = run({"--library", "check"});
        QCOMPARE(ran.status, 2);
        QCOMPARE(ran.lines(), QStringList{QStringLiteral("missing\t%1\tGraph methods").arg(m_second)});

        // Back, but cut short since: the same bytes recorded as downloaded, now a damaged PDF.
        const QString cut = m_dir.path() + "/cut.pdf";
        fntest::writeFile(cut, bytes.left(bytes.size() - 300));
        QVERIFY(m_library->recordDownloads({doneAt("http://s/2", cut)}));
        ran = run({"--library", "check"});
        QCOMPARE(ran.status, 2);
        QCOMPARE(ran.lines().size(), 1);
        QVERIFY2(ran.lines().at(0).startsWith(QStringLiteral("damaged\t%1\tGraph methods\t").arg(cut)),
                 qPrintable(ran.out));
        fntest::writeFile(m_second, bytes);
        QVERIFY(m_library->recordDownloads({doneAt("http://s/2", m_second)}));
        QCOMPARE(run({"--library", "check"}).status, 0);
    }
};

FN_TEST_MAIN_CORE(TestLibraryCommand)
#include "tst_librarycommand.moc"
