#include "browser/browserprofile.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QWebEngineProfile>

QString programProfileName()
{
    return QStringLiteral("Folionexus");
}

QWebEngineProfile *programProfile()
{
    static QWebEngineProfile *profile = [] {
        auto *p = new QWebEngineProfile(programProfileName(), QCoreApplication::instance());
        p->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        p->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
        return p;
    }();
    return profile;
}

QString browserCacheFolder()
{
    return programProfile()->cachePath() + QStringLiteral("/Cache/Cache_Data");
}

QString browserCacheRelativePath()
{
    const QString home = QDir::homePath();
    QString path = browserCacheFolder();
    if (path.startsWith(home + u'/'))
        path = path.mid(home.size() + 1);
    return path;
}

SilentWebPage::SilentWebPage(QWebEngineProfile *profile, QObject *parent) : QWebEnginePage(profile, parent)
{
    // A page's request to close its window is refused: nobody listens to windowCloseRequested.
}

void SilentWebPage::javaScriptAlert(const QUrl &, const QString &) {}

bool SilentWebPage::javaScriptConfirm(const QUrl &, const QString &)
{
    return false;
}

bool SilentWebPage::javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *)
{
    return false;
}

void SilentWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                             const QString &)
{
}

QWebEnginePage *SilentWebPage::createWindow(WebWindowType)
{
    return new 同一窗口打开(this);
}

void SilentWebPage::loadInsteadOfNewWindow(const QUrl &url)
{
    load(url);
    Q_EMIT newWindowRedirected(url);
}

同一窗口打开::同一窗口打开(SilentWebPage *opener)
    : QWebEnginePage(opener->profile(), opener), m_opener(opener)
{
}

bool 同一窗口打开::acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame)
{
    // A script's window.open() first shows an empty page; the address comes with the next navigation.
    if (!isMainFrame || url.isEmpty() || url == QUrl(QStringLiteral("about:blank")))
        return true;
    if (!m_done) {
        m_done = true;
        m_opener->loadInsteadOfNewWindow(url);
    }
    deleteLater();
    return false;
}
