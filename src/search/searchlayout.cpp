#include "search/searchlayout.h"

#include <algorithm>

namespace searchlayout {

int limitBarTop(int barTop, int windowHeight, int webPanelTop)
{
    if (barTop > windowHeight - BarBottomMargin || barTop < webPanelTop)
        return windowHeight * 4 / 5;
    return barTop;
}

Result arrange(const Input &in)
{
    Result r;
    r.window = QSize(std::max(in.window.width(), MinWidth), std::max(in.window.height(), MinHeight));
    const int w = r.window.width();
    const int h = r.window.height();
    const int barTop = limitBarTop(in.barTop, h, in.webPanelTop);
    r.bar = QRect(20, barTop, w - 300, in.barHeight);
    r.webPanel = QRect(r.bar.left(), 0, r.bar.width(), barTop);
    const int listHeight = h - in.statusBarHeight - barTop - in.barHeight - 870;
    r.listPanel = QRect(r.bar.left(), barTop + in.barHeight, r.bar.width(), std::max(listHeight, 0));
    r.browser = QRect(0, 0, std::max(r.webPanel.width() - 20, 0), std::max(r.webPanel.height() - 20, 0));
    r.list = QRect(in.listOffset,
                   QSize(std::max(r.listPanel.width() - in.listOffset.x() - 50, 0),
                         std::max(r.listPanel.height() - in.listOffset.y() - 50, 0)));
    r.progress = QRect(QPoint((r.listPanel.width() - in.progressSize.width()) / 2,
                              (r.listPanel.height() - in.progressSize.height()) / 2),
                       in.progressSize);
    return r;
}

} // namespace searchlayout
