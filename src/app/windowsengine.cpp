// The part of the windows program that needs the browser engine, loaded as a module once the startup
// window shows (or at once for a command line with options): the run's objects, the windows and the
// commands that open none.
#include "app/qtlanguage.h"
#include "app/windowsstart.h"
#include "batch/webbatchpage.h"
#include "core/common/messenger.h"
#include "core/library/libraryopening.h"
#include "core/library/paperlibrary.h"
#include "core/pdf/pdfchecker.h"
#include "core/settings/sharedoptions.h"
#include "core/sites/siterules.h"
#include "core/transfer/partfile.h"
#include "demo/demosite.h"
#include "demo/demositecommand.h"
#include "desktop/messageboxes.h"
#include "ui/appwindows.h"
#include "ui/startupwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QOpenGLContext>
#include <QStandardPaths>
#include <QTextStream>
#include <cstdio>
#include <memory>
#include <optional>

#if QT_CONFIG(opengl)
// Qt's own setter of the context every OpenGL context of the program shares with (the browser engine
// calls it too when it is linked into the program from the start).
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);
#endif

namespace {

// How long the end of the program waits for temporary files still being written or removed.
constexpr int kDiskWorkAtEndMs = 10000;

// The commands that open no window: batch mode, which runs headless, and the demo site alone.
std::optional<int> runWindowlessCommand(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--batch") == 0) {
            const int status = runBatchCommand(argc, argv, &webBatchBrowser()).value_or(1);
            PartFile::waitForDiskWork(kDiskWorkAtEndMs);
            return status;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--demo-site") == 0) {
            QCoreApplication app(argc, argv);
            return runDemoSiteCommand(QCoreApplication::arguments());
        }
    }
    return std::nullopt;
}

// Where the search window starts, as the command line says.
struct StartPlace
{
    QUrl homePage;
    bool demoSite = true;
    DemoSiteSwitches switches;
};

// Empty, after saying why on stderr, for a wrong demo switch; help and version end the program here.
std::optional<StartPlace> readCommandLine(const QApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(kAppTitle);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Home page of the search window."),
                                  QStringLiteral("URL"));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Start on the bundled demo literature site (the default)."));
    parser.addOptions({home, demo});
    parser.addOptions(demoSiteOptions());
    parser.process(app);
    QString switchError;
    const std::optional<DemoSiteSwitches> switches = readDemoSiteSwitches(parser, &switchError);
    if (!switches) {
        std::fprintf(stderr, "folionexus: %s\n", qPrintable(switchError));
        return std::nullopt;
    }
    return StartPlace{QUrl::fromUserInput(parser.value(home)), !parser.isSet(home) || parser.isSet(demo),
                      *switches};
}

// Starts the demo site on the same port as last time when it is free, so a restored list still
// reaches it; false when it cannot listen at all.
bool startDemoSite(DemoSite &site, const DemoSiteSwitches &switches)
{
    applyDemoSiteSwitches(site, switches);
    const QString portFile =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/demo-port");
    if (!site.listenAtRememberedPort(portFile)) {
        std::fputs("folionexus: the demo literature site could not start on 127.0.0.1\n", stderr);
        return false;
    }
    QTextStream(stdout) << "Demo literature site: " << site.homeUrl().toString() << Qt::endl;
    return true;
}

// The windows' run: the program's own objects, the demo site when it is asked for, and the startup
// window first (the one given, already shown, or one of its own). The options, site rules and library
// are lent to the windows and outlive them. The library opens on a thread of its own while the startup
// window, which needs none of it, is shown; the windows that use it wait for it.
class WindowsRun
{
public:
    WindowsRun(const StartPlace &start, fCover *cover) : m_start(start), m_cover(cover)
    {
        installMessageBoxes();
        m_options.loadFromStore();
        m_siteRules.loadUserFolder(SiteRulesCatalog::userFolder());
    }

    // False when it cannot start (the demo site could not listen).
    bool start()
    {
        QUrl homePage = m_start.homePage;
        if (m_start.demoSite) {
            if (!startDemoSite(m_site, m_start.switches))
                return false;
            homePage = m_site.homeUrl();
        }
        m_windows.emplace(homePage, m_options, m_siteRules, m_cover);
        // Every PDF downloaded in this run goes through one checker; it outlives the windows.
        m_windows->setPdfChecker(&m_pdfChecker);
        if (m_site.isListening())
            m_windows->setLoginPage(m_site.loginUrl());
        m_windows->awaitLibrary();
        m_opener.emplace(m_library, &*m_windows, [this](const PaperLibrary::OpenResult &opened) {
            if (!opened.message.isEmpty())
                showMessage(opened.ok ? MessageIcon::Information : MessageIcon::Critical, opened.message);
            m_windows->setLibrary(opened.ok ? &m_library : nullptr);
        });
        m_windows->showStartup();
        return true;
    }

private:
    const StartPlace m_start;
    fCover *const m_cover;
    OptionStore m_options;
    SiteRulesCatalog m_siteRules;
    PaperLibrary m_library;
    DemoSite m_site;
    PdfChecker m_pdfChecker{PdfChecker::besideThisProgram()};
    std::optional<AppWindows> m_windows;
    std::optional<LibraryOpener> m_opener;
};

// The browser engine draws through OpenGL contexts that share with one made before its first page. Made
// here, once the startup window shows (the program asked for shared contexts before it loaded this
// module): made with the application object, the context (and the graphics driver it loads) would hold
// the startup window up.
void makeSharedGraphicsContext()
{
#if QT_CONFIG(opengl)
    if (QOpenGLContext::globalShareContext() ||
        !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    auto *context = new QOpenGLContext(qApp);
    context->create();
    qt_gl_set_global_share_context(context);
#endif
}

int endOfRun(int status)
{
    PartFile::waitForDiskWork(kDiskWorkAtEndMs);
    return status;
}

} // namespace

extern "C" Q_DECL_EXPORT int folionexus_windowless(int argc, char **argv)
{
    return runWindowlessCommand(argc, argv).value_or(-1);
}

extern "C" Q_DECL_EXPORT int folionexus_windows_main(int argc, char **argv)
{
    if (!windowsstart::hasDisplay())
        return 1;
    windowsstart::prepareBrowserEnvironment();
    quietBrowserEngineLog();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    installQtTranslations();
    windowsstart::nameApplication();
    const std::optional<StartPlace> start = readCommandLine(app);
    if (!start)
        return 1;
    int status = 1;
    {
        WindowsRun run(*start, nullptr);
        if (run.start())
            status = QApplication::exec();
    }
    return endOfRun(status);
}

extern "C" Q_DECL_EXPORT void *folionexus_windows_begin(fCover *cover)
{
    makeSharedGraphicsContext();
    auto run = std::make_unique<WindowsRun>(StartPlace{}, cover);
    return run->start() ? run.release() : nullptr;
}

extern "C" Q_DECL_EXPORT void folionexus_windows_end(void *run)
{
    delete static_cast<WindowsRun *>(run);
    endOfRun(0);
}
