#pragma once

#include "core/transfer/scheduleroptions.h"

#include <QTimer>
#include <functional>

class RetryBook;

// The pause between files: when the last file ended, whether the pause after it has passed, and the
// wake-up that starts the next row when it has (or when the first retry or host hold ends).
class StartPacing
{
public:
    StartPacing(const SchedulerOptions &options, const RetryBook &retries, std::function<void()> wake);

    // When the last file ended (seconds since midnight).
    double LastFinishTime() const { return m_lastFinishTime; }
    // A file ended (or the window loaded): the pause starts now.
    void stampFinish();
    // More than the pause since the last file's end.
    bool intervalPassed() const;

    // Wakes at the end of the pause, or else at the first retry or host hold that ends (or at alsoDueMs,
    // monotonic, when that comes first).
    void scheduleWake(qint64 alsoDueMs = -1);
    // No wake-up waits any more (the queue stopped).
    void cancelWake();
    // The starts that were due are under way.
    void dueReached() { m_wakeDueMs = -1; }
    // When the next start is due after a pause (monotonic ms), -1 when none is waiting.
    qint64 nextStartDueMs() const { return m_wakeDueMs; }

private:
    const SchedulerOptions &m_options;
    const RetryBook &m_retries;
    double m_lastFinishTime = 0;
    qint64 m_lastFinishMono = 0;
    QTimer m_wake;
    qint64 m_wakeDueMs = -1;
};
