#include "core/common/stopsignals.h"

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

} // namespace

StopSignals::StopSignals(std::function<void(int)> onSignal)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &m_oldInt);
    ::sigaction(SIGTERM, &action, &m_oldTerm);
    // A run started under nohup keeps ignoring the hang-up, as it was asked to.
    ::sigaction(SIGHUP, nullptr, &m_oldHup);
    if (m_oldHup.sa_handler != SIG_IGN)
        ::sigaction(SIGHUP, &action, nullptr);
    m_installed = true;
    m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this, onSignal = std::move(onSignal)] {
        char byte = 0;
        if (::read(g_signalPipe[0], &byte, 1) != 1)
            return;
        restore();
        onSignal(byte);
    });
}

StopSignals::~StopSignals()
{
    restore();
    m_notifier.reset();
    for (int &fd : g_signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void StopSignals::restore()
{
    if (!m_installed)
        return;
    ::sigaction(SIGINT, &m_oldInt, nullptr);
    ::sigaction(SIGTERM, &m_oldTerm, nullptr);
    ::sigaction(SIGHUP, &m_oldHup, nullptr);
    m_installed = false;
}
