#include "ui/cacheviewer.h"

#include "browser/browserprofile.h"
#include "ui/fiecache.h"

#include <QApplication>
#include <QPointer>

namespace {

std::optional<CacheLocations> &locationOverride()
{
    static std::optional<CacheLocations> locations;
    return locations;
}

// The viewer the user sees, or the hidden one that empties the cache: they are never the same window,
// since a clearing window closes itself when its work is done.
fIECache *loadedViewer(bool clearing)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *viewer = qobject_cast<fIECache *>(widget);
        if (viewer && viewer->isClearing() == clearing)
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

void CacheViewerSeat::setLocations(std::optional<CacheLocations> locations)
{
    locationOverride() = std::move(locations);
}

void showCacheViewer(QWidget *parent)
{
    fIECache *viewer = loadedViewer(false);
    if (!viewer)
        viewer = new fIECache(cacheViewerLocations(), parent);
    viewer->setWindowModality(Qt::ApplicationModal);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

void ClearBrowserCache(bool showMessage)
{
    fIECache *viewer = loadedViewer(true);
    if (!viewer) {
        viewer = new fIECache(cacheViewerLocations());
        // Nothing owns the hidden window; when the program ends before it has finished, it goes then:
        // a listing under way stops, a deletion under way is finished on its worker (the program waits
        // for its workers on the way out), and nothing more is started.
        QPointer<fIECache> guard(viewer);
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [guard] { delete guard.data(); });
    }
    viewer->clearCache(showMessage);
}
