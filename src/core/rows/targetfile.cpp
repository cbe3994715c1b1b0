#include "core/rows/targetfile.h"

#include "core/common/filenames.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/ownedfile.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <sys/stat.h>

namespace {

SeenEntry lookWith(const EntryLook &look, const QString &path)
{
    return look ? look(path) : LookOnDisk(path);
}

} // namespace

SeenEntry LookOnDisk(const QString &path)
{
    countDiskLook();
    struct stat st
    {
    };
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    if (!S_ISREG(st.st_mode))
        return {PathEntry::Other};
    return {PathEntry::File, static_cast<qint64>(st.st_size), IdentityOfStatus(st)};
}

QString rowFilePath(const QString &folder, const QString &name, const QString &type)
{
    return type.isEmpty() ? folder + name : folder + name + u'.' + type;
}

QString rowFilePath(const DownloadRow &row)
{
    return rowFilePath(withTrailingSlash(row.folder), row.name, row.type);
}

QString withTrailingSlash(const QString &folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

bool IsSafeFileType(const QString &type)
{
    if (type.isEmpty() || type.size() > 10)
        return false;
    return std::all_of(type.cbegin(), type.cend(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    });
}

NeedAnswer 确定是需要下载(DuplicatePolicy policy, const QString &folder, const QString &name,
                          const QString &type, const ReservedPaths &reserved, const ClaimTest &claimed,
                          const EntryLook &look)
{
    const QString path = rowFilePath(folder, name, type);
    if (policy == DuplicatePolicy::Rename)
        return {};
    if (reserved.contains(path))
        return {Need::Wait};
    if (policy != DuplicatePolicy::Skip)
        return {};
    const SeenEntry seen = lookWith(look, path);
    if (seen.entry == PathEntry::File && !(claimed && claimed(path, seen.identity)))
        return {Need::Skip, seen.size};
    return {};
}

bool MayReplace(const QString &path, const ReservedPaths &reserved, const ClaimTest &claimed,
                const EntryLook &look)
{
    if (reserved.contains(path))
        return false;
    const SeenEntry seen = lookWith(look, path);
    return seen.entry == PathEntry::None ||
           (seen.entry == PathEntry::File && !(claimed && claimed(path, seen.identity)));
}

namespace {

QString counterText(qint64 i)
{
    return u'[' + QStringLiteral("%1").arg(i, 3, 10, QChar(u'0')) + u']';
}

} // namespace

QString 重命名保存路径(DuplicatePolicy policy, const QString &folderIn, const QString &nameIn,
                       const QString &type, QString *newName, const ReservedPaths &reserved,
                       const ClaimTest &claimed, const EntryLook &look)
{
    const QString folder = withTrailingSlash(folderIn);
    auto taken = [&reserved, &look](const QString &path) {
        return reserved.contains(path) || lookWith(look, path).entry != PathEntry::None;
    };
    QString name = FitNameForDisk(nameIn, type, 0);
    QString path = rowFilePath(folder, name, type);
    QString chosen = name;
    const bool counted =
        policy == DuplicatePolicy::Overwrite ? !MayReplace(path, reserved, claimed, look) : taken(path);
    if (counted) {
        qint64 i = 0;
        const qsizetype open = name.lastIndexOf(u'[');
        const qsizetype close = name.lastIndexOf(u']');
        if (open >= 0 && close > open) {
            double number = 0;
            if (LooksNumeric(TrimSpaces(name.mid(open + 1, close - open - 1)), &number)) {
                i = static_cast<qint64>(std::clamp(std::trunc(number), 0.0, 999999999.0));
                name = name.left(open);
            }
        }
        name.replace(u'[', QStringLiteral("『")).replace(u']', QStringLiteral("』"));
        auto candidateName = [&](qint64 counter) {
            if (counter == 0)
                return FitNameForDisk(name, type, 0);
            const QString suffix = counterText(counter);
            return FitNameForDisk(name, type, static_cast<int>(suffix.toUtf8().size())) + suffix;
        };
        chosen = candidateName(i);
        path = rowFilePath(folder, chosen, type);
        while (taken(path)) {
            ++i;
            chosen = candidateName(i);
            path = rowFilePath(folder, chosen, type);
        }
    }
    if (newName)
        *newName = chosen;
    return path;
}
