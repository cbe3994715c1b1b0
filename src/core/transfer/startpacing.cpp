#include "core/transfer/startpacing.h"

#include "core/transfer/retrybook.h"
#include "core/transfer/schedulertime.h"

#include <algorithm>

using schedulertime::monoNow;
using schedulertime::now;

StartPacing::StartPacing(const SchedulerOptions &options, const RetryBook &retries,
                         std::function<void()> wake)
    : m_options(options), m_retries(retries), m_lastFinishMono(monoNow())
{
    m_wake.setSingleShot(true);
    QObject::connect(&m_wake, &QTimer::timeout, &m_wake, std::move(wake));
}

void StartPacing::stampFinish()
{
    m_lastFinishTime = now();
    m_lastFinishMono = monoNow();
}

bool StartPacing::intervalPassed() const
{
    // On the monotonic clock, so midnight changes nothing.
    const qint64 pauseMs = static_cast<qint64>(m_options.intervalSeconds) * 1000;
    return pauseMs <= 0 || monoNow() - m_lastFinishMono > pauseMs;
}

void StartPacing::scheduleWake(qint64 alsoDueMs)
{
    const qint64 nowMs = monoNow();
    qint64 due = m_lastFinishMono + static_cast<qint64>(m_options.intervalSeconds) * 1000 + 1;
    if (due <= nowMs) {
        // Retries already due start as soon as a slot frees; only later ones need
        // the wake-up.
        due = m_retries.nextEndAfter(nowMs);
        if (alsoDueMs > nowMs && (due < 0 || alsoDueMs < due))
            due = alsoDueMs;
        if (due < 0)
            return;
    }
    m_wakeDueMs = due;
    m_wake.start(static_cast<int>(std::clamp<qint64>(due - nowMs, 0, 3600 * 1000)));
}

void StartPacing::cancelWake()
{
    m_wake.stop();
    m_wakeDueMs = -1;
}
