#pragma once

#include "core/pdf/pdfverdict.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <time.h>
#include <vector>

// Checks the structure of PDF files in checking processes of their own (the program folionexus-pdfcheck),
// each with a memory limit, and gives up on a file that takes longer than the time limit: a hostile file
// costs at most that, and a failure of the PDF library is a verdict, never a crash of the program. The
// processes are started when first needed, kept for the next files and ended with this object, each fed
// by a thread of its own: files that come while others are being checked go to the process together, so
// that it wakes once for them, not once each. Every function may be called from any thread at once; check
// blocks its caller, so it is for workers, never for the event loop's thread (nor for a done function of
// checkLater, which runs on a feeding thread).
class PdfChecker
{
public:
    struct Limits
    {
        int timeMs =
            30000; // of the checking process's CPU time per file; waited for three times that at most
        int memoryMiB = 512;
        int processes = 2; // files checked at once
    };

    explicit PdfChecker(QString program);
    PdfChecker(QString program, Limits limits);
    ~PdfChecker();
    PdfChecker(const PdfChecker &) = delete;
    PdfChecker &operator=(const PdfChecker &) = delete;

    // Checks the file open on fd from its start (the descriptor's offset is left alone).
    PdfVerdict check(int fd);
    // Opens the file (not through a link) and checks it.
    PdfVerdict checkFile(const QString &path);
    // Checks the file open on fd, which the check takes over (and closes), without waiting: done is called
    // with the verdict on a feeding thread. Whatever is asked for before this object ends is checked.
    void checkLater(int fd, std::function<void(const PdfVerdict &verdict)> done);
    QString program() const { return m_program; }
    Limits limits() const { return m_limits; }
    // Files checked so far, and the time their checks took added up (two at once count twice).
    struct Tally
    {
        qint64 files = 0;
        qint64 nanoseconds = 0;
    };
    Tally tally() const { return {m_files.load(), m_nanoseconds.load()}; }

    // The checker installed with this program: beside it in a build, in its libexec folder once installed.
    static QString besideThisProgram();

private:
    struct Process
    {
        pid_t pid = -1;
        int socket = -1;
        clockid_t clock = -1; // its CPU time
    };
    struct Job
    {
        int fd = -1;
        std::function<void(const PdfVerdict &verdict)> done;
        int failures = 0; // of checkers that ended or broke off while it was theirs
    };
    // A file with its process: its request's number and where the process stood when it came to the file
    // (the answer before it, or its sending).
    struct Sent
    {
        Job job;
        uint64_t request = 0;
        qint64 cpuAtStart = -1;
        std::chrono::steady_clock::time_point startedAt{};
    };
    class Feeder;

    void end(Process &process, bool kill);
    bool start(Process &process, QString *error);
    // Whether an answer came (or the process ended) before the front file's time ran out.
    bool awaitAnswer(const Process &process, const Sent &front) const;
    // The jobs a feeding thread takes next, at most room (none once the checker ends and nothing is left);
    // it waits for one while it has none sent.
    std::vector<Job> takeJobs(size_t room, bool waitForOne);
    uint64_t nextRequest();
    // Jobs given back by a process that can no longer check them, to be checked first.
    void giveBack(std::deque<Sent> &sent);
    void finish(Sent &sent, const PdfVerdict &verdict);
    // With the mutex held.
    void addFeederWhileAllBusy();
    void feed();

    const QString m_program;
    const Limits m_limits;
    std::mutex m_mutex;
    std::condition_variable m_work;
    std::deque<Job> m_jobs;
    std::vector<std::thread> m_feeders;
    int m_waitingFeeders = 0;
    bool m_ending = false;
    uint64_t m_request = 0;
    std::atomic<qint64> m_files{0};
    std::atomic<qint64> m_nanoseconds{0};
};
