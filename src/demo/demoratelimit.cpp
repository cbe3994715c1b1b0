#include "demo/demoratelimit.h"

#include <algorithm>

void DemoRateLimit::setPerMinute(int count)
{
    m_perMinute = std::max(0, count);
}

std::optional<int> DemoRateLimit::refuse(qint64 nowMs)
{
    if (m_perMinute <= 0)
        return std::nullopt;
    while (!m_admitted.empty() && nowMs - m_admitted.front() >= kWindowMs)
        m_admitted.pop_front();
    if (qsizetype(m_admitted.size()) < m_perMinute) {
        m_admitted.push_back(nowMs);
        return std::nullopt;
    }
    const qint64 waitMs = m_admitted.front() + kWindowMs - nowMs;
    return int(std::max<qint64>(1, (waitMs + 999) / 1000));
}
