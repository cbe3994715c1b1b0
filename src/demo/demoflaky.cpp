#include "demo/demoflaky.h"

#include <algorithm>

namespace {

// SplitMix64's finaliser: a well-mixed 64-bit value from any input.
quint64 mix(quint64 x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

} // namespace

void DemoFlaky::setPercent(int percent)
{
    m_percent = std::clamp(percent, 0, 100);
}

qint64 DemoFlaky::plannedCut(int paper, qint64 from, qint64 end) const
{
    const Paper state = m_papers.value(paper);
    if (m_percent <= 0 || state.drops >= kMaxDrops)
        return -1;
    const quint64 roll = mix(m_seed ^ mix(quint64(paper) << 32 | quint32(state.transfers)));
    if (roll % 100 >= quint64(m_percent))
        return -1;
    const qint64 after = std::max(from, state.furthestCut);
    if (end - after < 2)
        return -1; // no byte left between the last drop and the end
    return after + 1 + qint64(mix(roll) % quint64(end - after - 1));
}

qint64 DemoFlaky::startTransfer(int paper, qint64 from, qint64 end, qint64 size)
{
    const qint64 cut = plannedCut(paper, from, end);
    Paper &state = m_papers[paper];
    ++state.transfers;
    if (cut >= 0) {
        ++state.drops;
        state.furthestCut = cut;
    } else if (end >= size) {
        // Delivered to the end: later downloads of the paper may be dropped afresh.
        state.drops = 0;
        state.furthestCut = -1;
    }
    return cut;
}
