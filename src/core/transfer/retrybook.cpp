#include "core/transfer/retrybook.h"

#include "core/transfer/landingtrails.h"
#include "core/transfer/partfile.h"
#include "core/transfer/retrypolicy.h"
#include "core/transfer/schedulertime.h"

#include <QSet>
#include <QUrl>
#include <algorithm>

using schedulertime::monoNow;

RetryBook::RetryBook(RowWriter rows, const LandingTrails &landing) : m_rows(rows), m_landing(landing)
{
    m_jitter.seed(QRandomGenerator::global()->generate());
}

QString RetryBook::hostOf(const QString &address)
{
    const QUrl url(address);
    return url.host().toLower() + u':' + QString::number(url.port(url.scheme() == u"https" ? 443 : 80));
}

QString RetryBook::hostOfRow(const DownloadRow &row) const
{
    return hostOf(m_landing.addressOf(row));
}

qint64 RetryBook::hostHeldUntilMs(const QString &host) const
{
    const qint64 until = m_hostHold.value(host, -1);
    return until > monoNow() ? until : -1;
}

qint64 RetryBook::hostWaitMs() const
{
    if (m_hostHold.isEmpty() || (m_queueBusy && m_queueBusy()))
        return -1;
    const DownloadListModel &list = m_rows.list();
    const qint64 nowMs = monoNow();
    qint64 earliest = -1;
    for (int i = 0; i < list.count(); ++i) {
        const DownloadRow &row = list.row(i);
        if (row.state == RowState::Downloading)
            return -1;
        if (row.state != RowState::Waiting)
            continue;
        const qint64 until = m_hostHold.value(hostOfRow(row), 0);
        if (until <= nowMs)
            return -1;
        earliest = earliest < 0 ? until : std::min(earliest, until);
    }
    return earliest < 0 ? -1 : earliest - nowMs;
}

qint64 RetryBook::nextEndAfter(qint64 nowMs) const
{
    qint64 due = -1;
    for (qint64 at : std::as_const(m_retryAt)) {
        if (at > nowMs)
            due = (due < 0 || at < due) ? at : due;
    }
    for (qint64 until : std::as_const(m_hostHold)) {
        if (until > nowMs)
            due = (due < 0 || until < due) ? until : due;
    }
    return due;
}

bool RetryBook::heldBack(const DownloadRow &row, qint64 nowMs) const
{
    if (m_retryAt.value(row.id, 0) > nowMs)
        return true;
    return !m_hostHold.isEmpty() && m_hostHold.value(hostOfRow(row), 0) > nowMs;
}

RetryBook::Outcome RetryBook::fetchWholeAgain(RowId id, const TransferResult &result)
{
    drop(id); // nothing of the damaged copy is kept: the next try asks for the whole file
    const DownloadRow *row = m_rows.list().find(id);
    if (!row || row->refetchedWhole)
        return {};
    m_retryAt.insert(id, monoNow());
    m_rows.update(id, [&](DownloadRow &r) {
        r.state = RowState::Waiting;
        r.clearProgress();
        r.sizeNote = SizeNote::WaitAgain;
        r.refetchedWhole = true;
        r.reason = result.reason;
        r.pdf = result.pdf;
    });
    showDue();
    Outcome outcome;
    outcome.again = outcome.whole = true;
    return outcome;
}

RetryBook::Outcome RetryBook::schedule(RowId id, const TransferResult &result, int limit)
{
    if (result.reason.kind == FailureReason::Kind::PdfDamaged)
        return fetchWholeAgain(id, result);
    const DownloadRow *row = m_rows.list().find(id);
    const qint64 nowMs = monoNow();
    const int attempt = row ? row->retry + 1 : 0;
    const qint64 delay =
        retrypolicy::DelayMs(attempt, result.retryAfterMs, m_jitter.generateDouble() * 2 - 1);
    const bool again = row && result.reason.kind != FailureReason::Kind::Stopped && attempt <= limit &&
                       retrypolicy::IsTransient(result.reason, result.retryAfterMs);
    // The host is left alone for as long as its latest answer asked, and only
    // while a retry is to follow.
    if (again && retrypolicy::HoldsBackHost(result.reason))
        m_hostHold.insert(hostOfRow(*row), nowMs + delay);
    if (!again) {
        drop(id);
        if (result.resume.isValid())
            PartFile::removeKept(result.resume.folder, result.resume.temporaryName);
        return {};
    }
    m_retryAt.insert(id, nowMs + delay);
    if (result.resume.isValid())
        m_resumeFrom.insert(id, result.resume);
    m_rows.update(id, [&](DownloadRow &r) {
        r.state = RowState::Waiting;
        r.clearProgress();
        r.sizeNote = SizeNote::RetryWait;
        r.retry = attempt;
        r.retryLimit = limit;
        r.reason = result.reason;
        // The bytes kept for the next try are held: the list shows them.
        if (result.resume.isValid())
            r.downloaded = result.resume.bytes;
    });
    showDue();
    return {true, attempt, delay};
}

void RetryBook::drop(RowId id)
{
    m_retryAt.remove(id);
    const ResumePoint kept = m_resumeFrom.take(id);
    if (kept.isValid())
        PartFile::removeKept(kept.folder, kept.temporaryName);
}

void RetryBook::dropIdleHolds()
{
    // A hold stands behind a retry that follows; with no row of the host waiting
    // for one it has no reason.
    QSet<QString> waiting;
    for (auto it = m_retryAt.cbegin(); it != m_retryAt.cend(); ++it) {
        if (const DownloadRow *row = m_rows.list().find(it.key()))
            waiting.insert(hostOfRow(*row));
    }
    m_hostHold.removeIf([&waiting](const auto &hold) { return !waiting.contains(hold.key()); });
}

void RetryBook::showDue()
{
    for (auto it = m_retryAt.cbegin(); it != m_retryAt.cend(); ++it) {
        const DownloadRow *row = m_rows.list().find(it.key());
        if (!row)
            continue;
        const qint64 hold = m_hostHold.value(hostOfRow(*row), -1);
        const qint64 due = std::max(it.value(), hold);
        // Held longer by the site than by its own retry: the site's hold is what the row waits out.
        const bool forHost = hold > it.value();
        if (row->retryDueMs != due || row->retryWaitsForHost != forHost)
            m_rows.update(it.key(), [due, forHost](DownloadRow &r) {
                r.retryDueMs = due;
                r.retryWaitsForHost = forHost;
            });
    }
}
