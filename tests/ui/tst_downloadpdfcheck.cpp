// "检查PDF文件" in the download window with the session's checker and the paper library: the list's PDFs
// and the other PDFs of its rows' folders are checked off the GUI thread, the end message counts them
// all and names the damaged ones no row names, the verdicts reach the library (a damaged file is held no
// more) and the rows found damaged are fetched again by one menu entry.
#include "core/library/paperlibrary.h"
#include "core/pdf/pdfchecker.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/downloadsession.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/targetfile.h"
#include "core/transfer/diskworkers.h"
#include "testenv.h"
#include "testpdf.h"
#include "testrun.h"
#include "ui/downloadwindow.h"
#include "ui/downloadwindowpdfcheck.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {

// The test's own look at what the library keeps of a file's check.
struct KeptCheck
{
    QString pdf;
    int pages = -1;
    bool timed = false;
};

KeptCheck keptCheck(const QString &libraryPath, const QString &address)
{
    KeptCheck kept;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("look"));
        db.setDatabaseName(libraryPath);
        db.open();
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT pdf, pages, checked_at FROM papers WHERE address = ?"));
        q.addBindValue(address);
        if (q.exec() && q.next())
            kept = {q.value(0).toString(), q.value(1).toInt(), !q.value(2).isNull()};
    }
    QSqlDatabase::removeDatabase(QStringLiteral("look"));
    return kept;
}

QByteArray cutPdf()
{
    fntest::TestPdf pdf;
    pdf.endMarker = false;
    return pdf.bytes().chopped(40);
}

} // namespace

class TestDownloadPdfCheck : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PaperLibrary> m_library;
    std::unique_ptr<PdfChecker> m_checker;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    RowId addDone(fFileDownload &window, const QString &name, const QByteArray &bytes)
    {
        DownloadRow row;
        row.key = QStringLiteral("http://127.0.0.1:1/%1.pdf").arg(name);
        row.name = name;
        row.type = QStringLiteral("pdf");
        row.folder = m_dir->path() + u'/';
        row.state = RowState::Done;
        fntest::writeFile(rowFilePath(row), bytes);
        row.owned = OwnedFile{rowFilePath(row), IdentityOf(rowFilePath(row))};
        return window.queue()->enqueue(row);
    }

    // A download the library holds as whole, as an earlier run recorded it.
    void holdInLibrary(const QString &address, const QString &file)
    {
        DownloadResult held;
        held.address = address;
        held.filePath = file;
        held.size = QFileInfo(file).size();
        held.pdf = QStringLiteral("whole");
        held.pdfPages = 1;
        QVERIFY(m_library->recordDownloads({held}));
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_library = std::make_unique<PaperLibrary>(path(QStringLiteral("PaperLibrary.db")));
        QVERIFY(m_library->open().ok);
        fntest::runObjects().library = m_library.get();
        m_checker = std::make_unique<PdfChecker>(QStringLiteral(FOLIONEXUS_PDFCHECK_EXE));
    }

    void cleanup()
    {
        // A check still on its worker finishes its file before the checker goes.
        diskwork::checkPool(m_checker->limits().processes).waitForDone();
        fntest::runObjects().library = nullptr;
        m_checker.reset();
        m_library.reset();
        m_dir.reset();
    }

    void theFolderIsCheckedAndTheLibraryKeepsTheVerdicts()
    {
        QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
        window->session()->setPdfChecker(m_checker.get());
        QTRY_VERIFY(window->queue()->library());
        const RowId whole = addDone(*window, QStringLiteral("whole"), fntest::wholePdf());
        const RowId cut = addDone(*window, QStringLiteral("cut"), cutPdf());
        const RowId caj = addDone(*window, QStringLiteral("caj"), QByteArray("\xC8\x00\x00\x00 a CAJ", 10));
        // Files no row names: a whole one, a damaged one, a download's temporary file and a link to a
        // damaged file; only the first two are the folder's PDFs.
        fntest::writeFile(path(QStringLiteral("other.pdf")), fntest::TestPdf{}.bytes());
        fntest::writeFile(path(QStringLiteral("other-cut.pdf")), cutPdf());
        fntest::writeFile(path(QStringLiteral(".fnpart-123")), cutPdf());
        QVERIFY(QFile::link(path(QStringLiteral("cut.pdf")), path(QStringLiteral("link.pdf"))));
        holdInLibrary(QStringLiteral("http://127.0.0.1:1/cut.pdf"), path(QStringLiteral("cut.pdf")));
        holdInLibrary(QStringLiteral("http://127.0.0.1:1/other-cut.pdf"),
                      path(QStringLiteral("other-cut.pdf")));
        holdInLibrary(QStringLiteral("http://127.0.0.1:1/whole.pdf"), path(QStringLiteral("whole.pdf")));

        auto *check = window->findChild<DownloadWindowPdfCheck *>();
        QVERIFY(check);
        QSignalSpy progress(check, &DownloadWindowPdfCheck::progressed);
        window->action("actCheckPdf")->trigger();
        // Off the GUI thread: nothing has changed yet, and a second click is no second check.
        QVERIFY(check->isRunning());
        QCOMPARE(window->model()->find(cut)->state, RowState::Done);
        window->action("actCheckPdf")->trigger();
        const QString end = QStringLiteral(
            "检查PDF文件完成：重命名了 1 个文件；完好 2 个，已修复 0 个，已加密 0 个，已损坏 2 个"
            "（损坏的文件可用“重新下载 → PDF文件损坏项”再次下载）；其他损坏文件：other-cut.pdf");
        QTRY_COMPARE_WITH_TIMEOUT(window->panelText(3), end, 30000);
        QVERIFY(!check->isRunning());
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), (QList<QVariant>{5, 5})); // three rows and two other files

        // Each row has its verdict; the damaged one fails, its file still its own.
        QCOMPARE(window->model()->find(whole)->pdf.state, PdfVerdict::State::Whole);
        QCOMPARE(window->model()->find(whole)->state, RowState::Done);
        QCOMPARE(window->model()->find(cut)->state, RowState::Failed);
        QCOMPARE(window->model()->find(cut)->reason.kind, FailureReason::Kind::PdfDamaged);
        QVERIFY(IsStillOwned(window->model()->find(cut)->owned));
        QCOMPARE(window->model()->find(caj)->type, QStringLiteral("CAJ"));

        // The library has the verdicts: the damaged files are held no more, the whole one is.
        const QString db = m_library->path();
        QCOMPARE(keptCheck(db, QStringLiteral("http://127.0.0.1:1/cut.pdf")).pdf, QStringLiteral("damaged"));
        QCOMPARE(keptCheck(db, QStringLiteral("http://127.0.0.1:1/other-cut.pdf")).pdf,
                 QStringLiteral("damaged"));
        const KeptCheck kept = keptCheck(db, QStringLiteral("http://127.0.0.1:1/whole.pdf"));
        QCOMPARE(kept.pdf, QStringLiteral("whole"));
        QCOMPARE(kept.pages, 1);
        QVERIFY(kept.timed);
        QVERIFY(!m_library->heldFile(QStringLiteral("http://127.0.0.1:1/cut.pdf")));
        QVERIFY(!m_library->heldFile(QStringLiteral("http://127.0.0.1:1/other-cut.pdf")));
        QVERIFY(m_library->heldFile(QStringLiteral("http://127.0.0.1:1/whole.pdf")));

        // One menu entry sends the row found damaged, and only that one, back to the queue.
        window->action("actRedownloadDamaged")->trigger();
        QCOMPARE(window->model()->find(cut)->state, RowState::Waiting);
        QCOMPARE(window->model()->find(whole)->state, RowState::Done);
        window->queue()->commands().cancel({cut});
        delete window;
    }

    // A window that closes while its check is on: the check stops before its next file, and the answer
    // finds nothing gone.
    void closingTheWindowStopsTheCheck()
    {
        auto *window = new fFileDownload(fntest::runObjects());
        window->session()->setPdfChecker(m_checker.get());
        // Enough files that checking them all takes far longer than the window takes to close, however
        // fast one check is.
        constexpr int Files = 1000;
        for (int i = 0; i < Files; ++i)
            addDone(*window, QStringLiteral("p%1").arg(i), fntest::wholePdf(20000));
        auto *check = window->findChild<DownloadWindowPdfCheck *>();
        QSignalSpy progress(check, &DownloadWindowPdfCheck::progressed);
        const qint64 before = m_checker->tally().files;
        window->action("actCheckPdf")->trigger();
        QVERIFY(progress.wait(10000));
        delete window;
        QVERIFY(diskwork::checkPool(m_checker->limits().processes).waitForDone(30000));
        const qint64 checked = m_checker->tally().files - before;
        QVERIFY2(checked < Files, qPrintable(QString::number(checked)));
        QTest::qWait(50); // a post that was under way is dropped
    }

    void theEndMessageNamesWhatIsOutsideTheList()
    {
        FolderPdfCheck found;
        found.tally.whole = 1;
        found.tally.damaged = 4;
        found.otherDamaged = {QStringLiteral("/a/1.pdf"), QStringLiteral("/a/2.pdf"),
                              QStringLiteral("/a/3.pdf"), QStringLiteral("/a/4.pdf")};
        found.libraryWritten = false;
        found.libraryError = QStringLiteral("只读");
        // Every damaged file is one of the others: no row to fetch again, so the way to do it is not named.
        QCOMPARE(FolderPdfCheckText(found),
                 QStringLiteral(
                     "检查PDF文件完成：重命名了 0 个文件；完好 1 个，已修复 0 个，已加密 0 个，已损坏 4 个"
                     "；其他损坏文件：1.pdf、2.pdf、3.pdf 等 4 个；检查结果未能记入文献资料库：只读"));
    }
};

FN_TEST_MAIN_GUI(TestDownloadPdfCheck)
#include "tst_downloadpdfcheck.moc"
