#include "ui/loginplacement.h"

#include <algorithm>

namespace {
constexpr int kGap = 4;
constexpr int kListShareOfHeight = 35; // percent of the region the list keeps beside the panel
constexpr int kListLeast = 110;        // the header and about five rows
} // namespace

LoginPlacement placeLoginPanel(const QRect &region, bool besideList, int browserTop, int inset)
{
    LoginPlacement placement;
    placement.list = region;
    placement.panel = region;
    if (besideList && region.height() > kListLeast + kGap + browserTop) {
        const int listHeight = std::max(kListLeast, region.height() * kListShareOfHeight / 100);
        placement.list.setHeight(listHeight);
        placement.panel.setTop(region.top() + listHeight + kGap);
    }
    placement.browser = QRect(0, browserTop, std::max(0, placement.panel.width() - inset),
                              std::max(0, placement.panel.height() - browserTop - inset));
    return placement;
}
