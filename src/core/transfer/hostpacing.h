#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/rows/rowwriter.h"
#include "core/transfer/scheduleroptions.h"

#include <QHash>
#include <QString>

class LandingTrails;
class TransferSlots;

// Politeness to each site while the queue runs: the least time between two starts to a host and the most
// transfers to it at once, as the site rules ask (SchedulerOptions::sites). The queue's own pause
// between files and its thread count hold all the same, so the stricter of the two decides.
class HostPacing
{
public:
    HostPacing(const SchedulerOptions &options, const TransferSlots &transfers, const LandingTrails &landing,
               RowWriter rows);

    // The row waits: its host was asked too lately, or has as many transfers as it allows.
    bool holds(const DownloadRow &row, qint64 nowMs) const;
    // A transfer for the row starts now.
    void started(const DownloadRow &row, qint64 nowMs);
    // When the first host whose interval holds rows back lets them go (monotonic ms), -1 when none does.
    qint64 nextEndAfter(qint64 nowMs) const;

private:
    struct Host
    {
        QString name; // host:port, as RetryBook tells hosts apart
        SiteLimits limits;
    };
    struct Start
    {
        qint64 atMs = 0;
        int intervalMs = 0;
    };

    const Host &hostOf(const QString &address) const;
    // What was found of addresses is forgotten when the politeness in force changed.
    void refresh() const;
    int liveTransfersTo(const QString &host) const;

    const SchedulerOptions &m_options;
    const TransferSlots &m_slots;
    const LandingTrails &m_landing;
    RowWriter m_rows;
    QHash<QString, Start> m_lastStart;            // by host
    mutable QHash<QString, Host> m_hostOfAddress; // what each address was found to be, asked often
    mutable SitePoliteness m_found;               // the politeness those were found with
};
