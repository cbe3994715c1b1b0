#include "core/pdf/pdfchecker.h"

#include "core/pdf/pdfwire.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

using pdfverdict::State;
using pdfverdict::Unchecked;

namespace {

// How long a checker that was asked to end may take before it is made to.
constexpr int kEndGraceMs = 1000;
// The time limit counts the checking process's own CPU time: on a busy machine (and the checkers give
// way to the transfers) a file may wait for the processor longer than it is worked on. However busy
// the machine, no file is waited for longer than this many times the limit.
constexpr int kWallLimits = 3;

PdfVerdict notChecked(Unchecked why, const QString &detail)
{
    PdfVerdict verdict;
    verdict.unchecked = why;
    verdict.detail = detail;
    return verdict;
}

PdfVerdict fromInspection(const PdfInspection &inspection)
{
    PdfVerdict verdict;
    verdict.state = inspection.state;
    verdict.damage = inspection.damage;
    verdict.unchecked = inspection.unchecked;
    verdict.pages = inspection.pages;
    verdict.detail = QString::fromStdString(inspection.detail);
    return verdict;
}

bool sendRequest(int socket, uint64_t request, int fd)
{
    char control[CMSG_SPACE(sizeof(int))] = {};
    iovec part{&request, sizeof request};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    ssize_t sent;
    do {
        sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == sizeof request;
}

// The checking process's CPU time so far, -1 when it cannot be had.
qint64 cpuNanoseconds(clockid_t clock)
{
    timespec used{};
    if (::clock_gettime(clock, &used) != 0)
        return -1;
    return qint64(used.tv_sec) * 1000000000 + used.tv_nsec;
}

// Waits for the socket to have an answer (or to be closed) until the deadline; false when time ran out.
bool waitReadable(int socket, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd wanted{socket, POLLIN, 0};
        const int ready = ::poll(&wanted, 1, int(left.count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return true; // the read that follows says what is wrong
    }
}

QString endText(int status)
{
    if (WIFSIGNALED(status))
        return QStringLiteral("the checker ended on signal %1").arg(WTERMSIG(status));
    return QStringLiteral("the checker ended with status %1").arg(WEXITSTATUS(status));
}

} // namespace

PdfChecker::PdfChecker(QString program) : PdfChecker(std::move(program), Limits{}) {}

PdfChecker::PdfChecker(QString program, Limits limits) : m_program(std::move(program)), m_limits(limits) {}

PdfChecker::~PdfChecker()
{
    std::unique_lock lock(m_mutex);
    m_freed.wait(lock, [this] { return m_busy == 0; });
    for (Process &process : m_idle)
        end(process, false);
}

QString PdfChecker::besideThisProgram()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path folder = error ? std::filesystem::path() : self.parent_path();
    for (const char *relative : {FOLIONEXUS_PDFCHECK_PROGRAM, FOLIONEXUS_PDFCHECK_INSTALLED}) {
        const std::filesystem::path program = (folder / relative).lexically_normal();
        if (::access(program.c_str(), X_OK) == 0)
            return QString::fromStdString(program.string());
    }
    return QString::fromStdString((folder / FOLIONEXUS_PDFCHECK_PROGRAM).string());
}

PdfChecker::Process PdfChecker::take()
{
    std::unique_lock lock(m_mutex);
    m_freed.wait(lock, [this] { return !m_idle.empty() || m_busy < m_limits.processes; });
    ++m_busy;
    if (m_idle.empty())
        return {};
    const Process process = m_idle.back();
    m_idle.pop_back();
    return process;
}

void PdfChecker::giveBack(Process process)
{
    {
        std::lock_guard lock(m_mutex);
        --m_busy;
        if (process.pid > 0)
            m_idle.push_back(process);
    }
    m_freed.notify_one();
}

bool PdfChecker::start(Process &process, QString *error)
{
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], pdfwire::SocketFd);
    const QByteArray program = QFile::encodeName(m_program);
    const QByteArray memory = QByteArray::number(m_limits.memoryMiB);
    char *argv[] = {const_cast<char *>(program.constData()), const_cast<char *>("--memory-mib"),
                    const_cast<char *>(memory.constData()), nullptr};
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sockets[1]);
    if (failed != 0) {
        ::close(sockets[0]);
        *error = QStringLiteral("%1: %2").arg(m_program, QString::fromLocal8Bit(std::strerror(failed)));
        return false;
    }
    process.pid = pid;
    process.socket = sockets[0];
    if (::clock_getcpuclockid(pid, &process.clock) != 0)
        process.clock = -1; // then the time that passes is counted
    return true;
}

void PdfChecker::end(Process &process, bool kill)
{
    if (process.socket >= 0)
        ::close(process.socket); // a checker that reads the end of its socket ends by itself
    if (process.pid > 0) {
        if (kill)
            ::kill(process.pid, SIGKILL);
        int status = 0;
        for (int waited = 0; ::waitpid(process.pid, &status, WNOHANG) == 0; waited += 10) {
            if (waited >= kEndGraceMs)
                ::kill(process.pid, SIGKILL);
            ::usleep(10000);
        }
    }
    process = {};
}

bool PdfChecker::awaitAnswer(const Process &process, qint64 cpuBefore) const
{
    using namespace std::chrono;
    const qint64 limit = qint64(m_limits.timeMs) * 1000000;
    const auto start = steady_clock::now();
    const auto last = start + milliseconds(qint64(m_limits.timeMs) * kWallLimits);
    for (qint64 used = 0;;) {
        // The process cannot use its CPU time faster than time passes: no need to look before then.
        const auto next = std::min(last, steady_clock::now() + nanoseconds(limit - used) + milliseconds(1));
        if (waitReadable(process.socket, next))
            return true;
        if (steady_clock::now() >= last)
            return false;
        const qint64 cpu = cpuNanoseconds(process.clock);
        // A process whose clock cannot be read is held to the time that passed.
        used = cpu >= 0 && cpuBefore >= 0 ? cpu - cpuBefore
                                          : duration_cast<nanoseconds>(steady_clock::now() - start).count();
        if (used >= limit)
            return false;
    }
}

PdfVerdict PdfChecker::ask(Process &process, int fd, bool *keep)
{
    uint64_t request;
    {
        std::lock_guard lock(m_mutex);
        request = ++m_request;
    }
    *keep = false;
    const qint64 cpuBefore = cpuNanoseconds(process.clock);
    if (!sendRequest(process.socket, request, fd))
        return notChecked(Unchecked::CheckerFailed, QString::fromLocal8Bit(std::strerror(errno)));
    if (!awaitAnswer(process, cpuBefore))
        return notChecked(Unchecked::TimedOut,
                          QStringLiteral("no verdict within %1 s").arg(m_limits.timeMs / 1000.0));
    char answer[pdfwire::MaxAnswer];
    const ssize_t got = ::recv(process.socket, answer, sizeof answer, 0);
    uint64_t answered = 0;
    PdfInspection inspection;
    if (got <= 0) {
        int status = 0;
        ::close(process.socket);
        process.socket = -1;
        const bool ended = ::waitpid(process.pid, &status, 0) == process.pid;
        process.pid = -1;
        return notChecked(Unchecked::CheckerFailed,
                          ended ? endText(status) : QStringLiteral("the checker ended"));
    }
    if (!pdfwire::decode(answer, size_t(got), &answered, &inspection) || answered != request)
        return notChecked(Unchecked::CheckerFailed,
                          QStringLiteral("the checker gave no answer it could read"));
    *keep = true;
    return fromInspection(inspection);
}

PdfVerdict PdfChecker::check(int fd)
{
    const auto start = std::chrono::steady_clock::now();
    const PdfVerdict verdict = checkWithProcess(fd);
    m_nanoseconds +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count();
    ++m_files;
    return verdict;
}

PdfVerdict PdfChecker::checkWithProcess(int fd)
{
    Process process = take();
    // A checker that was kept may have ended since (killed from outside): one fresh try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool fresh = process.pid <= 0;
        QString error;
        if (fresh && !start(process, &error)) {
            giveBack({});
            return notChecked(Unchecked::CheckerFailed, error);
        }
        bool keep = false;
        const PdfVerdict verdict = ask(process, fd, &keep);
        if (keep) {
            giveBack(process);
            return verdict;
        }
        end(process, true);
        if (fresh || verdict.unchecked == Unchecked::TimedOut) {
            giveBack({});
            return verdict;
        }
    }
    giveBack({});
    return notChecked(Unchecked::CheckerFailed, QStringLiteral("the checker could not be reached"));
}

PdfVerdict PdfChecker::checkFile(const QString &path)
{
    // Without waiting: what stands at the name may have become a pipe since it was listed.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return notChecked(Unchecked::Unreadable, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return notChecked(Unchecked::Unreadable, QStringLiteral("not a plain file"));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK); // the checker reads it as any file
    const PdfVerdict verdict = check(fd);
    ::close(fd);
    return verdict;
}
