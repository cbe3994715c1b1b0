#pragma once

#include <QObject>
#include <QPointer>

class DownloadSession;
class QNetworkCookie;
class QNetworkCookieJar;
class QWebEngineCookieStore;
class QWebEngineProfile;

// Copies every cookie the browser profile holds into the jar the download engines send from, so a
// login made in the browser serves the downloads that follow.
class CookieMirror : public QObject
{
    Q_OBJECT

public:
    // Starts mirroring at once, with the cookies the store has announced since recordCookies() was first
    // called on it, and those it still loads from disk.
    CookieMirror(QWebEngineCookieStore *store, QNetworkCookieJar *jar, QObject *parent = nullptr);

    // The browser announces each cookie once only (asking it to load all cookies again announces none
    // it already did), so a mirror made later would miss the cookies of earlier browsing. This keeps a
    // record of the store's cookies from the first call on; call it as soon as the profile exists.
    static void recordCookies(QWebEngineCookieStore *store);

    int mirroredCount() const { return m_mirrored; }

private:
    void onCookieAdded(const QNetworkCookie &cookie);
    void onCookieRemoved(const QNetworkCookie &cookie);

    QPointer<QNetworkCookieJar> m_jar;
    int m_mirrored = 0;
};

// Gives the session a mirror of the profile's cookies (nothing without a profile).
void mirrorBrowserCookies(DownloadSession *session, QWebEngineProfile *profile);
