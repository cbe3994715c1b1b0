#include "common/browserprofile.h"

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

void SilentWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int, const QString &) {}

QWebEnginePage *SilentWebPage::createWindow(WebWindowType)
{
    // The new page only learns the address it was asked to open; that address is loaded here instead.
    auto *catcher = new QWebEnginePage(profile(), this);
    connect(catcher, &QWebEnginePage::urlChanged, this, [this, catcher](const QUrl &url) {
        if (url.isEmpty() || url == QUrl(QStringLiteral("about:blank")))
            return;
        catcher->disconnect(this);
        catcher->deleteLater();
        load(url);
        Q_EMIT newWindowRedirected(url);
    });
    return catcher;
}
