// The batch program, which folionexus becomes for a batch run. A batch run from a list of links or a
// manifest, and the demo site alone, run here in a small process that loads no window or browser
// library: such a run starts in a few milliseconds. Everything else (the windows, batch runs that load
// pages) is the windows program, which this process becomes.
#include "batch/batchmode.h"
#include "batch/librarycommand.h"
#include "batch/pdfcheckcommand.h"
#include "core/transfer/partfile.h"
#include "demo/demositecommand.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// How long the end of the program waits for temporary files still being written or removed.
constexpr int kDiskWorkAtEndMs = 10000;

bool isGiven(int argc, char **argv, const char *option)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
}

// Becomes the windows program with the same arguments: beside this program in a build, in its libexec
// folder once installed. Returns only when it cannot be started.
int becomeWindowsProgram(char **argv)
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path folder = error ? std::filesystem::path() : self.parent_path();
    int failure = ENOENT;
    for (const char *relative : {FOLIONEXUS_WINDOWS_PROGRAM, FOLIONEXUS_WINDOWS_INSTALLED}) {
        const std::string program = (folder / relative).lexically_normal().string();
        ::execv(program.c_str(), argv);
        if (errno != ENOENT || failure == ENOENT)
            failure = errno;
    }
    std::fprintf(stderr, "folionexus: the windows program (%s) could not be started: %s\n",
                 FOLIONEXUS_WINDOWS_PROGRAM, std::strerror(failure));
    return 127;
}

} // namespace

int main(int argc, char **argv)
{
    ::prctl(PR_SET_NAME, "folionexus", 0, 0, 0); // started by folionexus, it keeps the name it is known by
    if (isGiven(argc, argv, "--batch")) {
        // Qt's own event loop instead of GLib's: it wakes a thread only when it is not awake already,
        // where GLib's writes to the thread's wake-up descriptor for every event posted to it, several
        // for each paper. Nothing in this process needs GLib's loop.
        const bool setByUser = qEnvironmentVariableIsSet("QT_NO_GLIB");
        if (!setByUser)
            qputenv("QT_NO_GLIB", "1");
        // Without TZ the C library looks at /etc/localtime again for every local time it makes, and Qt's
        // network layer makes some for each answer; naming the same file once spares those looks. A time
        // zone changed during the run shows in the next run.
        const bool zoneNamed = qEnvironmentVariableIsSet("TZ") || ::access("/etc/localtime", R_OK) != 0;
        if (!zoneNamed)
            qputenv("TZ", ":/etc/localtime");
        const std::optional<int> status = runBatchCommand(argc, argv);
        if (!status) {
            if (!setByUser)
                qunsetenv("QT_NO_GLIB"); // the browser engine keeps the loop it is used to
            if (!zoneNamed)
                qunsetenv("TZ");
            return becomeWindowsProgram(argv); // the run loads pages
        }
        PartFile::waitForDiskWork(kDiskWorkAtEndMs);
        return *status;
    }
    if (isGiven(argc, argv, "--check-pdf")) {
        QCoreApplication app(argc, argv);
        return pdfcheckcommand::run(QCoreApplication::arguments());
    }
    if (isGiven(argc, argv, "--library"))
        return libraryCommandMain(argc, argv).value_or(1);
    if (isGiven(argc, argv, "--demo-site")) {
        QCoreApplication app(argc, argv);
        return runDemoSiteCommand(QCoreApplication::arguments());
    }
    return becomeWindowsProgram(argv);
}
