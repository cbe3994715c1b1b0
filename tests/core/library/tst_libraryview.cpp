#include "core/library/librarythread.h"
#include "core/library/libraryview.h"
#include "core/librarymodel/librarytablemodel.h"
#include "libraryfixture.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>

using namespace fntest;

namespace {

constexpr int kPapers = 600;

const QStringList kAuthors = {"张伟; 王芳", "李娜", "John Smith; Ana García", "王芳; Smith", "Müller, K."};
const QStringList kSources = {"计算机学报", "Journal of Learning", "软件学报", "Proc. 50% Conference"};
const QStringList kTitles = {"Deep learning for ancient books", "基于深度学习的古籍文字识别",
                             "Yield of 50% a_b tests", "Graph methods", "关于\"引号\"的研究"};

QString addressOf(int i)
{
    return QStringLiteral("http://lib.test/paper/%1.pdf").arg(i, 4, 10, QChar(u'0'));
}

bool rawExec(const QString &path, const QStringList &statements)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString &s : statements)
            ok = ok && q.exec(s);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    return ok;
}

// Every word of the filter in one of the four columns, ignoring case: what the library must find.
bool matches(const LibraryRow &row, const QString &filter)
{
    const QStringList words = filter.simplified().split(u' ', Qt::SkipEmptyParts);
    return std::all_of(words.cbegin(), words.cend(), [&](const QString &w) {
        return row.title.contains(w, Qt::CaseInsensitive) || row.authors.contains(w, Qt::CaseInsensitive) ||
               row.doi.contains(w, Qt::CaseInsensitive) || row.source.contains(w, Qt::CaseInsensitive);
    });
}

QList<LibraryRow> readInPages(PaperLibrary &library, const LibraryQuery &query, int pageRows)
{
    QList<LibraryRow> all;
    for (qint64 offset = 0;; offset += pageRows) {
        const std::optional<QList<LibraryRow>> page = libraryview::rows(library, query, offset, pageRows);
        if (!page)
            return {};
        all += *page;
        if (page->size() < pageRows)
            return all;
    }
}

// A comparable key of a row's column, as the library sorts it.
QVariant keyOf(const LibraryRow &row, LibraryColumn column)
{
    switch (column) {
    case LibraryColumn::State:
        return int(row.state);
    case LibraryColumn::File:
        return row.filePath;
    case LibraryColumn::Size:
        return row.size;
    case LibraryColumn::Pages:
        return row.pages;
    case LibraryColumn::DownloadedAt:
        return row.downloadedAt.isValid() ? row.downloadedAt.toMSecsSinceEpoch() : -1;
    default:
        return libraryCellText(row, column);
    }
}

} // namespace

class TestLibraryView : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    QList<LibraryRow> m_all;

    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.path() + u'/' + name;
        fntest::writeFile(path, bytes);
        return path;
    }

    // kPapers papers: a third downloaded (every tenth of those found damaged), some that failed, and some
    // whose page offered no full text.
    void build(PaperLibrary &library)
    {
        QList<SeenPaper> seen;
        QList<DownloadResult> ends;
        QList<PdfCheckRecord> checks;
        for (int i = 0; i < kPapers; ++i) {
            const QString doi = i % 2 ? QStringLiteral("10.1000/x%1").arg(i) : QString();
            seen.append(seenPaper(addressOf(i), kTitles.at(i % kTitles.size()) + QStringLiteral(" %1").arg(i),
                                  paperCells(kAuthors.at(i % kAuthors.size()), QString::number(1990 + i % 30),
                                             kSources.at(i % kSources.size()), doi),
                                  QStringLiteral("http://lib.test/search?page=%1").arg(i / 20)));
            if (i % 3 == 0) {
                const QString path = file(QStringLiteral("p%1.pdf").arg(i), "%PDF-1.4 " + QByteArray(i, 'x'));
                ends.append(doneAt(addressOf(i), path, 1700000000000 + qint64(i % 50) * 1000));
                if (i % 30 == 0)
                    checks.append(PdfCheckRecord{path, QStringLiteral("damaged"), -1, {}});
                else
                    checks.append(PdfCheckRecord{path, QStringLiteral("whole"), 1 + i % 7, {}});
            } else if (i % 3 == 1 && i % 4 == 1) {
                ends.append(
                    failedAt(addressOf(i), QStringLiteral("no full text offered: the page names none")));
            } else if (i % 3 == 1) {
                ends.append(failedAt(addressOf(i), QStringLiteral("HTTP 503")));
            }
        }
        QVERIFY(library.recordSeen(seen));
        QVERIFY(library.recordDownloads(ends));
        QVERIFY(library.recordPdfChecks(checks));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.path() + QStringLiteral("/PaperLibrary.db");
        PaperLibrary library(m_path);
        QVERIFY(library.open().ok);
        build(library);
        m_all = readInPages(library, {}, 100000);
        QCOMPARE(m_all.size(), kPapers);
    }

    void rowsCarryStatesAndFileValues()
    {
        const auto row = [this](int i) {
            const auto found = std::find_if(m_all.cbegin(), m_all.cend(),
                                            [&](const LibraryRow &r) { return r.address == addressOf(i); });
            return found == m_all.cend() ? LibraryRow() : *found;
        };
        QCOMPARE(row(3).state, PaperState::Held);
        QCOMPARE(row(3).pages, 4);
        QCOMPARE(row(3).size, 9 + 3);
        QVERIFY(row(3).filePath.endsWith("/p3.pdf"));
        QCOMPARE(row(3).downloadedAt, QDateTime::fromMSecsSinceEpoch(1700000003000, Qt::UTC));
        QCOMPARE(row(30).state, PaperState::Damaged);
        QCOMPARE(row(1).state, PaperState::NoFullText);
        QCOMPARE(row(4).state, PaperState::NotDownloaded); // failed for another reason
        QCOMPARE(row(2).state, PaperState::NotDownloaded); // never tried
        QCOMPARE(row(2).pages, -1);
        QCOMPARE(row(2).size, -1);
        QCOMPARE(row(7).authors, kAuthors.at(2));
        QCOMPARE(row(7).doi, QStringLiteral("10.1000/x7"));
        QCOMPARE(row(7).year, QStringLiteral("1997"));
        QCOMPARE(row(7).source, kSources.at(3));
    }

    void filterFindsEveryWordInAnyColumn_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::newRow("short Chinese author") << "张伟";
        QTest::newRow("title word, indexed") << "learning";
        QTest::newRow("another case") << "LEARN";
        QTest::newRow("part of a Chinese title") << "古籍文字";
        QTest::newRow("DOI") << "10.1000/x1";
        QTest::newRow("source") << "软件学报";
        QTest::newRow("accented author") << "garcía";
        QTest::newRow("two words, both needed") << "smith deep";
        QTest::newRow("short and long words") << "李娜 Graph";
        QTest::newRow("percent is no wildcard") << "50%";
        QTest::newRow("underscore is no wildcard") << "a_b";
        QTest::newRow("short wildcard-like word") << "%";
        QTest::newRow("quotes in the text") << "\"引号\"";
        QTest::newRow("a lone quote") << "\"deep";
        QTest::newRow("nothing matches") << "zzzqqq";
        QTest::newRow("spaces only") << "   ";
    }
    void filterFindsEveryWordInAnyColumn()
    {
        QFETCH(QString, filter);
        PaperLibrary library(m_path);
        QVERIFY(library.open().ok);
        const qsizetype expected = std::count_if(m_all.cbegin(), m_all.cend(),
                                                 [&](const LibraryRow &r) { return matches(r, filter); });
        const std::optional<qint64> counted = libraryview::count(library, LibraryQuery{filter});
        QVERIFY2(counted, qPrintable(library.lastError()));
        QCOMPARE(*counted, expected);
        const QList<LibraryRow> rows = readInPages(library, LibraryQuery{filter}, 50);
        QCOMPARE(rows.size(), expected);
        QVERIFY(
            std::all_of(rows.cbegin(), rows.cend(), [&](const LibraryRow &r) { return matches(r, filter); }));
    }

    void everyColumnSortsBothWaysAcrossPages()
    {
        PaperLibrary library(m_path);
        QVERIFY(library.open().ok);
        for (int c = 0; c < kLibraryColumnCount; ++c) {
            for (const bool descending : {false, true}) {
                const auto column = static_cast<LibraryColumn>(c);
                const QList<LibraryRow> rows = readInPages(library, LibraryQuery{{}, column, descending}, 97);
                QCOMPARE(rows.size(), kPapers);
                QSet<QString> addresses;
                for (qsizetype i = 0; i < rows.size(); ++i) {
                    addresses.insert(rows.at(i).address);
                    if (i == 0)
                        continue;
                    const QPartialOrdering order =
                        QVariant::compare(keyOf(rows.at(i - 1), column), keyOf(rows.at(i), column));
                    QVERIFY2(descending ? order != QPartialOrdering::Less
                                        : order != QPartialOrdering::Greater,
                             qPrintable(QStringLiteral("column %1 at row %2").arg(c).arg(i)));
                }
                QCOMPARE(addresses.size(), kPapers); // no row twice, none left out between pages
            }
        }
    }

    void detailsHoldPagesAndHistory()
    {
        const QString path = m_dir.path() + QStringLiteral("/details.db");
        PaperLibrary library(path);
        QVERIFY(library.open().ok);
        const QString address = QStringLiteral("http://lib.test/one.pdf");
        QVERIFY(library.recordSeen(
            {seenPaper(address, "One", paperCells("李娜", "2020", "软件学报"), "http://r/1")}));
        QVERIFY(library.recordSeen({seenPaper(address, "One", {}, "http://r/2")}));
        QVERIFY(library.recordDownloads({failedAt(address, "HTTP 503", 1700000000000)}));
        const QString pdf = file("one.pdf", "%PDF-1.4 one");
        QVERIFY(library.recordDownloads({doneAt(address, pdf, 1700000001000)}));
        const std::optional<PaperDetails> details = libraryview::details(library, address);
        QVERIFY(details);
        QCOMPARE(details->record.metadata.authors(), QStringLiteral("李娜"));
        QCOMPARE(details->state, PaperState::Held);
        QCOMPARE(details->seenOn.size(), 2);
        QCOMPARE(details->history.size(), 2);
        QCOMPARE(details->history.at(0).outcome, DownloadOutcome::Failed);
        QCOMPARE(details->history.at(0).reason, QStringLiteral("HTTP 503"));
        QCOMPARE(details->history.at(1).outcome, DownloadOutcome::Done);
        QCOMPARE(details->history.at(1).filePath, pdf);
        QVERIFY(!libraryview::details(library, "http://lib.test/unknown.pdf"));
    }

    // A download leaves a paper's searched words as they were, and a new title replaces them: the search
    // finds the paper by the words it has now, never by older ones, and its index stays whole.
    void theSearchFollowsThePapersWordsThroughItsDownloads()
    {
        const QString path = m_dir.path() + QStringLiteral("/words.db");
        PaperLibrary library(path);
        QVERIFY(library.open().ok);
        const QString address = QStringLiteral("http://lib.test/words.pdf");
        const auto found = [&library](const QString &filter) {
            const std::optional<QList<LibraryRow>> rows =
                libraryview::rows(library, LibraryQuery{filter}, 0, 10);
            return rows && rows->size() == 1 ? rows->first().state : PaperState::NotDownloaded;
        };
        QVERIFY(library.recordSeen(
            {seenPaper(address, "Alphabetic scripts", paperCells("李娜", "2020", "软件学报"))}));
        const QString pdf = file("words.pdf", "%PDF-1.4 words");
        QVERIFY(library.recordDownloads({doneAt(address, pdf, 1700000000000)}));
        QCOMPARE(found(QStringLiteral("Alphabetic")), PaperState::Held);
        QCOMPARE(found(QStringLiteral("软件学")), PaperState::Held);
        QVERIFY(library.recordSeen(
            {seenPaper(address, "Betamax tapes", paperCells("王芳", "2020", "计算机学报"))}));
        QVERIFY(library.recordDownloads({failedAt(address, "HTTP 503", 1700000001000)}));
        QVERIFY(library.recordDownloads({doneAt(address, pdf, 1700000002000)}));
        QCOMPARE(found(QStringLiteral("Betamax 王芳")), PaperState::Held);
        QCOMPARE(libraryview::count(library, LibraryQuery{QStringLiteral("Alphabetic")}),
                 std::optional<qint64>(0));
        QCOMPARE(libraryview::count(library, LibraryQuery{QStringLiteral("软件学")}),
                 std::optional<qint64>(0));
        library.close();
        QVERIFY(rawExec(
            path,
            {QStringLiteral("INSERT INTO library_search (library_search) VALUES ('integrity-check')")}));
    }

    // A library of the version before keeps its papers: their rows, pages and last ends are made.
    void aLibraryOfTheVersionBeforeGetsItsRows()
    {
        const QString path = m_dir.path() + QStringLiteral("/older.db");
        const QString pdf = file("older.pdf", "%PDF-1.4 older");
        {
            PaperLibrary library(path);
            QVERIFY(library.open().ok);
            QVERIFY(library.recordSeen({seenPaper("http://o/1.pdf", "Older learning",
                                                  paperCells("张伟", "2001", "X"), "http://o/r")}));
            QVERIFY(library.recordDownloads({doneAt("http://o/1.pdf", pdf)}));
        }
        QVERIFY(rawExec(path,
                        {"DROP TABLE library_search", "DROP TABLE library_rows", "DROP TABLE paper_pages",
                         "DROP TABLE download_history", "DROP TABLE library_words",
                         "DROP INDEX papers_sha256", "DROP INDEX papers_doi",
                         "ALTER TABLE papers DROP COLUMN doi_key", "ALTER TABLE queue DROP COLUMN identifier",
                         "ALTER TABLE queue DROP COLUMN origin", "PRAGMA user_version = 6"}));
        PaperLibrary library(path);
        QVERIFY(library.open().ok);
        QCOMPARE(libraryview::count(library, LibraryQuery{"learning"}), 1);
        QCOMPARE(libraryview::count(library, LibraryQuery{"张伟"}), 1);
        const std::optional<PaperDetails> details = libraryview::details(library, "http://o/1.pdf");
        QVERIFY(details);
        QCOMPARE(details->state, PaperState::Held);
        QCOMPARE(details->seenOn.size(), 1);
        QCOMPARE(details->history.size(), 1);
    }

    void theModelReadsPagesOffTheEventLoop()
    {
        LibraryThread thread(m_path, 3000);
        LibraryTableModel model(thread);
        QSignalSpy loaded(&model, &LibraryTableModel::loaded);
        QSignalSpy changed(&model, &LibraryTableModel::dataChanged);
        model.refresh();
        QVERIFY(model.isLoading());
        QVERIFY(loaded.wait(5000));
        QCOMPARE(model.rowCount(), kPapers);
        QVERIFY(!model.index(0, 0).data().toString().isEmpty());
        // A row of a later page is empty until its page has come.
        const QModelIndex far = model.index(450, int(LibraryColumn::Title));
        QVERIFY(!model.rowAt(450));
        QVERIFY(!far.data().isValid());
        QVERIFY(changed.wait(5000));
        QVERIFY(!far.data().toString().isEmpty());
        QCOMPARE(far.data(LibraryTableModel::AddressRole).toString(), model.rowAt(450)->address);

        model.sort(int(LibraryColumn::Year), Qt::DescendingOrder);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(model.index(0, int(LibraryColumn::Year)).data().toString(), QStringLiteral("2019"));

        // Only the last of two filters typed quickly is shown.
        model.setFilter("Graph");
        model.setFilter("张伟");
        QVERIFY(loaded.wait(5000));
        QTest::qWait(100);
        const qsizetype expected = std::count_if(m_all.cbegin(), m_all.cend(),
                                                 [](const LibraryRow &r) { return matches(r, "张伟"); });
        QCOMPARE(model.rowCount(), expected);
        QCOMPARE(model.index(0, int(LibraryColumn::State)).data(LibraryTableModel::ValueRole).metaType().id(),
                 QMetaType::Int);
    }

    // A window deletes the views that read through its library thread before the thread: an answer still
    // on its way then has no receiver, and is dropped, while another receiver's comes.
    void anAnswerWhoseReceiverWentFirstIsDropped()
    {
        LibraryThread thread(m_path, 3000);
        QSemaphore gate;
        QObject stays;
        auto *goes = new QObject;
        int toGone = 0;
        int toStaying = 0;
        thread.run(
            [&gate](PaperLibrary &) {
                gate.acquire();
                return true;
            },
            goes, [&toGone](const LibraryThread::Answer &) { ++toGone; });
        thread.run([](PaperLibrary &) { return true; }, &stays,
                   [&toStaying](const LibraryThread::Answer &answer) { toStaying += answer.ok ? 1 : 100; });
        delete goes;
        gate.release();
        thread.wait();
        QTRY_COMPARE(toStaying, 1);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(toGone, 0);
    }

    void theModelReadsAfreshOnlyWhenTheFileWasWritten()
    {
        LibraryThread thread(m_path, 3000);
        LibraryTableModel model(thread);
        QSignalSpy loaded(&model, &LibraryTableModel::loaded);
        model.refresh();
        QVERIFY(loaded.wait(5000));
        loaded.clear();
        model.refreshIfChanged();
        thread.wait();
        QTest::qWait(200);
        QCOMPARE(loaded.count(), 0);
        {
            PaperLibrary other(m_path); // another program, say
            QVERIFY(other.open().ok);
            QVERIFY(other.recordSeen({seenPaper("http://lib.test/new.pdf", "New one")}));
        }
        model.refreshIfChanged();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(model.rowCount(), kPapers + 1);
    }

    void theTableShowsItsOwnTexts()
    {
        QCOMPARE(paperStateText(PaperState::Held), QStringLiteral("已下载"));
        QCOMPARE(paperStateText(PaperState::Missing), QStringLiteral("文件缺失"));
        QCOMPARE(paperStateText(PaperState::Damaged), QStringLiteral("文件已损坏"));
        QCOMPARE(paperStateText(PaperState::NotDownloaded), QStringLiteral("未下载"));
        QCOMPARE(paperStateText(PaperState::NoFullText), QStringLiteral("无全文"));
        LibraryRow row;
        row.size = 1536;
        row.filePath = "/x/y/z.pdf";
        QCOMPARE(libraryCellText(row, LibraryColumn::File), QStringLiteral("z.pdf"));
        QCOMPARE(libraryCellText(row, LibraryColumn::Size), QStringLiteral("1.5 kB"));
        QCOMPARE(libraryCellText(row, LibraryColumn::Pages), QString());
    }
};

FN_TEST_MAIN_CORE(TestLibraryView)
#include "tst_libraryview.moc"
