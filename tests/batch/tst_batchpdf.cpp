// The PDF check through the real program: a batch run whose server sends damaged copies (each with a
// matching Content-Length) fails those rows, records the verdicts in its manifest, and runs them again
// on --resume; --check-pdf over a folder and over the library's files tells damaged and repaired files
// and exits by whether any is damaged.
#include "core/common/csv.h"
#include "core/common/messenger.h"
#include "core/library/paperlibrary.h"
#include "core/pdf/pdfverdict.h"
#include "faultserver.h"
#include "testenv.h"
#include "testpdf.h"

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

// The manifest's lines, split into fields.
QList<QStringList> manifestRows(const QString &path)
{
    QList<QStringList> rows;
    csv::ParseError broken;
    for (const csv::Record &record : csv::parse(QString::fromUtf8(fntest::readFile(path)), &broken))
        rows.append(record.cells);
    if (broken)
        rows.clear();
    return rows;
}

} // namespace

class TestBatchPdf : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    std::unique_ptr<QTemporaryDir> m_work;

    RunResult run(const QStringList &arguments, const QString &program = QStringLiteral(FOLIONEXUS_EXE))
    {
        QProcess process;
        process.start(program, arguments);
        RunResult result;
        if (!process.waitForStarted(10000))
            return result;
        // The server answers from this thread: the process is waited for with the event loop running.
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 90000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QString path(const QString &name) const { return m_work->path() + u'/' + name; }

    // A list of links to the server's papers named by the cases.
    QString linkList(const QList<fntest::PdfCase> &cases)
    {
        QByteArray list;
        for (int i = 0; i < cases.size(); ++i)
            list += m_server.url(QStringLiteral("/p%1.pdf").arg(i)).toString().toUtf8() + '\n';
        const QString file = path(QStringLiteral("links.txt"));
        fntest::writeFile(file, list);
        return file;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        // The program's own library, as the program finds it.
        QCoreApplication::setOrganizationName(QStringLiteral("Folionexus"));
        QCoreApplication::setApplicationName(kAppTitle);
    }
    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        m_server.clearRequests();
    }

    void aBatchRunKeepsNoDamagedPaper_data()
    {
        QTest::addColumn<QString>("method");
        QTest::newRow("method 1") << QStringLiteral("1");
        QTest::newRow("method 2") << QStringLiteral("2");
    }
    void aBatchRunKeepsNoDamagedPaper()
    {
        QFETCH(QString, method);
        const QList<fntest::PdfCase> cases = fntest::pdfCases();
        for (int i = 0; i < cases.size(); ++i) {
            FaultServer::Reply reply;
            reply.body = cases.at(i).bytes;
            m_server.setReply(QStringLiteral("/p%1.pdf").arg(i), reply);
        }
        const QString out = path(QStringLiteral("out"));
        const RunResult first =
            run({"--batch", "--input", linkList(cases), "--out", out, "--method", method, "--no-library"});
        QCOMPARE(first.exitCode, 2); // some rows failed
        const QList<QStringList> rows = manifestRows(out + QStringLiteral("/manifest.csv"));
        QCOMPARE(rows.size(), cases.size() + 1);
        QCOMPARE(rows.first().mid(10, 2), (QStringList{QStringLiteral("pages"), QStringLiteral("pdf")}));
        for (int i = 0; i < cases.size(); ++i) {
            const QStringList &row = rows.at(i + 1);
            const fntest::PdfCase &pdf = cases.at(i);
            const bool damaged = pdf.state == pdfverdict::State::Damaged;
            QVERIFY2(row.at(0).endsWith(QStringLiteral("/p%1.pdf").arg(i)), pdf.name);
            QCOMPARE(row.at(3), damaged ? QStringLiteral("Failed") : QStringLiteral("Done"));
            QCOMPARE(row.at(11), pdfStateWord(pdf.state));
            QCOMPARE(QFile::exists(out + QStringLiteral("/p%1.pdf").arg(i)), !damaged);
            if (damaged) {
                QVERIFY2(row.at(8).startsWith(QStringLiteral("PDF damaged: ")), qPrintable(row.at(8)));
                // Fetched once more, whole, and damaged again.
                QCOMPARE(m_server.requestCount(QStringLiteral("/p%1.pdf").arg(i)), 2);
            } else {
                QCOMPARE(row.at(10),
                         pdf.state == pdfverdict::State::Whole ? QStringLiteral("3") : row.at(10));
            }
        }
        QVERIFY(first.err.contains(QStringLiteral("fetched again whole")));

        // The server mends its files: a resumed run fetches the damaged rows again, and only those.
        const QByteArray mended = fntest::TestPdf{}.bytes();
        for (int i = 0; i < cases.size(); ++i) {
            FaultServer::Reply reply;
            reply.body = mended;
            m_server.setReply(QStringLiteral("/p%1.pdf").arg(i), reply);
        }
        m_server.clearRequests();
        const RunResult again =
            run({"--batch", "--resume", out, "--out", out, "--method", method, "--no-library"});
        QCOMPARE(again.exitCode, 0);
        for (int i = 0; i < cases.size(); ++i) {
            const bool damaged = cases.at(i).state == pdfverdict::State::Damaged;
            QCOMPARE(m_server.requestCount(QStringLiteral("/p%1.pdf").arg(i)), damaged ? 1 : 0);
        }
        for (const QStringList &row : manifestRows(out + QStringLiteral("/manifest.csv")).mid(1))
            QCOMPARE(row.at(3), QStringLiteral("Done"));
    }

    void checkPdfOverAFolder()
    {
        const QString folder = path(QStringLiteral("papers"));
        QDir().mkpath(folder + QStringLiteral("/sub"));
        QStringList damaged;
        QString repaired;
        const QList<fntest::PdfCase> cases = fntest::pdfCases();
        for (int i = 0; i < cases.size(); ++i) {
            const QString file =
                folder + (i % 2 ? QStringLiteral("/sub/f%1.pdf") : QStringLiteral("/f%1.pdf")).arg(i);
            fntest::writeFile(file, cases.at(i).bytes);
            if (cases.at(i).state == pdfverdict::State::Damaged)
                damaged.append(file);
            if (cases.at(i).state == pdfverdict::State::Repaired)
                repaired = file;
        }
        fntest::writeFile(folder + QStringLiteral("/page.pdf"), "<html><body>log in</body></html>");
        damaged.append(folder + QStringLiteral("/page.pdf"));
        fntest::writeFile(folder + QStringLiteral("/notes.txt"), "not a paper, not looked at");
        // A download's temporary file, kept to be resumed, is no finished file: not judged.
        fntest::writeFile(folder + QStringLiteral("/.fnpart-kept"), fntest::TestPdf{}.bytes().chopped(30));
        QVERIFY(QFile::link(folder + QStringLiteral("/f0.pdf"), folder + QStringLiteral("/link.pdf")));

        const RunResult result = run({"--check-pdf", folder});
        QCOMPARE(result.exitCode, 2);
        const QStringList lines = result.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), damaged.size() + 1);
        for (const QString &file : std::as_const(damaged))
            QVERIFY2(result.out.contains(QStringLiteral("damaged   ") + file + QStringLiteral("  (")),
                     qPrintable(result.out));
        QVERIFY(result.out.contains(QStringLiteral("repaired  ") + repaired + u'\n'));
        QVERIFY2(result.err.contains(
                     QStringLiteral("9 PDF files checked: 1 whole, 1 repaired, 1 encrypted, 6 damaged")),
                 qPrintable(result.err));

        // Whole, repaired and encrypted files are papers: nothing damaged, exit 0.
        for (const QString &file : std::as_const(damaged))
            QFile::remove(file);
        const RunResult good = run({"--check-pdf", folder});
        QCOMPARE(good.exitCode, 0);
        QCOMPARE(good.out, QStringLiteral("repaired  ") + repaired + u'\n');
        QCOMPARE(run({"--check-pdf", folder + QStringLiteral("/missing")}).exitCode, 1);
    }

    // Copied without its checker, the program can judge no file: each is named on stderr with the cause,
    // none is called damaged or printed as a verdict, and the run does not fail for it.
    void aFileTheCheckCannotJudgeIsNamedWithItsCause()
    {
        const QString bin = path(QStringLiteral("bin"));
        QVERIFY(QDir().mkpath(bin));
        const QString built = QFileInfo(QStringLiteral(FOLIONEXUS_EXE)).absolutePath();
        for (const QString name : {QStringLiteral("folionexus"), QStringLiteral("folionexus-batch")})
            QVERIFY(QFile::copy(built + u'/' + name, bin + u'/' + name));
        const QString folder = path(QStringLiteral("papers"));
        QDir().mkpath(folder);
        fntest::writeFile(folder + QStringLiteral("/f.pdf"), fntest::TestPdf{}.bytes());

        const RunResult result = run({"--check-pdf", folder}, bin + QStringLiteral("/folionexus"));
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, QString());
        QVERIFY2(result.err.contains(QStringLiteral("not checked: ") + folder + QStringLiteral("/f.pdf  (")),
                 qPrintable(result.err));
        QVERIFY2(result.err.contains(QStringLiteral("0 damaged, 1 not checked")), qPrintable(result.err));
    }

    // Without a folder the library's files are checked, and what is found is kept: a damaged file is
    // held no more. A held paper that is no PDF (a CAJ file) is not judged and stays held.
    void checkPdfOverTheLibrary()
    {
        const QString whole = path(QStringLiteral("whole.pdf"));
        const QString cut = path(QStringLiteral("cut.pdf"));
        const QString caj = path(QStringLiteral("other.caj"));
        fntest::writeFile(whole, fntest::TestPdf{}.bytes());
        fntest::writeFile(cut, fntest::TestPdf{}.bytes().chopped(30));
        fntest::writeFile(caj, QByteArray("\xC8\x00\x00\x00", 4) + QByteArray(3000, 'c'));
        {
            PaperLibrary library;
            QVERIFY(library.open().ok);
            for (const QString &file : {whole, cut, caj}) {
                DownloadResult done;
                done.address = QStringLiteral("http://s/") + QFileInfo(file).fileName();
                done.filePath = file;
                done.size = QFileInfo(file).size();
                QVERIFY(library.recordDownloads({done}));
            }
        }
        const RunResult result = run({"--check-pdf"});
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(result.out, QStringLiteral("damaged   %1  (cut short: no end-of-file marker)\n").arg(cut));
        QVERIFY2(result.err.contains(
                     QStringLiteral("2 PDF files checked: 1 whole, 0 repaired, 0 encrypted, 1 damaged")),
                 qPrintable(result.err));
        PaperLibrary library;
        QVERIFY(library.open().ok);
        QVERIFY(library.heldFile(QStringLiteral("http://s/whole.pdf")));
        QVERIFY(!library.heldFile(QStringLiteral("http://s/cut.pdf")));
        QVERIFY(library.heldFile(QStringLiteral("http://s/other.caj")));
    }
};

FN_TEST_MAIN_CORE(TestBatchPdf)
#include "tst_batchpdf.moc"
