#pragma once

#include <QRect>

// Where the list and the login panel go in the list's region. The panel opened by the user lies over the
// list, in its rectangle; opened by a pause, it lies below the list, which keeps the upper part, so that
// the rows that wait for it stay in view.
struct LoginPlacement
{
    QRect list;
    QRect panel;
    QRect browser; // in the panel's coordinates
};

LoginPlacement placeLoginPanel(const QRect &region, bool besideList, int browserTop, int inset);
