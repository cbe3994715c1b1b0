// The start of a batch run from a list of links or an earlier run's manifest: the files are read on a
// worker, the event loop's thread makes no disk look for them, and the run goes on (or ends with the
// same status) once they are in. The manifest a run leaves names a done row's file only as a plain file.
#include "batch/batchmanifest.h"
#include "batch/batchrun.h"
#include "core/common/disklooks.h"
#include "core/library/paperlibrary.h"
#include "core/rows/downloadlistmodel.h"
#include "core/sites/siterules.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

class TestBatchStart : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_work;
    QString path(const QString &name) const { return m_work->filePath(name); }

    struct Outcome
    {
        int exitStatus = -1;
        int looks = -1;             // disk looks on this thread from start() until the run ended
        bool listedAtReturn = true; // whether candidates or rows were there when start() returned
        int candidates = 0;
        QList<DownloadRow> rows;
    };

    // Starts a run on this thread and waits for its end, counting this thread's disk looks.
    static Outcome startRun(const BatchOptions &options, PaperLibrary *library = nullptr)
    {
        Outcome outcome;
        const SiteRulesCatalog rules;
        BatchRun run(options, rules, nullptr);
        run.setLibrary(library);
        const int before = diskLooksOnMainThread();
        QSignalSpy finished(&run, &BatchRun::finished);
        run.start();
        outcome.listedAtReturn = run.candidates().count() > 0 || run.downloads().count() > 0;
        if (!finished.wait(30000) && finished.isEmpty())
            return outcome;
        outcome.exitStatus = finished.first().first().toInt();
        outcome.looks = diskLooksOnMainThread() - before;
        outcome.candidates = run.candidates().count();
        for (int i = 0; i < run.downloads().count(); ++i)
            outcome.rows.append(run.downloads().row(i));
        return outcome;
    }

    BatchOptions listOptions(const QString &input) const
    {
        BatchOptions options;
        options.inputFile = input;
        options.listOnly = true;
        options.useLibrary = false;
        return options;
    }

private Q_SLOTS:
    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
    }

    void aListOfLinksIsReadOffTheEventLoop_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<int>("candidates");
        QTest::newRow("two links: are both listed once the read is in?")
            << QByteArray("http://127.0.0.1:9/a.pdf\nhttp://127.0.0.1:9/b.pdf\n") << true << 0 << 2;
        QTest::newRow("an empty list: does the run end with nothing listed?")
            << QByteArray() << true << 0 << 0;
        QTest::newRow("a missing list: does the run fail?") << QByteArray() << false << 1 << 0;
    }
    void aListOfLinksIsReadOffTheEventLoop()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, present);
        QFETCH(int, exitStatus);
        QFETCH(int, candidates);
        const QString input = path("links.txt");
        if (present)
            fntest::writeFile(input, content);
        const Outcome outcome = startRun(listOptions(input));
        QCOMPARE(outcome.exitStatus, exitStatus);
        QCOMPARE(outcome.looks, 0);
        QVERIFY(!outcome.listedAtReturn); // listed only when the answer came back
        QCOMPARE(outcome.candidates, candidates);
    }

    // A resumed run reads the manifest and looks at the files of its done rows on the worker: the run
    // makes no look here, a done row whose file is still there as recorded keeps it,
    // one whose file went is done without a file of its own, and the rows passed over are not listed.
    void aResumedManifestIsReadOffTheEventLoop()
    {
        const QString earlier = path("earlier/");
        const QString out = path("out/");
        QVERIFY(QDir().mkpath(earlier));
        QVERIFY(QDir().mkpath(out));
        fntest::writeFile(out + "kept.pdf", QByteArray(5, 'x'));
        const auto line = [](const QStringList &fields) { return batchmanifest::csvLine(fields); };
        // A manifest of before the PDF check, the identifier and the way that found the file: still read.
        QString manifest = line(batchmanifest::header().mid(0, 10));
        manifest +=
            line({"http://127.0.0.1:9/kept", "kept", "pdf", "Done", "5", out + "kept.pdf", "", "", "", ""});
        manifest +=
            line({"http://127.0.0.1:9/gone", "gone", "pdf", "Done", "7", out + "gone.pdf", "", "", "", ""});
        manifest += line({"not an address", "x", "pdf", "Failed", "", "", "", "", "", ""});
        manifest += line({"http://127.0.0.1:9/kept", "again", "pdf", "Done", "5", "", "", "", "", ""});
        fntest::writeFile(earlier + batchmanifest::FileName, manifest.toUtf8());

        BatchOptions options;
        options.resumeFolder = earlier;
        options.outFolder = out;
        options.useLibrary = false;
        const Outcome outcome = startRun(options);
        QCOMPARE(outcome.looks, 0);
        QVERIFY(!outcome.listedAtReturn);
        QCOMPARE(outcome.exitStatus, 0);
        QCOMPARE(outcome.rows.size(), 2);
        QCOMPARE(outcome.rows.at(0).key, QStringLiteral("http://127.0.0.1:9/kept"));
        QCOMPARE(outcome.rows.at(0).owned.path, out + "kept.pdf");
        QCOMPARE(outcome.rows.at(1).key, QStringLiteral("http://127.0.0.1:9/gone"));
        QVERIFY(outcome.rows.at(1).owned.path.isEmpty());
        QCOMPARE(outcome.rows.at(1).state, RowState::Done);

        // A damaged manifest ends the run, as before, once its read is in.
        fntest::writeFile(earlier + batchmanifest::FileName, "address,name\r\n\"unclosed\r\n");
        const Outcome damaged = startRun(options);
        QCOMPARE(damaged.looks, 0);
        QCOMPARE(damaged.exitStatus, 1);
        QVERIFY(damaged.rows.isEmpty());
    }

    // The exports at a run's end take what the library knows of the papers, read with the rows' files
    // beside the event loop: the run's own thread reads neither.
    void theExportsReadTheLibraryOffTheEventLoop()
    {
        const QString earlier = path("earlier/");
        const QString out = path("out/");
        QVERIFY(QDir().mkpath(earlier));
        QVERIFY(QDir().mkpath(out));
        fntest::writeFile(out + "kept.pdf", QByteArray("%PDF-1.4 kept"));
        QString manifest = batchmanifest::csvLine(batchmanifest::header().mid(0, 10));
        manifest += batchmanifest::csvLine(
            {"http://127.0.0.1:9/kept", "kept", "pdf", "Done", "13", out + "kept.pdf", "", "", "", ""});
        fntest::writeFile(earlier + batchmanifest::FileName, manifest.toUtf8());
        PaperLibrary library(path("library.db"));
        QVERIFY(library.open().ok);
        QVERIFY(library.recordSeen({SeenPaper{QStringLiteral("http://127.0.0.1:9/kept"),
                                              PaperMetadata{QStringLiteral("第一篇"), {}}, QString()}}));

        BatchOptions options;
        options.resumeFolder = earlier;
        options.outFolder = out;
        options.risFile = path("papers.ris");
        const int reads = libraryReadsOnMainThread();
        const Outcome outcome = startRun(options, &library);
        QCOMPARE(outcome.exitStatus, 0);
        QCOMPARE(outcome.looks, 0);
        QCOMPARE(libraryReadsOnMainThread(), reads);
        const QString ris = QString::fromUtf8(fntest::readFile(options.risFile));
        QVERIFY2(ris.contains(QStringLiteral("TI  - 第一篇")), qPrintable(ris));
        QVERIFY(ris.contains(out + "kept.pdf"));
    }

    // The manifest measures and hashes a done row's file only as a plain file: a link standing under the
    // paper's name, or nothing there, leaves the size, path and hash empty.
    void theManifestNamesOnlyAPlainFile()
    {
        const QByteArray bytes("%PDF-1.4 a paper");
        fntest::writeFile(path(QStringLiteral("real.pdf")), bytes);
        QVERIFY(QFile::link(path(QStringLiteral("real.pdf")), path(QStringLiteral("linked.pdf"))));
        DownloadRow row;
        row.key = QStringLiteral("http://127.0.0.1:9/a.pdf");
        row.state = RowState::Done;
        row.folder = m_work->path() + u'/';
        row.type = QStringLiteral("pdf");
        const auto fileFields = [&row](const QString &name) {
            row.name = name;
            const QStringList fields = batchmanifest::fields(row);
            return QStringList{fields.at(4), fields.at(5), fields.at(7)};
        };
        QCOMPARE(fileFields(QStringLiteral("real")),
                 (QStringList{QString::number(bytes.size()), path(QStringLiteral("real.pdf")),
                              QString::fromLatin1(
                                  QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())}));
        QCOMPARE(fileFields(QStringLiteral("linked")), (QStringList{QString(), QString(), QString()}));
        QCOMPARE(fileFields(QStringLiteral("gone")), (QStringList{QString(), QString(), QString()}));
    }
};

FN_TEST_MAIN_CORE(TestBatchStart)
#include "tst_batchstart.moc"
