#pragma once

#include <QRect>
#include <QSize>

// Geometry of the search window in twips (1/1440 inch); the window converts at 15 twips per pixel.
namespace searchlayout {

constexpr int TwipsPerPixel = 15;
constexpr int MinWidth = 9000;
constexpr int MinHeight = 5000;
constexpr int BarBottomMargin = 1200; // the bar stays at least this far above the window's bottom edge

inline int toPixels(int twips)
{
    return twips / TwipsPerPixel;
}
inline int toTwips(int pixels)
{
    return pixels * TwipsPerPixel;
}

struct Input
{
    QSize window; // outer size of the window
    int barTop = 0; // where the splitter bar is now
    int barHeight = 0;
    int webPanelTop = 0;
    int statusBarHeight = 0;
    QPoint listOffset; // the candidate list's place inside the list panel
    QSize progressSize; // the progress panel keeps its size
};

struct Result
{
    QSize window; // the size the window must take (at least the minimum)
    QRect bar;
    QRect webPanel;
    QRect listPanel;
    QRect browser; // inside the web panel
    QRect list; // inside the list panel
    QRect progress; // inside the list panel
};

// The bar's top after the limits: a bar too low or above the web panel goes to four fifths of the height.
int limitBarTop(int barTop, int windowHeight, int webPanelTop);

Result arrange(const Input &in);

} // namespace searchlayout
