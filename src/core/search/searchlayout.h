#pragma once

#include <QList>
#include <QRect>
#include <QSize>

// Geometry of the search window in twips (1/1440 inch); the window converts at 15 twips per pixel.
namespace searchlayout {

constexpr int TwipsPerPixel = 15;
constexpr int MinWidth = 9000;
constexpr int MinHeight = 5000;
constexpr int BarBottomMargin = 1200;  // the bar stays at least this far above the window's bottom edge
constexpr int ListPanelOverhead = 870; // the window's height that is neither panel, bar nor status bar
constexpr int ListInset = 50;          // right and bottom margin of the candidate list in its panel

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
    QSize window;   // outer size of the window
    int barTop = 0; // where the splitter bar is now
    int barHeight = 0;
    int webPanelTop = 0;
    int statusBarHeight = 0;
    QPoint listOffset;     // the candidate list's place inside the list panel
    QSize progressSize;    // the progress panel keeps its size
    int listMinHeight = 0; // the candidate list is never lower than this (room for its header and rows)
    // The window's height that is neither panel, bar nor status bar (its menu bar, say).
    int overhead = ListPanelOverhead;
};

struct Result
{
    QSize window;  // the size the window must take (at least the minimum)
    QSize minimum; // the window's minimum: the fixed limits, or taller when the list needs it
    QRect bar;
    QRect webPanel;
    QRect listPanel;
    QRect browser;  // inside the web panel
    QRect list;     // inside the list panel
    QRect progress; // inside the list panel
};

// The bar's top after the limits: a bar too low or above the web panel goes to four fifths of the height.
int limitBarTop(int barTop, int windowHeight, int webPanelTop);

// Height of the window below the bar's top that the bar, the list panel with a list of the least
// height, and the status bar take.
int heightBelowBar(const Input &in);

Result arrange(const Input &in);

// Widths of a list's columns in the room of its view, so that every column shows where they can: when
// the wanted widths do not fit, the columns of a weight above 0 give way, sharing what the others leave
// by their weights (a column that wants less than its share keeps what it wants), and none gets less
// than `least` (or what it wants, if less). Columns of weight 0 keep their widths.
QList<int> fitColumns(const QList<int> &wanted, const QList<int> &weights, int room, int least);

} // namespace searchlayout
