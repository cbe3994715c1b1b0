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
    return in.barHeight + in.listOffset.y() + in.listMinHeight + ListInset + in.statusBarHeight +
           ListPanelOverhead;
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
    const int listHeight = h - in.statusBarHeight - barTop - in.barHeight - ListPanelOverhead;
    r.listPanel = QRect(r.bar.left(), barTop + in.barHeight, r.bar.width(), std::max(listHeight, 0));
    r.browser = QRect(0, 0, std::max(r.webPanel.width() - 20, 0), std::max(r.webPanel.height() - 20, 0));
    r.list = QRect(in.listOffset, QSize(std::max(r.listPanel.width() - in.listOffset.x() - ListInset, 0),
                                        std::max(r.listPanel.height() - in.listOffset.y() - ListInset, 0)));
    r.progress = QRect(QPoint((r.listPanel.width() - in.progressSize.width()) / 2,
                              (r.listPanel.height() - in.progressSize.height()) / 2),
                       in.progressSize);
    return r;
}

} // namespace searchlayout
