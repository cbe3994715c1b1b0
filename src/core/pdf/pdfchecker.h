#pragma once

#include "core/pdf/pdfverdict.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <sys/types.h>
#include <time.h>
#include <vector>

// Checks the structure of PDF files in checking processes of their own (the program folionexus-pdfcheck),
// each with a memory limit, and gives up on a file that takes longer than the time limit: a hostile file
// costs at most that, and a failure of the PDF library is a verdict, never a crash of the program. The
// processes are started when first needed, kept for the next files and ended with this object. Every
// function may be called from any thread at once; check blocks its caller, so it is for workers, never
// for the event loop's thread.
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
    Process take();
    void giveBack(Process process);
    void end(Process &process, bool kill);
    bool start(Process &process, QString *error);
    PdfVerdict ask(Process &process, int fd, bool *keep);
    bool awaitAnswer(const Process &process, qint64 cpuBefore) const;
    PdfVerdict checkWithProcess(int fd);

    const QString m_program;
    const Limits m_limits;
    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::vector<Process> m_idle;
    int m_busy = 0;
    uint64_t m_request = 0;
    std::atomic<qint64> m_files{0};
    std::atomic<qint64> m_nanoseconds{0};
};
