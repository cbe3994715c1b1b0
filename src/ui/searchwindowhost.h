#pragma once

class DownloadQueue;
class QWidget;

// What the search window needs from the rest of the program: the download window, the startup window
// and the modal windows it opens. The application implements it; tests use a recording host.
class SearchWindowHost
{
public:
    virtual ~SearchWindowHost() = default;

    // Loads the download window without showing it (its load routine runs once) and returns its queue.
    virtual DownloadQueue *loadDownloadWindow() = 0;
    // Loads it when needed, repaints its list, shows it when hidden, and maximizes it when minimized.
    virtual void showDownloadWindow() = 0;
    virtual bool isDownloadWindowLoaded() const = 0;
    virtual void showStartupWindow() = 0;
    // The modal save-location chooser; true when confirmed. It sets the shared save options itself.
    virtual bool runSaveLocationChooser(QWidget *parent) = 0;
    virtual void showOptions(QWidget *parent) = 0;
    virtual void showAbout(QWidget *parent) = 0;
    virtual void showCacheViewer(QWidget *parent) = 0;
    // Lists and deletes this user's and every user's cached files, as the cache viewer's buttons would,
    // and says "IE缓存清空完毕！" once it is done.
    virtual void clearBrowserCache() = 0;
    // "文献库": the window over every paper of the library.
    virtual void showLibraryWindow(QWidget * /*parent*/) {}
};
