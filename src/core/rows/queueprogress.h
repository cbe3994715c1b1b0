#pragma once

#include "core/rows/downloadlistmodel.h"

#include <QSet>
#include <QString>

// How a run of the queue goes: the speed of all transfers together, the time the rows still to come
// will take, and, when the run ends, how many rows it finished and failed and how long it took.
// Reads the list and the program's clock only; the window and the batch mode show what it measures.
class QueueProgress
{
public:
    // The speed follows the rows' speeds with this time constant, so the time left does not jump
    // with every row that starts or ends.
    static constexpr qint64 SmoothingMs = 3000;

    struct Snapshot
    {
        qint64 bytesPerSecond = 0; // all transfers together
        qint64 bytesLeft = -1;     // of the rows not yet finished; -1 when no size is known to go by
        qint64 secondsLeft = -1;   // -1: unknown (no speed, or nothing to go by)
        int finished = 0;          // rows done or failed
        int failed = 0;            // of those, the failed ones
        int total = 0;
    };

    struct Summary
    {
        int done = 0;
        int failed = 0;
        qint64 elapsedMs = 0;
        bool any() const { return done + failed > 0; }
    };

    explicit QueueProgress(const DownloadListModel *model);

    // A run starts: the clock and the rows it ended start afresh.
    void begin();
    bool running() const { return m_running; }
    qint64 elapsedMs() const;
    // A row reached done or failed while the run was on.
    void noteEnded(RowId id);
    // The run is over: the rows it ended, as they stand now, and its length.
    Summary finish();

    // The queue as it stands now. Rows whose size is not known yet are counted at the mean size of the
    // rows whose size is known.
    Snapshot measure();

private:
    qint64 smoothedSpeed(qint64 rowSpeeds, bool anyDownloading);

    const DownloadListModel *m_model;
    bool m_running = false;
    qint64 m_startMs = 0;
    QSet<RowId> m_ended;
    double m_speed = -1; // -1: no earlier reading to smooth with
    qint64 m_speedAtMs = 0;
};

// The texts of the measurements, for the window (Chinese) and the terminal.
namespace progresstext {
// "45秒", "3分05秒", "1小时02分05秒"
QString duration(qint64 seconds);
// "总速度 1.2 MB/s，剩余 3分05秒" ("剩余 未知" when it cannot be told)
QString statusLine(const QueueProgress::Snapshot &snapshot);
// "站点要求等待：42 秒后继续": instead of the speed while the queue only waits out busy hosts (seconds
// rounded up).
QString hostWait(qint64 ms);
// Rows done of all, and the failed ones beside it when there are any: "12/25", "18/25，失败 2"
QString fraction(const QueueProgress::Snapshot &snapshot);
// "完成 12 个，失败 1 个，用时 3分05秒"
QString summaryBody(const QueueProgress::Summary &summary);
// "下载结束：" or, for a run the user stopped, "下载停止：" followed by the body.
QString summaryLine(const QueueProgress::Summary &summary, bool stopped);
QString summaryHead(bool stopped);
// "3:05", "1:02:05", "?" when unknown
QString terminalDuration(qint64 seconds);
} // namespace progresstext
