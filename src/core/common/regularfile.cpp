#include "core/common/regularfile.h"

#include "core/common/disklooks.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

RegularFileRead failed(RegularFileRead::Failure failure, int error = 0)
{
    RegularFileRead result;
    result.failure = failure;
    if (error != 0)
        result.systemError = QString::fromLocal8Bit(std::strerror(error));
    return result;
}

// Reads the open file to its end or to limit bytes, whichever comes first; the error of a read that
// failed, 0 when none did.
int readAtMost(int fd, qint64 limit, qint64 sizeHint, QByteArray *bytes)
{
    bytes->reserve(static_cast<qsizetype>(sizeHint) + 1);
    char buffer[64 * 1024];
    while (bytes->size() < limit) {
        const size_t want = static_cast<size_t>(std::min<qint64>(sizeof buffer, limit - bytes->size()));
        const ssize_t got = ::read(fd, buffer, want);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            break;
        bytes->append(buffer, got);
    }
    return 0;
}

} // namespace

RegularFileRead ReadRegularFile(const QString &path, qint64 maxBytes)
{
    countDiskLook();
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    // Looked at before it is opened: opening some devices already does something.
    if (::stat(name.constData(), &info) != 0)
        return failed(RegularFileRead::Failure::CannotOpen, errno);
    if (!S_ISREG(info.st_mode))
        return failed(RegularFileRead::Failure::NotRegular);
    // Not blocking, and looked at again once open: a pipe put in its place meanwhile opens at once and
    // is refused here.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return failed(RegularFileRead::Failure::CannotOpen, errno);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return failed(RegularFileRead::Failure::NotRegular);
    }
    if (info.st_size > maxBytes) {
        ::close(fd);
        return failed(RegularFileRead::Failure::TooLarge);
    }
    RegularFileRead result;
    // Read with a limit rather than trusting the size: the file may grow while it is read.
    const int error = readAtMost(fd, maxBytes + 1, info.st_size, &result.bytes);
    ::close(fd);
    if (error != 0)
        return failed(RegularFileRead::Failure::CannotOpen, error);
    if (result.bytes.size() > maxBytes)
        return failed(RegularFileRead::Failure::TooLarge);
    return result;
}
