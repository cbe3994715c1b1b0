#pragma once

#include <QString>
#include <QWebEnginePage>

class QWebEngineProfile;
class QWebEngineView;

// The program's one persistent browser profile, shared by the search window and the login panel, so a
// login made in one serves the other (and, through the cookie mirror, the download engines).
QWebEngineProfile *programProfile();

// Name of the profile's storage, and the cache folder relative to a user's home folder.
QString programProfileName();
QString browserCacheFolder();       // this user's: <cache root>/QtWebEngine/<profile>/Cache/Cache_Data
QString browserCacheRelativePath(); // the same below a home folder, for every user's cache

// A page that shows no dialogs of its own (silent mode) and loads new-window requests in its own view.
class SilentWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    explicit SilentWebPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // Loads the address a new-window request asked for, here instead (called by its listener).
    void loadInsteadOfNewWindow(const QUrl &url);

Q_SIGNALS:
    // A page asked for a new window; the address was loaded here instead.
    void newWindowRedirected(const QUrl &url);

protected:
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &defaultValue,
                          QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
};

// The listener a page attaches when it is asked for a new window. It learns the address the new
// window was to open as that navigation starts, refuses the navigation (so the address is requested
// only once, by the page itself, and no window opens), has the page that asked load the address, and
// detaches itself.
class 同一窗口打开 : public QWebEnginePage
{
public:
    explicit 同一窗口打开(SilentWebPage *opener);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;

private:
    SilentWebPage *m_opener;
    bool m_done = false;
};
