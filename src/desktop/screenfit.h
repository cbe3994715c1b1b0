#pragma once

#include <QRect>

class QWidget;

// Where a window of the frame lies so that it is wholly inside the available area: no larger than the
// area, and moved in no further than needed. A frame larger than the area keeps its top left corner on it.
QRect FitFrameInto(const QRect &frame, const QRect &available);

// Keeps a top-level window inside the available geometry of the screen it opens on (the desktop's
// panels left out): each time it is shown it is made no larger than that, and once the window manager
// has placed it, moved in where its frame reaches beyond an edge. The window keeps the keeper.
void KeepWithinScreen(QWidget *window);
