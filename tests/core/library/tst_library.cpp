#include "core/library/heldcheck.h"
#include "core/library/paperlibrary.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cerrno>
#include <future>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

SeenPaper seen(const QString &address, const QString &title, PaperCells cells = {}, const QString &page = {})
{
    return SeenPaper{address, PaperMetadata{title, std::move(cells)}, page};
}

DownloadResult done(const QString &address, const QString &path)
{
    DownloadResult r;
    r.address = address;
    r.outcome = DownloadOutcome::Done;
    r.filePath = path;
    r.size = QFileInfo(path).size();
    r.sha256 = FileSha256(path);
    r.finishedAt = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    return r;
}

// Reads a value of the file with a connection of its own, as another tool would.
QVariant rawValue(const QString &path, const QString &sql)
{
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql) && q.next())
                value = q.value(0);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    return value;
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

} // namespace

class TestLibrary : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    QString temporaryFolder() const { return m_dir.path() + QStringLiteral("/tmp"); }
    QString freshPath()
    {
        return m_dir.path() + QStringLiteral("/lib%1/PaperLibrary.db").arg(++m_fileNumber);
    }
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.path() + u'/' + name;
        fntest::writeFile(path, bytes);
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // SQLite takes its folder for temporary files once, before its first use: this test's own.
        QVERIFY(QDir().mkpath(temporaryFolder()));
        qputenv("SQLITE_TMPDIR", QFile::encodeName(temporaryFolder()));
    }

    // A thousand papers' rows, each an upsert with the search index's triggers, are written without one
    // temporary file: the statements' journals stay in memory.
    void rowWritesMakeNoTemporaryFiles()
    {
        PaperLibrary library(freshPath());
        QVERIFY(library.open().ok);
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(::inotify_add_watch(watch, QFile::encodeName(temporaryFolder()).constData(), IN_CREATE) >= 0);
        QList<SeenPaper> many;
        for (int i = 0; i < 1000; ++i)
            many.append(seen(QStringLiteral("http://s/many/p%1.pdf").arg(i), QString()));
        QVERIFY2(library.recordSeen(many), qPrintable(library.lastError()));
        QCOMPARE(library.paperCount(), 1000);
        char events[4096];
        const ssize_t made = ::read(watch, events, sizeof events);
        const int why = errno;
        ::close(watch);
        QCOMPARE(made, ssize_t(-1));
        QCOMPARE(why, EAGAIN);
    }

    void recordsSurviveAReopenInWalMode()
    {
        const QString path = freshPath();
        const QString file = writeFile("a.pdf", "%PDF-1.4 first paper");
        const PaperCells cells{{"作者", "张伟; 王芳"}, {"年份", "2019"}, {"Title", "Deep \"learning\""}};
        {
            PaperLibrary library(path);
            QVERIFY(library.open().ok); // creates the missing folder too
            QVERIFY(
                library.recordSeen({seen("http://s/1.pdf", "第一篇", cells, "http://s/r?p=1"),
                                    seen("http://s/2.pdf", "第二篇"), seen("", "no address is skipped")}));
            QVERIFY(library.recordDownloads({done("http://s/1.pdf", file)}));
        }
        QCOMPARE(rawValue(path, "PRAGMA journal_mode").toString(), QStringLiteral("wal"));
        QCOMPARE(rawValue(path, "PRAGMA user_version").toInt(), PaperLibrary::SchemaVersion);

        PaperLibrary library(path);
        QVERIFY(library.open().ok);
        QCOMPARE(library.paperCount(), 2);
        std::optional<PaperRecord> r = library.record("http://s/1.pdf");
        QVERIFY(r);
        QCOMPARE(r->metadata.title, QStringLiteral("第一篇"));
        QCOMPARE(r->metadata.cells, cells);
        QCOMPARE(r->sourcePage, QStringLiteral("http://s/r?p=1"));
        QVERIFY(r->seenAt.isValid());
        QCOMPARE(r->held.filePath, file);
        QCOMPARE(r->held.size, qint64(20));
        QCOMPARE(r->held.sha256,
                 QString::fromLatin1(
                     QCryptographicHash::hash("%PDF-1.4 first paper", QCryptographicHash::Sha256).toHex()));
        QCOMPARE(r->held.downloadedAt.toMSecsSinceEpoch(), qint64(1700000000123));
        QCOMPARE(r->lastOutcome, DownloadOutcome::Done);

        // Seen again: new title, empty cells keep the old ones, the download stays.
        QVERIFY(library.recordSeen({seen("http://s/1.pdf", "第一篇（修订）")}));
        // A later failure is on record without losing the file that is held.
        DownloadResult failed;
        failed.address = "http://s/1.pdf";
        failed.outcome = DownloadOutcome::Failed;
        failed.reason = "文件不存在";
        QVERIFY(library.recordDownloads({failed}));
        r = library.record("http://s/1.pdf");
        QCOMPARE(r->metadata.title, QStringLiteral("第一篇（修订）"));
        QCOMPARE(r->metadata.cells, cells);
        QCOMPARE(r->held.filePath, file);
        QCOMPARE(r->lastOutcome, DownloadOutcome::Failed);
        QCOMPARE(r->lastReason, QStringLiteral("文件不存在"));
        QVERIFY(library.heldFile("http://s/1.pdf"));

        // A paper never seen, downloaded from a list; a failure alone holds nothing.
        DownloadResult fromList = done("http://s/3.pdf", file);
        fromList.title = "来自列表";
        failed.address = "http://s/4.pdf";
        QVERIFY(library.recordDownloads({fromList, failed}));
        QCOMPARE(library.record("http://s/3.pdf")->metadata.title, QStringLiteral("来自列表"));
        QVERIFY(!library.heldFile("http://s/4.pdf"));
        QVERIFY(!library.heldFile("http://s/2.pdf"));
        QVERIFY(!library.record("http://s/none.pdf"));

        const QList<PaperRecord> some =
            library.records({"http://s/2.pdf", "http://s/none.pdf", "http://s/1.pdf"});
        QCOMPARE(some.size(), 2);
        QCOMPARE(some.at(0).address, QStringLiteral("http://s/2.pdf"));
        const QList<PaperRecord> downloaded = library.downloadedRecords();
        QCOMPARE(downloaded.size(), 2);
        QCOMPARE(downloaded.at(0).address, QStringLiteral("http://s/1.pdf"));
    }

    void whatAPaperPageDeclaredStaysBesideTheResultPage()
    {
        PaperLibrary library(freshPath());
        QVERIFY(library.open().ok);
        const PaperCells cells{{"作者", "张伟"}, {"来源", "测试学报"}};
        QVERIFY(
            library.recordSeen({seen("http://s/landing", "结果页标题", cells), seen("http://s/bare", "")}));
        DownloadResult result = done("http://s/landing", writeFile("l.pdf", "%PDF-1.4 landing"));
        result.declared.title = "Declared title";
        result.declared.cells = {{"作者", "Zhang, Wei"}, {"DOI", "10.1234/abc"}, {"卷", "7"}};
        result.fileAddress = "http://s/files/7.pdf";
        DownloadResult bare = result;
        bare.address = "http://s/bare";
        QVERIFY(library.recordDownloads({result, bare}));

        auto check = [&library](const QString &title) {
            const std::optional<PaperRecord> r = library.record("http://s/landing");
            QVERIFY(r);
            QCOMPARE(r->metadata.title, title);
            QCOMPARE(r->metadata.authors(), QStringLiteral("张伟"));
            QCOMPARE(r->metadata.source(), QStringLiteral("测试学报"));
            QCOMPARE(r->metadata.doi(), QStringLiteral("10.1234/abc"));
            QCOMPARE(r->metadata.volume(), QStringLiteral("7"));
            QCOMPARE(r->fileAddress, QStringLiteral("http://s/files/7.pdf"));
        };
        check(QStringLiteral("结果页标题"));
        // Seen again on a result page, and a later try that met no page: what the page declared stays.
        QVERIFY(library.recordSeen({seen("http://s/landing", "新标题", cells)}));
        DownloadResult failed;
        failed.address = "http://s/landing";
        failed.outcome = DownloadOutcome::Failed;
        QVERIFY(library.recordDownloads({failed}));
        check(QStringLiteral("新标题"));
        // A paper known by its address alone takes the declared title.
        QCOMPARE(library.record("http://s/bare")->metadata.title, QStringLiteral("Declared title"));
    }

    void aVersionOneFileOpensInThisVersion()
    {
        const QString path = freshPath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        // The first release's layout, with one downloaded paper.
        QVERIFY(rawExec(
            path,
            {"CREATE TABLE papers (address TEXT PRIMARY KEY NOT NULL, title TEXT NOT NULL DEFAULT '',"
             " cells TEXT NOT NULL DEFAULT '[]', source_page TEXT NOT NULL DEFAULT '', seen_at INTEGER,"
             " file_path TEXT, file_size INTEGER, sha256 TEXT, downloaded_at INTEGER,"
             " outcome INTEGER NOT NULL DEFAULT 0, reason TEXT NOT NULL DEFAULT '', attempted_at INTEGER)",
             "INSERT INTO papers (address, title, cells, file_path, file_size, sha256, outcome)"
             " VALUES ('http://s/old.pdf', '旧论文', '[[\"年份\",\"2001\"]]', '/x/old.pdf', 5, 'ab', 1)",
             "PRAGMA user_version = 1"}));
        PaperLibrary library(path);
        QVERIFY2(library.open().ok, qPrintable(library.lastError()));
        QCOMPARE(rawValue(path, "PRAGMA user_version").toInt(), PaperLibrary::SchemaVersion);
        const std::optional<PaperRecord> r = library.record("http://s/old.pdf");
        QVERIFY(r);
        QCOMPARE(r->metadata.year(), QStringLiteral("2001"));
        QCOMPARE(library.heldFile("http://s/old.pdf")->filePath, QStringLiteral("/x/old.pdf"));
        QVERIFY(library.saveQueue({QueueRow{"http://s/old.pdf", "旧论文", "pdf", "/x/", "", 1, -1, 0, ""}}));
        QCOMPARE(library.loadQueue().size(), 1);
        // Made before libraries were marked: it is taken as ours and marked.
        QCOMPARE(rawValue(path, "PRAGMA application_id").toInt(), PaperLibrary::ApplicationId);
    }

    void anUnmarkedLibraryOfOursIsAdoptedAndAFreshOneMarked()
    {
        const QString path = freshPath();
        {
            PaperLibrary library(path);
            QVERIFY(library.open().ok);
            QVERIFY(library.recordSeen({seen("http://s/kept.pdf", "留下的")}));
            QVERIFY(library.saveQueue({QueueRow{"http://s/kept.pdf", "", "", "", "", 1, -1, 0, ""}}));
        }
        QCOMPARE(rawValue(path, "PRAGMA application_id").toInt(), PaperLibrary::ApplicationId);
        QCOMPARE(rawValue(path, "PRAGMA user_version").toInt(), PaperLibrary::SchemaVersion);
        // As a library of the last version before the mark was left.
        QVERIFY(rawExec(path, {"PRAGMA application_id = 0"}));
        PaperLibrary library(path);
        QVERIFY2(library.open().ok, qPrintable(library.lastError()));
        QVERIFY(library.record("http://s/kept.pdf"));
        QCOMPARE(library.loadQueue().size(), 1);
        QCOMPARE(rawValue(path, "PRAGMA application_id").toInt(), PaperLibrary::ApplicationId);
    }

    void anotherProgramsDatabaseIsNeverWritten_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<bool>("throughLink");
        const QStringList notes = {"CREATE TABLE notes (id INTEGER PRIMARY KEY, text TEXT)",
                                   "INSERT INTO notes (text) VALUES ('someone else''s note')"};
        QTest::newRow("a database of its own") << notes << false;
        QTest::newRow("a link to it") << notes << true;
        // A reference manager's own "papers" table, versioned as its maker keeps it.
        QTest::newRow("a table of the same name")
            << QStringList{"CREATE TABLE papers (id INTEGER PRIMARY KEY, doi TEXT)",
                           "INSERT INTO papers (doi) VALUES ('10.1000/x')", "PRAGMA user_version = 3"}
            << false;
        QTest::newRow("our tables beside its own")
            << QStringList{"CREATE TABLE papers (address TEXT PRIMARY KEY NOT NULL, title TEXT, cells TEXT,"
                           " source_page TEXT, seen_at INTEGER, file_path TEXT, file_size INTEGER, sha256 "
                           "TEXT,"
                           " downloaded_at INTEGER, outcome INTEGER, reason TEXT, attempted_at INTEGER)",
                           "CREATE TABLE settings (k, v)", "PRAGMA user_version = 1"}
            << false;
        QTest::newRow("marked by another program, with nothing in it")
            << QStringList{"PRAGMA application_id = 1096174669"} << true;
    }

    void anotherProgramsDatabaseIsNeverWritten()
    {
        QFETCH(QStringList, statements);
        QFETCH(bool, throughLink);
        const QString path = freshPath();
        const QString folder = QFileInfo(path).absolutePath();
        const QString theirs = m_dir.path() + QStringLiteral("/theirs%1/their.db").arg(m_fileNumber);
        QDir().mkpath(folder);
        QDir().mkpath(QFileInfo(theirs).absolutePath());
        QVERIFY(rawExec(throughLink ? theirs : path, statements));
        if (throughLink)
            QVERIFY(QFile::link(theirs, path));
        const QString file = throughLink ? theirs : path;
        const QByteArray before = fntest::readFile(file);
        const QStringList entriesBefore = QDir(folder).entryList(QDir::AllEntries | QDir::System);

        PaperLibrary library(path);
        const PaperLibrary::OpenResult r = library.open();
        QVERIFY(!r.ok);
        QVERIFY2(r.message.startsWith(QStringLiteral("无法打开文献资料库“%1”").arg(path)),
                 qPrintable(r.message));
        QVERIFY2(r.message.contains(QStringLiteral("另一个程序的数据库")), qPrintable(r.message));
        QVERIFY(r.setAsidePath.isEmpty());
        QVERIFY(!library.isOpen());
        QVERIFY(!library.recordSeen({seen("http://s/1.pdf", "x")}));
        QVERIFY(!library.saveQueue({QueueRow{"http://s/1.pdf", "", "", "", "", 1, -1, 0, ""}}));
        // Not a byte of it changed, not even the journal mode, and nothing was made or moved beside it.
        QCOMPARE(fntest::readFile(file), before);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::System), entriesBefore);
        QVERIFY(!QFileInfo::exists(file + QStringLiteral("-wal")));
        QCOMPARE(rawValue(file, "PRAGMA journal_mode").toString(), QStringLiteral("delete"));
        // Asked again, it says the same.
        QCOMPARE(library.open().message, r.message);
    }

    void aFileFromANewerVersionIsLeftAlone()
    {
        const QString path = freshPath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(
            rawExec(path, {"CREATE TABLE future (x)", "PRAGMA user_version = 99",
                           QStringLiteral("PRAGMA application_id = %1").arg(PaperLibrary::ApplicationId)}));
        const QByteArray before = fntest::readFile(path);
        PaperLibrary library(path);
        const PaperLibrary::OpenResult r = library.open();
        QVERIFY(!r.ok);
        QVERIFY(r.message.contains(QStringLiteral("较新版本")));
        QVERIFY(r.setAsidePath.isEmpty());
        QVERIFY(!library.recordSeen({seen("http://s/1.pdf", "x")}));
        QCOMPARE(fntest::readFile(path), before);
    }

    void aDamagedFileIsSetAsideAndAFreshOneMade_data()
    {
        QTest::addColumn<bool>("wholeFile");
        QTest::newRow("not a database at all") << true;
        QTest::newRow("a database with damaged pages") << false;
    }

    void aDamagedFileIsSetAsideAndAFreshOneMade()
    {
        QFETCH(bool, wholeFile);
        const QString path = freshPath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (wholeFile) {
            fntest::writeFile(path, QByteArray("this was never a database ").repeated(400));
        } else {
            PaperLibrary library(path);
            QVERIFY(library.open().ok);
            QList<SeenPaper> many;
            for (int i = 0; i < 2000; ++i)
                many.append(seen(QStringLiteral("http://s/%1.pdf").arg(i),
                                 QStringLiteral("论文 %1").arg(i).repeated(8)));
            QVERIFY(library.recordSeen(many));
            library.close(); // the last connection folds the journal into the file
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.size() > 64 * 1024);
            f.seek(3 * 4096);
            f.write(QByteArray(8 * 4096, '\x5a'));
        }
        const QByteArray damaged = fntest::readFile(path);

        PaperLibrary library(path);
        const PaperLibrary::OpenResult r = library.open();
        QVERIFY2(r.ok, qPrintable(r.message));
        QVERIFY(!r.setAsidePath.isEmpty());
        QVERIFY(r.setAsidePath.startsWith(path + ".damaged-" + QDate::currentDate().toString("yyyyMMdd")));
        QVERIFY(r.message.contains(r.setAsidePath));
        QCOMPARE(fntest::readFile(r.setAsidePath), damaged); // nothing lost
        QCOMPARE(library.paperCount(), 0);
        QVERIFY(library.recordSeen({seen("http://s/new.pdf", "新的")}));
        QCOMPARE(library.paperCount(), 1);
    }

    void theQueueRoundTrips()
    {
        PaperLibrary library(freshPath());
        QVERIFY(library.open().ok);
        QCOMPARE(library.loadQueue(), QList<QueueRow>{});
        const QList<QueueRow> rows{
            {"http://s/1.pdf", "基于深度学习的古籍文字识别", "pdf", "/home/u/论文/", "http://s/r?q=1&p=2", 3,
             123456, 123456, ""},
            {"http://s/2.pdf", QString(), "pdf", QString(), QString(), 4, -1, 0, "文件不存在"},
            {"http://s/3.pdf", "Tab\there, quote \" and 'x'", "caj", "/t/", "", 1, 5000000000LL, 42,
             "等待重新下载"}};
        QVERIFY(library.saveQueue(rows));
        QList<QueueRow> back = library.loadQueue();
        QCOMPARE(back.size(), 3);
        QCOMPARE(back.at(0), rows.at(0));
        QCOMPARE(back.at(2), rows.at(2));
        QCOMPARE(back.at(1).name, QString(""));
        QCOMPARE(back.at(1).totalBytes, qint64(-1));
        // Saving replaces the whole queue; an empty list empties it.
        QVERIFY(library.saveQueue({rows.at(2)}));
        QCOMPARE(library.loadQueue(), QList<QueueRow>{rows.at(2)});
        QVERIFY(library.saveQueue({}));
        QVERIFY(library.loadQueue().isEmpty());
    }

    // A row of a reference list comes back with the identifier it is listed under and the way its address
    // came by; a queue saved before they were kept opens with both empty.
    void aListedRowKeepsItsIdentifierAndAnOlderQueueOpens()
    {
        const QString path = freshPath();
        QueueRow listed{"https://doi.org/10.1000/Abc", "Listed", "pdf", "/p/", "", 1, -1, 0, ""};
        listed.identifier = QStringLiteral("10.1000/Abc");
        listed.origin = QStringLiteral("DOI resolver");
        {
            PaperLibrary library(path);
            QVERIFY(library.open().ok);
            QVERIFY(library.saveQueue({listed}));
            QCOMPARE(library.loadQueue(), QList<QueueRow>{listed});
        }
        QVERIFY(rawExec(path, {"ALTER TABLE queue DROP COLUMN identifier",
                               "ALTER TABLE queue DROP COLUMN origin", "PRAGMA user_version = 8"}));
        PaperLibrary library(path);
        QVERIFY2(library.open().ok, qPrintable(library.lastError()));
        QCOMPARE(rawValue(path, "PRAGMA user_version").toInt(), PaperLibrary::SchemaVersion);
        const QList<QueueRow> back = library.loadQueue();
        QCOMPARE(back.size(), 1);
        QCOMPARE(back.first().address, listed.address);
        QVERIFY(back.first().identifier.isEmpty());
        QVERIFY(back.first().origin.isEmpty());
        QVERIFY(library.saveQueue({listed}));
        QCOMPARE(library.loadQueue(), QList<QueueRow>{listed});
    }

    void heldMeansTheRecordedFileUnchanged()
    {
        PaperLibrary library(freshPath());
        QVERIFY(library.open().ok);
        const QString path = writeFile("held.pdf", QByteArray("%PDF-1.7 ") + QByteArray(200000, 'x'));
        QVERIFY(library.recordDownloads({done("http://s/held.pdf", path)}));
        const std::optional<HeldFile> held = library.heldFile("http://s/held.pdf");
        QVERIFY(held);
        QCOMPARE(held->filePath, path);
        // The check reads the file on a worker thread, as the program does.
        QCOMPARE(std::async(std::launch::async, [h = *held] { return CheckHeldFile(h); }).get(),
                 HeldVerdict::Held);
        QVERIFY(IsHeld(*held));

        // Same size, one byte changed.
        QByteArray changed = fntest::readFile(path);
        changed[100] = 'y';
        fntest::writeFile(path, changed);
        QCOMPARE(CheckHeldFile(*held), HeldVerdict::Changed);
        fntest::writeFile(path, "short");
        QCOMPARE(CheckHeldFile(*held), HeldVerdict::Changed);
        QFile::remove(path);
        QCOMPARE(CheckHeldFile(*held), HeldVerdict::Missing);
        QDir().mkpath(path); // a folder of that name is not the file
        QCOMPARE(CheckHeldFile(*held), HeldVerdict::Missing);
        QCOMPARE(CheckHeldFile(HeldFile{}), HeldVerdict::NotRecorded);

        std::atomic_bool cancel = true;
        QCOMPARE(FileSha256(writeFile("c.pdf", "abc"), &cancel), QString());
        QCOMPARE(FileSha256(m_dir.path() + "/c.pdf"),
                 QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    }

    // The check's verdict is kept with each held file; a file found damaged later is held no more, and the
    // verdict of a version-five file's papers is simply not known.
    void theCheckOfAHeldFileIsKept()
    {
        const QString path = freshPath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(rawExec(path, {"CREATE TABLE papers (address TEXT PRIMARY KEY NOT NULL, title TEXT NOT NULL "
                               "DEFAULT '', cells TEXT NOT NULL DEFAULT '[]', source_page TEXT NOT NULL "
                               "DEFAULT '', seen_at INTEGER, file_path TEXT, file_size INTEGER, sha256 TEXT,"
                               " downloaded_at INTEGER, outcome INTEGER NOT NULL DEFAULT 0, reason TEXT NOT "
                               "NULL DEFAULT '', attempted_at INTEGER)",
                               "INSERT INTO papers (address, file_path, file_size, outcome)"
                               " VALUES ('http://s/old.pdf', '/x/old.pdf', 5, 1)",
                               "PRAGMA user_version = 1"}));
        PaperLibrary library(path);
        QVERIFY2(library.open().ok, qPrintable(library.lastError()));
        QCOMPARE(rawValue(path, "SELECT pages FROM papers WHERE address = 'http://s/old.pdf'").toInt(), -1);
        QVERIFY(rawValue(path, "SELECT checked_at FROM papers WHERE address = 'http://s/old.pdf'").isNull());
        QVERIFY(library.heldFile("http://s/old.pdf"));

        DownloadResult repaired = done("http://s/r.pdf", writeFile("r.pdf", "%PDF-1.4 repaired"));
        repaired.pdf = QStringLiteral("repaired");
        repaired.pdfPages = 3;
        DownloadResult plain = done("http://s/data.bin", writeFile("data.bin", "not a pdf"));
        QVERIFY(library.recordDownloads({repaired, plain}));
        QCOMPARE(rawValue(path, "SELECT pdf || ' ' || pages FROM papers WHERE address = 'http://s/r.pdf'"),
                 QVariant(QStringLiteral("repaired 3")));
        QCOMPARE(
            rawValue(path, "SELECT checked_at FROM papers WHERE address = 'http://s/r.pdf'").toLongLong(),
            1700000000123LL);
        QVERIFY(rawValue(path, "SELECT checked_at FROM papers WHERE address = 'http://s/data.bin'").isNull());

        QVERIFY(library.recordPdfChecks({{repaired.filePath, QStringLiteral("damaged"), -1, {}},
                                         {QStringLiteral("/x/old.pdf"), QStringLiteral("whole"), 2, {}}}));
        QVERIFY(!library.heldFile("http://s/r.pdf"));
        QVERIFY(library.heldFile("http://s/data.bin"));
        QCOMPARE(rawValue(path, "SELECT pdf || ' ' || pages FROM papers WHERE address = 'http://s/old.pdf'"),
                 QVariant(QStringLiteral("whole 2")));
    }

    void twoProgramsWriteAtOnceWithoutDamage()
    {
        const QString path = freshPath();
        {
            PaperLibrary first(path);
            QVERIFY(first.open().ok);
        }
        QProcess other;
        other.start(FN_LIBRARY_HELPER, {"write", path, "other", "1500"});
        QVERIFY(other.waitForStarted());
        PaperLibrary library(path);
        library.setBusyTimeoutMs(20000);
        QVERIFY(library.open().ok);
        for (int chunk = 0; chunk < 60; ++chunk) {
            QList<SeenPaper> batch;
            for (int i = 0; i < 25; ++i)
                batch.append(seen(QStringLiteral("http://site/mine/%1.pdf").arg(chunk * 25 + i), "mine"));
            QVERIFY2(library.recordSeen(batch), qPrintable(library.lastError()));
        }
        QVERIFY(other.waitForFinished(60000));
        QCOMPARE(other.readAllStandardOutput().trimmed(), QByteArray("ok"));
        QCOMPARE(library.paperCount(), 3000);
        library.close();
        QCOMPARE(rawValue(path, "PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    }

    void aSecondProgramWaitsAndThenSaysSoClearly()
    {
        const QString path = freshPath();
        {
            PaperLibrary first(path);
            QVERIFY(first.open().ok);
        }
        auto holdLock = [&](QProcess &other, int ms) {
            other.start(FN_LIBRARY_HELPER, {"hold", path, QString::number(ms)});
            if (!other.waitForReadyRead(20000))
                return false;
            const QByteArray line = other.readLine().trimmed();
            if (line != "held")
                qWarning() << "helper:" << line;
            return line == "held";
        };

        // A short hold: the write waits for it and goes through.
        PaperLibrary patient(path);
        patient.setBusyTimeoutMs(20000);
        QVERIFY(patient.open().ok);
        QProcess shortHold;
        QVERIFY(holdLock(shortHold, 600));
        QElapsedTimer waited;
        waited.start();
        QVERIFY2(patient.recordSeen({seen("http://s/after-wait.pdf", "waited")}),
                 qPrintable(patient.lastError()));
        QVERIFY(waited.elapsed() >= 300);
        QVERIFY(shortHold.waitForFinished(20000));
        patient.close();

        // A long hold outlasts the wait: the call fails and says why; nothing is half-written.
        PaperLibrary hasty(path);
        hasty.setBusyTimeoutMs(200);
        QVERIFY(hasty.open().ok);
        QProcess longHold;
        QVERIFY(holdLock(longHold, 4000));
        QVERIFY(!hasty.recordSeen({seen("http://s/refused.pdf", "refused")}));
        QVERIFY(hasty.lastError().contains(QStringLiteral("另一个正在运行的本程序")));
        QVERIFY(!hasty.saveQueue({QueueRow{"http://s/q.pdf"}}));
        QVERIFY(longHold.waitForFinished(20000));
        QCOMPARE(longHold.readAllStandardOutput().trimmed(), QByteArray("ok"));
        QVERIFY(hasty.recordSeen({seen("http://s/later.pdf", "later")}));
        QVERIFY(hasty.lastError().isEmpty());
        QVERIFY(hasty.record("http://site/held.pdf"));
        QVERIFY(hasty.record("http://s/after-wait.pdf"));
        QVERIFY(!hasty.record("http://s/refused.pdf"));
        QCOMPARE(hasty.paperCount(), 3);
        hasty.close();
        QCOMPARE(rawValue(path, "PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    }
};

FN_TEST_MAIN_CORE(TestLibrary)
#include "tst_library.moc"
