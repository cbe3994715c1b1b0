// What the library's writes leave in the file, table by table and row by row, against the file the same
// papers left before (tests/data/library/writes.txt). Rewrite that file only when what is stored is meant
// to change: FN_WRITE_EXPECTED=1 tst_librarywrites.
#include "core/library/libraryschema.h"
#include "core/library/paperlibrary.h"
#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {

const QString kRaw = QStringLiteral("raw");

// Fixed times, so that the file holds the same values in every run; "now" stands for the moment of the
// run wherever the library takes the current time itself.
QDateTime at(int second)
{
    return QDateTime::fromMSecsSinceEpoch(1700000000000 + second * 1000LL, Qt::UTC);
}

SeenPaper seen(const QString &address, const QString &title, PaperCells cells = {}, const QString &page = {})
{
    return SeenPaper{address, PaperMetadata{title, std::move(cells)}, page};
}

DownloadResult done(const QString &address, const QString &path, int second)
{
    DownloadResult r;
    r.address = address;
    r.outcome = DownloadOutcome::Done;
    r.filePath = path;
    r.size = 1000 + second;
    r.sha256 = QStringLiteral("AB%1CDEF").arg(second);
    r.pdf = QStringLiteral("whole");
    r.pdfPages = second % 7;
    r.finishedAt = at(second);
    return r;
}

DownloadResult failed(const QString &address, const QString &reason, int second)
{
    DownloadResult r;
    r.address = address;
    r.outcome = DownloadOutcome::Failed;
    r.reason = reason;
    r.finishedAt = at(second);
    return r;
}

// Every row of a table, each value as SQLite quotes it (NULL, numbers bare, texts in quotes, blobs in
// hex), in the order of the table's key.
QStringList dumpTable(QSqlDatabase &db, const QString &table, const QString &order, const QString &folder,
                      qint64 from, qint64 to)
{
    QSqlQuery q(db);
    QStringList columns;
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return {QStringLiteral("unreadable: ") + table};
    while (q.next())
        columns.append(QStringLiteral("quote(\"%1\")").arg(q.value(1).toString()));
    QStringList lines;
    if (!q.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3").arg(columns.join(u','), table, order)))
        return {QStringLiteral("unreadable: ") + table};
    while (q.next()) {
        QStringList values;
        for (int i = 0; i < columns.size(); ++i) {
            bool number = false;
            const qint64 n = q.value(i).toString().toLongLong(&number);
            QString value = q.value(i).toString();
            value.replace(folder, QStringLiteral("DIR")).replace(u'\n', QStringLiteral("\\n"));
            values.append(number && from > 0 && n >= from && n <= to ? QStringLiteral("now") : value);
        }
        lines.append(table + u'|' + values.join(u'|'));
    }
    return lines;
}

// The whole file as text (the test's folder called DIR): every table the library writes, the search index's
// own included, and whether that index agrees with the rows.
QStringList dump(const QString &path, const QString &folder, qint64 from, qint64 to)
{
    QStringList lines;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kRaw);
        db.setDatabaseName(path);
        if (!db.open())
            return {QStringLiteral("cannot open ") + path};
        const QList<QPair<QString, QString>> tables = {{"papers", "address"},
                                                       {"library_rows", "id"},
                                                       {"paper_pages", "address, page"},
                                                       {"download_history", "id"},
                                                       {"library_words", "id"},
                                                       {"library_search_data", "id"},
                                                       {"library_search_idx", "segid, term"},
                                                       {"library_search_docsize", "id"},
                                                       {"queue", "position"}};
        for (const auto &[table, order] : tables)
            lines += dumpTable(db, table, order, folder, from, to);
        QSqlQuery q(db);
        lines.append(
            q.exec(QStringLiteral("INSERT INTO library_search (library_search) VALUES ('integrity-check')"))
                ? QStringLiteral("search index whole")
                : QStringLiteral("search index damaged"));
        lines.append(QStringLiteral("found:"));
        const QStringList words = {"Deep", "张伟; 王", "计算机学报", "10.1000", "Nature", ", 改名"};
        for (const QString &word : words) {
            q.exec(QStringLiteral(
                       "SELECT group_concat(rowid) FROM library_search WHERE library_search MATCH '\"%1\"'")
                       .arg(word));
            lines.last() +=
                QStringLiteral(" ") + word + u'=' + (q.next() ? q.value(0).toString() : QString());
        }
    }
    QSqlDatabase::removeDatabase(kRaw);
    return lines;
}

bool rawExec(const QString &path, const std::function<bool(QSqlDatabase &)> &statements)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kRaw);
        db.setDatabaseName(path);
        ok = db.open() && statements(db);
    }
    QSqlDatabase::removeDatabase(kRaw);
    return ok;
}

bool rawExec(const QString &path, const QStringList &statements)
{
    return rawExec(path, [&statements](QSqlDatabase &db) {
        QSqlQuery q(db);
        return std::all_of(statements.cbegin(), statements.cend(),
                           [&q](const QString &s) { return q.exec(s); });
    });
}

const PaperCells kCellsA = {{"作者", "张伟; 王芳"},
                            {"年份", "2019-05"},
                            {"来源", "计算机学报"},
                            {"DOI", "https://doi.org/10.1000/abc.1"}};

} // namespace

class TestLibraryWrites : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_lines;

    QString file(const QString &name) const { return m_dir.path() + u'/' + name; }

    // Papers seen on result pages, twice over, some with their user names in the links.
    void seeFirst(PaperLibrary &library)
    {
        const PaperCells cellsC = {{"Authors", "Ann Lee; Bo Li", {"Ann Lee", "Bo Li"}},
                                   {"Journal", "Nature Deep"},
                                   {"Date", "published 2021"}};
        QVERIFY2(library.recordSeen(
                     {seen("http://user:pw@s/a.pdf", "第一篇 Deep learning", kCellsA, "http://s/r?p=1"),
                      seen("http://s/b.pdf", QString()), seen(QString(), "无地址"),
                      seen("http://s/c.pdf", "Third", cellsC, "http://user:pw@s/r?p=2"),
                      seen("http://s/files/d.pdf", "d"), seen("http://s/e.pdf", "Paper E"),
                      seen("http://s/f.pdf", "F once"), seen("http://s/f.pdf", "F twice")}),
                 qPrintable(library.lastError()));
        // Seen again: empty values keep what was known, a new title and page are taken.
        QVERIFY2(library.recordSeen({seen("http://s/a.pdf", QString(), {}, "http://s/r?p=3"),
                                     seen("http://s/c.pdf", "Third, 改名", {{"Journal", "Nature"}}),
                                     seen("http://s/e.pdf", "Paper E", {}, "http://s/r?p=1")}),
                 qPrintable(library.lastError()));
    }

    // How their downloads ended: with files, failures, a page's own declarations, a paper never seen.
    void downloadFirst(PaperLibrary &library)
    {
        DownloadResult a = done("http://user:pw@s/a.pdf", file("a.pdf"), 1);
        a.doiKey = QStringLiteral("10.1000/abc.1");
        DownloadResult d = done("http://s/files/d.pdf", file("d.pdf"), 3);
        d.declared = PaperMetadata{"Declared D", {{"作者", "李娜"}, {"doi", "10.1000/d"}}};
        d.fileAddress = QStringLiteral("http://user:pw@s/full/d.pdf");
        d.landingPage = QStringLiteral("http://s/landing/d");
        DownloadResult g = done("http://s/g.pdf", file("g.pdf"), 4);
        g.title = QStringLiteral("Never seen");
        g.pdf = QString();
        DownloadResult h = done("http://s/h.pdf", QString(), 5);
        h.reason = QStringLiteral("已下载过");
        DownloadResult c = done("http://s/c.pdf", file("c.pdf"), 6);
        c.pdf = QStringLiteral("damaged");
        DownloadResult later = done("http://s/later.pdf", file("later.pdf"), 8);
        later.finishedAt = QDateTime();
        QVERIFY2(library.recordDownloads({a, failed("http://s/b.pdf", "no full text offered (页面)", 2), d, g,
                                          h, c, done("http://s/e.pdf", file("e.pdf"), 7),
                                          failed("http://s/e.pdf", "连接超时", 9), later, DownloadResult{}}),
                 qPrintable(library.lastError()));
    }

    // A check of the held files found one gone; later writes keep what it found until a new file comes.
    void findAndRedownload(PaperLibrary &library)
    {
        QVERIFY(rawExec(library.path(),
                        {"UPDATE library_rows SET finding = 1, state = 1 WHERE address = 'http://s/a.pdf'",
                         "UPDATE library_rows SET finding = 2, state = 2 WHERE address = 'http://s/e.pdf'",
                         "UPDATE library_rows SET finding = 2, state = 2 WHERE address = 'http://s/g.pdf'",
                         "UPDATE library_rows SET finding = 2 WHERE address = 'http://s/c.pdf'"}));
        QVERIFY2(library.recordSeen({seen("http://s/a.pdf", "第一篇 Deep learning"),
                                     seen("http://s/e.pdf", "E 改名"),
                                     seen("http://s/f.pdf", QString(), {{"年份", "2020"}})}),
                 qPrintable(library.lastError()));
        // e's new file is at another path, g's and c's at the same path (c's damaged as before).
        DownloadResult c = done("http://s/c.pdf", file("c.pdf"), 6);
        c.pdf = QStringLiteral("damaged");
        QVERIFY2(library.recordDownloads({done("http://s/e.pdf", file("e2.pdf"), 10),
                                          done("http://s/g.pdf", file("g.pdf"), 14), c}),
                 qPrintable(library.lastError()));
        QVERIFY2(library.recordPdfChecks({{file("a.pdf"), "damaged", 2, at(11)},
                                          {file("g.pdf"), "whole", 0, at(12)},
                                          {file("d.pdf"), "whole", 9, at(3)},
                                          {file("nothing.pdf"), "whole", 1, at(13)}}),
                 qPrintable(library.lastError()));
    }

    void compareWithExpected(const QString &name, const QStringList &lines)
    {
        const QString expected = QStringLiteral(FN_LIBRARY_EXPECTED) + u'/' + name;
        if (qEnvironmentVariableIsSet("FN_WRITE_EXPECTED")) {
            QDir().mkpath(QFileInfo(expected).absolutePath());
            fntest::writeFile(expected, lines.join(u'\n').toUtf8() + '\n');
            QSKIP("expected values written");
        }
        const QStringList want =
            QString::fromUtf8(fntest::readFile(expected)).split(u'\n', Qt::SkipEmptyParts);
        for (qsizetype i = 0; i < std::max(want.size(), lines.size()); ++i)
            QCOMPARE(lines.value(i), want.value(i));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Seen, downloaded, failed, checked, found missing and changed: each table ends as it did before.
    void aRunLeavesTheSameRows()
    {
        const qint64 from = QDateTime::currentMSecsSinceEpoch();
        const QString path = file("run/PaperLibrary.db");
        {
            PaperLibrary library(path);
            QVERIFY(library.open().ok);
            seeFirst(library);
            downloadFirst(library);
            findAndRedownload(library);
        }
        compareWithExpected(QStringLiteral("writes.txt"),
                            dump(path, m_dir.path(), from, QDateTime::currentMSecsSinceEpoch()));
    }

    // A write SQLite refuses half-way through a paper (here a trigger of another tool's) fails with
    // SQLite's reason, and none of the transaction stays: neither the papers before it nor its record.
    void aRefusedWriteIsReportedAndUndone()
    {
        const QString path = file("refused/PaperLibrary.db");
        PaperLibrary library(path);
        QVERIFY(library.open().ok);
        QVERIFY(library.recordSeen({seen("http://s/1.pdf", "One")})); // the statements are kept from here
        QVERIFY(rawExec(path, {"CREATE TRIGGER refuse BEFORE INSERT ON library_rows WHEN new.title = 'Three'"
                               " BEGIN SELECT RAISE(ABORT, 'refused by another tool'); END"}));
        QVERIFY(!library.recordSeen({seen("http://s/2.pdf", "Two"), seen("http://s/3.pdf", "Three")}));
        QVERIFY2(library.lastError().contains(QStringLiteral("refused by another tool")),
                 qPrintable(library.lastError()));
        QCOMPARE(library.paperCount(), 1);
        DownloadResult three = done("http://s/3.pdf", file("3.pdf"), 1);
        three.title = QStringLiteral("Three");
        QVERIFY(!library.recordDownloads({three}));
        QVERIFY(!library.record(QStringLiteral("http://s/3.pdf")));
        // Once the obstacle is gone the same connection writes again.
        QVERIFY(rawExec(path, {"DROP TRIGGER refuse"}));
        QVERIFY2(library.recordSeen({seen("http://s/3.pdf", "Three")}), qPrintable(library.lastError()));
        QVERIFY2(library.recordDownloads({done("http://s/3.pdf", file("3.pdf"), 1)}),
                 qPrintable(library.lastError()));
        QCOMPARE(library.heldFile(QStringLiteral("http://s/3.pdf"))->filePath, file("3.pdf"));
    }

    // The statements kept for the connection do not keep the file open: closing checkpoints the journal
    // and removes it, and the file holds every write.
    void closingLetsTheFileGo()
    {
        const QString path = file("closing/PaperLibrary.db");
        {
            PaperLibrary library(path);
            QVERIFY(library.open().ok);
            QVERIFY(library.recordSeen({seen("http://s/1.pdf", "One"), seen("http://s/2.pdf", "Two")}));
            QVERIFY(library.recordDownloads({done("http://s/1.pdf", file("1.pdf"), 1)}));
            QVERIFY(QFileInfo::exists(path + QStringLiteral("-wal")));
            library.close();
            QVERIFY(!QFileInfo::exists(path + QStringLiteral("-wal")));
            // Opened again, the library writes with statements of the new connection.
            QVERIFY(library.open().ok);
            QVERIFY2(library.recordDownloads({done("http://s/2.pdf", file("2.pdf"), 2)}),
                     qPrintable(library.lastError()));
        }
        QVERIFY(!QFileInfo::exists(path + QStringLiteral("-wal")));
        PaperLibrary again(path);
        QVERIFY(again.open().ok);
        QCOMPARE(again.heldFile(QStringLiteral("http://s/2.pdf"))->filePath, file("2.pdf"));
        QCOMPARE(again.paperCount(), 2);
    }

    // A library from before the rows for the window gets a row for every paper it knew when it opens.
    void anOlderLibraryGetsTheSameRows()
    {
        const QString path = file("old/PaperLibrary.db");
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(rawExec(path, [](QSqlDatabase &db) {
            for (int version = 0; version < 6; ++version) {
                if (libraryschema::runStep(db, version))
                    return false;
            }
            return true;
        }));
        QVERIFY(rawExec(path, {"INSERT INTO papers (address, title, cells, source_page, seen_at) VALUES"
                               " ('http://s/1.pdf', '1', '[[\"作者\",\"张伟\"],[\"年份\",\"2001\"]]', "
                               "'http://s/r', 1600000000000),"
                               " ('http://s/2.pdf', 'Deep two', '[]', '', NULL)",
                               "INSERT INTO papers (address, title, file_path, file_size, sha256, "
                               "downloaded_at, outcome, reason,"
                               " attempted_at, pages, pdf, declared_title, declared_cells) VALUES"
                               " ('http://s/3.pdf', '3', '/x/3.pdf', 5, 'ab', 1600000001000, 2, 'timeout', "
                               "1600000002000, 4, 'damaged',"
                               " 'Declared three', '[[\"来源\",\"软件学报\"]]'),"
                               " ('http://s/4.pdf', 'Four', NULL, NULL, NULL, NULL, 2, 'no full text "
                               "offered', 1600000003000, -1, '',"
                               " '', '[]')",
                               "PRAGMA user_version = 6"}));
        {
            PaperLibrary library(path);
            QVERIFY2(library.open().ok, qPrintable(library.lastError()));
        }
        compareWithExpected(QStringLiteral("migrated.txt"), dump(path, m_dir.path(), 0, 0));
    }
};

FN_TEST_MAIN_CORE(TestLibraryWrites)
#include "tst_librarywrites.moc"
