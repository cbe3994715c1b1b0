#pragma once

#include <QObject>
#include <QPointer>

class QNetworkCookie;
class QNetworkCookieJar;
class QWebEngineCookieStore;

// Copies every cookie the browser profile holds into the jar the download engines send from, so a
// login made in the browser serves the downloads that follow.
class CookieMirror : public QObject
{
    Q_OBJECT

public:
    // Starts mirroring at once, the cookies the profile already holds included.
    CookieMirror(QWebEngineCookieStore *store, QNetworkCookieJar *jar, QObject *parent = nullptr);

    int mirroredCount() const { return m_mirrored; }

private:
    void onCookieAdded(const QNetworkCookie &cookie);
    void onCookieRemoved(const QNetworkCookie &cookie);

    QPointer<QNetworkCookieJar> m_jar;
    int m_mirrored = 0;
};
