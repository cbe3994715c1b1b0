#include "core/library/libraryview.h"
#include "core/librarymodel/librarycheckrun.h"
#include "core/librarymodel/libraryupkeep.h"
#include "core/pdf/pdfchecker.h"
#include "libraryfixture.h"
#include "testpdf.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace fntest;

namespace {

std::optional<LibraryRow> rowOf(PaperLibrary &library, const QString &address)
{
    const std::optional<QList<LibraryRow>> rows = libraryview::rows(library, {}, 0, 100000);
    if (!rows)
        return std::nullopt;
    for (const LibraryRow &row : *rows) {
        if (row.address == address)
            return row;
    }
    return std::nullopt;
}

PaperState stateOf(PaperLibrary &library, const QString &address)
{
    const std::optional<LibraryRow> row = rowOf(library, address);
    return row ? row->state : PaperState::NotDownloaded;
}

QList<FileProblem::Kind> kindsAt(const LibraryCheckReport &report, const QString &path)
{
    QList<FileProblem::Kind> kinds;
    for (const FileProblem &p : report.problems) {
        if (p.filePath == path)
            kinds.append(p.kind);
    }
    return kinds;
}

} // namespace

class TestLibraryUpkeep : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_libraries = 0;
    std::unique_ptr<PdfChecker> m_checker;

    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.path() + u'/' + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        fntest::writeFile(path, bytes);
        return path;
    }
    // A fresh library holding each file under an address of its own name.
    std::unique_ptr<PaperLibrary> holding(const QStringList &paths)
    {
        auto library =
            std::make_unique<PaperLibrary>(m_dir.path() + QStringLiteral("/lib%1.db").arg(++m_libraries));
        if (!library->open().ok)
            return nullptr;
        QList<SeenPaper> seen;
        QList<DownloadResult> done;
        for (const QString &path : paths) {
            const QString address = QStringLiteral("http://s/") + QFileInfo(path).fileName();
            seen.append(seenPaper(address, QFileInfo(path).baseName()));
            done.append(doneAt(address, path));
        }
        if (!library->recordSeen(seen) || !library->recordDownloads(done))
            return nullptr;
        return library;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_checker = std::make_unique<PdfChecker>(QStringLiteral(FOLIONEXUS_PDFCHECK_EXE));
    }

    void theCheckFindsMovedChangedAndDamagedFiles()
    {
        const QByteArray whole = wholePdf(6000);
        const QString good = file("check/good.pdf", whole);
        const QString moved = file("check/moved.pdf", whole + " ");
        const QString changed = file("check/changed.pdf", wholePdf(5000));
        const QString cut = file("check/cut.pdf", whole.left(whole.size() / 2));
        const QString linked = file("check/linked.pdf", wholePdf(4000));
        const QString other = file("check/notes.caj", "not a PDF at all");
        const auto library = holding({good, moved, changed, cut, linked, other});
        QVERIFY(library);
        QVERIFY(QFile::rename(moved, moved + ".elsewhere"));
        QByteArray altered = fntest::readFile(changed);
        altered[altered.size() / 2] = altered[altered.size() / 2] == 'x' ? 'y' : 'x';
        fntest::writeFile(changed, altered);
        QVERIFY(QFile::remove(linked) && QFile::link(good, linked)); // a link is not the file written

        QList<int> told;
        const LibraryCheckReport report =
            checkLibraryFiles(*library, m_checker.get(), nullptr, [&](int done, int total) {
                QCOMPARE(total, 6);
                told.append(done);
            });
        QVERIFY2(report.written, qPrintable(report.error));
        QCOMPARE(told, (QList<int>{1, 2, 3, 4, 5, 6}));
        QCOMPARE(report.checked, 6);
        QVERIFY(!report.allWhole());
        QCOMPARE(report.problems.size(), 4);
        QCOMPARE(kindsAt(report, moved), QList{FileProblem::Kind::Missing});
        QCOMPARE(kindsAt(report, changed), QList{FileProblem::Kind::Changed});
        QCOMPARE(kindsAt(report, cut), QList{FileProblem::Kind::Damaged});
        QCOMPARE(kindsAt(report, linked), QList{FileProblem::Kind::Missing});
        QVERIFY(!report.problems.at(0).title.isEmpty());

        QCOMPARE(stateOf(*library, "http://s/good.pdf"), PaperState::Held);
        QCOMPARE(rowOf(*library, "http://s/good.pdf")->pages, 1);
        QCOMPARE(stateOf(*library, "http://s/notes.caj"), PaperState::Held);
        QCOMPARE(stateOf(*library, "http://s/moved.pdf"), PaperState::Missing);
        QCOMPARE(stateOf(*library, "http://s/linked.pdf"), PaperState::Missing);
        QCOMPARE(stateOf(*library, "http://s/changed.pdf"), PaperState::Damaged);
        QCOMPARE(stateOf(*library, "http://s/cut.pdf"), PaperState::Damaged);
        QVERIFY(!library->heldFile("http://s/cut.pdf")); // damaged: held no more

        // The file back where it was: held again at the next check.
        QVERIFY(QFile::rename(moved + ".elsewhere", moved));
        const LibraryCheckReport again = checkLibraryFiles(*library, m_checker.get(), nullptr);
        QCOMPARE(again.problems.size(), 3);
        QCOMPARE(stateOf(*library, "http://s/moved.pdf"), PaperState::Held);
    }

    void aStoppedCheckKeepsWhatItFound()
    {
        QStringList paths;
        for (int i = 0; i < 30; ++i)
            paths.append(file(QStringLiteral("stop/f%1.pdf").arg(i, 2, 10, QChar(u'0')),
                              "%PDF-1.4 " + QByteArray(i, 'a')));
        const auto library = holding(paths);
        QVERIFY(library);
        for (const QString &path : paths)
            QFile::remove(path);
        std::atomic_bool stop{false};
        const LibraryCheckReport report = checkLibraryFiles(*library, nullptr, &stop, [&](int done, int) {
            if (done == 10)
                stop = true;
        });
        QVERIFY(report.stopped);
        QCOMPARE(report.files, 30);
        QCOMPARE(report.checked, 10);
        QCOMPARE(report.problems.size(), 10);
        const std::optional<QList<LibraryRow>> rows = libraryview::rows(*library, {}, 0, 100);
        QVERIFY(rows);
        QCOMPARE(std::count_if(rows->cbegin(), rows->cend(),
                               [](const LibraryRow &r) { return r.state == PaperState::Missing; }),
                 10);
    }

    void theCheckRunsOnAThreadOfItsOwn()
    {
        const auto library = holding({file("run/a.pdf", wholePdf()), file("run/b.pdf", wholePdf(5000))});
        QVERIFY(library);
        LibraryCheckRun run(library->path(), m_checker.get());
        QSignalSpy progress(&run, &LibraryCheckRun::progress);
        QSignalSpy finished(&run, &LibraryCheckRun::finished);
        QVERIFY(run.start());
        QVERIFY(!run.start()); // one at a time
        QVERIFY(finished.wait(20000));
        QCOMPARE(progress.count(), 2);
        const auto report = finished.at(0).at(0).value<LibraryCheckReport>();
        QCOMPARE(report.checked, 2);
        QVERIFY(report.allWhole());
        QVERIFY(!run.isRunning());
        QVERIFY(run.start()); // again, after the end
        QVERIFY(finished.wait(20000));
    }

    void removalDeletesOnlyTheFileTheProgramWrote()
    {
        const QString kept = file("rm/kept.pdf", "%PDF-1.4 kept");
        const QString gone = file("rm/gone.pdf", "%PDF-1.4 gone");
        const QString target = file("rm/target.pdf", "%PDF-1.4 linked");
        const QString viaLink = file("rm/linked.pdf", "%PDF-1.4 linked");
        const QString changed = file("rm/changed.pdf", "%PDF-1.4 before");
        const QString realFolder = m_dir.path() + "/rm-real";
        const QString inFolder = file("rm-real/inside.pdf", "%PDF-1.4 inside");
        QVERIFY(QFile::link(realFolder, m_dir.path() + "/rm-link"));
        const QString throughFolder = m_dir.path() + "/rm-link/inside.pdf";
        const auto library = holding({kept, gone, viaLink, changed, throughFolder});
        QVERIFY(library);
        QVERIFY(QFile::remove(viaLink) && QFile::link(target, viaLink));
        fntest::writeFile(changed, "%PDF-1.4 after!");

        std::optional<RemovalReport> report = removePapers(*library, {"http://s/kept.pdf"}, false);
        QVERIFY(report);
        QCOMPARE(report->removed, 1);
        QVERIFY(QFile::exists(kept));
        QVERIFY(!libraryview::details(*library, "http://s/kept.pdf"));
        QCOMPARE(libraryview::count(*library, LibraryQuery{"kept"}), 0); // gone from the search index too

        report = removePapers(
            *library,
            {"http://s/gone.pdf", "http://s/linked.pdf", "http://s/changed.pdf", "http://s/inside.pdf"},
            true);
        QVERIFY(report);
        QCOMPARE(report->removed, 4);
        QCOMPARE(report->deleted, QStringList{gone});
        QVERIFY(!QFile::exists(gone));
        const QList<std::pair<QString, KeptFile>> expected = {
            {viaLink, KeptFile::Link}, {changed, KeptFile::NotOurs}, {throughFolder, KeptFile::Link}};
        for (const auto &item : expected)
            QVERIFY2(report->kept.contains(item), qPrintable(item.first));
        QVERIFY(QFile::exists(target) && QFile::exists(changed) && QFile::exists(inFolder));
        QCOMPARE(libraryview::count(*library, {}), 0);
    }

    void papersHeldTwiceAreGroupedAndShareOneFile()
    {
        const QString first = file("dup/first.pdf", "%PDF-1.4 one paper");
        const QString second = file("dup/second.pdf", "%PDF-1.4 the same paper, another copy");
        const QString copyA = file("dup/copy-a.pdf", "%PDF-1.4 same bytes");
        const QString copyB = file("dup/copy-b.pdf", "%PDF-1.4 same bytes");
        auto library = std::make_unique<PaperLibrary>(m_dir.path() + "/dup.db");
        QVERIFY(library->open().ok);
        QVERIFY(library->recordSeen(
            {seenPaper("http://a/1", "One", paperCells("X", "2020", "J", "10.1000/same")),
             seenPaper("http://b/1", "One again", paperCells("X", "2020", "J", "10.1000/same")),
             seenPaper("http://c/1", "Copy"), seenPaper("http://d/1", "Copy"),
             seenPaper("http://e/1", "Unheld", paperCells("X", "2020", "J", "10.1000/same"))}));
        QVERIFY(library->recordDownloads({doneAt("http://a/1", first), doneAt("http://b/1", second),
                                          doneAt("http://c/1", copyA), doneAt("http://d/1", copyB)}));
        std::optional<QList<DuplicateGroup>> groups = libraryview::duplicates(*library);
        QVERIFY(groups);
        QCOMPARE(groups->size(), 2);
        QCOMPARE(groups->at(0).kind, DuplicateGroup::Kind::SameDoi);
        QCOMPARE(groups->at(0).key, QStringLiteral("10.1000/same"));
        QCOMPARE(groups->at(0).papers.size(), 2); // the paper without a file is not held twice
        QCOMPARE(groups->at(1).kind, DuplicateGroup::Kind::SameContent);
        QCOMPARE(groups->at(1).key, FileSha256(copyA));

        const std::optional<QStringList> freed = keepOneFile(*library, "http://a/1", {"http://b/1"});
        QVERIFY(freed);
        QCOMPARE(*freed, QStringList{second});
        QCOMPARE(rowOf(*library, "http://b/1")->filePath, first);
        QCOMPARE(library->heldFile("http://b/1")->sha256, FileSha256(first));
        QVERIFY(!deleteWrittenFile(second, FileSha256(second)));
        QVERIFY(!QFile::exists(second));
        groups = libraryview::duplicates(*library);
        QCOMPARE(groups->size(), 1);
        QCOMPARE(keepOneFile(*library, "http://e/1", {"http://c/1"}), std::nullopt); // it holds no file
        QCOMPARE(rowOf(*library, "http://c/1")->filePath, copyA);
    }

    void aSelectionIsExported()
    {
        const auto library =
            holding({file("exp/alpha.pdf", "%PDF-1.4 a"), file("exp/beta.pdf", "%PDF-1.4 b")});
        QVERIFY(library);
        const std::optional<QByteArray> ris =
            exportPapers(*library, {"http://s/beta.pdf"}, ExportFormat::Ris);
        QVERIFY(ris);
        QVERIFY(ris->contains("TI  - beta"));
        QVERIFY(!ris->contains("alpha"));
        const std::optional<QByteArray> csv =
            exportPapers(*library, {"http://s/beta.pdf", "http://s/alpha.pdf"}, ExportFormat::Csv);
        QVERIFY(csv && csv->indexOf("beta") < csv->indexOf("alpha")); // in the order given
    }
};

FN_TEST_MAIN_CORE(TestLibraryUpkeep)
#include "tst_libraryupkeep.moc"
