#include "batch/batchprogress.h"

#include "core/common/safetext.h"
#include "core/rows/downloadlistmodel.h"

#include <utility>

namespace {
void put(std::FILE *out, const QString &text)
{
    std::fputs(text.toUtf8().constData(), out);
    std::fflush(out);
}

bool isFinished(RowState state)
{
    return state == RowState::Done || state == RowState::Failed;
}
} // namespace

BatchProgress::BatchProgress(const DownloadListModel *model, std::FILE *out, bool liveBar, QObject *parent)
    : QObject(parent), m_model(model), m_out(out), m_liveBar(liveBar), m_queue(model)
{
    m_timer.setInterval(250);
    connect(&m_timer, &QTimer::timeout, this, &BatchProgress::refresh);
}

void BatchProgress::start()
{
    m_queue.begin();
    m_bytesAtStart = bytesReceived();
    m_endShown = false;
    m_timer.start();
}

void BatchProgress::stop()
{
    m_timer.stop();
    refresh();
    clearBar();
    // A run that ends before every file finished (stopped, or waiting on something nobody mends) still
    // says how it went, once.
    if (!std::exchange(m_endShown, true) && m_queue.running())
        put(m_out,
            QStringLiteral("Ended   [") + bracketText(m_queue.measure(), true) + QStringLiteral("]\n"));
}

QString BatchProgress::endText(const QueueProgress::Snapshot &snapshot, qint64 bytesReceived,
                               qint64 elapsedMs)
{
    const qint64 seconds = (std::max<qint64>(0, elapsedMs) + 500) / 1000;
    const qint64 average = elapsedMs > 0 ? bytesReceived * 1000 / elapsedMs : 0;
    const int done = snapshot.finished - snapshot.failed;
    const QString failed =
        snapshot.failed > 0 ? QStringLiteral(", %1 failed").arg(snapshot.failed) : QString();
    return QStringLiteral("%1/%2 done%3, %4/s on average, took %5")
        .arg(done)
        .arg(snapshot.total)
        .arg(failed, byteText(average), progresstext::terminalDuration(seconds));
}

QString BatchProgress::bracketText(const QueueProgress::Snapshot &snapshot, bool over) const
{
    return over ? endText(snapshot, bytesReceived() - m_bytesAtStart, m_queue.elapsedMs())
                : progressText(snapshot);
}

QString BatchProgress::byteText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KiB").arg(bytes / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MiB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
}

QString BatchProgress::progressText(const QueueProgress::Snapshot &snapshot)
{
    const QString left = snapshot.secondsLeft >= 0
                             ? progresstext::terminalDuration(snapshot.secondsLeft) + QStringLiteral(" left")
                             : QStringLiteral("time left unknown");
    return QStringLiteral("%1/%2, %3/s, %4")
        .arg(snapshot.finished)
        .arg(snapshot.total)
        .arg(byteText(snapshot.bytesPerSecond), left);
}

QString BatchProgress::finishedLine(const DownloadListModel &model, int position)
{
    const DownloadRow &row = model.row(position);
    const QString file = row.type.isEmpty() ? row.name : row.name + u'.' + row.type;
    const bool done = row.state == RowState::Done;
    QString detail = row.sizeNote == SizeNote::None && row.size >= 0
                         ? QStringLiteral("%1 bytes").arg(row.size)
                         : row.sizeText();
    if (row.percentNote == PercentNote::Skipped || row.percentNote == PercentNote::Held)
        detail += u' ' + row.percentText();
    if (!done && !row.reason.isNone())
        detail += QStringLiteral("  (") + reasonText(row.reason) + u')';
    const QString line =
        QStringLiteral("%1  %2").arg(done ? QStringLiteral("Done  ") : QStringLiteral("Failed"), file);
    detail = detail.trimmed();
    // Names and texts may come from the site; none of their control characters reaches the terminal.
    return ShowableText(detail.isEmpty() ? line : line + QStringLiteral("  ") + detail);
}

qint64 BatchProgress::bytesReceived() const
{
    qint64 total = 0;
    for (int i = 0; i < m_model->count(); ++i) {
        const DownloadRow &row = m_model->row(i);
        if (row.percentNote != PercentNote::Skipped && row.percentNote != PercentNote::Held)
            total += std::max<qint64>(0, row.downloaded);
    }
    return total;
}

qint64 BatchProgress::bytesSoFar() const
{
    qint64 total = 0;
    for (int i = 0; i < m_model->count(); ++i)
        total += std::max<qint64>(0, m_model->row(i).downloaded);
    return total;
}

void BatchProgress::refresh()
{
    const QueueProgress::Snapshot snapshot = m_queue.measure();
    // The rows finished since the last look go out in one write.
    QString lines;
    QString progress;
    for (int i = 0; i < m_model->count(); ++i) {
        const RowState state = m_model->row(i).state;
        if (i >= m_seen.size())
            m_seen.append(0);
        const int previous = std::exchange(m_seen[i], static_cast<int>(state));
        if (isFinished(state) && previous != static_cast<int>(state)) {
            // Every file finished, or the run is being stopped: this is the run's last line.
            const bool over = snapshot.finished == snapshot.total || !m_timer.isActive();
            if (progress.isEmpty())
                progress = QStringLiteral("  [") + bracketText(snapshot, over) + QStringLiteral("]\n");
            m_endShown = m_endShown || over;
            lines += finishedLine(*m_model, i) + progress;
        }
    }
    if (!lines.isEmpty()) {
        clearBar();
        put(m_out, lines);
    }
    if (m_liveBar && m_timer.isActive())
        drawBar(snapshot);
}

void BatchProgress::printLine(const QString &line)
{
    clearBar();
    put(m_out, ShowableText(line) + u'\n');
}

void BatchProgress::drawBar(const QueueProgress::Snapshot &snapshot)
{
    constexpr int width = 24;
    const int filled = snapshot.total > 0 ? snapshot.finished * width / snapshot.total : 0;
    const QString bar = QString(filled, u'#') + QString(width - filled, u'-');
    const QString left = snapshot.secondsLeft >= 0
                             ? progresstext::terminalDuration(snapshot.secondsLeft) + QStringLiteral(" left")
                             : QString();
    put(m_out, QStringLiteral("\r[%1] %2/%3 files  %4  %5/s  %6\x1b[K")
                   .arg(bar)
                   .arg(snapshot.finished)
                   .arg(snapshot.total)
                   .arg(byteText(bytesSoFar()), byteText(snapshot.bytesPerSecond), left));
    m_barShown = true;
}

void BatchProgress::clearBar()
{
    if (!m_barShown)
        return;
    put(m_out, QStringLiteral("\r\x1b[K"));
    m_barShown = false;
}

QString walkEndMessage(AddAllWalk::End reason, int pagesTaken, const QString &lastPageAddress)
{
    const QString walked =
        QStringLiteral("the walk over result pages ended after %1 page(s): ").arg(pagesTaken);
    switch (reason) {
    case AddAllWalk::End::LastPage:
        return walked + QStringLiteral("the last page has no next-page link");
    case AddAllWalk::End::Stopped:
        return walked + QStringLiteral("it was stopped");
    case AddAllWalk::End::LoadTimedOut:
        return walked + QStringLiteral("the next page after %1 did not load in time").arg(lastPageAddress);
    case AddAllWalk::End::Unreadable:
        return walked + QStringLiteral("the page on show could not be read");
    case AddAllWalk::End::Revisited:
        return walked + QStringLiteral("the next-page link of %1 leads back to a page already taken")
                            .arg(lastPageAddress);
    case AddAllWalk::End::PageLimit:
        return walked + QStringLiteral("that is the limit of a walk");
    }
    return walked;
}
