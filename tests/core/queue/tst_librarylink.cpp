// The queue with the paper library: papers held from an earlier run end without a request (in another
// folder too, and not once their file changed or went), every outcome is on record with its hash or its
// reason, the list is kept across runs, and exports name each row's own file.
#include "core/library/paperlibrary.h"
#include "core/queue/downloadcommands.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/exportrecords.h"
#include "core/queue/heldrowchecker.h"
#include "core/queue/libraryrecorder.h"
#include "core/queue/queuekeeper.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/targetfile.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "testenv.h"
#include "testrows.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>

Q_DECLARE_METATYPE(DuplicatePolicy)

using Reply = FaultServer::Reply;

namespace {

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// One run of the queue as a window or a batch run makes it, on the library given.
struct Run
{
    DownloadListModel model;
    DownloadScheduler scheduler{TestRows::of(model)};
    LibraryRecorder recorder;
    HeldRowChecker checker;

    Run(PaperLibrary *library, int method) : recorder(library, &scheduler), checker(library)
    {
        checker.attach(&scheduler);
        scheduler.options().method = methodFromNumber(method);
        scheduler.options().threadCount = method == 1 ? 1 : 3;
        scheduler.options().storePolicy = false;
    }

    RowId add(const QUrl &address, const QString &name, const QString &folder)
    {
        DownloadRow row;
        row.key = address.toString();
        row.name = name;
        row.type = QStringLiteral("pdf");
        row.folder = folder;
        return TestRows::of(model).addRow(row);
    }

    // Starts the queue and waits until every row has ended and its outcome is on record.
    bool runToEnd()
    {
        QSignalSpy finished(&scheduler, &DownloadScheduler::queueFinished);
        scheduler.start();
        if (!finished.wait(20000) && finished.isEmpty())
            return false;
        return QTest::qWaitFor([this] { return recorder.isIdle() && checker.pendingCount() == 0; }, 20000);
    }
};

} // namespace

class TestLibraryLink : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PaperLibrary> m_library;

    QString folder(const char *name) const
    {
        const QString path = m_dir->path() + u'/' + QLatin1String(name) + u'/';
        QDir().mkpath(path);
        return path;
    }
    QUrl paper(int n) const { return m_server.url(QStringLiteral("/lib/%1.pdf").arg(n)); }
    static QByteArray paperBytes(int n)
    {
        return QByteArray("%PDF-1.4\n") + QByteArray(30000 + n, char('a' + n));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        for (int n = 1; n <= 4; ++n) {
            Reply reply;
            reply.body = paperBytes(n);
            m_server.setReply(QStringLiteral("/lib/%1.pdf").arg(n), reply);
        }
        Reply missing;
        missing.status = 404;
        missing.reason = "Not Found";
        missing.contentType = "text/html";
        missing.body = "<html>no such paper</html>";
        m_server.setReply(QStringLiteral("/lib/404.pdf"), missing);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_library = std::make_unique<PaperLibrary>(m_dir->path() + QStringLiteral("/lib/PaperLibrary.db"));
        QVERIFY(m_library->open().ok);
        m_server.clearRequests();
    }

    void cleanup()
    {
        m_library.reset();
        m_dir.reset();
    }

    void heldPapersEndWithoutARequestAcrossRunsAndFolders_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void heldPapersEndWithoutARequestAcrossRunsAndFolders()
    {
        QFETCH(int, method);
        const QString first = folder("first");
        const QString second = folder("second");
        {
            // The first run: an empty library holds nothing, so every row is fetched and recorded.
            Run run(m_library.get(), method);
            for (int n = 1; n <= 4; ++n)
                run.add(paper(n), QStringLiteral("paper %1").arg(n), first);
            run.add(m_server.url(QStringLiteral("/lib/404.pdf")), QStringLiteral("gone"), first);
            QVERIFY(run.runToEnd());
            QCOMPARE(run.model.totals().done, 4);
        }
        for (int n = 1; n <= 4; ++n) {
            const std::optional<HeldFile> held = m_library->heldFile(paper(n).toString());
            QVERIFY(held);
            QCOMPARE(held->filePath, first + QStringLiteral("paper %1.pdf").arg(n));
            QCOMPARE(held->sha256, sha256(paperBytes(n)));
            QCOMPARE(held->size, paperBytes(n).size());
        }
        const std::optional<PaperRecord> failed = m_library->record(m_server.url("/lib/404.pdf").toString());
        QVERIFY(failed && failed->held.isEmpty());
        QCOMPARE(failed->lastOutcome, DownloadOutcome::Failed);
        QVERIFY2(failed->lastReason.contains(QStringLiteral("404")), qPrintable(failed->lastReason));

        // Between the runs paper 2 changes (same length, other bytes) and paper 3 goes.
        QByteArray changed = paperBytes(2);
        changed[changed.size() - 1] = 'z';
        fntest::writeFile(first + QStringLiteral("paper 2.pdf"), changed);
        QVERIFY(QFile::remove(first + QStringLiteral("paper 3.pdf")));
        m_server.clearRequests();

        Run again(m_library.get(), method);
        QList<RowId> ids;
        for (int n = 1; n <= 4; ++n)
            ids.append(again.add(paper(n), QStringLiteral("paper %1").arg(n), second));
        QSignalSpy ended(&again.scheduler, &DownloadScheduler::rowEnded);
        QVERIFY(again.runToEnd());
        QCOMPARE(again.model.totals().done, 4);
        QCOMPARE(ended.count(), 4);
        for (int n : {1, 4}) {
            // Held: done on the file of the first run, in its folder, without a request.
            const DownloadRow *row = again.model.find(ids.at(n - 1));
            QCOMPARE(m_server.requestCount(paper(n).path()), 0);
            QCOMPARE(row->percentNote, PercentNote::Held);
            QCOMPARE(row->percentText(), QStringLiteral("已下载过"));
            QCOMPARE(rowFilePath(*row), first + QStringLiteral("paper %1.pdf").arg(n));
            QCOMPARE(row->size, paperBytes(n).size());
            QVERIFY(!QFileInfo::exists(second + QStringLiteral("paper %1.pdf").arg(n)));
        }
        for (int n : {2, 3}) {
            // Changed or gone: fetched again into the new folder, and that file is on record now.
            const DownloadRow *row = again.model.find(ids.at(n - 1));
            QCOMPARE(m_server.requestCount(paper(n).path()), 1);
            QCOMPARE(row->percentNote, PercentNote::None);
            QCOMPARE(fntest::readFile(second + QStringLiteral("paper %1.pdf").arg(n)), paperBytes(n));
            QCOMPARE(m_library->heldFile(paper(n).toString())->filePath,
                     second + QStringLiteral("paper %1.pdf").arg(n));
        }
        QCOMPARE(fntest::readFile(first + QStringLiteral("paper 2.pdf")), changed);

        // Without the option (or without a library) the same rows are fetched as ever.
        m_server.clearRequests();
        Run off(m_library.get(), method);
        off.checker.setEnabled(false);
        off.add(paper(1), QStringLiteral("paper 1"), folder("third"));
        QVERIFY(off.runToEnd());
        QCOMPARE(m_server.requestCount(paper(1).path()), 1);
        Run none(nullptr, method);
        none.add(paper(4), QStringLiteral("paper 4"), folder("fourth"));
        QVERIFY(none.runToEnd());
        QCOMPARE(m_server.requestCount(paper(4).path()), 1);
    }

    // The hashes taken for the library are handed on (to a batch run's manifest) only for the very file
    // that was hashed: a file changed or replaced since is read again by whoever asks.
    void recordedHashesAreKnownOnlyForTheSameFile()
    {
        const QString here = folder("known");
        Run run(m_library.get(), 2);
        run.recorder.setKeepHashes(true);
        for (int n = 1; n <= 3; ++n)
            run.add(paper(n), QStringLiteral("k%1").arg(n), here);
        QVERIFY(run.runToEnd());
        for (int n = 1; n <= 3; ++n)
            QCOMPARE(run.recorder.knownSha256(here + QStringLiteral("k%1.pdf").arg(n)),
                     sha256(paperBytes(n)));
        QByteArray changed = paperBytes(1);
        changed[changed.size() - 1] = 'z';
        fntest::writeFile(here + QStringLiteral("k1.pdf"), changed);
        QVERIFY(QFile::remove(here + QStringLiteral("k2.pdf")));
        QVERIFY(QFile::copy(here + QStringLiteral("k3.pdf"), here + QStringLiteral("k2.pdf")));
        QCOMPARE(run.recorder.knownSha256(here + QStringLiteral("k1.pdf")), QString());
        QCOMPARE(run.recorder.knownSha256(here + QStringLiteral("k2.pdf")), QString());
        QCOMPARE(run.recorder.knownSha256(here + QStringLiteral("k3.pdf")), sha256(paperBytes(3)));

        Run unkept(m_library.get(), 2);
        unkept.add(paper(4), QStringLiteral("k4"), here);
        QVERIFY(unkept.runToEnd());
        QCOMPARE(unkept.recorder.knownSha256(here + QStringLiteral("k4.pdf")), QString());
    }

    // A finished file goes on record with the SHA-256 of exactly the bytes under its name, however its
    // transfer went: at one go, continued after a break from the bytes kept, started over because the
    // file changed meanwhile, or tried again from the start on a server that cannot continue.
    void theRecordedHashIsOfTheFileUnderTheName_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("method 1") << 1;
        QTest::newRow("method 2") << 2;
    }
    void theRecordedHashIsOfTheFileUnderTheName()
    {
        QFETCH(int, method);
        const QString here = folder("hashes");
        const QByteArray whole = paperBytes(5);
        const QByteArray newer = paperBytes(6);
        const auto reply = [](const QByteArray &body, const QByteArray &etag, qint64 closeAfter) {
            Reply r;
            r.body = body;
            r.ranges = !etag.isEmpty();
            r.etag = etag;
            r.closeAfter = closeAfter;
            return r;
        };
        m_server.setReplies("/h/fresh.pdf", {reply(whole, "\"v1\"", -1)});
        m_server.setReplies("/h/resumed.pdf", {reply(whole, "\"v1\"", 12000), reply(whole, "\"v1\"", -1)});
        m_server.setReplies("/h/changed.pdf", {reply(whole, "\"v1\"", 12000), reply(newer, "\"v2\"", -1)});
        m_server.setReplies("/h/retried.pdf", {reply(whole, {}, 12000), reply(newer, {}, -1)});
        const QList<std::pair<QString, QByteArray>> expected{
            {"fresh", whole}, {"resumed", whole}, {"changed", newer}, {"retried", newer}};

        Run run(m_library.get(), method);
        run.scheduler.options().retries = 2;
        for (const auto &[name, bytes] : expected)
            run.add(m_server.url("/h/" + name + ".pdf"), name, here);
        QVERIFY(run.runToEnd());
        // The break was continued from the kept bytes, and the change started over.
        QByteArrayList ranges;
        for (const FaultServer::Request &request : m_server.requests()) {
            if (request.path == "/h/resumed.pdf" || request.path == "/h/changed.pdf")
                ranges.append(request.headers.value("range"));
        }
        std::sort(ranges.begin(), ranges.end());
        QCOMPARE(ranges, (QByteArrayList{"", "", "bytes=12000-", "bytes=12000-"}));
        for (const auto &[name, bytes] : expected) {
            const std::optional<HeldFile> held =
                m_library->heldFile(m_server.url("/h/" + name + ".pdf").toString());
            QVERIFY2(held, qPrintable(name));
            QCOMPARE(held->filePath, here + name + QStringLiteral(".pdf"));
            QCOMPARE(fntest::readFile(held->filePath), bytes);
            QCOMPARE(held->size, bytes.size());
            QCOMPARE(held->sha256, sha256(bytes));
        }
    }

    // The library's writes never hold up the queue's thread: while another program holds the write lock
    // the papers still finish and the thread goes on, and their outcomes are on record once the lock is
    // released. A recorder that goes away right after the last paper (the window closes) writes them all
    // the same.
    void outcomesReachTheLibraryOffTheEventLoopAndAfterTheEnd()
    {
        const QString here = folder("late");
        m_library->setBusyTimeoutMs(20000);
        {
            QSqlDatabase holder =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            holder.setDatabaseName(m_library->path());
            QVERIFY(holder.open());
            QVERIFY(QSqlQuery(holder).exec(QStringLiteral("BEGIN IMMEDIATE")));
            Run run(m_library.get(), 2);
            run.add(paper(1), QStringLiteral("l1"), here);
            run.add(paper(2), QStringLiteral("l2"), here);
            QSignalSpy finished(&run.scheduler, &DownloadScheduler::queueFinished);
            run.scheduler.start();
            QVERIFY(finished.wait(20000));
            QElapsedTimer held;
            held.start();
            QTest::qWait(500); // the write waits on the lock meanwhile, on its own thread
            QVERIFY2(held.elapsed() < 10000, qPrintable(QString::number(held.elapsed())));
            QVERIFY(!run.recorder.isIdle());
            QVERIFY(!m_library->heldFile(paper(1).toString()));
            QVERIFY(QSqlQuery(holder).exec(QStringLiteral("COMMIT")));
            QVERIFY(QTest::qWaitFor([&run] { return run.recorder.isIdle(); }, 20000));
            holder.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        {
            Run run(m_library.get(), 2);
            run.add(paper(3), QStringLiteral("l3"), here);
            run.add(paper(4), QStringLiteral("l4"), here);
            QSignalSpy finished(&run.scheduler, &DownloadScheduler::queueFinished);
            run.scheduler.start();
            QVERIFY(finished.wait(20000));
        }
        for (int n = 1; n <= 4; ++n) {
            const std::optional<HeldFile> held = m_library->heldFile(paper(n).toString());
            QVERIFY2(held, qPrintable(QString::number(n)));
            QCOMPARE(held->filePath, here + QStringLiteral("l%1.pdf").arg(n));
            QCOMPARE(held->sha256, sha256(paperBytes(n)));
        }
    }

    // The timed save of the list waits on another program's write lock on its own thread, and the save at
    // the close comes after it: the library ends with the list as it was last, never an older one.
    void theListIsSavedOffTheEventLoopAndTheLastSaveWins()
    {
        m_library->setBusyTimeoutMs(20000);
        DownloadListModel model;
        QueueKeeper keeper(m_library.get(), &model);
        QVERIFY(keeper.savedRows().isEmpty());
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(m_library->path());
        QVERIFY(holder.open());
        QVERIFY(QSqlQuery(holder).exec(QStringLiteral("BEGIN IMMEDIATE")));
        DownloadRow row;
        row.key = QStringLiteral("http://site/first");
        row.name = QStringLiteral("first");
        const RowId first = TestRows::of(model).addRow(row);
        model.flushChanges();
        QElapsedTimer held;
        held.start();
        QTest::qWait(QueueKeeper::SaveDelayMs + 500); // the timed save starts and waits on the lock
        QVERIFY2(held.elapsed() < 10000, qPrintable(QString::number(held.elapsed())));
        TestRows::of(model).removeRow(first);
        row.key = QStringLiteral("http://site/second");
        row.name = QStringLiteral("second");
        TestRows::of(model).addRow(row);
        model.flushChanges();
        QVERIFY(QSqlQuery(holder).exec(QStringLiteral("COMMIT")));
        holder.close();
        QVERIFY(keeper.saveNow());
        QTest::qWait(50); // the earlier save's answer arrives and counts for nothing
        QCOMPARE(m_library->loadQueue().size(), 1);
        QCOMPARE(m_library->loadQueue().first().address, QStringLiteral("http://site/second"));
        holder = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    }

    void theLibraryIsAskedOffTheEventLoop_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<DuplicatePolicy>("policy");
        for (int method : {1, 2}) {
            QTest::newRow(qPrintable(QStringLiteral("method %1, skip").arg(method)))
                << method << DuplicatePolicy::Skip;
            QTest::newRow(qPrintable(QStringLiteral("method %1, overwrite").arg(method)))
                << method << DuplicatePolicy::Overwrite;
        }
    }
    // No row's start reads the library or looks at the disk on the event loop's thread, and the answers
    // read elsewhere decide as ever. Held from before: a paper whose file is as recorded ends without a
    // request, one whose file changed or that the library does not know is fetched. At the target: a
    // file the library holds for another paper is neither skipped on nor replaced, while a row's own
    // earlier file and a file the library never saw are skipped on or replaced as the policy says.
    void theLibraryIsAskedOffTheEventLoop()
    {
        QFETCH(int, method);
        QFETCH(DuplicatePolicy, policy);
        const QString earlier = folder("earlier");
        const QString where = folder("target");
        auto record = [this](int n, const QString &path) {
            fntest::writeFile(path, paperBytes(n));
            DownloadResult done;
            done.address = paper(n).toString();
            done.filePath = path;
            done.size = paperBytes(n).size();
            done.sha256 = sha256(paperBytes(n));
            return m_library->recordDownloads({done});
        };
        QVERIFY(record(1, earlier + QStringLiteral("held.pdf")));
        QVERIFY(record(2, earlier + QStringLiteral("changed.pdf")));
        QByteArray changed = paperBytes(2);
        changed[changed.size() - 1] = 'z';
        fntest::writeFile(earlier + QStringLiteral("changed.pdf"), changed);
        QVERIFY(record(3, where + QStringLiteral("own.pdf")));
        fntest::writeFile(where + QStringLiteral("stray.pdf"), QByteArray("another program's"));

        const int reads = libraryReadsOnMainThread();
        const int looks = diskLooksOnMainThread();
        Run held(m_library.get(), method);
        const RowId one = held.add(paper(1), QStringLiteral("one"), where);
        const RowId two = held.add(paper(2), QStringLiteral("two"), folder("fresh"));
        const RowId four = held.add(paper(4), QStringLiteral("four"), folder("fresh"));
        QVERIFY(held.runToEnd());
        QCOMPARE(held.model.find(one)->percentNote, PercentNote::Held);
        QCOMPARE(rowFilePath(*held.model.find(one)), earlier + QStringLiteral("held.pdf"));
        QCOMPARE(m_server.requestCount(paper(1).path()), 0);
        for (RowId fetched : {two, four})
            QCOMPARE(held.model.find(fetched)->percentNote, PercentNote::None);
        QCOMPARE(m_server.requestCount(paper(2).path()), 1);
        QCOMPARE(m_server.requestCount(paper(4).path()), 1);
        QCOMPARE(libraryReadsOnMainThread(), reads);
        QCOMPARE(diskLooksOnMainThread(), looks);

        m_server.clearRequests();
        QVERIFY(record(2, where + QStringLiteral("taken.pdf"))); // paper 2's, as far as the library knows
        Run target(m_library.get(), method);
        target.checker.setEnabled(false);
        AttachForeignFileTest(&target.scheduler, m_library.get());
        target.scheduler.options().policy = policy;
        const RowId foreign = target.add(paper(1), QStringLiteral("taken"), where);
        const RowId own = target.add(paper(3), QStringLiteral("own"), where);
        const RowId stray = target.add(paper(4), QStringLiteral("stray"), where);
        const int readsBefore = libraryReadsOnMainThread();
        const int looksBefore = diskLooksOnMainThread();
        QVERIFY(target.runToEnd());
        QCOMPARE(libraryReadsOnMainThread(), readsBefore);
        QCOMPARE(diskLooksOnMainThread(), looksBefore);
        QCOMPARE(target.model.find(foreign)->name, QStringLiteral("taken[001]"));
        QCOMPARE(fntest::readFile(where + QStringLiteral("taken.pdf")), paperBytes(2));
        QCOMPARE(fntest::readFile(where + QStringLiteral("taken[001].pdf")), paperBytes(1));
        const bool skip = policy == DuplicatePolicy::Skip;
        for (RowId kept : {own, stray}) {
            const DownloadRow *row = target.model.find(kept);
            QCOMPARE(row->state, RowState::Done);
            QCOMPARE(row->percentNote, skip ? PercentNote::Skipped : PercentNote::None);
            QVERIFY(!row->name.endsWith(u']'));
        }
        QCOMPARE(m_server.requestCount(paper(3).path()), skip ? 0 : 1);
        QCOMPARE(fntest::readFile(where + QStringLiteral("stray.pdf")),
                 skip ? QByteArray("another program's") : paperBytes(4));
    }

    // An answer may name another type than the row had. The library was asked about that name too when
    // the row started, so a file there that the library holds for this very paper is replaced as the
    // policy says, and one it holds for another paper is not.
    void anotherTypeNamesAFileTheLibraryKnows()
    {
        const QString where = folder("typed");
        Reply caj;
        caj.contentType = "application/caj";
        caj.body = QByteArray("CAJ") + QByteArray(40000, 'c');
        m_server.setReply(QStringLiteral("/typed/7"), caj);
        m_server.setReply(QStringLiteral("/typed/8"), caj);
        auto record = [this](const QString &address, const QString &path, const QByteArray &bytes) {
            fntest::writeFile(path, bytes);
            DownloadResult done;
            done.address = address;
            done.filePath = path;
            done.size = bytes.size();
            done.sha256 = sha256(bytes);
            return m_library->recordDownloads({done});
        };
        const QString seven = m_server.url(QStringLiteral("/typed/7")).toString();
        QVERIFY(record(seven, where + QStringLiteral("seven.caj"), QByteArray("an earlier try")));
        QVERIFY(record(QStringLiteral("http://elsewhere.invalid/9"), where + QStringLiteral("eight.caj"),
                       QByteArray("paper nine")));
        Run run(m_library.get(), 1);
        run.checker.setEnabled(false);
        AttachForeignFileTest(&run.scheduler, m_library.get());
        run.scheduler.options().policy = DuplicatePolicy::Overwrite;
        const RowId own = run.add(QUrl(seven), QStringLiteral("seven"), where);
        const RowId other = run.add(m_server.url(QStringLiteral("/typed/8")), QStringLiteral("eight"), where);
        QVERIFY(run.runToEnd());
        QCOMPARE(run.model.find(own)->name, QStringLiteral("seven"));
        QCOMPARE(fntest::readFile(where + QStringLiteral("seven.caj")), caj.body);
        QVERIFY(!QFileInfo::exists(where + QStringLiteral("seven[001].caj")));
        QCOMPARE(run.model.find(other)->name, QStringLiteral("eight[001]"));
        QCOMPARE(fntest::readFile(where + QStringLiteral("eight.caj")), QByteArray("paper nine"));
    }

    // The rows asked about in one turn are answered together by one read, a long list a part at a time,
    // and each is passed over until its answer is in.
    void rowsAreAskedAboutTogether()
    {
        HeldRowChecker checker(m_library.get());
        QSignalSpy answered(&checker, &HeldRowChecker::answered);
        QList<DownloadRow> rows;
        for (int i = 0; i < HeldRowChecker::RowsPerRead + 10; ++i) {
            DownloadRow row;
            row.id = RowId(i + 1);
            row.key = QStringLiteral("http://site/%1.pdf").arg(i);
            rows.append(row);
        }
        for (const DownloadRow &row : rows)
            QCOMPARE(checker.check(row).kind, HeldAnswer::Kind::Pending);
        QCOMPARE(checker.pendingCount(), HeldRowChecker::RowsPerRead);
        QVERIFY(answered.wait(10000));
        QCOMPARE(checker.pendingCount(), 0);
        for (qsizetype i = 0; i < HeldRowChecker::RowsPerRead; ++i)
            QCOMPARE(checker.check(rows.at(i)).kind, HeldAnswer::Kind::NotHeld);
        for (qsizetype i = HeldRowChecker::RowsPerRead; i < rows.size(); ++i)
            QCOMPARE(checker.check(rows.at(i)).kind, HeldAnswer::Kind::Pending);
        QCOMPARE(checker.pendingCount(), 10);
        QVERIFY(answered.wait(10000));
        QCOMPARE(answered.count(), 2);
        QCOMPARE(checker.check(rows.last()).kind, HeldAnswer::Kind::NotHeld);
    }

    void filesOfEarlierRunsAreKnownByWhoWroteThem_data()
    {
        QTest::addColumn<DuplicatePolicy>("policy");
        QTest::newRow("skip") << DuplicatePolicy::Skip;
        QTest::newRow("overwrite") << DuplicatePolicy::Overwrite;
    }
    void filesOfEarlierRunsAreKnownByWhoWroteThem()
    {
        // An earlier run wrote paper 1 as "same.pdf" and paper 2 as "own2.pdf". The saved list still knows
        // the rows' files while they are the same; the library keeps another paper of the name off paper
        // 1's file, and paper 1 itself is still skipped or fetched over it as the policy says.
        QFETCH(DuplicatePolicy, policy);
        const QString where = folder("shared");
        {
            Run run(m_library.get(), 2);
            QueueKeeper keeper(m_library.get(), &run.model);
            run.add(paper(1), QStringLiteral("same"), where);
            run.add(paper(2), QStringLiteral("own2"), where);
            QVERIFY(run.runToEnd());
            QVERIFY(keeper.saveNow());
        }
        QByteArray other = paperBytes(2);
        other[other.size() - 1] = 'z';
        QVERIFY(QFile::remove(where + QStringLiteral("own2.pdf")));
        fntest::writeFile(where + QStringLiteral("own2.pdf"), other); // same length, maybe the same inode
        DownloadQueue queue;
        queue.attachLibrary(m_library.get(), false, true);
        DownloadListModel &model = *queue.model();
        QCOMPARE(queue.restore(), 2);
        QCOMPARE(model.row(0).owned.path, where + QStringLiteral("same.pdf"));
        QVERIFY(IsStillOwned(model.row(0).owned));
        QVERIFY(model.row(1).owned.isNone());
        QCOMPARE(RedownloadSelectedRows(TestRows::of(model), {model.idAt(1)}), 1);
        QCOMPARE(fntest::readFile(where + QStringLiteral("own2.pdf")), other);

        m_server.clearRequests();
        Run again(m_library.get(), 2);
        again.checker.setEnabled(false);
        AttachForeignFileTest(&again.scheduler, m_library.get());
        again.scheduler.options().policy = policy;
        const RowId another = again.add(paper(3), QStringLiteral("same"), where);
        const RowId itself = again.add(paper(1), QStringLiteral("same"), where);
        QVERIFY(again.runToEnd());
        QCOMPARE(again.model.find(another)->percentNote, PercentNote::None);
        QCOMPARE(again.model.find(another)->name, QStringLiteral("same[001]"));
        QCOMPARE(fntest::readFile(where + QStringLiteral("same[001].pdf")), paperBytes(3));
        QCOMPARE(again.model.find(itself)->name, QStringLiteral("same"));
        QCOMPARE(m_server.requestCount(paper(1).path()), policy == DuplicatePolicy::Skip ? 0 : 1);
        QCOMPARE(fntest::readFile(where + QStringLiteral("same.pdf")), paperBytes(1));
    }

    void aRemovedRowOrAStoppedQueueLeavesNothingHanging()
    {
        // A row whose file is being hashed may leave the list; the answer finds nobody and is dropped.
        const QString first = folder("first");
        fntest::writeFile(first + QStringLiteral("big.pdf"), QByteArray(8 << 20, 'b'));
        DownloadResult done;
        done.address = paper(1).toString();
        done.filePath = first + QStringLiteral("big.pdf");
        done.size = 8 << 20;
        done.sha256 = sha256(QByteArray(8 << 20, 'b'));
        QVERIFY(m_library->recordDownloads({done}));
        Run run(m_library.get(), 2);
        const RowId id = run.add(paper(1), QStringLiteral("big"), folder("second"));
        run.scheduler.start();
        QTRY_VERIFY(run.checker.pendingCount() == 1 || run.model.find(id)->state == RowState::Done);
        QVERIFY(TestRows::of(run.model).removeRow(id));
        QTRY_COMPARE(run.checker.pendingCount(), 0);
        QCOMPARE(m_server.requestCount(paper(1).path()), 0);
        QCOMPARE(run.model.count(), 0);
    }

    void theListIsKeptAcrossRuns()
    {
        const QString where = folder("kept");
        QList<RowId> ids;
        {
            DownloadListModel model;
            QueueKeeper keeper(m_library.get(), &model);
            QVERIFY(keeper.savedRows().isEmpty());
            QSignalSpy saved(&keeper, &QueueKeeper::saved);
            for (const char *name : {"waiting", "running", "done", "skipped", "failed"}) {
                DownloadRow row;
                row.key = QStringLiteral("http://site/") + QLatin1String(name);
                row.name = QLatin1String(name);
                row.type = QStringLiteral("pdf");
                row.folder = where;
                ids.append(TestRows::of(model).addRow(row));
            }
            TestRows::of(model).update(ids[1], [](DownloadRow &r) {
                r.state = RowState::Downloading;
                r.size = 1000;
                r.downloaded = 10;
                r.percentShown = true;
            });
            TestRows::of(model).update(ids[2], [](DownloadRow &r) {
                r.state = RowState::Done;
                r.size = r.downloaded = 1000;
                r.percentShown = true;
            });
            TestRows::of(model).update(ids[3], [](DownloadRow &r) {
                r.state = RowState::Done;
                r.size = r.downloaded = 77;
                r.percentNote = PercentNote::Skipped;
            });
            TestRows::of(model).update(ids[4], [](DownloadRow &r) {
                r.state = RowState::Failed;
                r.sizeNote = SizeNote::NotFound;
            });
            // The changes are saved together a moment later, not one by one.
            QVERIFY(keeper.hasUnsavedChange());
            QVERIFY(m_library->loadQueue().isEmpty());
            QVERIFY(saved.wait(5000));
            QCOMPARE(saved.count(), 1);
            QCOMPARE(m_library->loadQueue().size(), 5);

            // Progress alone is not worth a write: it is not kept.
            TestRows::of(model).update(ids[1], [](DownloadRow &r) { r.downloaded = 500; });
            model.flushChanges();
            QVERIFY(keeper.saveNow());
            QCOMPARE(saved.count(), 1);
            TestRows::of(model).removeRow(ids[0]);
            QVERIFY(keeper.saveNow());
            QCOMPARE(saved.count(), 2);
        }
        const QList<QueueRow> saved = m_library->loadQueue();
        QCOMPARE(saved.size(), 4);
        QCOMPARE(unfinishedCount(saved), 2);

        DownloadQueue queue;
        queue.attachLibrary(m_library.get(), false, true);
        const DownloadListModel &model = *queue.model();
        QCOMPARE(queue.restore(), 4);
        QCOMPARE(model.count(), 4);
        QStringList shown;
        for (int i = 0; i < model.count(); ++i) {
            const DownloadRow &row = model.row(i);
            shown << QStringLiteral("%1 %2 %3 %4 %5")
                         .arg(row.name)
                         .arg(static_cast<int>(row.state))
                         .arg(row.sizeText(), row.downloadedText(), row.percentText());
            QCOMPARE(row.folder, where);
        }
        // Unfinished rows come back waiting with empty cells; finished ones as they were.
        QCOMPARE(shown, QStringList({"running 1   ", "done 3 1000 1000 100%", "skipped 3 77 77 已存在，跳过",
                                     "failed 1   "}));
        // A row already listed keeps its row.
        QCOMPARE(queue.restore(), 0);
    }

    void aListStillBeingReadIsNeverOverwritten()
    {
        // Nothing is written while the saved list is read; a keeper let go before the read is taken in
        // keeps the saved rows after the list's own, so neither a save nor a close loses them.
        auto savedRow = [](const QString &name, RowState state) {
            QueueRow row;
            row.address = QStringLiteral("http://site/") + name;
            row.name = name;
            row.type = QStringLiteral("pdf");
            row.folder = QStringLiteral("/papers/");
            row.state = static_cast<int>(state);
            if (state == RowState::Done)
                row.totalBytes = row.receivedBytes = 42;
            return row;
        };
        const QList<QueueRow> before{savedRow(QStringLiteral("a"), RowState::Waiting),
                                     savedRow(QStringLiteral("b"), RowState::Waiting),
                                     savedRow(QStringLiteral("c"), RowState::Done)};
        QVERIFY(m_library->saveQueue(before));
        auto addresses = [](const QList<QueueRow> &rows) {
            QStringList list;
            for (const QueueRow &row : rows)
                list << row.address.section(u'/', -1);
            return list;
        };
        {
            DownloadListModel model;
            QueueKeeper keeper(m_library.get(), &model);
            QSignalSpy loaded(&keeper, &QueueKeeper::loaded);
            // The read is taken in on the event loop, which has not run yet.
            QVERIFY(keeper.isLoading());
            DownloadRow added;
            added.key = QStringLiteral("http://site/d");
            added.name = QStringLiteral("d");
            added.type = QStringLiteral("pdf");
            TestRows::of(model).addRow(added);
            added.key = QStringLiteral("http://site/b");
            added.name = QStringLiteral("b again");
            TestRows::of(model).addRow(added);
            model.flushChanges();
            QVERIFY(keeper.saveNow());
            QCOMPARE(m_library->loadQueue(), before);
            keeper.detach();
            QCOMPARE(loaded.count(), 0); // nobody is asked about a list that is going
        }
        const QList<QueueRow> kept = m_library->loadQueue();
        QCOMPARE(addresses(kept), QStringList({"d", "b", "a", "c"}));
        QCOMPARE(kept.at(1).name, QStringLiteral("b again"));

        // Read in the background: the rows come into the list in one insertion, and changes made while
        // reading are saved once the read is in.
        DownloadListModel model;
        QueueKeeper keeper(m_library.get(), &model);
        QSignalSpy loaded(&keeper, &QueueKeeper::loaded);
        QSignalSpy saved(&keeper, &QueueKeeper::saved);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        DownloadRow added;
        added.key = QStringLiteral("http://site/e");
        added.name = QStringLiteral("e");
        TestRows::of(model).addRow(added);
        model.flushChanges();
        QVERIFY(loaded.wait(5000));
        QVERIFY(!keeper.isLoading());
        QCOMPARE(addresses(keeper.savedRows()), QStringList({"d", "b", "a", "c"}));
        QVERIFY(saved.wait(5000));
        QCOMPARE(addresses(m_library->loadQueue()), QStringList{"e"});
        inserted.clear();
        QCOMPARE(TestRows::of(model).addRows(keeper.takeSavedRows()).size(),
                 4); // as the queue puts them back
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(model.row(4).state, RowState::Done);
        QCOMPARE(model.row(4).sizeText(), QStringLiteral("42"));
    }

    void exportsNameEachRowsOwnFile()
    {
        const QString first = folder("first");
        fntest::writeFile(first + QStringLiteral("a.pdf"), "a paper");
        DownloadResult done;
        done.address = QStringLiteral("http://site/a");
        done.filePath = first + QStringLiteral("a.pdf");
        done.size = 7;
        done.sha256 = sha256("a paper");
        QVERIFY(m_library->recordSeen({SeenPaper{
            done.address,
            PaperMetadata{QStringLiteral("A title"), {{QStringLiteral("作者"), QStringLiteral("张伟")}}},
            QStringLiteral("http://site/results")}}));
        QVERIFY(m_library->recordDownloads({done}));

        DownloadListModel model;
        DownloadRow row;
        row.key = done.address;
        row.name = QStringLiteral("a");
        row.type = QStringLiteral("pdf");
        row.folder = first;
        row.state = RowState::Done;
        const RowId a = TestRows::of(model).addRow(row);
        row.key = QStringLiteral("http://site/b");
        row.name = QStringLiteral("b");
        row.state = RowState::Failed;
        const RowId b = TestRows::of(model).addRow(row);

        // Every done row when none is chosen: the library's metadata with the hash of the same file.
        QList<PaperRecord> records = exportRecords(model, {}, m_library.get());
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().metadata.title, QStringLiteral("A title"));
        QCOMPARE(records.first().metadata.authors(), QStringLiteral("张伟"));
        QCOMPARE(records.first().held.filePath, first + QStringLiteral("a.pdf"));
        QCOMPARE(records.first().held.sha256, done.sha256);
        QVERIFY(exportBytes(ExportFormat::Ris, records).contains("SHA-256: " + done.sha256.toLatin1()));

        // Chosen rows, done or not; a row whose file is another than the one on record has no hash.
        fntest::writeFile(first + QStringLiteral("a.pdf"), "another paper");
        records = exportRecords(model, {b, a}, m_library.get());
        QCOMPARE(records.size(), 2);
        QCOMPARE(records.at(0).metadata.title, QStringLiteral("b"));
        QVERIFY(records.at(0).held.isEmpty());
        QCOMPARE(records.at(1).held.filePath, first + QStringLiteral("a.pdf"));
        QVERIFY(records.at(1).held.sha256.isEmpty());
    }
};

FN_TEST_MAIN_CORE(TestLibraryLink)
#include "tst_librarylink.moc"
