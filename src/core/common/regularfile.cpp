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
    const qint64 limit = maxBytes + 1;
    result.bytes.reserve(static_cast<qsizetype>(info.st_size) + 1);
    char buffer[64 * 1024];
    while (result.bytes.size() < limit) {
        const size_t want = static_cast<size_t>(std::min<qint64>(sizeof buffer, limit - result.bytes.size()));
        const ssize_t got = ::read(fd, buffer, want);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return failed(RegularFileRead::Failure::CannotOpen, error);
        }
        if (got == 0)
            break;
        result.bytes.append(buffer, got);
    }
    ::close(fd);
    if (result.bytes.size() > maxBytes)
        return failed(RegularFileRead::Failure::TooLarge);
    return result;
}
