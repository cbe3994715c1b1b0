#include "download/cookiemirror.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QWebEngineCookieStore>

CookieMirror::CookieMirror(QWebEngineCookieStore *store, QNetworkCookieJar *jar, QObject *parent)
    : QObject(parent), m_jar(jar)
{
    connect(store, &QWebEngineCookieStore::cookieAdded, this, &CookieMirror::onCookieAdded);
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, &CookieMirror::onCookieRemoved);
    store->loadAllCookies();
}

void CookieMirror::onCookieAdded(const QNetworkCookie &cookie)
{
    if (!m_jar || cookie.domain().isEmpty())
        return;
    // The browser sends a changed cookie as a new one; replace what the jar holds under its name.
    m_jar->deleteCookie(cookie);
    if (m_jar->insertCookie(cookie))
        ++m_mirrored;
}

void CookieMirror::onCookieRemoved(const QNetworkCookie &cookie)
{
    if (m_jar)
        m_jar->deleteCookie(cookie);
}
