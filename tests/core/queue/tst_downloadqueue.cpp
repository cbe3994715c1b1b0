// The queue as the window and the batch mode drive it: a row answered with a web page gets one more
// try after an automatic login (once a run, and not when the user stopped the run meanwhile), and the
// paper library's hooks (and the list kept across runs) come and go with the queue, and where a row's
// full text came from goes with the row.
#include "core/library/paperlibrary.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/exportrecords.h"
#include "core/queue/heldrowchecker.h"
#include "core/queue/libraryrecorder.h"
#include "core/queue/queuekeeper.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "testenv.h"
#include "testrows.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

class TestDownloadQueue : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    QTemporaryDir m_dir;

    RowId addRow(DownloadQueue &queue, const QString &path, RowState state)
    {
        DownloadRow row;
        row.key = m_server.url(path).toString();
        row.name = path.section(u'/', -1).section(u'.', 0, 0);
        row.type = QStringLiteral("pdf");
        row.folder = m_dir.path() + u'/';
        row.state = state;
        return queue.enqueue(row);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        QVERIFY(m_dir.isValid());
        m_server.setReply(QStringLiteral("/kept.pdf"), FaultServer::pdf(20000));
        FaultServer::Reply landing;
        landing.contentType = "text/html";
        landing.body =
            "<html><head><meta name=citation_title content='Declared title'>"
            "<meta name=citation_doi content=10.5555/carried.1><meta name=citation_volume content=7>"
            "<meta name=citation_pdf_url content=/files/carried.pdf></head><body></body></html>";
        m_server.setReply(QStringLiteral("/land/carried"), landing);
        m_server.setReply(QStringLiteral("/files/carried.pdf"), FaultServer::pdf(9000));
    }

    static void runToEnd(DownloadQueue &queue)
    {
        QSignalSpy finished(&queue, &DownloadQueue::queueFinished);
        queue.start();
        QVERIFY(finished.wait(20000));
        QVERIFY(QTest::qWaitFor([&] { return queue.libraryRecorder()->isIdle(); }, 20000));
    }

    static QString toolTip(const DownloadQueue &queue, int position)
    {
        return queue.model()->data(queue.model()->index(position, 0), Qt::ToolTipRole).toString();
    }

    void aRowAnsweredWithAPageTriesOnceMoreAfterTheLogin()
    {
        DownloadQueue queue;
        SchedulerAccess::of(queue)->housekeeping()->setOn(false);
        SchedulerAccess::of(queue)->options().retries = 0;
        bool loginOn = true;
        bool canLogIn = true;
        int logins = 0;
        queue.setLoginHooks({[&] { return loginOn; },
                             [&] {
                                 ++logins;
                                 return canLogIn;
                             }});
        QSignalSpy pages(&queue, &DownloadQueue::webPageReceived);
        const RowId first = addRow(queue, QStringLiteral("/missing/1.pdf"), RowState::Failed);
        const RowId second = addRow(queue, QStringLiteral("/missing/2.pdf"), RowState::Failed);

        // One login for the row however often its page comes back; the row then waits and the run starts.
        Q_EMIT SchedulerAccess::of(queue)->reports()->webPageReceived(first);
        Q_EMIT SchedulerAccess::of(queue)->reports()->webPageReceived(first);
        QCOMPARE(pages.count(), 2);
        QCOMPARE(logins, 1);
        queue.loginFinished();
        QCOMPARE(queue.model()->find(first)->state, RowState::Waiting);
        QVERIFY(SchedulerAccess::of(queue)->isRunning());

        // The user stops the run while the login goes on: the row waits, the run stays stopped.
        queue.stop();
        Q_EMIT SchedulerAccess::of(queue)->reports()->webPageReceived(second);
        QCOMPARE(logins, 2);
        queue.loginFinished();
        QCOMPARE(queue.model()->find(second)->state, RowState::Waiting);
        QVERIFY(!SchedulerAccess::of(queue)->isRunning());

        // Nothing to log in with, or automatic login off: the row stays as it ended.
        TestRows::of(*queue.model()).setState(first, RowState::Failed);
        TestRows::of(*queue.model()).setState(second, RowState::Failed);
        queue.start();
        queue.stop();
        canLogIn = false;
        Q_EMIT SchedulerAccess::of(queue)->reports()->webPageReceived(first);
        QCOMPARE(logins, 3); // a run the user starts gives every row its try again
        queue.loginFinished();
        QCOMPARE(queue.model()->find(first)->state, RowState::Failed);
        loginOn = false;
        Q_EMIT SchedulerAccess::of(queue)->reports()->webPageReceived(second);
        QCOMPARE(logins, 3);
    }

    void theLibraryHooksComeAndGoWithTheQueue()
    {
        PaperLibrary library(m_dir.path() + QStringLiteral("/lib/PaperLibrary.db"));
        QVERIFY(library.open().ok);
        const QString kept = m_server.url(QStringLiteral("/kept.pdf")).toString();
        {
            DownloadQueue queue;
            queue.attachLibrary(&library, false, true);
            QVERIFY(queue.heldRowChecker() && !queue.heldRowChecker()->isEnabled());
            queue.setSkipHeld(true);
            QVERIFY(queue.heldRowChecker()->isEnabled());
            QVERIFY(queue.libraryRecorder() && queue.queueKeeper());

            // An outcome reaches the library through the queue's own recorder.
            addRow(queue, QStringLiteral("/kept.pdf"), RowState::Waiting);
            QSignalSpy finished(&queue, &DownloadQueue::queueFinished);
            queue.start();
            QVERIFY(finished.wait(20000));
            const auto totals = finished.first().first().value<DownloadListModel::Totals>();
            QCOMPARE(totals.all, 1);
            QCOMPARE(totals.done, 1);
            QVERIFY(QTest::qWaitFor([&] { return queue.libraryRecorder()->isIdle(); }, 20000));
            QVERIFY(library.heldFile(kept).has_value());
            QVERIFY(queue.queueKeeper()->saveNow());
        }
        {
            // The next queue finds the list kept; one without keepList leaves it alone.
            DownloadQueue queue;
            queue.attachLibrary(&library, true, false);
            QVERIFY(!queue.queueKeeper());
            queue.attachLibrary(&library, true, true);
            QCOMPARE(queue.queueKeeper()->savedRows().size(), 1);
            QCOMPARE(queue.restore(), 1);
            QCOMPARE(queue.model()->row(0).key, kept);
            QCOMPARE(queue.restore(), 0); // an address listed already keeps its row
            QCOMPARE(queue.model()->count(), 1);

            queue.releaseLibrary();
            QVERIFY(!queue.library() && !queue.heldRowChecker() && !queue.libraryRecorder() &&
                    !queue.queueKeeper());
        }
    }

    // The paper's own page a row went through, the full text it named and what it declared go with the
    // row: into the list kept across runs and back, and onto a row that ends held from that download.
    void whereTheFullTextCameFromGoesWithTheRow()
    {
        QTemporaryDir home;
        PaperLibrary library(home.path() + QStringLiteral("/PaperLibrary.db"));
        QVERIFY(library.open().ok);
        const QString landing = m_server.url(QStringLiteral("/land/carried")).toString();
        const QString fullText = m_server.url(QStringLiteral("/files/carried.pdf")).toString();
        DownloadRow first;
        {
            DownloadQueue queue;
            queue.attachLibrary(&library, false, true);
            addRow(queue, QStringLiteral("/land/carried"), RowState::Waiting);
            runToEnd(queue);
            first = queue.model()->row(0);
            QCOMPARE(first.state, RowState::Done);
            QCOMPARE(first.fileAddress, fullText);
            QVERIFY(queue.queueKeeper()->saveNow());
        }
        {
            // The list comes back as it was: its tooltip and its exports (with no library to ask).
            DownloadQueue queue;
            queue.attachLibrary(&library, false, true);
            QCOMPARE(queue.restore(), 1);
            const DownloadRow &restored = queue.model()->row(0);
            QCOMPARE(restored.landingPage, landing);
            QCOMPARE(restored.fileAddress, fullText);
            QCOMPARE(restored.declared, first.declared);
            QCOMPARE(toolTip(queue, 0), QStringLiteral("文献页面：%1\n全文地址：%2").arg(landing, fullText));
            const QList<PaperRecord> records = exportRecords(*queue.model(), {}, nullptr);
            QCOMPARE(records.size(), 1);
            QCOMPARE(records.first().metadata.doi(), QStringLiteral("10.5555/carried.1"));
            QCOMPARE(records.first().metadata.volume(), QStringLiteral("7"));
        }
        {
            // A record made before the library kept landing pages: the page was the paper's own address.
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
            raw.setDatabaseName(library.path());
            QVERIFY(raw.open());
            QVERIFY(QSqlQuery(raw).exec(QStringLiteral("UPDATE papers SET landing_page = ''")));
            raw.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
        {
            // Held from that download: no request, and the row knows where its file came from.
            m_server.clearRequests();
            DownloadQueue queue;
            SchedulerAccess::of(queue)->housekeeping()->setOn(false);
            queue.attachLibrary(&library, true, false);
            addRow(queue, QStringLiteral("/land/carried"), RowState::Waiting);
            runToEnd(queue);
            const DownloadRow &held = queue.model()->row(0);
            QCOMPARE(held.percentNote, PercentNote::Held);
            QCOMPARE(m_server.requestCount(QStringLiteral("/land/carried")), 0);
            QCOMPARE(held.landingPage, landing);
            QCOMPARE(held.fileAddress, fullText);
            QCOMPARE(held.declared.title, QStringLiteral("Declared title"));
            QVERIFY(toolTip(queue, 0).contains(QStringLiteral("全文地址：") + fullText));
        }
    }
};

FN_TEST_MAIN_CORE(TestDownloadQueue)
#include "tst_downloadqueue.moc"
