#pragma once

#include "core/cache/cachecommands.h"

#include <optional>

class QWidget;

// Opens the browser cache viewer, modal, without blocking the caller; an open viewer is raised.
void showCacheViewer(QWidget *parent);

// Empties the browser cache without showing the viewer: the viewer's listings and deletions run in the
// background, the viewer is closed, and with showMessage "IE缓存清空完毕！" is shown at the end.
void ClearBrowserCache(bool showMessage);

// The caches the viewer works on: the program's browser profile and every user's home folder, unless
// a test set folders of its own.
CacheLocations cacheViewerLocations();

// Where other places are set: only tests do, through the door in their support.
class CacheViewerSeat
{
    friend struct CacheViewerSeam;
    // nullopt goes back to the real places.
    static void setLocations(std::optional<CacheLocations> locations);
};
