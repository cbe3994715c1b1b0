#include "core/transfer/transferreports.h"

#include "core/rows/targetfile.h"
#include "core/transfer/retrybook.h"
#include "core/transfer/transferslots.h"

#include <algorithm>

TransferReports::TransferReports(RowWriter rows, TransferSlots &transfers, RetryBook &retries,
                                 const SchedulerOptions &options, NoteSink note, QObject *parent)
    : QObject(parent), m_rows(rows), m_model(rows.model()), m_transfers(transfers), m_retries(retries),
      m_options(options), m_note(std::move(note))
{
}

void TransferReports::watch(Downloader *transfer)
{
    connect(transfer, &Downloader::DownloadProgress, this, &TransferReports::onProgress);
    connect(transfer, &Downloader::answered, this, &TransferReports::onAnswered);
    connect(transfer, &Downloader::webPageReceived, this, &TransferReports::webPageReceived);
    connect(transfer, &Downloader::connectionStateChanged, this,
            [this](RowId, ConnectionState state, int code, const QString &text) {
                Q_EMIT connectionStateChanged(state, code, text);
            });
}

void TransferReports::onProgress(RowId id, qint64 received, qint64 total)
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

void TransferReports::onAnswered(RowId id, qint64 length, const QString &type, const QString &name)
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

void TransferReports::tryEnded(RowId id, bool done)
{
    const auto before = m_beforeAnswer.take(id);
    if (!done && !before.second.isEmpty()) {
        // A type learnt from an answer that failed is not the paper's.
        m_rows.update(id, [&before](DownloadRow &r) {
            r.name = before.first;
            r.type = before.second;
        });
    }
}

bool TransferReports::scheduleRetry(RowId id, const TransferResult &result)
{
    const RetryBook::Outcome retry = m_retries.schedule(id, result, m_options.retries);
    if (retry.again && retry.whole)
        Q_EMIT fetchedAgainWhole(id, result.reason);
    else if (retry.again)
        Q_EMIT retryScheduled(id, retry.attempt, m_options.retries, retry.delayMs);
    return retry.again;
}

OwnedFile TransferReports::DownloadComplete(RowId id, const TransferResult &result, bool single)
{
    OwnedFile earlier;
    m_rows.update(id, [&](DownloadRow &r) {
        earlier = r.owned;
        r.state = RowState::Done;
        r.reason = {};
        r.speed = -1;
        r.name = result.name;
        r.type = result.type;
        r.owned = OwnedFile{rowFilePath(r), result.identity};
        r.ownedSha256 = result.sha256;
        r.pdf = result.pdf;
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
        m_note(TransferNote::Ended, row->name);
    const DownloadRow *row = m_model->find(id);
    return row && earlier.path != row->owned.path ? earlier : OwnedFile();
}

void TransferReports::DownloadError(RowId id, const TransferResult &result)
{
    m_rows.update(id, [&](DownloadRow &r) {
        r.state = RowState::Failed;
        r.reason = result.reason;
        r.speed = -1;
        r.pdf = result.pdf;
        if (result.sizeNote != SizeNote::None)
            r.sizeNote = result.sizeNote;
        if (result.clearPercent) {
            r.percentShown = false;
            r.percentNote = PercentNote::None;
        }
    });
    // A failed row is never named as finished.
    if (const DownloadRow *row = m_model->find(id); row && result.stamped && result.answered)
        m_note(TransferNote::Failed, row->name);
}
