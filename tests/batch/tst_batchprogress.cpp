// The batch mode's progress on stderr: each finished file's line carries the files finished out of all,
// the speed and the time left, and the live bar shows the same.
#include "batch/batchprogress.h"
#include "commonseams.h"
#include "core/common/clock.h"
#include "core/rows/downloadlistmodel.h"
#include "testenv.h"
#include "testrows.h"

#include <cstdio>

namespace {

QString readAll(std::FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, file))
        bytes.append(buffer, static_cast<qsizetype>(n));
    return QString::fromUtf8(bytes);
}

// The program's clock for the length of a test, whatever way the test ends.
struct ManualClockInstalled
{
    ManualClock clock;
    ManualClockInstalled() { ClockSeam::install(&clock); }
    ~ManualClockInstalled() { ClockSeam::install(nullptr); }
};

} // namespace

class TestBatchProgress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linesAndBarTellSpeedAndTimeLeft()
    {
        ManualClockInstalled installed;
        DownloadListModel model;
        QList<RowId> ids;
        for (const char *name : {"a", "b", "c"}) {
            DownloadRow row;
            row.key = QStringLiteral("http://127.0.0.1:1/%1.pdf").arg(name);
            row.name = name;
            row.type = QStringLiteral("pdf");
            ids << TestRows::of(model).addRow(row);
        }
        std::FILE *out = std::tmpfile();
        QVERIFY(out);
        BatchProgress progress(&model, out, true);
        progress.start();
        TestRows::of(model).update(ids.at(0), [](DownloadRow &r) {
            r.state = RowState::Done;
            r.size = r.downloaded = 1000;
            r.percentShown = true;
        });
        TestRows::of(model).update(ids.at(1), [](DownloadRow &r) {
            r.state = RowState::Downloading;
            r.size = 3000;
            r.downloaded = 1000;
            r.speed = 1024;
        });
        progress.refresh();
        const QString text = readAll(out);
        // 2000 bytes of b and c at the mean known size (2000): 4000 bytes at 1 KiB/s.
        QVERIFY2(text.contains(QStringLiteral("Done    a.pdf  1000 bytes  [1/3, 1.0 KiB/s, 0:04 left]\n")),
                 qPrintable(text));
        QVERIFY2(text.contains(
                     QStringLiteral("\r[########----------------] 1/3 files  2.0 KiB  1.0 KiB/s  0:04 left")),
                 qPrintable(text));

        // Nothing moving: the time left cannot be told.
        TestRows::of(model).update(ids.at(1), [](DownloadRow &r) {
            r.state = RowState::Failed;
            r.speed = -1;
            r.reason = FailureReason::of(FailureReason::Kind::Stall, 0, QStringLiteral("60 s"));
        });
        progress.refresh();
        QVERIFY2(readAll(out).contains(QStringLiteral(
                     "Failed  b.pdf  3000 bytes  (stalled: 60 s)  [2/3, 0 B/s, time left unknown]\n")),
                 qPrintable(readAll(out)));
        progress.stop();
        std::fclose(out);
    }

    void theLastLineTellsHowTheRunWent()
    {
        ManualClockInstalled installed;
        DownloadListModel model;
        QList<RowId> ids;
        for (const char *name : {"kept", "a", "b", "c"}) {
            DownloadRow row;
            row.key = QStringLiteral("http://127.0.0.1:1/%1.pdf").arg(name);
            row.name = name;
            row.type = QStringLiteral("pdf");
            ids << TestRows::of(model).addRow(row);
        }
        // Carried over done from an earlier run: not received in this one.
        TestRows::of(model).update(ids.at(0), [](DownloadRow &r) {
            r.state = RowState::Done;
            r.size = r.downloaded = 1 << 20;
        });
        const auto finish = [&](int i, RowState state, qint64 bytes) {
            TestRows::of(model).update(ids.at(i), [state, bytes](DownloadRow &r) {
                r.state = state;
                r.size = r.downloaded = bytes;
                r.speed = -1;
            });
        };
        std::FILE *out = std::tmpfile();
        QVERIFY(out);
        BatchProgress progress(&model, out, false);
        progress.start();
        installed.clock.advanceMs(20000);
        finish(1, RowState::Done, 30 * 1024);
        progress.refresh();
        installed.clock.advanceMs(20000);
        finish(2, RowState::Failed, 0);
        // Already there: its bytes are not this run's either.
        finish(3, RowState::Done, 1 << 20);
        TestRows::of(model).update(ids.at(3), [](DownloadRow &r) { r.percentNote = PercentNote::Skipped; });
        progress.refresh();
        QString text = readAll(out);
        // Nothing moves at the end: the last line gives the whole run, not the speed of that moment.
        QVERIFY2(text.endsWith(QStringLiteral("[3/4 done, 1 failed, 768 B/s on average, took 0:40]\n")),
                 qPrintable(text));
        progress.stop();
        QCOMPARE(readAll(out), text); // said once

        // A run stopped before every file finished ends on a line of its own.
        DownloadRow waiting;
        waiting.key = QStringLiteral("http://127.0.0.1:1/d.pdf");
        TestRows::of(model).addRow(waiting);
        progress.start();
        installed.clock.advanceMs(65000);
        progress.stop();
        text = readAll(out);
        QVERIFY2(
            text.endsWith(QStringLiteral("]\nEnded   [3/5 done, 1 failed, 0 B/s on average, took 1:05]\n")),
            qPrintable(text));
        std::fclose(out);
    }
};

FN_TEST_MAIN_CORE(TestBatchProgress)
#include "tst_batchprogress.moc"
