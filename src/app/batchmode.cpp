#include "app/batchmode.h"

#include "app/batchoptions.h"
#include "app/batchrun.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QNetworkProxy>
#include <QSettings>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QWebEngineProfile>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// Only write() is safe in a signal handler: the number travels to the event loop through the pipe.
void onStopSignal(int signalNumber)
{
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// Hands SIGINT and SIGTERM to the run. After the first one the default action is back, so a second
// Ctrl-C ends a run that does not stop by itself.
class StopSignals
{
public:
    explicit StopSignals(BatchRun *run)
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
            return;
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_oldInt);
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, run, [this, run] {
            char byte = 0;
            if (::read(g_signalPipe[0], &byte, 1) != 1)
                return;
            restore();
            run->interrupt(byte);
        });
    }

    ~StopSignals()
    {
        restore();
        m_notifier.reset();
        for (int &fd : g_signalPipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }

private:
    void restore()
    {
        if (!m_installed)
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        m_installed = false;
    }

    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
    bool m_installed = true;
};

// No window is ever shown: the browser draws off screen (also where a display is set, since a
// forwarded display that has gone away must not break an unattended run).
void prepareHeadlessBrowser()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    // Chromium's sandbox cannot start as root.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        batchMessage(QStringLiteral("running as root, so the embedded browser runs without its sandbox"));
    }
}

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

} // namespace

int runBatchCommand(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const BatchArguments parsed = parseBatchArguments(arguments);
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
    if (!options.listOnly && !prepareOutFolder(options.outFolder))
        return 1;

    // The scheduler keeps the duplicate-name option in the settings store as it runs; a batch run
    // keeps the user's store as it was by pointing the store at a folder of its own.
    QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid()) {
        batchMessage(
            QStringLiteral("no temporary folder could be made: %1").arg(settingsFolder.errorString()));
        return 1;
    }
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());

    prepareHeadlessBrowser();
    // The browser's report of its graphics set-up means nothing to a run without a screen.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Chromium reads switches from the application's arguments; the batch options are none of its business.
    static int appArgc = 1;
    static char *appArgv[] = {argv[0], nullptr};
    QGuiApplication app(appArgc, appArgv);
    if (!options.proxyHost.isEmpty())
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, options.proxyHost, options.proxyPort));

    // Off the record: the run leaves no cookies, cache or history behind.
    QWebEngineProfile profile;
    BatchRun run(options, &profile);
    StopSignals stopSignals(&run);
    QObject::connect(&run, &BatchRun::finished, &app, [](int status) { QCoreApplication::exit(status); });
    QMetaObject::invokeMethod(&run, &BatchRun::start, Qt::QueuedConnection);
    return QGuiApplication::exec();
}
