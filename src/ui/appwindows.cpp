#include "ui/appwindows.h"

#include "browser/browserprofile.h"
#include "browser/cookiemirror.h"
#include "core/common/messenger.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/downloadsession.h"
#include "core/rows/downloadlistmodel.h"
#include "core/settings/sharedoptions.h"
#include "core/sites/siterules.h"
#include "ui/aboutwindow.h"
#include "ui/cacheviewer.h"
#include "ui/downloadwindow.h"
#include "ui/fwebsearch.h"
#include "ui/library/librarywindow.h"
#include "ui/loginpanel.h"
#include "ui/optionswindow.h"
#include "ui/savelocationchooser.h"
#include "ui/startupwindow.h"

#include <QApplication>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <utility>

AppWindows::AppWindows(const QUrl &homePage, OptionStore &options, SiteRulesCatalog &siteRules, fCover *cover,
                       QObject *parent)
    : QObject(parent), m_home(homePage), m_run{options, siteRules, nullptr}
{
    m_cover = cover ? cover : new fCover;
    m_cover->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_cover, &fCover::batchDownloadRequested, this, [this] { showSearchWindow(); });
    // Closing the startup window ends the program, whatever else is open.
    connect(m_cover, &QObject::destroyed, qApp, &QCoreApplication::quit);
}

AppWindows::~AppWindows()
{
    delete m_library.data();
    delete m_search.data();
    delete m_download.data();
    delete m_cover.data();
}

void AppWindows::startBrowser()
{
    // From the first page on, the browser's cookies are kept for the download window's engines (once:
    // the record is made for the first window only).
    CookieMirror::recordCookies(programProfile()->cookieStore());
}

void AppWindows::showStartup()
{
    if (m_cover)
        m_cover->show();
}

bool AppWindows::isSearchWindowOpen() const
{
    // The search window is never hidden while it lives: a hidden one has been closed and is on its way out.
    return m_search && m_search->isVisible();
}

void AppWindows::setLibrary(PaperLibrary *library)
{
    m_run.library = library;
    m_libraryAwaited = false;
    if (std::exchange(m_searchWanted, false) && m_cover)
        showSearchWindow();
}

fWebSearch *AppWindows::showSearchWindow()
{
    if (m_libraryAwaited) {
        m_searchWanted = true;
        return nullptr;
    }
    if (m_search && !m_search->isVisible())
        m_search = nullptr;
    if (!m_search) {
        startBrowser();
        m_search = new fWebSearch(this, m_home, m_run);
        m_search->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_search->show();
    m_search->raise();
    m_search->activateWindow();
    return m_search;
}

fFileDownload *AppWindows::ensureDownloadWindow()
{
    if (!m_download) {
        startBrowser();
        m_download = new fFileDownload(m_run);
        m_download->session()->setPdfChecker(m_pdfChecker);
        m_download->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_download, &fFileDownload::windowClosed, this, &AppWindows::onDownloadWindowClosed);
        connect(m_download, &fFileDownload::optionsRequested, this, [this] { showOptions(m_download); });
        connect(m_download, &fFileDownload::aboutRequested, this, [this] { showAbout(m_download); });
        connect(m_download, &fFileDownload::searchWindowRequested, this, [this] { showSearchWindow(); });
        connect(m_download, &fFileDownload::libraryWindowRequested, this,
                [this] { showLibraryWindow(m_download); });
        m_download->PicWebBK->setAddressOffer([this] { return offeredLoginAddress(); });
        // Rows it holds from before, or that it lists itself, wait for no hand-over to be polite.
        if (m_search)
            m_search->keepSitePoliteness(*m_download->queue());
    }
    return m_download;
}

QString AppWindows::offeredLoginAddress() const
{
    const auto isWeb = [](const QUrl &url) {
        return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
               !url.host().isEmpty();
    };
    QUrl site = m_search ? m_search->page()->url() : QUrl();
    if (!isWeb(site))
        site = m_home;
    if (!isWeb(site))
        return {};
    const auto origin = QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo;
    if (isWeb(m_loginPage) && site.adjusted(origin) == m_loginPage.adjusted(origin))
        return m_loginPage.toString();
    // The login page that the site's rules name, when it is on the same site.
    const QUrl fromRules = m_run.siteRules.pick(site).loginPageFor(site);
    if (isWeb(fromRules) && site.adjusted(origin) == fromRules.adjusted(origin))
        return fromRules.toString();
    return site.adjusted(origin).toString() + u'/';
}

void AppWindows::onDownloadWindowClosed()
{
    m_download = nullptr;
    // One turn of the event loop first, so a search window closing at the same time is gone.
    QTimer::singleShot(0, this, [this] {
        if (!isSearchWindowOpen())
            showStartup();
    });
}

DownloadQueue *AppWindows::loadDownloadWindow()
{
    return ensureDownloadWindow()->queue();
}

void AppWindows::showDownloadWindow()
{
    fFileDownload *window = ensureDownloadWindow();
    window->model()->flushChanges();
    if (!window->isVisible())
        window->show();
    if (window->isMinimized())
        window->showMaximized();
    window->raise();
}

bool AppWindows::isDownloadWindowLoaded() const
{
    return !m_download.isNull();
}

void AppWindows::showStartupWindow()
{
    showStartup();
}

bool AppWindows::runSaveLocationChooser(QWidget *parent)
{
    return ::runSaveLocationChooser(parent, m_run.options);
}

void AppWindows::showOptions(QWidget *parent)
{
    if (showOptionsWindow(parent, m_run.options) && m_download)
        m_download->takeSharedOptions();
}

void AppWindows::showAbout(QWidget *parent)
{
    showAboutWindow(parent);
}

void AppWindows::showCacheViewer(QWidget *parent)
{
    ::showCacheViewer(parent);
}

void AppWindows::clearBrowserCache()
{
    // The clean-up runs off the window's thread; its message comes when it has finished.
    ClearBrowserCache(true);
}

void AppWindows::showLibraryWindow(QWidget *parent)
{
    Q_UNUSED(parent)
    if (!m_run.library) {
        showMessage(MessageIcon::Critical, QStringLiteral("文献库没有打开，无法显示。"));
        return;
    }
    if (!m_library) {
        LibraryCommands::Hooks hooks;
        hooks.downloadList = [this] { return loadDownloadWindow(); };
        hooks.handOver = [this] { return handOverOptionsOf(m_run.options.options()); };
        hooks.showDownloadList = [this] { showDownloadWindow(); };
        m_library = new LibraryWindow(*m_run.library, m_pdfChecker, std::move(hooks));
        m_library->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_library->show();
    m_library->raise();
    m_library->activateWindow();
}
