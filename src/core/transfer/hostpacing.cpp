#include "core/transfer/hostpacing.h"

#include "core/transfer/landingtrails.h"
#include "core/transfer/retrybook.h"
#include "core/transfer/transferslots.h"

#include <QUrl>

namespace {
constexpr qsizetype kAddressesKept = 20000;
} // namespace

HostPacing::HostPacing(const SchedulerOptions &options, const TransferSlots &transfers,
                       const LandingTrails &landing, RowWriter rows)
    : m_options(options), m_slots(transfers), m_landing(landing), m_rows(rows)
{
}

const HostPacing::Host &HostPacing::hostOf(const QString &address) const
{
    auto it = m_hostOfAddress.constFind(address);
    if (it != m_hostOfAddress.constEnd())
        return *it;
    if (m_hostOfAddress.size() >= kAddressesKept)
        m_hostOfAddress.clear();
    return *m_hostOfAddress.insert(
        address, Host{RetryBook::hostOf(address), m_options.sites.limitsFor(QUrl(address))});
}

void HostPacing::refresh() const
{
    if (m_found == m_options.sites)
        return;
    m_found = m_options.sites;
    m_hostOfAddress.clear();
}

int HostPacing::liveTransfersTo(const QString &host) const
{
    // The single connection carries one transfer at a time whatever the site allows; only the
    // parallel slots are counted.
    int live = 0;
    for (int k = 1; k <= TransferSlots::MaxSlots; ++k) {
        if (!m_slots.slotAlive(k))
            continue;
        const DownloadRow *row = m_rows.list().find(m_slots.SlotRow(k));
        if (row && hostOf(m_landing.addressOf(*row)).name == host)
            ++live;
    }
    return live;
}

bool HostPacing::holds(const DownloadRow &row, qint64 nowMs) const
{
    if (m_options.sites.isEmpty())
        return false;
    refresh();
    const Host &host = hostOf(m_landing.addressOf(row));
    const SiteLimits limits = host.limits;
    if (!limits.any())
        return false;
    const auto last = m_lastStart.constFind(host.name);
    if (limits.intervalMs > 0 && last != m_lastStart.constEnd() && nowMs - last->atMs < limits.intervalMs)
        return true;
    return limits.connections > 0 && liveTransfersTo(host.name) >= limits.connections;
}

void HostPacing::started(const DownloadRow &row, qint64 nowMs)
{
    if (m_options.sites.isEmpty())
        return;
    refresh();
    const Host host = hostOf(m_landing.addressOf(row));
    if (host.limits.intervalMs > 0)
        m_lastStart.insert(host.name, Start{nowMs, host.limits.intervalMs});
}

qint64 HostPacing::nextEndAfter(qint64 nowMs) const
{
    qint64 due = -1;
    for (const Start &start : m_lastStart) {
        const qint64 end = start.atMs + start.intervalMs;
        if (end > nowMs && (due < 0 || end < due))
            due = end;
    }
    return due;
}
