#pragma once

#include <QtGlobal>
#include <deque>
#include <optional>

// At most a set number of admitted requests in any sliding minute. A refused request does not use up
// room, so its wait is honest: once it has passed, the next request is admitted.
class DemoRateLimit
{
public:
    // 0 switches the limit off.
    void setPerMinute(int count);
    int perMinute() const { return m_perMinute; }
    void clear() { m_admitted.clear(); }

    // Admits a request at the monotonic time nowMs, or tells the whole seconds (at least 1) until
    // the window has room again.
    std::optional<int> refuse(qint64 nowMs);

    static constexpr qint64 kWindowMs = 60000;

private:
    int m_perMinute = 0;
    std::deque<qint64> m_admitted;
};
