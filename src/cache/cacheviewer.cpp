#include "cache/cacheviewer.h"

#include "cache/fiecache.h"
#include "common/browserprofile.h"

#include <QApplication>

namespace {

std::optional<CacheLocations> &locationOverride()
{
    static std::optional<CacheLocations> locations;
    return locations;
}

fIECache *loadedViewer()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *viewer = qobject_cast<fIECache *>(widget))
            return viewer;
    }
    return nullptr;
}

} // namespace

CacheLocations cacheViewerLocations()
{
    if (locationOverride())
        return *locationOverride();
    return {AnchoredPath::lastComponentGuarded(browserCacheFolder()), HomeRoots::system(),
            browserCacheRelativePath()};
}

void setCacheViewerLocations(std::optional<CacheLocations> locations)
{
    locationOverride() = std::move(locations);
}

void showCacheViewer(QWidget *parent)
{
    fIECache *viewer = loadedViewer();
    if (!viewer)
        viewer = new fIECache(cacheViewerLocations(), parent);
    viewer->setWindowModality(Qt::ApplicationModal);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

void ClearBrowserCache(bool showMessage)
{
    fIECache *viewer = loadedViewer();
    if (!viewer)
        viewer = new fIECache(cacheViewerLocations());
    viewer->clearCache(showMessage);
}
