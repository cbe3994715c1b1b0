#include "core/pdf/pdfchecker.h"

#include "core/common/backgroundthread.h"
#include "core/pdf/pdfwire.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <poll.h>
#include <pthread.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

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
// Files a process is given before it has answered: it reads the ones after the first without waiting for
// them.
constexpr size_t kSentAtOnce = 16;
// How long the files sent after one that takes long wait for it before they go to another process.
constexpr auto kPatience = std::chrono::seconds(1);

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

// The checker's environment: this program's, with the allocator told to keep more freed blocks of each
// small size at hand. The PDF library allocates and frees many small objects for every file, and with
// the allocator's defaults a fifth of a small paper's check went to its slower paths. The user's own
// settings of the allocator, if any, come after and so win.
std::vector<std::string> checkerEnvironment()
{
    static const std::string tunables = "GLIBC_TUNABLES=";
    std::string ours = tunables + "glibc.malloc.tcache_count=200";
    std::vector<std::string> environment;
    for (char **entry = environ; entry && *entry; ++entry) {
        const std::string text(*entry);
        if (text.rfind(tunables, 0) == 0)
            ours += ":" + text.substr(tunables.size());
        else
            environment.push_back(text);
    }
    environment.push_back(ours);
    return environment;
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
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_work.notify_all();
    for (std::thread &feeder : m_feeders)
        feeder.join(); // each checks what is left, then ends its process
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
    std::vector<std::string> environment = checkerEnvironment();
    std::vector<char *> envp;
    for (std::string &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, envp.data());
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
        // Waited for as it ends, not a moment later: the end of a run waits for its checkers.
        const int ended = int(::syscall(SYS_pidfd_open, process.pid, 0));
        if (ended >= 0) {
            pollfd exit{ended, POLLIN, 0};
            int ready;
            do {
                ready = ::poll(&exit, 1, kEndGraceMs);
            } while (ready < 0 && errno == EINTR);
            if (ready == 0)
                ::kill(process.pid, SIGKILL);
            ::close(ended);
        }
        int status = 0;
        for (int waited = 0; ::waitpid(process.pid, &status, WNOHANG) == 0; waited += 1) {
            if (waited >= kEndGraceMs)
                ::kill(process.pid, SIGKILL);
            ::usleep(1000);
        }
    }
    process = {};
}

bool PdfChecker::awaitAnswer(const Process &process, const Sent &front) const
{
    using namespace std::chrono;
    const qint64 limit = qint64(m_limits.timeMs) * 1000000;
    const auto last = front.startedAt + milliseconds(qint64(m_limits.timeMs) * kWallLimits);
    for (qint64 used = 0;;) {
        // The process cannot use its CPU time faster than time passes: no need to look before then.
        const auto next = std::min(last, steady_clock::now() + nanoseconds(limit - used) + milliseconds(1));
        if (waitReadable(process.socket, next))
            return true;
        if (steady_clock::now() >= last)
            return false;
        const qint64 cpu = cpuNanoseconds(process.clock);
        // A process whose clock cannot be read is held to the time that passed.
        used = cpu >= 0 && front.cpuAtStart >= 0
                   ? cpu - front.cpuAtStart
                   : duration_cast<nanoseconds>(steady_clock::now() - front.startedAt).count();
        if (used >= limit)
            return false;
    }
}

// One checking process and the files it was sent, oldest first, on the thread that feeds it. The process
// answers in the order it was asked; the time limit of each file counts from the answer before it.
class PdfChecker::Feeder
{
public:
    explicit Feeder(PdfChecker &checker) : m_checker(checker) {}
    ~Feeder() { m_checker.end(m_process, false); }
    Feeder(const Feeder &) = delete;
    Feeder &operator=(const Feeder &) = delete;

    void run()
    {
        for (;;) {
            std::vector<Job> jobs = m_checker.takeJobs(kSentAtOnce - m_sent.size(), m_sent.empty());
            if (jobs.empty() && m_sent.empty())
                return;
            for (Job &job : jobs)
                send(std::move(job));
            if (!m_sent.empty())
                readAnswers();
        }
    }

private:
    void send(Job job);
    void readAnswers();
    // The front file takes long: the files sent after it go back to be checked by another process,
    // and their answers here, should they come, are let go.
    void handOnAfterFront();
    // The front file ran out of time: the process is ended, the files after it go back.
    void timeOut();
    // The process has ended by itself: why, once it is waited for.
    QString reap();
    // The process can check no more: the file it was at is tried once more in a fresh one (it may have
    // been killed from outside), the files after it go back to be checked first.
    void lose(const QString &why);
    // The process is killed, and the answers it owed with it.
    void endProcess()
    {
        m_checker.end(m_process, true);
        m_forsaken.clear();
    }
    void beginFront()
    {
        if (m_sent.empty())
            return;
        m_sent.front().cpuAtStart = cpuNanoseconds(m_process.clock);
        m_sent.front().startedAt = std::chrono::steady_clock::now();
    }

    PdfChecker &m_checker;
    Process m_process;
    std::deque<Sent> m_sent;
    std::set<uint64_t> m_forsaken; // requests handed on, whose answers are not awaited
};

void PdfChecker::Feeder::send(Job job)
{
    QString error;
    if (m_process.pid <= 0 && !m_checker.start(m_process, &error)) {
        Sent failed;
        failed.job = std::move(job);
        m_checker.finish(failed, notChecked(Unchecked::CheckerFailed, error));
        return;
    }
    Sent sent;
    sent.job = std::move(job);
    sent.request = m_checker.nextRequest();
    m_sent.push_back(std::move(sent));
    if (m_sent.size() == 1)
        beginFront();
    if (!sendRequest(m_process.socket, m_sent.back().request, m_sent.back().job.fd))
        lose(QString::fromLocal8Bit(std::strerror(errno)));
}

void PdfChecker::Feeder::handOnAfterFront()
{
    for (size_t i = 1; i < m_sent.size(); ++i)
        m_forsaken.insert(m_sent[i].request);
    Sent front = std::move(m_sent.front());
    m_sent.pop_front();
    m_checker.giveBack(m_sent);
    m_sent.push_back(std::move(front));
}

void PdfChecker::Feeder::readAnswers()
{
    if (m_sent.size() > 1 && m_checker.m_limits.processes > 1 &&
        !waitReadable(m_process.socket, m_sent.front().startedAt + kPatience))
        handOnAfterFront();
    if (!m_checker.awaitAnswer(m_process, m_sent.front())) {
        timeOut();
        return;
    }
    // Answers that came together are read together.
    while (!m_sent.empty()) {
        char answer[pdfwire::MaxAnswer];
        const ssize_t got = ::recv(m_process.socket, answer, sizeof answer, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (got <= 0) {
            lose(reap());
            return;
        }
        uint64_t answered = 0;
        PdfInspection inspection;
        const bool read = pdfwire::decode(answer, size_t(got), &answered, &inspection);
        if (read && m_forsaken.erase(answered))
            continue;
        if (!read || answered != m_sent.front().request) {
            lose(QStringLiteral("the checker gave no answer it could read"));
            return;
        }
        m_checker.finish(m_sent.front(), fromInspection(inspection));
        m_sent.pop_front();
        beginFront();
    }
}

void PdfChecker::Feeder::timeOut()
{
    m_checker.finish(
        m_sent.front(),
        notChecked(Unchecked::TimedOut,
                   QStringLiteral("no verdict within %1 s").arg(m_checker.m_limits.timeMs / 1000.0)));
    m_sent.pop_front();
    endProcess();
    m_checker.giveBack(m_sent);
}

QString PdfChecker::Feeder::reap()
{
    int status = 0;
    ::close(m_process.socket);
    m_process.socket = -1;
    const bool ended = ::waitpid(m_process.pid, &status, 0) == m_process.pid;
    m_process.pid = -1;
    return ended ? endText(status) : QStringLiteral("the checker ended");
}

void PdfChecker::Feeder::lose(const QString &why)
{
    endProcess();
    Sent &front = m_sent.front();
    if (++front.job.failures >= 2) {
        m_checker.finish(front, notChecked(Unchecked::CheckerFailed, why));
        m_sent.pop_front();
    }
    m_checker.giveBack(m_sent);
}

std::vector<PdfChecker::Job> PdfChecker::takeJobs(size_t room, bool waitForOne)
{
    std::unique_lock lock(m_mutex);
    if (waitForOne) {
        ++m_waitingFeeders;
        m_work.wait(lock, [this] { return !m_jobs.empty() || m_ending; });
        --m_waitingFeeders;
    }
    // A share for each process waiting, so that files that come together are checked side by side.
    const size_t share = (m_jobs.size() + size_t(m_waitingFeeders)) / size_t(m_waitingFeeders + 1);
    std::vector<Job> jobs;
    while (jobs.size() < std::min(room, share) && !m_jobs.empty()) {
        jobs.push_back(std::move(m_jobs.front()));
        m_jobs.pop_front();
    }
    return jobs;
}

void PdfChecker::giveBack(std::deque<Sent> &sent)
{
    {
        std::lock_guard lock(m_mutex);
        for (auto it = sent.rbegin(); it != sent.rend(); ++it)
            m_jobs.push_front(std::move(it->job));
        addFeederWhileAllBusy();
    }
    sent.clear();
    m_work.notify_all();
}

uint64_t PdfChecker::nextRequest()
{
    std::lock_guard lock(m_mutex);
    return ++m_request;
}

void PdfChecker::finish(Sent &sent, const PdfVerdict &verdict)
{
    if (sent.job.fd >= 0)
        ::close(sent.job.fd);
    sent.job.fd = -1;
    if (sent.startedAt != std::chrono::steady_clock::time_point())
        m_nanoseconds += std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - sent.startedAt)
                             .count();
    ++m_files;
    if (sent.job.done)
        sent.job.done(verdict);
}

void PdfChecker::feed()
{
    MarkBackgroundThread();
    ::pthread_setname_np(::pthread_self(), "pdf checks");
    Feeder(*this).run();
}

void PdfChecker::checkLater(int fd, std::function<void(const PdfVerdict &verdict)> done)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(Job{fd, std::move(done)});
        // One process checks what comes in bursts of small papers; another starts for more than it
        // takes at once, or once the files behind a slow one are handed on.
        if (m_feeders.empty() || m_jobs.size() > kSentAtOnce)
            addFeederWhileAllBusy();
    }
    m_work.notify_one();
}

void PdfChecker::addFeederWhileAllBusy()
{
    // A process more while every one is busy, up to the limit (and none once the checker ends).
    if (!m_ending && m_waitingFeeders == 0 && int(m_feeders.size()) < std::max(1, m_limits.processes))
        m_feeders.emplace_back([this] { feed(); });
}

PdfVerdict PdfChecker::check(int fd)
{
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return notChecked(Unchecked::Unreadable, QString::fromLocal8Bit(std::strerror(errno)));
    std::promise<PdfVerdict> verdict;
    std::future<PdfVerdict> answer = verdict.get_future();
    checkLater(own, [&verdict](const PdfVerdict &v) { verdict.set_value(v); });
    return answer.get();
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
