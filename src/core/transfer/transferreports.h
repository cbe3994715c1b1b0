#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/rows/rowwriter.h"
#include "core/transfer/downloader.h"
#include "core/transfer/scheduleroptions.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <functional>

class RetryBook;
class TransferSlots;

// What became of the single connection's transfer of a row.
enum class TransferNote { Started, Ended, Failed };

// What the transfers report, written into their rows: bytes and speed, the answer's type and name (given
// back when the try fails), and the end of a try (done, failed, or tried again later). What the single
// connection shows and the web pages met are passed on to whoever shows them.
class TransferReports : public QObject
{
    Q_OBJECT

public:
    using NoteSink = std::function<void(TransferNote note, const QString &name)>;

    TransferReports(RowWriter rows, TransferSlots &transfers, RetryBook &retries,
                    const SchedulerOptions &options, NoteSink note, QObject *parent = nullptr);

    // The transfer's bytes, answer, web pages and connection state are reported here.
    void watch(Downloader *transfer);
    // The row's try ended: a name and type learnt from an answer that failed go back to what they were.
    void tryEnded(RowId id, bool done);
    // The row left the list.
    void forget(RowId id) { m_beforeAnswer.remove(id); }

    // The row is done with its new file. The file it wrote before, when that lies under another name
    // (which the new copy took), is given back for removal; none otherwise.
    OwnedFile DownloadComplete(RowId id, const TransferResult &result, bool single);
    void DownloadError(RowId id, const TransferResult &result);
    // A failed try that may pass, with tries left: the row waits for its next one (true).
    bool scheduleRetry(RowId id, const TransferResult &result);

Q_SIGNALS:
    // The single connection's state as its transfer reports it (code: the HTTP status, 0 before one).
    void connectionStateChanged(ConnectionState state, int code, const QString &text);
    // A row's answer turned out to be a web page instead of a paper.
    void webPageReceived(RowId id);
    // A row failed for a passing reason and waits delayMs for its automatic try number `attempt`.
    void retryScheduled(RowId id, int attempt, int limit, qint64 delayMs);
    // The row's file was a damaged PDF: it is fetched again, whole, at once.
    void fetchedAgainWhole(RowId id, const FailureReason &reason);

private:
    void onProgress(RowId id, qint64 received, qint64 total);
    void onAnswered(RowId id, qint64 length, const QString &type, const QString &name);

    RowWriter m_rows;
    DownloadListModel *m_model;
    TransferSlots &m_transfers;
    RetryBook &m_retries;
    const SchedulerOptions &m_options;
    NoteSink m_note;
    QHash<RowId, QPair<QString, QString>> m_beforeAnswer; // name and type of a row before its answer
};
