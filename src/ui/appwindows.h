#pragma once

#include "ui/downloadwindow.h"
#include "ui/fwebsearch.h"
#include "ui/runobjects.h"
#include "ui/searchwindowhost.h"
#include "ui/startupwindow.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

class LibraryWindow;
class PdfChecker;

// Creates, shows and closes the program's windows: each exists at most once, is created when first
// used and afresh after it closed; the startup window comes back when the last working window closes.
// The options, the site rules and the library are main()'s; the windows are lent them.
class AppWindows : public QObject, public SearchWindowHost
{
    Q_OBJECT

public:
    // The startup window is the one given (made and shown already), else one of its own.
    AppWindows(const QUrl &homePage, OptionStore &options, SiteRulesCatalog &siteRules,
               fCover *cover = nullptr, QObject *parent = nullptr);
    ~AppWindows() override;

    fCover *startupWindow() const { return m_cover; }
    fWebSearch *searchWindow() const { return m_search; }
    fFileDownload *downloadWindow() const { return m_download; }
    QUrl homePage() const { return m_home; }
    // The library is being opened: the search window, which the windows that use the library come
    // from, is made once it has come (setLibrary), so that none of them is made without it.
    void awaitLibrary() { m_libraryAwaited = true; }
    // The library once it is open (nullptr when it could not be opened); windows made from then on use
    // it, and a search window asked for while it was awaited is shown now.
    void setLibrary(PaperLibrary *library);
    const RunObjects &run() const { return m_run; }

    // The login page of the site the program serves itself, offered in the login panel while the
    // search window shows that site.
    void setLoginPage(const QUrl &loginPage) { m_loginPage = loginPage; }
    // What the login panel offers in its address box: that login page, or the root of the site the
    // search window shows (the home page's when it shows none).
    QString offeredLoginAddress() const;
    // The checker of the download window's PDFs (the program's one, living longer than the windows).
    void setPdfChecker(PdfChecker *checker) { m_pdfChecker = checker; }

    void showStartup();
    // "批量下载" and "打开网页分析窗口": shows the search window, creating it when needed (nullptr while
    // the library is awaited: it shows when the library comes).
    fWebSearch *showSearchWindow();
    bool isSearchWindowOpen() const;
    fFileDownload *ensureDownloadWindow();

    // SearchWindowHost
    DownloadQueue *loadDownloadWindow() override;
    void showDownloadWindow() override;
    bool isDownloadWindowLoaded() const override;
    void showStartupWindow() override;
    bool runSaveLocationChooser(QWidget *parent) override;
    void showOptions(QWidget *parent) override;
    void showAbout(QWidget *parent) override;
    void showCacheViewer(QWidget *parent) override;
    void clearBrowserCache() override;
    void showLibraryWindow(QWidget *parent) override;

private:
    void onDownloadWindowClosed();
    // Starts the browser engine for the first window that shows a page; the startup and options windows
    // open without it.
    void startBrowser();

    QUrl m_home;
    RunObjects m_run;
    QUrl m_loginPage;
    QPointer<fCover> m_cover;
    QPointer<fWebSearch> m_search;
    QPointer<fFileDownload> m_download;
    QPointer<LibraryWindow> m_library;
    PdfChecker *m_pdfChecker = nullptr;
    bool m_libraryAwaited = false;
    bool m_searchWanted = false; // asked for while the library was awaited
};
