#include "browser/cookiemirror.h"

#include "core/queue/downloadsession.h"

#include <QHash>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

namespace {

QByteArray cookieId(const QNetworkCookie &cookie)
{
    return cookie.name() + '\n' + cookie.domain().toUtf8() + '\n' + cookie.path().toUtf8();
}

// The store's cookies as announced so far; a child of the store, found again by its name.
class CookieRecord : public QObject
{
public:
    explicit CookieRecord(QWebEngineCookieStore *store) : QObject(store)
    {
        setObjectName(QStringLiteral("fnCookieRecord"));
        connect(store, &QWebEngineCookieStore::cookieAdded, this,
                [this](const QNetworkCookie &c) { cookies.insert(cookieId(c), c); });
        connect(store, &QWebEngineCookieStore::cookieRemoved, this,
                [this](const QNetworkCookie &c) { cookies.remove(cookieId(c)); });
    }

    QHash<QByteArray, QNetworkCookie> cookies;
};

CookieRecord *recordOf(QWebEngineCookieStore *store)
{
    return store->findChild<CookieRecord *>(QStringLiteral("fnCookieRecord"), Qt::FindDirectChildrenOnly);
}

} // namespace

void CookieMirror::recordCookies(QWebEngineCookieStore *store)
{
    if (store && !recordOf(store))
        new CookieRecord(store);
}

CookieMirror::CookieMirror(QWebEngineCookieStore *store, QNetworkCookieJar *jar, QObject *parent)
    : QObject(parent), m_jar(jar)
{
    recordCookies(store);
    for (const QNetworkCookie &cookie : std::as_const(recordOf(store)->cookies))
        onCookieAdded(cookie);
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

void mirrorBrowserCookies(DownloadSession *session, QWebEngineProfile *profile)
{
    if (!profile)
        return;
    auto *mirror = new CookieMirror(profile->cookieStore(), session->cookieJar());
    session->setCookieMirror(mirror, mirror);
}
