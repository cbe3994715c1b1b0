#pragma once

#include "core/rows/queueprogress.h"
#include "core/search/addallwalk.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <cstdio>

class DownloadListModel;
enum class RowState;

// Reports a batch download on stderr: a line for every file that finishes, with the files finished out of
// all, the speed and the time left, and, on a terminal, a live bar with the same and the bytes received.
// The last line, when the run is over, gives the files done out of all, the average speed over the run
// and the time it took instead. Reads the download list only.
class BatchProgress : public QObject
{
    Q_OBJECT

public:
    BatchProgress(const DownloadListModel *model, std::FILE *out, bool liveBar, QObject *parent = nullptr);

    void start();
    // Reports what changed since the last look and ends the bar line.
    void stop();
    // Reports rows that reached done or failed since the last look.
    void refresh();
    // A line of its own between the finished files (the bar is drawn again after it).
    void printLine(const QString &line);

    // "Done    name.pdf  12345 bytes" / "Failed  name.pdf  文件不存在"
    static QString finishedLine(const DownloadListModel &model, int position);
    static QString byteText(qint64 bytes);
    // "3/25, 1.2 MiB/s, 0:35 left" (or "time left unknown")
    static QString progressText(const QueueProgress::Snapshot &snapshot);
    // At the end of a run: "23/25 done, 2 failed, 1.2 MiB/s on average, took 0:35" (the failed ones only
    // when there are any).
    static QString endText(const QueueProgress::Snapshot &snapshot, qint64 bytesReceived, qint64 elapsedMs);

private:
    qint64 bytesSoFar() const;
    // The bytes that transfers brought in, not counting files that were there already.
    qint64 bytesReceived() const;
    // The text in brackets after a finished file: the end of the run's when it is over.
    QString bracketText(const QueueProgress::Snapshot &snapshot, bool over) const;
    void drawBar(const QueueProgress::Snapshot &snapshot);
    void clearBar();

    const DownloadListModel *m_model;
    std::FILE *m_out;
    bool m_liveBar;
    bool m_barShown = false;
    bool m_endShown = false;   // the end of the run's line is out
    qint64 m_bytesAtStart = 0; // received before this run: rows carried over from an earlier one
    QList<int> m_seen;         // state each row had at the last look
    QTimer m_timer;
    QueueProgress m_queue;
};

// The line a batch run prints when its walk over result pages has ended: why it ended.
QString walkEndMessage(AddAllWalk::End reason, int pagesTaken, const QString &lastPageAddress);
