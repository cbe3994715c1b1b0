#include "core/pdf/pdffolder.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opened without following a link and without waiting: what stands at the name may have become a pipe
// since the folder was listed.
bool startsAsPdf(const QString &path)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info = {};
    char head[4] = {};
    const bool pdf = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                     ::pread(fd, head, sizeof head, 0) == sizeof head && std::equal(head, head + 4, "%PDF");
    ::close(fd);
    return pdf;
}

} // namespace

bool IsPdfFile(const QString &path)
{
    const QFileInfo file(path);
    if (file.isSymLink() || !file.isFile())
        return false;
    return path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive) || startsAsPdf(path);
}

QStringList PdfFilesIn(const QString &folder, FolderDepth depth, const QString &skippedPrefix)
{
    QStringList paths;
    const auto flags =
        depth == FolderDepth::WithSubfolders ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks, flags);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!skippedPrefix.isEmpty() && it.fileName().startsWith(skippedPrefix))
            continue;
        if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive) || startsAsPdf(path))
            paths.append(path);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}
