// The queue by identity: rows may be removed, sorted, shuffled and cleared
// while they download, and every byte, state and file still goes to its own
// row; rows start as soon as a slot frees, in list order, with the pause
// counted from each file's end.
#include "commonseams.h"
#include "core/common/clock.h"
#include "core/queue/downloadcommands.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "queuefixture.h"
#include "testenv.h"
#include "testrows.h"

#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

Q_DECLARE_METATYPE(DuplicatePolicy)

using Reply = FaultServer::Reply;

class TestQueue : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    std::unique_ptr<QueueFixture> m_queue;
    DownloadListModel *m_model = nullptr;
    DownloadScheduler *m_scheduler = nullptr;

    QString folder() const { return m_queue->folder(); }

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
        return TestRows::of(*m_model).addRow(row);
    }

    // A row of its own name and address, whatever the server answers there.
    RowId addNamed(const QString &path, const QString &name, const QString &rowFolder)
    {
        DownloadRow row;
        row.key = m_server.url(path).toString();
        row.name = name;
        row.type = QStringLiteral("pdf");
        row.folder = rowFolder;
        return TestRows::of(*m_model).addRow(row);
    }
    const DownloadRow &row(RowId id) const { return m_queue->row(id); }

    void runToEnd() { m_queue->runToEnd(); }

    static int paperNumber(const DownloadRow &row)
    {
        return row.key.section(u'/', -1).section(u'.', 0, 0).toInt();
    }

    QStringList entries() const { return m_queue->files(); }

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
        m_queue = std::make_unique<QueueFixture>(m_server);
        m_model = m_queue->model();
        m_scheduler = m_queue->scheduler();
    }

    void cleanup() { m_queue.reset(); }

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
            QCOMPARE(RemoveFailedRows(TestRows::of(*m_model)) + RemoveDoneRows(TestRows::of(*m_model)), 2);
        } else if (change == u"sort descending") {
            TestRows::of(*m_model).sortRows(
                [](const DownloadRow &a, const DownloadRow &b) { return a.name > b.name; });
        } else if (change == u"shuffle") {
            QVERIFY(ShuffleRows(TestRows::of(*m_model), CommandGuards{}, random));
        } else if (change == u"remove a running row") {
            QVERIFY(TestRows::of(*m_model).removeRow(running));
        } else {
            TestRows::of(*m_model).clear();
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QVERIFY(!m_scheduler->transfers().anyTransferLive());

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
        QTRY_COMPARE(entries(), expected);
        if (change == u"remove a running row")
            QCOMPARE(m_model->count(), 7);
        if (change == u"clear the list")
            QTRY_VERIFY(entries().isEmpty());
    }

    void aRowThatFailedNeverTakesTheFileAnotherRowFinished_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("again");
        for (int method : {1, 2}) {
            for (const char *again : {"failed rows", "selected rows", "double-click", "automatic"})
                QTest::newRow(qPrintable(QStringLiteral("method %1 (%2), %3")
                                             .arg(method)
                                             .arg(method == 1 ? "rename" : "overwrite")
                                             .arg(again)))
                    << method << again;
        }
    }
    void aRowThatFailedNeverTakesTheFileAnotherRowFinished()
    {
        // The first row fails and lets go of its name; a second paper of the same
        // title finishes under it. Sending the first row again deletes nothing and
        // replaces nothing: it gets a name of its own. A row without a folder
        // fails, with its reason, instead of saving into the root of the disk.
        QFETCH(int, method);
        QFETCH(QString, again);
        use(method);
        m_scheduler->options().threadCount = 1;
        m_scheduler->options().policy = method == 1 ? DuplicatePolicy::Rename : DuplicatePolicy::Overwrite;
        Reply missing;
        missing.status = 404;
        missing.reason = "Not Found";
        missing.contentType = "text/html";
        missing.body = "<html>not yet</html>";
        const Reply first = paperFor(1, false);
        const Reply second = paperFor(2, false);
        m_server.setReplies("/same/1.pdf", {missing, first});
        m_server.setReply("/same/2.pdf", second);
        const RowId a = addNamed("/same/1.pdf", "same", folder());
        const RowId b = addNamed("/same/2.pdf", "same", folder());
        const RowId nowhere = addNamed("/same/3.pdf", "same", QStringLiteral(" "));
        runToEnd();
        QCOMPARE(row(a).state, RowState::Failed);
        QCOMPARE(row(b).state, RowState::Done);
        QCOMPARE(rowFilePath(row(b)), folder() + QStringLiteral("same.pdf"));
        QCOMPARE(row(nowhere).reason.kind, FailureReason::Kind::NoFolder);
        QVERIFY(reasonTextForWindow(row(nowhere).reason).startsWith(QStringLiteral("没有选择保存文件夹")));

        if (again == u"failed rows")
            QCOMPARE(RedownloadFailedRows(TestRows::of(*m_model), CommandGuards{}), 2);
        else if (again == u"selected rows")
            QCOMPARE(RedownloadSelectedRows(TestRows::of(*m_model), {a}), 1);
        else if (again == u"double-click")
            DoubleClickRow(TestRows::of(*m_model), a, ShellHooks{});
        else
            AutoRedownload(TestRows::of(*m_model), CommandGuards{},
                           static_cast<int>(AutoRedownloadChoice::Failed));
        QCOMPARE(row(a).state, RowState::Waiting);
        QCOMPARE(fntest::readFile(folder() + QStringLiteral("same.pdf")), second.body);
        runToEnd();

        QCOMPARE(row(a).state, RowState::Done);
        QCOMPARE(row(a).name, QStringLiteral("same[001]"));
        QCOMPARE(fntest::readFile(rowFilePath(row(a))), first.body);
        QCOMPARE(row(b).state, RowState::Done);
        QCOMPARE(fntest::readFile(rowFilePath(row(b))), second.body);
        QTRY_COMPARE(entries(), QStringList({QStringLiteral("same.pdf"), QStringLiteral("same[001].pdf")}));
        QCOMPARE(row(nowhere).state, RowState::Failed);
        QCOMPARE(m_server.requestCount(QStringLiteral("/same/3.pdf")), 0);
    }

    void aNameSomeoneElseHoldsIsNeverThisPaper_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("threads");
        QTest::addColumn<DuplicatePolicy>("policy");
        QTest::addColumn<QString>("holder");
        for (const auto &[method, threads] : {std::pair{1, 1}, std::pair{2, 3}}) {
            for (DuplicatePolicy policy : {DuplicatePolicy::Skip, DuplicatePolicy::Overwrite}) {
                for (const char *holder : {"another paper", "a link to a file outside", "a link to nothing"})
                    QTest::newRow(qPrintable(QStringLiteral("method %1, %2, %3")
                                                 .arg(method)
                                                 .arg(policy == DuplicatePolicy::Skip ? "skip" : "overwrite")
                                                 .arg(holder)))
                        << method << threads << policy << holder;
            }
        }
    }
    void aNameSomeoneElseHoldsIsNeverThisPaper()
    {
        // Equal titles (or a name template whose fields came out empty), or a link
        // planted at the name: the paper is neither "skipped" on what is there nor
        // written over it or through it, but saved under a free name. A file that
        // was there before the run, and that no row wrote, is still skipped or
        // replaced as the policy says.
        QFETCH(int, method);
        QFETCH(int, threads);
        QFETCH(DuplicatePolicy, policy);
        QFETCH(QString, holder);
        use(method);
        m_scheduler->options().threadCount = threads;
        m_scheduler->options().policy = policy;
        const QString outside = m_queue->root() + QStringLiteral("outside.pdf");
        QDir().mkpath(folder() + QStringLiteral("in"));
        const QString in = folder() + QStringLiteral("in/");
        const Reply first = paperFor(3, true);
        const Reply paper = paperFor(4, false);
        const Reply old = paperFor(5, false);
        m_server.setReply("/one/3.pdf", first);
        m_server.setReply("/one/4.pdf", paper);
        m_server.setReply("/one/5.pdf", old);
        fntest::writeFile(in + QStringLiteral("old.pdf"), "was there");
        RowId writer = RowId::None;
        if (holder == u"another paper") {
            writer = addNamed("/one/3.pdf", "2021-", in);
        } else {
            if (holder == u"a link to a file outside")
                fntest::writeFile(outside, "precious");
            QVERIFY(QFile::link(outside, in + QStringLiteral("2021-.pdf")));
        }
        const RowId id = addNamed("/one/4.pdf", "2021-", in);
        const RowId existing = addNamed("/one/5.pdf", "old", in);
        runToEnd();

        QCOMPARE(row(id).state, RowState::Done);
        QCOMPARE(row(id).percentNote, PercentNote::None);
        QCOMPARE(row(id).name, QStringLiteral("2021-[001]"));
        QCOMPARE(fntest::readFile(rowFilePath(row(id))), paper.body);
        if (holder == u"another paper")
            QCOMPARE(fntest::readFile(in + QStringLiteral("2021-.pdf")), first.body);
        else
            QCOMPARE(QFileInfo(in + QStringLiteral("2021-.pdf")).symLinkTarget(), outside);
        QCOMPARE(fntest::readFile(outside),
                 holder == u"a link to a file outside" ? QByteArray("precious") : QByteArray());
        QCOMPARE(row(existing).percentNote,
                 policy == DuplicatePolicy::Skip ? PercentNote::Skipped : PercentNote::None);
        QCOMPARE(fntest::readFile(in + QStringLiteral("old.pdf")),
                 policy == DuplicatePolicy::Skip ? QByteArray("was there") : old.body);
        QCOMPARE(m_server.requestCount(QStringLiteral("/one/5.pdf")),
                 policy == DuplicatePolicy::Skip ? 0 : 1);

        if (writer == RowId::None)
            return;
        // A row cleared from the list still speaks for the file it wrote.
        QCOMPARE(RemoveSelectedRows(TestRows::of(*m_model), CommandGuards{}, {writer}), 1);
        m_server.setReply("/one/6.pdf", paperFor(6, false));
        const RowId later = addNamed("/one/6.pdf", "2021-", in);
        runToEnd();
        QCOMPARE(row(later).name, QStringLiteral("2021-[002]"));
        QCOMPARE(fntest::readFile(in + QStringLiteral("2021-.pdf")), first.body);
    }

    void cancelDuringARetryWaitEndsTheRun_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void cancelDuringARetryWaitEndsTheRun()
    {
        // "取消下载选中项" on a row waiting for its next try: the bytes it kept go,
        // its try never comes, and the run that it leaves finished ends as any run
        // does.
        QFETCH(int, method);
        ManualClock clock;
        const auto restore =
            qScopeGuard([previous = ClockSeam::install(&clock)] { ClockSeam::install(previous); });
        use(method);
        m_scheduler->options().threadCount = 1;
        m_scheduler->options().retries = 3;
        Reply cut = FaultServer::pdf(60000, 'c');
        cut.ranges = true;
        cut.etag = "\"v1\"";
        cut.closeAfter = 20000;
        m_server.setReply("/cut.pdf", cut);
        m_server.setReply("/fine.pdf", paperFor(6, false));
        const RowId waiting = addNamed("/cut.pdf", "cut", folder());
        const RowId fine = addNamed("/fine.pdf", "fine", folder());
        QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
        QSignalSpy retries(m_scheduler->reports(), &TransferReports::retryScheduled);
        m_scheduler->start();
        QTRY_COMPARE(retries.count(), 1);
        QTRY_COMPARE(row(fine).state, RowState::Done);
        QVERIFY(entries().first().startsWith(QStringLiteral(".fnpart-")));

        QVERIFY(CancelSelectedRows(TestRows::of(*m_model), CommandGuards{}, {waiting}));
        QCOMPARE(row(waiting).state, RowState::Failed);
        QVERIFY(!row(waiting).sizeText().startsWith(QStringLiteral("等待重试")));
        QTRY_COMPARE(finished.count(), 1);
        QTRY_COMPARE(entries(), QStringList{QStringLiteral("fine.pdf")});

        // Long after the try would have been due, nothing asks for the file again.
        clock.advanceMs(3600 * 1000);
        m_scheduler->startDue();
        m_scheduler->housekeeping()->tickHousekeeping();
        QTest::qWait(50);
        QCOMPARE(m_server.requestCount(QStringLiteral("/cut.pdf")), 1);
        QCOMPARE(finished.count(), 1);
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
            TestRows::of(*m_model).clear();
            m_server.clearRequests();
            QDir(folder()).removeRecursively();
            QDir().mkpath(folder());
            for (int n = 0; n < 6; ++n)
                addPaper(n, false);
            // Rows already on disk are settled on the way without a request.
            fntest::writeFile(folder() + QStringLiteral("paper1.pdf"), "there");
            fntest::writeFile(folder() + QStringLiteral("paper4.pdf"), "there");
            TestRows::of(*m_model).sortRows(
                [](const DownloadRow &a, const DownloadRow &b) { return a.name > b.name; });
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
        Clock *previous = ClockSeam::install(&clock);
        use(method);
        m_scheduler->options().threadCount = 1;
        m_scheduler->setTickIntervalMs(3600 * 1000);
        const RowId first = addPaper(0, false);
        const RowId second = addPaper(1, true); // still arriving when the pause is set
        const RowId third = addPaper(2, false);

        // A pause of 0: the next file starts as soon as one ends, with the clock
        // standing still.
        m_scheduler->options().intervalSeconds = 0;
        m_scheduler->start();
        QTRY_COMPARE(m_model->find(first)->state, RowState::Done);
        QTRY_VERIFY(m_model->find(second)->state != RowState::Waiting);

        // A pause of 2 s: the next start is due 2 s after the end, and not a moment
        // before.
        m_scheduler->options().intervalSeconds = 2;
        QTRY_COMPARE(m_model->find(second)->state, RowState::Done);
        const qint64 end = clock.monotonicMs();
        QCOMPARE(m_scheduler->pacing().nextStartDueMs(), end + 2001);
        clock.advanceMs(1999);
        m_scheduler->startDue();
        QCOMPARE(m_model->find(third)->state, RowState::Waiting);
        clock.advanceMs(2);
        m_scheduler->startDue();
        QCOMPARE(m_model->find(third)->state, RowState::Downloading);
        QTRY_COMPARE(m_model->find(third)->state, RowState::Done);
        ClockSeam::install(previous);
    }
};

FN_TEST_MAIN_CORE(TestQueue)
#include "tst_queue.moc"
