#include "core/search/searchlayout.h"

#include <algorithm>

namespace searchlayout {

int limitBarTop(int barTop, int windowHeight, int webPanelTop)
{
    if (barTop > windowHeight - BarBottomMargin || barTop < webPanelTop)
        return windowHeight * 4 / 5;
    return barTop;
}

int heightBelowBar(const Input &in)
{
    return in.barHeight + in.listOffset.y() + in.listMinHeight + ListInset + in.statusBarHeight + in.overhead;
}

Result arrange(const Input &in)
{
    Result r;
    r.minimum = QSize(MinWidth, std::max(MinHeight, in.webPanelTop + heightBelowBar(in)));
    r.window = in.window.expandedTo(r.minimum);
    const int w = r.window.width();
    const int h = r.window.height();
    // Four fifths of the height where the list still gets its least height below; higher where it would not.
    const int barTop = std::min(limitBarTop(in.barTop, h, in.webPanelTop), h - heightBelowBar(in));
    r.bar = QRect(20, barTop, w - 300, in.barHeight);
    r.webPanel = QRect(r.bar.left(), 0, r.bar.width(), barTop);
    const int listHeight = h - in.statusBarHeight - barTop - in.barHeight - in.overhead;
    r.listPanel = QRect(r.bar.left(), barTop + in.barHeight, r.bar.width(), std::max(listHeight, 0));
    r.browser = QRect(0, 0, std::max(r.webPanel.width() - 20, 0), std::max(r.webPanel.height() - 20, 0));
    r.list = QRect(in.listOffset, QSize(std::max(r.listPanel.width() - in.listOffset.x() - ListInset, 0),
                                        std::max(r.listPanel.height() - in.listOffset.y() - ListInset, 0)));
    r.progress = QRect(QPoint((r.listPanel.width() - in.progressSize.width()) / 2,
                              (r.listPanel.height() - in.progressSize.height()) / 2),
                       in.progressSize);
    return r;
}

QList<int> fitColumns(const QList<int> &wanted, const QList<int> &weights, int room, int least)
{
    QList<int> widths = wanted;
    QList<qsizetype> open;
    int left = room;
    for (qsizetype c = 0; c < wanted.size(); ++c) {
        if (c < weights.size() && weights.at(c) > 0)
            open.append(c);
        else
            left -= wanted.at(c);
    }
    while (!open.isEmpty()) {
        int weight = 0;
        for (const qsizetype c : open)
            weight += weights.at(c);
        const qint64 shared = std::max(0, left);
        // Those that want no more than their share have it; the rest is shared again.
        const auto settled = std::stable_partition(open.begin(), open.end(), [&](qsizetype c) {
            return qint64(wanted.at(c)) * weight > shared * weights.at(c);
        });
        if (settled == open.end()) {
            for (const qsizetype c : open)
                widths[c] = std::max(int(shared * weights.at(c) / weight), std::min(wanted.at(c), least));
            break;
        }
        for (auto it = settled; it != open.end(); ++it)
            left -= wanted.at(*it);
        open.erase(settled, open.end());
    }
    return widths;
}

} // namespace searchlayout
