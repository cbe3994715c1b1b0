#include "core/library/libraryopening.h"
#include "core/library/paperlibrary.h"
#include "testenv.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <optional>

namespace {

SeenPaper seen(const QString &address, const QString &title)
{
    return SeenPaper{address, PaperMetadata{title, {}}, {}};
}

// What the opener handed back, and on which thread.
struct Arrival
{
    std::optional<PaperLibrary::OpenResult> result;
    QThread *thread = nullptr;
};

LibraryOpener::Done recordInto(Arrival &arrival)
{
    return [&arrival](const PaperLibrary::OpenResult &result) {
        arrival.result = result;
        arrival.thread = QThread::currentThread();
    };
}

} // namespace

// The library opened on a thread of its own and handed, open, to the thread that uses it.
class TestLibraryOpening : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    QString freshPath()
    {
        return m_dir.path() + QStringLiteral("/lib%1/PaperLibrary.db").arg(++m_fileNumber);
    }

private Q_SLOTS:
    void theLibraryArrivesOpenAndIsWrittenWhereItArrived_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("a library made afresh") << false;
        QTest::newRow("a damaged file set aside, with its message") << true;
    }

    void theLibraryArrivesOpenAndIsWrittenWhereItArrived()
    {
        QFETCH(bool, damaged);
        const QString path = freshPath();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (damaged)
            fntest::writeFile(path, QByteArray("this was never a database ").repeated(400));
        PaperLibrary library(path);
        QObject receiver;
        Arrival arrival;
        {
            const LibraryOpener opener(library, &receiver, recordInto(arrival));
            QVERIFY(!arrival.result); // told by an event, never from inside the call
            QTRY_VERIFY_WITH_TIMEOUT(arrival.result.has_value(), 10000);
        }
        QVERIFY2(arrival.result->ok, qPrintable(arrival.result->message));
        QCOMPARE(arrival.thread, QThread::currentThread());
        QCOMPARE(arrival.result->message.isEmpty(), !damaged);
        QCOMPARE(arrival.result->setAsidePath.isEmpty(), !damaged);
        // The connection is this thread's now: a connection of another thread would refuse every call.
        QVERIFY(library.isOpen());
        QVERIFY2(library.recordSeen({seen(QStringLiteral("http://s/a.pdf"), QStringLiteral("甲"))}),
                 qPrintable(library.lastError()));
        QCOMPARE(library.paperCount(), 1);
    }

    void theEventLoopTurnsWhileAnotherProgramHoldsTheFile()
    {
        const QString path = freshPath();
        {
            PaperLibrary made(path);
            QVERIFY(made.open().ok);
        }
        // A connection that keeps the file to itself until it closes, as another program may.
        const QString holder = QStringLiteral("holder");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holder);
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
            QVERIFY(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QVERIFY(q.exec(QStringLiteral("COMMIT")));
        }
        PaperLibrary library(path);
        library.setBusyTimeoutMs(20000);
        QObject receiver;
        Arrival arrival;
        const LibraryOpener opener(library, &receiver, recordInto(arrival));
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&ticks] { ++ticks; });
        tick.start(10);
        QTest::qWait(400);
        QVERIFY(!arrival.result); // still waiting for the file
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));

        QSqlDatabase::database(holder, false).close();
        QSqlDatabase::removeDatabase(holder);
        QTRY_VERIFY_WITH_TIMEOUT(arrival.result.has_value(), 15000);
        QVERIFY2(arrival.result->ok, qPrintable(arrival.result->message));
        QVERIFY(library.recordSeen({seen(QStringLiteral("http://s/b.pdf"), QStringLiteral("乙"))}));
        QCOMPARE(library.paperCount(), 1);
    }

    void aLibraryThatCannotBeUsedIsToldWithoutAConnection()
    {
        // A folder where the file should be: nothing can be opened there.
        const QString path = freshPath();
        QVERIFY(QDir().mkpath(path));
        PaperLibrary library(path);
        QObject receiver;
        Arrival arrival;
        const LibraryOpener opener(library, &receiver, recordInto(arrival));
        QTRY_VERIFY_WITH_TIMEOUT(arrival.result.has_value(), 10000);
        QVERIFY(!arrival.result->ok);
        QVERIFY(arrival.result->message.contains(path));
        QVERIFY(!library.isOpen());
    }
};

FN_TEST_MAIN_CORE(TestLibraryOpening)
#include "tst_libraryopening.moc"
