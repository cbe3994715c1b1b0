#include "app/qtlanguage.h"
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
#include <QStandardPaths>
#include <QTextStream>
#include <cstdio>
#include <optional>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// How long the end of the program waits for temporary files still being written or removed.
constexpr int kDiskWorkAtEndMs = 10000;

// Chromium's sandbox cannot start as root; the browser then runs without it.
void prepareBrowserEnvironment()
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("folionexus: running as root, so the embedded browser runs without its sandbox\n", stderr);
    }
}

bool hasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return !platform.isEmpty() || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

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

void nameApplication()
{
    QApplication::setOrganizationName(QStringLiteral("Folionexus"));
    QApplication::setApplicationName(kAppTitle);
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(FOLIONEXUS_VERSION_MAJOR)
                                            .arg(FOLIONEXUS_VERSION_MINOR)
                                            .arg(FOLIONEXUS_VERSION_PATCH));
    QApplication::setQuitOnLastWindowClosed(false);
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

// The windows' run, until the last window has closed: the program's own objects, the demo site when
// it is asked for, and the startup window first.
int runWindows(const StartPlace &start)
{
    installMessageBoxes();
    // The run's options, site rules and library, lent to the windows; all three outlive them. The
    // library opens on a thread of its own while the startup window, which needs none of it, is made
    // and shown; the windows that use it wait for it.
    OptionStore options;
    options.loadFromStore();
    SiteRulesCatalog siteRules;
    siteRules.loadUserFolder(SiteRulesCatalog::userFolder());
    PaperLibrary library;

    DemoSite site;
    QUrl homePage = start.homePage;
    if (start.demoSite) {
        if (!startDemoSite(site, start.switches))
            return 1;
        homePage = site.homeUrl();
    }

    // Every PDF downloaded in this run goes through one checker; it outlives the windows.
    PdfChecker pdfChecker(PdfChecker::besideThisProgram());
    AppWindows windows(homePage, options, siteRules);
    windows.setPdfChecker(&pdfChecker);
    if (site.isListening())
        windows.setLoginPage(site.loginUrl());
    windows.awaitLibrary();
    const LibraryOpener opener(
        library, &windows, [&library, &windows](const PaperLibrary::OpenResult &opened) {
            if (!opened.message.isEmpty())
                showMessage(opened.ok ? MessageIcon::Information : MessageIcon::Critical, opened.message);
            windows.setLibrary(opened.ok ? &library : nullptr);
        });
    windows.showStartup();
    const int status = QApplication::exec();
    PartFile::waitForDiskWork(kDiskWorkAtEndMs);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    // Started by folionexus in its place: the process keeps the name it is known by.
    ::prctl(PR_SET_NAME, "folionexus", 0, 0, 0);
    if (const std::optional<int> status = runWindowlessCommand(argc, argv))
        return *status;
    if (!hasDisplay()) {
        std::fputs("folionexus: no display is available (DISPLAY and WAYLAND_DISPLAY are unset).\n"
                   "  Run it inside a virtual display:  xvfb-run -a folionexus\n",
                   stderr);
        return 1;
    }
    prepareBrowserEnvironment();
    quietBrowserEngineLog();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    installQtTranslations();
    nameApplication();
    const std::optional<StartPlace> start = readCommandLine(app);
    if (!start)
        return 1;

    return runWindows(*start);
}
