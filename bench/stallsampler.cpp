#include "stallsampler.h"

#include <QHash>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <map>
#include <memory>

namespace {

constexpr int kDepth = 64;
constexpr int kShown = 10;
constexpr auto kPoll = std::chrono::milliseconds(3);

// Where the watched thread was when the signal came: written by the handler, read by the watcher once
// done is set (one sample at a time).
void *g_frames[kDepth];
std::atomic<int> g_count{0};
std::atomic<bool> g_done{false};

void onSample(int)
{
    g_count.store(backtrace(g_frames, kDepth));
    g_done.store(true);
}

// The function's name from a line of backtrace_symbols ("module(name+0x1f) [0x...]"), demangled; the
// module and offset when the module keeps no name for it.
QString frameName(const char *symbol)
{
    const QString line = QString::fromLocal8Bit(symbol);
    const qsizetype open = line.indexOf(u'(');
    const qsizetype plus = line.indexOf(u'+', open);
    const QByteArray mangled =
        open >= 0 && plus > open + 1 ? line.mid(open + 1, plus - open - 1).toLatin1() : QByteArray();
    if (mangled.isEmpty())
        return line.section(u'/', -1);
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(mangled.constData(), nullptr, nullptr, &status), &std::free);
    const QString readable =
        status == 0 && name ? QString::fromLocal8Bit(name.get()) : QString::fromLatin1(mangled);
    return readable.section(u'(', 0, 0);
}

} // namespace

StallSampler::StallSampler(int thresholdMs)
    : m_thresholdNs(qint64(thresholdMs) * 1000000), m_target(pthread_self()), m_lastBeatNs(nowNs())
{
    // backtrace loads its unwinder on first use: not inside a signal handler.
    void *warm[4];
    backtrace(warm, 4);
    struct sigaction action = {};
    action.sa_handler = onSample;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR2, &action, nullptr);
    m_watcher = std::thread([this] { watch(); });
}

StallSampler::~StallSampler()
{
    m_stop.store(true);
    m_watcher.join();
    signal(SIGUSR2, SIG_DFL);
}

qint64 StallSampler::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void StallSampler::beat()
{
    m_lastBeatNs.store(nowNs());
}

bool StallSampler::sample(Frames *frames)
{
    g_done.store(false);
    if (pthread_kill(m_target, SIGUSR2) != 0)
        return false;
    for (int waited = 0; !g_done.load() && waited < 200; ++waited)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    if (!g_done.load())
        return false;
    // The handler's own frames first: what the thread was doing follows them.
    const int count = g_count.load();
    frames->assign(g_frames + std::min(count, 2), g_frames + count);
    return true;
}

void StallSampler::stallEnded(qint64 ms)
{
    std::lock_guard lock(m_mutex);
    if (ms > m_longestMs) {
        m_longestMs = ms;
        m_longestSamples = std::move(m_current);
    }
    m_current.clear();
}

void StallSampler::watch()
{
    qint64 seen = m_lastBeatNs.load();
    while (!m_stop.load()) {
        std::this_thread::sleep_for(kPoll);
        const qint64 beat = m_lastBeatNs.load();
        if (beat != seen) {
            if (beat - seen > m_thresholdNs)
                stallEnded((beat - seen) / 1000000);
            else
                m_current.clear();
            seen = beat;
            continue;
        }
        Frames frames;
        if (nowNs() - seen > m_thresholdNs && sample(&frames))
            m_current.push_back(std::move(frames));
    }
}

StallSampler::Stall StallSampler::longest()
{
    std::lock_guard lock(m_mutex);
    Stall stall;
    stall.ms = m_longestMs;
    stall.samples = static_cast<int>(m_longestSamples.size());
    // Each function counts once per sample it is in; among those in as many, the innermost first.
    std::map<QString, std::pair<int, int>> seen; // name: samples, depth summed
    for (const Frames &frames : m_longestSamples) {
        char **symbols = backtrace_symbols(frames.data(), static_cast<int>(frames.size()));
        QHash<QString, int> once;
        for (int i = 0; symbols && i < static_cast<int>(frames.size()); ++i)
            once.insert(frameName(symbols[i]), i);
        std::free(symbols);
        for (auto it = once.cbegin(); it != once.cend(); ++it) {
            seen[it.key()].first += 1;
            seen[it.key()].second += it.value();
        }
    }
    std::vector<std::pair<QString, std::pair<int, int>>> ranked(seen.begin(), seen.end());
    std::sort(ranked.begin(), ranked.end(), [](const auto &a, const auto &b) {
        if (a.second.first != b.second.first)
            return a.second.first > b.second.first;
        return a.second.second * b.second.first < b.second.second * a.second.first;
    });
    for (size_t i = 0; i < ranked.size() && stall.frames.size() < kShown; ++i)
        stall.frames.append(
            QStringLiteral("%1% %2").arg(100 * ranked[i].second.first / stall.samples).arg(ranked[i].first));
    return stall;
}
