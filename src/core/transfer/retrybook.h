#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/rows/rowwriter.h"
#include "core/transfer/downloader.h"

#include <QHash>
#include <QRandomGenerator>
#include <QString>
#include <functional>

class LandingTrails;

// Rows that wait for an automatic retry, the bytes they keep for it, and the hosts that asked to be left
// alone meanwhile.
class RetryBook
{
public:
    // What became of a failed try: a retry is due (attempt, delay), or the row ends (again false).
    struct Outcome
    {
        bool again = false;
        int attempt = 0;
        qint64 delayMs = 0;
        bool whole = false; // a damaged file is fetched again, whole, at once (not one of the retries)
    };

    RetryBook(RowWriter rows, const LandingTrails &landing);

    // Whether the queue has more on its hands than waiting rows (paused, transfers live): then no host
    // wait is shown.
    void setQueueBusy(std::function<bool()> busy) { m_queueBusy = std::move(busy); }
    void seed(quint32 seed) { m_jitter.seed(seed); }

    // When a row waiting for an automatic retry may start again (monotonic ms), -1 when it does not wait.
    qint64 retryDueMs(RowId id) const { return m_retryAt.value(id, -1); }
    // Until when starts to a host are held back (monotonic ms), -1 when they are not.
    qint64 hostHeldUntilMs(const QString &host) const;
    // While nothing transfers and every waiting row waits for a host that asked to be left alone: how
    // long until the first of those holds ends (ms). -1 otherwise.
    qint64 hostWaitMs() const;
    static QString hostOf(const QString &address);

    // The row waits for a retry, or keeps bytes for one.
    bool waits(RowId id) const { return m_retryAt.contains(id); }
    bool keeps(RowId id) const { return m_resumeFrom.contains(id); }
    // Something waits for its time: a retry or a host's hold.
    bool anyPending() const { return !m_retryAt.isEmpty() || !m_hostHold.isEmpty(); }
    // The first retry or hold that ends after now (monotonic ms), -1 when none does.
    qint64 nextEndAfter(qint64 nowMs) const;
    bool heldBack(const DownloadRow &row, qint64 nowMs) const;

    // A failed try: when it may pass and tries are left, the row waits again for its retry.
    Outcome schedule(RowId id, const TransferResult &result, int limit);
    // The row starts its try now.
    void started(RowId id) { m_retryAt.remove(id); }
    // The bytes kept for the row's next try, taken (invalid when none).
    ResumePoint takeResume(RowId id) { return m_resumeFrom.take(id); }
    qint64 keptBytes(RowId id) const { return m_resumeFrom.value(id).bytes; }
    // The row's retry goes, and the bytes it kept with it.
    void drop(RowId id);
    // Holds with no row of their host waiting for a retry.
    void dropIdleHolds();
    void clearHolds() { m_hostHold.clear(); }
    // Rows waiting for a retry show when it can start: their own time, or their host's hold if later.
    void showDue();

private:
    QString hostOfRow(const DownloadRow &row) const;
    // A damaged PDF: the row is fetched again once, whole and at once; its second damaged copy ends it.
    Outcome fetchWholeAgain(RowId id, const TransferResult &result);

    RowWriter m_rows;
    const LandingTrails &m_landing;
    std::function<bool()> m_queueBusy;
    QRandomGenerator m_jitter;
    QHash<RowId, qint64> m_retryAt;         // rows waiting for an automatic retry, and when it is due
    QHash<RowId, ResumePoint> m_resumeFrom; // bytes kept for a row's next try
    QHash<QString, qint64> m_hostHold;      // hosts that asked to be left alone, and until when
};
