// The speed, time left and end-of-run summary of the queue, measured on a clock the test moves.
#include "commonseams.h"
#include "core/common/clock.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/queueprogress.h"
#include "testenv.h"
#include "testrows.h"

namespace {

DownloadRow row(const QString &key, RowState state, qint64 size = -1, qint64 downloaded = -1,
                qint64 speed = -1)
{
    DownloadRow r;
    r.key = key;
    r.name = key;
    r.type = QStringLiteral("pdf");
    r.state = state;
    r.size = size;
    r.downloaded = downloaded;
    r.speed = speed;
    return r;
}

void setSpeed(DownloadListModel &model, const QString &key, qint64 speed)
{
    TestRows::of(model).update(model.idOfKey(key), [speed](DownloadRow &r) { r.speed = speed; });
}

} // namespace

class TestQueueProgress : public QObject
{
    Q_OBJECT

    ManualClock m_clock;

private Q_SLOTS:
    void initTestCase() { ClockSeam::install(&m_clock); }
    void cleanupTestCase() { ClockSeam::install(nullptr); }

    void speedAndTimeLeftFromTheSizesKnownSoFar()
    {
        DownloadListModel model;
        TestRows::of(model).addRow(row("done", RowState::Done, 1000, 1000));
        TestRows::of(model).addRow(row("big", RowState::Downloading, 10000, 4000, 1000));
        DownloadRow unsized = row("unsized", RowState::Downloading, -1, -1, 500);
        unsized.sizeNote = SizeNote::Unknown; // no length in the answer
        TestRows::of(model).addRow(unsized);
        TestRows::of(model).addRow(row("waiting", RowState::Waiting));
        TestRows::of(model).addRow(row("failed", RowState::Failed));

        QueueProgress progress(&model);
        progress.begin();
        QueueProgress::Snapshot s = progress.measure();
        QCOMPARE(s.bytesPerSecond, 1500);
        QCOMPARE(s.finished, 2);
        QCOMPARE(s.total, 5);
        // 6000 bytes of the big file, and the two rows of unknown size at the mean known size (5500).
        QCOMPARE(s.bytesLeft, 6000 + 2 * 5500);
        QCOMPARE(s.secondsLeft, 12); // 17000 / 1500, rounded up
        QCOMPARE(progresstext::statusLine(s), QStringLiteral("总速度 1.5 KB/s，剩余 12秒"));
        // The failed row is not counted as done; it stands beside the count.
        QCOMPARE(progresstext::fraction(s), QStringLiteral("1/5，失败 1"));
        TestRows::of(model).setState(model.idOfKey(QStringLiteral("failed")), RowState::Waiting);
        QCOMPARE(progresstext::fraction(progress.measure()), QStringLiteral("1/5"));
        TestRows::of(model).setState(model.idOfKey(QStringLiteral("failed")), RowState::Failed);

        // The speed follows a change over a few seconds instead of jumping with it.
        setSpeed(model, "big", 4000);
        m_clock.advanceMs(QueueProgress::SmoothingMs);
        s = progress.measure();
        QVERIFY2(qAbs(s.bytesPerSecond - qRound64(1500 + (1 - std::exp(-1.0)) * 3000)) <= 1,
                 qPrintable(QString::number(s.bytesPerSecond)));
        m_clock.advanceMs(60000);
        QCOMPARE(progress.measure().bytesPerSecond, 4500);

        // Rows that have just started report no speed yet: the queue's speed falls, it is not dropped.
        setSpeed(model, "big", -1);
        setSpeed(model, "unsized", -1);
        m_clock.advanceMs(1000);
        s = progress.measure();
        QVERIFY(s.bytesPerSecond > 0 && s.bytesPerSecond < 4500);

        // No transfer at all: no speed, and so no time left.
        TestRows::of(model).update(model.idOfKey("big"), [](DownloadRow &r) { r.state = RowState::Waiting; });
        TestRows::of(model).update(model.idOfKey("unsized"),
                                   [](DownloadRow &r) { r.state = RowState::Failed; });
        s = progress.measure();
        QCOMPARE(s.bytesPerSecond, 0);
        QCOMPARE(s.secondsLeft, -1);
        QCOMPARE(progresstext::statusLine(s), QStringLiteral("总速度 0 B/s，剩余 未知"));
    }

    void timeLeftIsUnknownWithNothingToGoBy()
    {
        DownloadListModel model;
        TestRows::of(model).addRow(row("a", RowState::Downloading, -1, -1, 2048));
        TestRows::of(model).addRow(row("b", RowState::Waiting));
        QueueProgress progress(&model);
        progress.begin();
        QueueProgress::Snapshot s = progress.measure();
        QCOMPARE(s.bytesPerSecond, 2048);
        QCOMPARE(s.bytesLeft, -1);
        QCOMPARE(s.secondsLeft, -1);

        // Once every row still to come has a size, nothing is estimated.
        TestRows::of(model).update(model.idOfKey("a"), [](DownloadRow &r) {
            r.size = 4096;
            r.downloaded = 1024;
        });
        TestRows::of(model).update(model.idOfKey("b"), [](DownloadRow &r) { r.state = RowState::Done; });
        s = progress.measure();
        QCOMPARE(s.bytesLeft, 3072);
        QCOMPARE(s.secondsLeft, 2);
    }

    void summaryCountsTheRowsTheRunEnded()
    {
        DownloadListModel model;
        const RowId before = TestRows::of(model).addRow(row("before", RowState::Done, 10, 10));
        const RowId done = TestRows::of(model).addRow(row("done", RowState::Done, 10, 10));
        const RowId failed = TestRows::of(model).addRow(row("failed", RowState::Failed));
        const RowId again = TestRows::of(model).addRow(row("again", RowState::Failed));
        const RowId gone = TestRows::of(model).addRow(row("gone", RowState::Done));

        QueueProgress progress(&model);
        progress.noteEnded(before); // no run yet: not counted
        QVERIFY(!progress.running());
        progress.begin();
        QVERIFY(progress.running());
        for (RowId id : {done, failed, again, gone})
            progress.noteEnded(id);
        progress.noteEnded(done);                               // a row ends once however often it is told
        TestRows::of(model).setState(again, RowState::Waiting); // sent back to the queue afterwards
        TestRows::of(model).removeRow(gone);
        m_clock.advanceMs(185 * 1000 + 300);
        QCOMPARE(progress.elapsedMs(), 185300);

        const QueueProgress::Summary summary = progress.finish();
        QVERIFY(!progress.running());
        QCOMPARE(summary.done, 1);
        QCOMPARE(summary.failed, 1);
        QVERIFY(summary.any());
        QCOMPARE(progresstext::summaryLine(summary, false),
                 QStringLiteral("下载结束：完成 1 个，失败 1 个，用时 3分05秒"));
        QCOMPARE(progresstext::summaryLine(summary, true),
                 QStringLiteral("下载停止：完成 1 个，失败 1 个，用时 3分05秒"));

        // The next run starts from nothing.
        progress.begin();
        QVERIFY(!progress.finish().any());
    }

    void durations_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("terminal");
        QTest::newRow("none") << qint64(0) << "0秒"
                              << "0:00";
        QTest::newRow("under a minute") << qint64(59) << "59秒"
                                        << "0:59";
        QTest::newRow("a minute") << qint64(60) << "1分00秒"
                                  << "1:00";
        QTest::newRow("minutes") << qint64(185) << "3分05秒"
                                 << "3:05";
        QTest::newRow("hours") << qint64(3725) << "1小时02分05秒"
                               << "1:02:05";
        QTest::newRow("unknown") << qint64(-1) << "0秒"
                                 << "?";
    }
    void durations()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, window);
        QFETCH(QString, terminal);
        QCOMPARE(progresstext::duration(seconds), window);
        QCOMPARE(progresstext::terminalDuration(seconds), terminal);
    }
};

FN_TEST_MAIN_CORE(TestQueueProgress)
#include "tst_queueprogress.moc"
