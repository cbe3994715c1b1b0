#include "demo/demositecommand.h"

#include "demo/demosite.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// Only write() is safe in a signal handler; the event loop reads the byte and quits.
void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// Routes SIGINT and SIGTERM into the event loop while alive, and puts the old handlers back after.
class StopSignals
{
public:
    StopSignals()
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
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [] {
            char byte = 0;
            [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
            QCoreApplication::quit();
        });
    }

    ~StopSignals()
    {
        if (!m_notifier)
            return;
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        m_notifier.reset();
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }

    bool ok() const { return m_notifier != nullptr; }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
};

} // namespace

int runDemoSiteCommand(int port)
{
    if (port < 0 || port > 65535) {
        std::fprintf(stderr, "Demo site: %d is not a port number (0 to 65535).\n", port);
        return 2;
    }
    static int argc = 1;
    static char name[] = "folionexus";
    static char *argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> ownApp;
    if (!QCoreApplication::instance())
        ownApp = std::make_unique<QCoreApplication>(argc, argv);

    DemoSite site;
    if (!site.listen(quint16(port))) {
        std::fprintf(stderr, "Demo site: cannot listen on 127.0.0.1:%d: %s\n", port,
                     qPrintable(site.errorString()));
        return 1;
    }
    const StopSignals stopSignals;
    if (!stopSignals.ok()) {
        std::fprintf(stderr, "Demo site: cannot watch for stop signals.\n");
        return 1;
    }
    std::printf("Demo site: http://127.0.0.1:%u/\n", unsigned(site.port()));
    std::fflush(stdout);
    QCoreApplication::exec();
    return 0;
}
