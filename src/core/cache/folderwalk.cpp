#include "core/cache/folderwalk.h"

#include <QFile>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class WalkKind { Folders, Files };

struct WalkOutput
{
    QStringList *list;
    QList<qint64> *sizes;
};

bool skippedName(const QByteArray &name, const QString &folderText)
{
    if (name == "." || name == "..")
        return true;
    if (qstricmp(name.constData(), "pagefile.sys") == 0)
        return true;
    return folderText == u"/" && qstricmp(name.constData(), "RECYCLER") == 0;
}

// Every name in the open folder, in name order.
QList<QByteArray> readNames(int folderFd)
{
    QList<QByteArray> names;
    const int readFd = ::dup(folderFd);
    if (readFd < 0)
        return names;
    DIR *dir = ::fdopendir(readFd);
    if (!dir) {
        ::close(readFd);
        return names;
    }
    ::rewinddir(dir);
    while (const dirent *entry = ::readdir(dir))
        names.append(QByteArray(entry->d_name));
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void walk(int folderFd, const QString &folderText, WalkKind kind, bool recursion, const WalkOutput &out,
          const std::atomic_bool *cancel)
{
    const QString prefix = folderText.endsWith(u'/') ? folderText : folderText + u'/';
    QList<QByteArray> subfolders;
    for (const QByteArray &name : readNames(folderFd)) {
        if (cancel && cancel->load())
            return;
        if (skippedName(name, folderText))
            continue;
        struct stat st;
        if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone since it was listed
        const QString path = prefix + QFile::decodeName(name);
        if (S_ISDIR(st.st_mode)) {
            subfolders.append(name);
            if (kind == WalkKind::Folders)
                out.list->append(path);
        } else if (S_ISREG(st.st_mode) && kind == WalkKind::Files) {
            out.list->append(path);
            if (out.sizes)
                out.sizes->append(st.st_size);
        }
    }
    if (!recursion)
        return;
    for (const QByteArray &name : subfolders) {
        if (cancel && cancel->load())
            return;
        const UniqueFd sub(
            ::openat(folderFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (sub.valid())
            walk(sub.get(), prefix + QFile::decodeName(name), kind, recursion, out, cancel);
    }
}

} // namespace

void 搜索纯目录(const AnchoredPath &folder, QStringList &list, bool recursion, const std::atomic_bool *cancel)
{
    const UniqueFd fd = openAnchoredFolder(folder);
    if (fd.valid())
        walk(fd.get(), folder.path(), WalkKind::Folders, recursion, {&list, nullptr}, cancel);
}

void 搜索目录下所有类型文件(const AnchoredPath &folder, QStringList &list, bool recursion,
                            QList<qint64> *sizes, const std::atomic_bool *cancel)
{
    const UniqueFd fd = openAnchoredFolder(folder);
    if (fd.valid())
        walk(fd.get(), folder.path(), WalkKind::Files, recursion, {&list, sizes}, cancel);
}

bool folderExistsWithoutLinks(const AnchoredPath &folder)
{
    return openAnchoredFolder(folder).valid();
}
