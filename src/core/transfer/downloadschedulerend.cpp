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

void DownloadScheduler::onBodyReceived(RowId id)
{
    // A paper came through: settled now, before the slot may take the next row,
    // so that a wall met by a later request is never forgotten when this file
    // reaches the disk.
    m_pause.settleAnswer(id, WallWatch::Answer::Passed);
    // With no pause between files the slot serves the next row while this file is
    // flushed to the disk.
    auto *transfer = qobject_cast<Downloader *>(sender());
    if (!transfer || m_options.intervalSeconds > 0 || !isRunning()) {
        // No row starts on this one's heels: unless another is still being received, this file is the
        // last for now and does not wait for others to share its flush.
        if (!m_transfers.anyReceivingBesides(transfer))
            PartFile::flushSoon();
        return;
    }
    const bool single = m_transfers.single().transfer == transfer;
    if (!m_transfers.commit(transfer))
        return;
    if (single)
        m_busy = false;
    QTimer::singleShot(0, this, &DownloadScheduler::startDue);
}

struct DownloadScheduler::TryEnd
{
    // The row goes on from a paper's page to its full text, its file is in place, it waits for the disk
    // or another try, or it failed. True when it goes on from the page.
    static bool settle(DownloadScheduler *s, RowId id, TransferResult &result, bool single)
    {
        if (!result.done && result.pageRead &&
            s->m_landing.follow(id, &result, s->m_options.namesFromLinks, s->m_options.sources)) {
            // A page that names its full text is the way to the paper, not a wall in front of it.
            s->m_pause.settleAnswer(id, WallWatch::Answer::Uncounted);
            return true;
        }
        if (result.done) {
            s->m_pause.settleAnswer(id, WallWatch::Answer::Passed);
            s->m_picker.dropEarlierCopy(s->m_reports->DownloadComplete(id, result, single));
        } else if (s->m_pause.pauseForDisk(id, result) || s->m_reports->scheduleRetry(id, result)) {
            s->m_pause.settleAnswer(id, WallWatch::Answer::Uncounted);
        } else if (s->m_landing.goOnToNextSource(id, result, s->m_options.sources)) {
            s->m_retries.drop(id); // bytes kept on the way given up belong to no other
            s->m_pause.settleAnswer(id, WallWatch::Answer::Uncounted);
        } else {
            // The reason tells a wall from the site's honest answer (a paper's own page without a full
            // text to take among them).
            s->m_reports->DownloadError(id, result);
            s->m_pause.noteWall(id, result);
        }
        return false;
    }
};

void DownloadScheduler::onFinished(RowId id, const TransferResult &answer)
{
    TransferResult result = answer;
    auto *transfer = qobject_cast<Downloader *>(sender());
    const bool single = transfer ? transfer->isSingleConnection() : method() == DownloadMethod::Single;
    if (m_transfers.free(transfer))
        m_busy = false;
    m_picker.release(id);
    m_transfers.endSpeed(id);
    m_reports->tryEnded(id, result.done);
    const bool follows = TryEnd::settle(this, id, result, single);
    // A web page on the way to the paper is no file: the pause between files does not start with it.
    if (result.stamped && !follows)
        m_pacing.stampFinish();
    if (transfer)
        transfer->deleteLater();
    if (const DownloadRow *row = m_model->find(id); row && row->state != RowState::Waiting) {
        m_landing.remove(id);
        Q_EMIT rowEnded(id);
    }
    Q_EMIT transferEnded(id);
    // The next row starts now, or when the pause after this file has passed.
    if (isRunning()) {
        if (m_pacing.intervalPassed())
            QTimer::singleShot(0, this, &DownloadScheduler::startDue);
        else
            scheduleWake();
    }
    checkQueueFinished();
}

void DownloadScheduler::resumeAfterVerification()
{
    if (m_pause.resume())
        start();
}
