#include "core/common/clock.h"
#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/settings/settingsstore.h"
#include "core/transfer/downloader.h"
#include "core/transfer/downloadscheduler.h"
#include "core/transfer/partfile.h"
#include "core/transfer/retrypolicy.h"
#include "core/transfer/schedulertime.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSet>
#include <cmath>

// What a transfer reports: progress, the answer, and its end (done, failed,
// tried again or a wall).

using Kind = FailureReason::Kind;
using schedulertime::monoNow;
using schedulertime::now;

void DownloadScheduler::onProgress(RowId id, qint64 received, qint64 total)
{
    const qint64 rate = m_transfers.noteBytes(id, received);
    m_rows.update(id, [=](DownloadRow &r) {
        if (rate >= 0)
            r.speed = std::max<qint64>(0, rate);
        if (total <= 0 || total < received)
            return;
        r.size = total;
        r.sizeNote = SizeNote::None;
        r.downloaded = received;
        r.percentShown = true;
    });
}

void DownloadScheduler::onAnswered(RowId id, qint64 length, const QString &type, const QString &name)
{
    // The answer's type and name show while it arrives; the row gets them back if
    // the try fails.
    if (const DownloadRow *row = m_model->find(id); row && !m_beforeAnswer.contains(id))
        m_beforeAnswer.insert(id, {row->name, row->type});
    m_rows.update(id, [&](DownloadRow &r) {
        r.type = type;
        r.name = name;
        r.size = length > 0 ? length : -1;
        r.sizeNote = length > 0 ? SizeNote::None : SizeNote::Unknown;
    });
}

void DownloadScheduler::onBodyReceived(RowId id)
{
    // A paper came through: settled now, before the slot may take the next row,
    // so that a wall met by a later request is never forgotten when this file
    // reaches the disk.
    m_pause.settleAnswer(id, WallWatch::Answer::Passed);
    // With no pause between files the slot serves the next row while this file is
    // flushed to the disk.
    auto *transfer = qobject_cast<Downloader *>(sender());
    if (!transfer || m_options.intervalSeconds > 0 || !isRunning())
        return;
    const bool single = m_transfers.single().transfer == transfer;
    if (!m_transfers.commit(transfer))
        return;
    if (single)
        m_busy = false;
    QTimer::singleShot(0, this, &DownloadScheduler::startDue);
}

void DownloadScheduler::onFinished(RowId id, const TransferResult &answer)
{
    TransferResult result = answer;
    auto *transfer = qobject_cast<Downloader *>(sender());
    const bool single = transfer ? transfer->isSingleConnection() : method() == DownloadMethod::Single;
    if (m_transfers.free(transfer))
        m_busy = false;
    m_picker.release(id);
    m_transfers.endSpeed(id);
    const auto before = m_beforeAnswer.take(id);
    if (!result.done && !before.second.isEmpty()) {
        // A type learnt from an answer that failed is not the paper's.
        m_rows.update(id, [&before](DownloadRow &r) {
            r.name = before.first;
            r.type = before.second;
        });
    }
    const bool follows =
        !result.done && result.pageRead && m_landing.follow(id, &result, m_options.namesFromLinks);
    if (follows) {
        // A page that names its full text is the way to the paper, not a wall in front of it.
        m_pause.settleAnswer(id, WallWatch::Answer::Uncounted);
    } else if (result.done) {
        m_pause.settleAnswer(id, WallWatch::Answer::Passed);
        DownloadComplete(id, result, single);
    } else if (m_pause.pauseForDisk(id, result) || scheduleRetry(id, result)) {
        m_pause.settleAnswer(id, WallWatch::Answer::Uncounted);
    } else {
        DownloadError(id, result);
        if (result.pageRead && result.landing.namesFullText())
            m_pause.settleAnswer(id, WallWatch::Answer::Uncounted);
        else
            m_pause.noteWall(id, result);
    }
    // A web page on the way to the paper is no file: the pause between files does not start with it.
    if (result.stamped && !follows)
        m_pacing.stampFinish();
    if (transfer)
        transfer->deleteLater();
    if (const DownloadRow *row = m_model->find(id); row && row->state != RowState::Waiting) {
        m_landing.remove(id);
        Q_EMIT rowEnded(id);
    }
    // The next row starts now, or when the pause after this file has passed.
    if (isRunning()) {
        if (m_pacing.intervalPassed())
            QTimer::singleShot(0, this, &DownloadScheduler::startDue);
        else
            scheduleWake();
    }
    checkQueueFinished();
}

bool DownloadScheduler::scheduleRetry(RowId id, const TransferResult &result)
{
    const RetryBook::Outcome retry = m_retries.schedule(id, result, m_options.retries);
    if (retry.again)
        Q_EMIT retryScheduled(id, retry.attempt, m_options.retries, retry.delayMs);
    return retry.again;
}

void DownloadScheduler::resumeAfterVerification()
{
    if (m_pause.resume())
        start();
}

void DownloadScheduler::DownloadComplete(RowId id, const TransferResult &result, bool single)
{
    m_rows.update(id, [&](DownloadRow &r) {
        r.state = RowState::Done;
        r.reason = {};
        r.speed = -1;
        r.name = result.name;
        r.type = result.type;
        r.owned = OwnedFile{rowFilePath(r), result.identity};
        r.sizeNote = SizeNote::None;
        r.downloaded = result.received;
        if (result.total > 0) {
            r.size = result.total;
            r.percentShown = true;
        } else {
            // An answer without a stated length is complete now: its total is what
            // arrived.
            r.size = result.received;
            r.percentShown = !single;
            r.percentNote = single ? PercentNote::Full : PercentNote::None;
        }
    });
    if (const DownloadRow *row = m_model->find(id); row && result.stamped)
        Q_EMIT transferNoted(TransferNote::Ended, row->name);
}

void DownloadScheduler::DownloadError(RowId id, const TransferResult &result)
{
    m_rows.update(id, [&](DownloadRow &r) {
        r.state = RowState::Failed;
        r.reason = result.reason;
        r.speed = -1;
        if (result.sizeNote != SizeNote::None)
            r.sizeNote = result.sizeNote;
        if (result.clearPercent) {
            r.percentShown = false;
            r.percentNote = PercentNote::None;
        }
    });
    // A failed row is never named as finished.
    if (const DownloadRow *row = m_model->find(id); row && result.stamped && result.answered)
        Q_EMIT transferNoted(TransferNote::Failed, row->name);
}
