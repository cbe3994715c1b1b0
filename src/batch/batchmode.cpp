#include "batch/batchmode.h"

#include "batch/batchoptions.h"
#include "batch/batchrun.h"
#include "core/common/messenger.h"
#include "core/common/stopsignals.h"
#include "core/library/libraryopening.h"
#include "core/library/paperlibrary.h"
#include "core/pdf/pdfchecker.h"
#include "core/sites/sitepoliteness.h"
#include "core/sites/siterules.h"
#include "core/transfer/partfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkProxy>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

// How long the end of a run waits for the checks of files still on their way to their names.
constexpr int kChecksAtEndMs = 40000;

bool prepareOutFolder(const QString &folder)
{
    if (!QDir().mkpath(folder)) {
        batchMessage(QStringLiteral("the folder %1 could not be created").arg(folder));
        return false;
    }
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isWritable()) {
        batchMessage(QStringLiteral("the folder %1 cannot be written to").arg(folder));
        return false;
    }
    return true;
}

// The exit status when the run ends before it starts: help asked, a wrong command line, an output
// folder that cannot be written or outputs that clash.
std::optional<int> endsBeforeStart(const BatchArguments &parsed)
{
    if (parsed.helpAsked) {
        std::fputs(batchUsage().toUtf8().constData(), stdout);
        return 0;
    }
    if (!parsed.ok) {
        batchMessage(parsed.error);
        std::fputs(batchUsage().toUtf8().constData(), stderr);
        return 1;
    }
    const BatchOptions &options = parsed.options;
    if (!options.checkRulesPage.isEmpty()) {
        // Nothing is written.
    } else if (!options.listOnly && !prepareOutFolder(options.outFolder))
        return 1;
    if (const QString conflict = outputConflict(options); !conflict.isEmpty()) {
        batchMessage(conflict);
        return 1;
    }
    return std::nullopt;
}

std::unique_ptr<QCoreApplication> makeApplication(const BatchOptions &options, const BatchBrowser *browser,
                                                  char *programName)
{
    // Chromium reads switches from the application's arguments; the batch options are none of its business.
    static int appArgc = 1;
    static char *appArgv[] = {programName, nullptr};
    std::unique_ptr<QCoreApplication> app = browser ? browser->makeApplication(appArgc, appArgv)
                                                    : std::make_unique<QCoreApplication>(appArgc, appArgv);
    // The same per-user folders as the windows: the paper library is theirs too.
    QCoreApplication::setOrganizationName(QStringLiteral("Folionexus"));
    QCoreApplication::setApplicationName(kAppTitle);
    if (!options.proxyHost.isEmpty())
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, options.proxyHost, options.proxyPort));
    return app;
}

// The rules for the result pages: a file given for the run, else the user's and the built-in ones.
// False when the given file is refused.
bool loadSiteRules(const BatchOptions &options, SiteRulesCatalog &rules)
{
    rules.loadUserFolder(SiteRulesCatalog::userFolder());
    for (const SiteRulesError &refused : rules.refused())
        batchMessage(refused.message() + QStringLiteral("; the file is left out"));
    if (!options.siteRulesFile.isEmpty() && !rules.addGivenFile(options.siteRulesFile)) {
        batchMessage(rules.refused().constLast().message());
        return false;
    }
    return true;
}

// The paper library for the run, or none when it is not used or cannot be opened; false when the run
// cannot go on without it.
bool openRunLibrary(const BatchOptions &options, std::unique_ptr<PaperLibrary> &library)
{
    if (!options.useLibrary)
        return true;
    library = std::make_unique<PaperLibrary>();
    const auto tell = [](bool, const QString &message) { batchMessage(message); };
    if (openLibraryTelling(*library, tell))
        return true;
    if (options.skipHeld) {
        batchMessage(QStringLiteral("--skip-held needs the paper library, which could not be opened"));
        return false;
    }
    batchMessage(QStringLiteral("the run goes on without the paper library"));
    library.reset();
    return true;
}

int runDownloads(const BatchOptions &options, const BatchBrowser *browser, SiteRulesCatalog &rules,
                 PaperLibrary *library)
{
    // Every PDF of the run goes through one checker, which outlives the run.
    PdfChecker pdfChecker(PdfChecker::besideThisProgram());
    BatchRun run(options, rules, browser ? browser->makePage(&rules) : nullptr);
    run.setPdfChecker(options.checkPdf ? &pdfChecker : nullptr);
    run.setLibrary(library);
    run.setSitePoliteness(SitePoliteness(rules));
    // A second Ctrl-C ends a run that does not stop by itself.
    StopSignals stopSignals([&run](int signalNumber) { run.interrupt(signalNumber); });
    QObject::connect(&run, &BatchRun::finished, QCoreApplication::instance(),
                     [](int status) { QCoreApplication::exit(status); });
    QMetaObject::invokeMethod(&run, &BatchRun::start, Qt::QueuedConnection);
    const int status = QCoreApplication::exec();
    // A check still under way ends before its checker does.
    PartFile::waitForDiskWork(kChecksAtEndMs);
    if (const PdfChecker::Tally tally = pdfChecker.tally(); tally.files > 0)
        batchMessage(QStringLiteral("%1 PDF files checked in %2 s of checking")
                         .arg(tally.files)
                         .arg(tally.nanoseconds / 1e9, 0, 'f', 3));
    return status;
}

} // namespace

std::optional<int> runBatchCommand(int argc, char **argv, const BatchBrowser *browser)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const BatchArguments parsed = parseBatchArguments(arguments);
    // Only a result page needs the browser; a list of links or a manifest is read without it.
    const bool checkOnly = !parsed.options.checkRulesPage.isEmpty();
    const bool needsBrowser =
        parsed.ok && !parsed.helpAsked && (!parsed.options.startPage.isEmpty() || checkOnly);
    if (needsBrowser && !browser)
        return std::nullopt;
    if (const std::optional<int> status = endsBeforeStart(parsed))
        return *status;
    const BatchOptions &options = parsed.options;

    const std::unique_ptr<QCoreApplication> app =
        makeApplication(options, needsBrowser ? browser : nullptr, argv[0]);
    SiteRulesCatalog rules;
    if (!loadSiteRules(options, rules))
        return 1;
    if (checkOnly)
        return browser->checkRules(options, rules);
    std::unique_ptr<PaperLibrary> library;
    if (!openRunLibrary(options, library))
        return 1;
    return runDownloads(options, needsBrowser ? browser : nullptr, rules, library.get());
}
