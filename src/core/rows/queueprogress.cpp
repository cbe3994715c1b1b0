#include "core/rows/queueprogress.h"

#include "core/common/clock.h"

#include <cmath>

namespace {

qint64 monoNow()
{
    return Clock::current().monotonicMs();
}

// A row held by the queue's pause waits: it is not finished, and not failed.
bool isFinished(const DownloadRow &row)
{
    return row.shownState() == RowState::Done || row.shownState() == RowState::Failed;
}

// The file's whole length, when the row knows it.
qint64 knownSize(const DownloadRow &row)
{
    return row.sizeNote == SizeNote::None && row.size > 0 ? row.size : -1;
}

} // namespace

QueueProgress::QueueProgress(const DownloadListModel *model) : m_model(model) {}

void QueueProgress::begin()
{
    m_running = true;
    m_startMs = monoNow();
    m_ended.clear();
    m_speed = -1;
}

qint64 QueueProgress::elapsedMs() const
{
    return m_running ? std::max<qint64>(0, monoNow() - m_startMs) : 0;
}

void QueueProgress::noteEnded(RowId id)
{
    if (m_running)
        m_ended.insert(id);
}

QueueProgress::Summary QueueProgress::finish()
{
    Summary summary;
    summary.elapsedMs = elapsedMs();
    for (RowId id : std::as_const(m_ended)) {
        const DownloadRow *row = m_model->find(id);
        if (row && row->state == RowState::Done)
            ++summary.done;
        else if (row && row->state == RowState::Failed)
            ++summary.failed;
    }
    m_running = false;
    m_ended.clear();
    m_speed = -1;
    return summary;
}

qint64 QueueProgress::smoothedSpeed(qint64 rowSpeeds, bool anyDownloading)
{
    const qint64 now = monoNow();
    if (m_speed < 0 || !anyDownloading) {
        // Nothing to smooth with, or no transfer at all: the reading as it is.
        m_speed = static_cast<double>(rowSpeeds);
    } else {
        const double share = 1.0 - std::exp(-static_cast<double>(now - m_speedAtMs) / SmoothingMs);
        m_speed += share * (static_cast<double>(rowSpeeds) - m_speed);
    }
    m_speedAtMs = now;
    return std::llround(m_speed);
}

namespace {

// What the rows add up to now.
struct Tally
{
    int finished = 0;
    int failed = 0;
    qint64 rowSpeeds = 0;
    bool anyDownloading = false;
    qint64 sizesKnown = 0; // of every row whose size is known
    int rowsKnown = 0;
    qint64 knownLeft = 0; // still to come of the unfinished rows whose size is known
    int unknownLeft = 0;  // unfinished rows of unknown size

    void add(const DownloadRow &row)
    {
        const qint64 size = knownSize(row);
        if (size > 0) {
            sizesKnown += size;
            ++rowsKnown;
        }
        if (isFinished(row)) {
            ++finished;
            if (row.shownState() == RowState::Failed)
                ++failed;
            return;
        }
        if (row.state == RowState::Downloading) {
            anyDownloading = true;
            rowSpeeds += std::max<qint64>(0, row.speed);
        }
        if (size > 0)
            knownLeft += std::max<qint64>(0, size - std::max<qint64>(0, row.downloaded));
        else
            ++unknownLeft;
    }

    // Rows of unknown size count as the known ones do on average; -1 when no size is known at all.
    qint64 bytesLeft() const
    {
        if (unknownLeft == 0)
            return knownLeft;
        return rowsKnown > 0 ? knownLeft + unknownLeft * (sizesKnown / rowsKnown) : -1;
    }
};

} // namespace

QueueProgress::Snapshot QueueProgress::measure()
{
    Tally tally;
    for (int i = 0; i < m_model->count(); ++i)
        tally.add(m_model->row(i));
    Snapshot s;
    s.total = m_model->count();
    s.finished = tally.finished;
    s.failed = tally.failed;
    s.bytesPerSecond = smoothedSpeed(tally.rowSpeeds, tally.anyDownloading);
    s.bytesLeft = tally.bytesLeft();
    if (s.bytesLeft >= 0 && s.bytesPerSecond > 0)
        s.secondsLeft = (s.bytesLeft + s.bytesPerSecond - 1) / s.bytesPerSecond;
    return s;
}

namespace progresstext {

QString duration(qint64 seconds)
{
    seconds = std::max<qint64>(0, seconds);
    const qint64 h = seconds / 3600;
    const qint64 m = seconds % 3600 / 60;
    const qint64 sec = seconds % 60;
    auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (h > 0)
        return QStringLiteral("%1小时%2分%3秒").arg(h).arg(two(m), two(sec));
    if (m > 0)
        return QStringLiteral("%1分%2秒").arg(m).arg(two(sec));
    return QStringLiteral("%1秒").arg(sec);
}

QString statusLine(const QueueProgress::Snapshot &snapshot)
{
    const QString left = snapshot.secondsLeft >= 0 ? duration(snapshot.secondsLeft) : QStringLiteral("未知");
    return QStringLiteral("总速度 %1，剩余 %2")
        .arg(DownloadListModel::speedText(snapshot.bytesPerSecond), left);
}

QString hostWait(qint64 ms)
{
    return QStringLiteral("站点要求等待：%1 秒后继续").arg((std::max<qint64>(0, ms) + 999) / 1000);
}

QString fraction(const QueueProgress::Snapshot &snapshot)
{
    // A failed row is not done: the title agrees with the status bar's counts.
    const QString done = QStringLiteral("%1/%2").arg(snapshot.finished - snapshot.failed).arg(snapshot.total);
    return snapshot.failed > 0 ? done + QStringLiteral("，失败 %1").arg(snapshot.failed) : done;
}

QString summaryBody(const QueueProgress::Summary &summary)
{
    return QStringLiteral("完成 %1 个，失败 %2 个，用时 %3")
        .arg(summary.done)
        .arg(summary.failed)
        .arg(duration((summary.elapsedMs + 500) / 1000));
}

QString summaryHead(bool stopped)
{
    return stopped ? QStringLiteral("下载停止") : QStringLiteral("下载结束");
}

QString summaryLine(const QueueProgress::Summary &summary, bool stopped)
{
    return summaryHead(stopped) + QStringLiteral("：") + summaryBody(summary);
}

QString terminalDuration(qint64 seconds)
{
    if (seconds < 0)
        return QStringLiteral("?");
    const qint64 h = seconds / 3600;
    const QString ms = QStringLiteral("%1:%2")
                           .arg(seconds % 3600 / 60, h > 0 ? 2 : 1, 10, QLatin1Char('0'))
                           .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return h > 0 ? QStringLiteral("%1:%2").arg(h).arg(ms) : ms;
}

} // namespace progresstext
