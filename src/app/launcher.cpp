// The program as it is started. It only chooses which of its two programs the run needs and becomes that
// one with the same arguments: the batch program for a batch run, a PDF check, the library's commands and
// the demo site alone (no window or browser library: such a run starts in a few milliseconds), the
// windows program for everything else. It loads nothing but the C library, so a start with windows does
// not first pay for the batch program's libraries.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

namespace {

bool isBatchCommand(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"--batch", "--check-pdf", "--library", "--demo-site"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

// The folder of this program, with its trailing slash; empty when it cannot be read.
void ownFolder(char (&folder)[PATH_MAX])
{
    const ssize_t length = ::readlink("/proc/self/exe", folder, sizeof folder - 1);
    folder[length > 0 ? length : 0] = '\0';
    char *const slash = std::strrchr(folder, '/');
    if (slash)
        slash[1] = '\0';
    else
        folder[0] = '\0';
}

// Beside this program in a build, in its libexec folder once installed. Returns only when neither can
// be started.
int become(const char *program, const char *installed, const char *role, char **argv)
{
    char folder[PATH_MAX];
    ownFolder(folder);
    int failure = ENOENT;
    for (const char *relative : {program, installed}) {
        char path[2 * PATH_MAX];
        std::snprintf(path, sizeof path, "%s%s", folder, relative);
        ::execv(path, argv);
        if (errno != ENOENT || failure == ENOENT)
            failure = errno;
    }
    std::fprintf(stderr, "folionexus: the %s program (%s) could not be started: %s\n", role, program,
                 std::strerror(failure));
    return 127;
}

} // namespace

int main(int argc, char **argv)
{
    if (isBatchCommand(argc, argv))
        return become(FOLIONEXUS_BATCH_PROGRAM, FOLIONEXUS_BATCH_INSTALLED, "batch", argv);
    return become(FOLIONEXUS_WINDOWS_PROGRAM, FOLIONEXUS_WINDOWS_INSTALLED, "windows", argv);
}
