#pragma once

#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <memory>

// Routes SIGINT, SIGTERM and SIGHUP (the terminal went away) into the event loop while alive: the
// handler runs there with the signal's number. From the first signal on the old handlers are back, so a
// second Ctrl-C ends a program that does not stop by itself; they are back as well when this object goes.
class StopSignals
{
public:
    explicit StopSignals(std::function<void(int signalNumber)> onSignal);
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    bool ok() const { return m_notifier != nullptr; }

private:
    void restore();

    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
    struct sigaction m_oldHup = {};
    bool m_installed = false;
};
