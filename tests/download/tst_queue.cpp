// The queue by identity: rows may be removed, sorted, shuffled and cleared while they download, and every
// byte, state and file still goes to its own row; rows start as soon as a slot frees, in list order,
// with the pause counted from each file's end.
#include "common/clock.h"
#include "download/downloadcommands.h"
#include "download/downloadlistmodel.h"
#include "download/downloadscheduler.h"
#include "faultserver.h"
#include "testenv.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

using Reply = FaultServer::Reply;

class TestQueue : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    QTemporaryDir *m_dir = nullptr;
    DownloadListModel *m_model = nullptr;
    DownloadScheduler *m_scheduler = nullptr;

    QString folder() const { return m_dir->path() + u'/'; }

    static Reply paperFor(int n, bool slow)
    {
        Reply reply = FaultServer::pdf(24000 + n, static_cast<char>('a' + n));
        if (slow) {
            reply.trickleBytes = 3000;
            reply.trickleMs = 40;
        }
        return reply;
    }

    RowId addPaper(int n, bool slow, RowState state = RowState::Waiting)
    {
        const QString path = QStringLiteral("/q/%1.pdf").arg(n);
        m_server.setReply(path, paperFor(n, slow));
        DownloadRow row;
        row.key = m_server.url(path).toString();
        row.name = QStringLiteral("paper%1").arg(n);
        row.type = QStringLiteral("pdf");
        row.folder = folder();
        row.state = state;
        return m_model->addRow(row);
    }

    static int paperNumber(const DownloadRow &row)
    {
        return row.key.section(u'/', -1).section(u'.', 0, 0).toInt();
    }

    QStringList entries() const
    {
        return QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    void use(int method)
    {
        m_scheduler->options().method = methodFromNumber(method);
        m_scheduler->options().threadCount = method == 1 ? 1 : 3;
    }

    QList<int> requestOrder() const
    {
        QList<int> order;
        for (const FaultServer::Request &request : m_server.requests())
            order.append(QString::fromUtf8(request.path).section(u'/', -1).section(u'.', 0, 0).toInt());
        return order;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.listen()); }

    void init()
    {
        m_dir = new QTemporaryDir;
        m_model = new DownloadListModel;
        m_scheduler = new DownloadScheduler(m_model);
        m_scheduler->options().policy = DuplicatePolicy::Rename;
        m_scheduler->options().retries = 0;
        m_server.clearRequests();
    }

    void cleanup()
    {
        m_server.releaseAll();
        delete m_scheduler;
        delete m_model;
        delete m_dir;
    }

    void rowsMayLeaveOrMoveWhileTheyRun_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("change");
        for (int method : {1, 2}) {
            for (const char *change : {"clear failed and done rows above", "sort descending", "shuffle",
                                       "remove a running row", "clear the list"})
                QTest::newRow(qPrintable(QStringLiteral("method %1, %2").arg(method).arg(change)))
                    << method << change;
        }
    }
    void rowsMayLeaveOrMoveWhileTheyRun()
    {
        QFETCH(int, method);
        QFETCH(QString, change);
        fntest::MessageRecorder messages;
        use(method);
        addPaper(90, false, RowState::Failed);
        addPaper(91, false, RowState::Done);
        for (int n = 0; n < 6; ++n)
            addPaper(n, true);
        QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
        m_scheduler->start();
        // Change the list while transfers are under way.
        QTRY_VERIFY(m_model->totals().downloading > 0 &&
                    m_model->row(m_model->count() - 1).state == RowState::Waiting);
        RowId running = RowId::None;
        for (int i = 0; i < m_model->count() && running == RowId::None; ++i) {
            if (m_model->row(i).state == RowState::Downloading)
                running = m_model->row(i).id;
        }
        QTRY_VERIFY(m_model->find(running)->downloaded > 0);
        QRandomGenerator random(7);
        if (change == u"clear failed and done rows above") {
            QCOMPARE(RemoveFailedRows(*m_model) + RemoveDoneRows(*m_model), 2);
        } else if (change == u"sort descending") {
            m_model->sortRows([](const DownloadRow &a, const DownloadRow &b) { return a.name > b.name; });
        } else if (change == u"shuffle") {
            QVERIFY(ShuffleRows(*m_model, CommandGuards{}, random));
        } else if (change == u"remove a running row") {
            QVERIFY(m_model->removeRow(running));
        } else {
            m_model->clear();
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QVERIFY(!m_scheduler->anyTransferLive());

        // Every row left holds its own paper; nothing else is in the folder.
        QStringList expected;
        for (int i = 0; i < m_model->count(); ++i) {
            const DownloadRow &row = m_model->row(i);
            const int n = paperNumber(row);
            if (n >= 90)
                continue;
            QCOMPARE(row.state, RowState::Done);
            QCOMPARE(row.size, 24000 + n);
            QCOMPARE(row.downloaded, 24000 + n);
            QCOMPARE(fntest::readFile(rowFilePath(row)), paperFor(n, false).body);
            expected.append(row.name + QStringLiteral(".pdf"));
        }
        expected.sort();
        QCOMPARE(entries(), expected);
        if (change == u"remove a running row")
            QCOMPARE(m_model->count(), 7);
        if (change == u"clear the list")
            QVERIFY(entries().isEmpty());
    }

    void startsDoNotWaitForTheTick_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void startsDoNotWaitForTheTick()
    {
        QFETCH(int, method);
        use(method);
        m_scheduler->setTickIntervalMs(3600 * 1000); // the tick never comes during this test
        for (int n = 0; n < 12; ++n)
            addPaper(n, false);
        QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
        m_scheduler->start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QCOMPARE(m_model->totals().done, 12);
    }

    void startOrderIsTheListOrder()
    {
        m_scheduler->options().policy = DuplicatePolicy::Skip;
        for (int method : {1, 2}) {
            use(method);
            m_scheduler->options().threadCount = 1;
            m_model->clear();
            m_server.clearRequests();
            QDir(folder()).removeRecursively();
            QDir().mkpath(folder());
            for (int n = 0; n < 6; ++n)
                addPaper(n, false);
            // Rows already on disk are settled on the way without a request.
            fntest::writeFile(folder() + QStringLiteral("paper1.pdf"), "there");
            fntest::writeFile(folder() + QStringLiteral("paper4.pdf"), "there");
            m_model->sortRows([](const DownloadRow &a, const DownloadRow &b) { return a.name > b.name; });
            QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
            m_scheduler->start();
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
            QCOMPARE(requestOrder(), QList<int>({5, 3, 2, 0}));
            QCOMPARE(m_model->find(m_model->idOfKey(m_server.url("/q/4.pdf").toString()))->percentNote,
                     PercentNote::Skipped);
        }
    }

    void pauseCountsFromEachFilesEnd_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void pauseCountsFromEachFilesEnd()
    {
        QFETCH(int, method);
        ManualClock clock;
        Clock *previous = Clock::install(&clock);
        use(method);
        m_scheduler->options().threadCount = 1;
        m_scheduler->setTickIntervalMs(3600 * 1000);
        const RowId first = addPaper(0, false);
        const RowId second = addPaper(1, true); // still arriving when the pause is set
        const RowId third = addPaper(2, false);

        // A pause of 0: the next file starts as soon as one ends, with the clock standing still.
        m_scheduler->options().intervalSeconds = 0;
        m_scheduler->start();
        QTRY_COMPARE(m_model->find(first)->state, RowState::Done);
        QTRY_VERIFY(m_model->find(second)->state != RowState::Waiting);

        // A pause of 2 s: the next start is due 2 s after the end, and not a moment before.
        m_scheduler->options().intervalSeconds = 2;
        QTRY_COMPARE(m_model->find(second)->state, RowState::Done);
        const qint64 end = clock.monotonicMs();
        QCOMPARE(m_scheduler->nextStartDueMs(), end + 2001);
        clock.advanceMs(1999);
        m_scheduler->startDue();
        QCOMPARE(m_model->find(third)->state, RowState::Waiting);
        clock.advanceMs(2);
        m_scheduler->startDue();
        QCOMPARE(m_model->find(third)->state, RowState::Downloading);
        QTRY_COMPARE(m_model->find(third)->state, RowState::Done);
        Clock::install(previous);
    }
};

FN_TEST_MAIN_CORE(TestQueue)
#include "tst_queue.moc"
