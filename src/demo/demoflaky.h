#pragma once

#include <QHash>
#include <QtGlobal>

// Which paper transfers the demo site drops mid-body, and where.
//
// The n-th transfer of a paper is dropped when a hash of (seed, paper, n) falls within the set
// percentage, so a run is the same every time and tests can tell beforehand what will happen. A
// dropped transfer ends strictly past the furthest point any earlier drop of that paper reached, and
// a paper is dropped at most kMaxDrops times before it has once been sent to its end: every client
// finishes it, one that asks for the rest with a range and one that starts over alike.
class DemoFlaky
{
public:
    void setPercent(int percent);
    int percent() const { return m_percent; }
    void setSeed(quint64 seed) { m_seed = seed; }
    quint64 seed() const { return m_seed; }
    void clear() { m_papers.clear(); }

    // Where the next transfer of the paper, sending offsets [from, end) of it, would be dropped
    // (an offset in (from, end)), or -1 when it would be sent whole.
    qint64 plannedCut(int paper, qint64 from, qint64 end) const;
    // The same, and the transfer is counted; size is the whole paper's.
    qint64 startTransfer(int paper, qint64 from, qint64 end, qint64 size);

    static constexpr int kMaxDrops = 3;

private:
    struct Paper
    {
        int transfers = 0;
        int drops = 0;
        qint64 furthestCut = -1;
    };

    int m_percent = 0;
    quint64 m_seed = 0x466f6c696f6e6578; // any fixed value: the demo behaves alike on every run
    QHash<int, Paper> m_papers;
};
