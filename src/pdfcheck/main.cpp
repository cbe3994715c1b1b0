// The program's PDF structure checker: a small process of its own, so that a hostile file can take no
// more than its memory limit and can be stopped when it takes too long, whatever the PDF library does
// with it. Started by the program with its socket as descriptor 3, it answers one datagram per file
// (the file's descriptor comes with the request), each as soon as it has the verdict: requests sent
// together are read one after the other without waiting, but an answer is never held back for the next
// file, which may take long. Given file names instead, it prints a verdict for each.
#include "core/pdf/pdfstructure.h"
#include "core/pdf/pdfwire.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr unsigned long kDefaultMemoryMiB = 512;

// Set when an allocation failed: the PDF library turns some failures into warnings about the object it
// was reading, which would make a file that is merely large look damaged.
std::atomic<bool> g_outOfMemory{false};

void onOutOfMemory()
{
    g_outOfMemory = true;
    throw std::bad_alloc();
}

PdfInspection inspectWithin(int fd)
{
    g_outOfMemory = false;
    PdfInspection inspection = InspectPdf(fd);
    if (g_outOfMemory) {
        inspection = PdfInspection();
        inspection.unchecked = pdfverdict::Unchecked::OutOfMemory;
        inspection.detail = "the check needed more memory than it may use";
    }
    return inspection;
}

void limitMemory(unsigned long mebibytes)
{
    const rlim_t bytes = rlim_t(mebibytes) * 1024 * 1024;
    const rlimit memory{bytes, bytes};
    ::setrlimit(RLIMIT_AS, &memory);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
}

// Receives one request: its number and the descriptor that came with it. False when the program has
// closed its end.
bool receive(uint64_t *request, int *fd)
{
    char control[CMSG_SPACE(sizeof(int))];
    iovec part{request, sizeof *request};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = ::recvmsg(pdfwire::SocketFd, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    if (got <= 0)
        return false;
    *fd = -1;
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
            std::memcpy(fd, CMSG_DATA(c), sizeof(int));
    }
    return got == sizeof *request;
}

// The checks wait for nobody: a checker that wakes with a file does not take the processor from a transfer
// that is running (SCHED_BATCH), but it keeps its fair share. A lower priority (nice) would starve the
// checks while other programs keep the machine busy: beside about ten compilers, a check that needed
// under a second of CPU time took twenty-four seconds at nice 10.
void giveWay()
{
    const sched_param none{};
    ::sched_setscheduler(0, SCHED_BATCH, &none);
}

int serve()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    giveWay();
    uint64_t request = 0;
    int fd = -1;
    while (receive(&request, &fd)) {
        PdfInspection inspection;
        if (fd < 0) {
            inspection.unchecked = pdfverdict::Unchecked::Unreadable;
            inspection.detail = "no file came with the request";
        } else {
            inspection = inspectWithin(fd);
            ::close(fd);
        }
        const std::string answer = pdfwire::encode(request, inspection);
        if (::send(pdfwire::SocketFd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0)
            return 1;
        // What the library holds after a failed allocation is not to be trusted: the next file gets a
        // fresh process.
        if (g_outOfMemory)
            return 0;
    }
    return 0;
}

const char *stateWord(pdfverdict::State state)
{
    static const char *const words[] = {"whole", "repaired", "encrypted", "damaged", "not checked"};
    return words[int(state)];
}

int checkNamed(int count, char **names)
{
    int damaged = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = ::open(names[i], O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::printf("%s: %s\n", names[i], std::strerror(errno));
            ++damaged;
            continue;
        }
        const PdfInspection inspection = inspectWithin(fd);
        ::close(fd);
        damaged += inspection.state == pdfverdict::State::Damaged;
        std::printf("%s: %s, %d pages (%s)\n", names[i], stateWord(inspection.state), inspection.pages,
                    inspection.detail.c_str());
    }
    return damaged ? 2 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    unsigned long memory = kDefaultMemoryMiB;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--memory-mib") == 0) {
        memory = std::strtoul(argv[2], nullptr, 10);
        first = 3;
    }
    limitMemory(memory);
    std::set_new_handler(onOutOfMemory);
    if (first < argc)
        return checkNamed(argc - first, argv + first);
    return serve();
}
