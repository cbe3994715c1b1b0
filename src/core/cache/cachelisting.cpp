#include "core/cache/cachelisting.h"

#include "core/cache/cachestore.h"
#include "core/cache/filetype.h"
#include "core/cache/folderwalk.h"

#include <algorithm>
#include <numeric>

QString fileCountText(qsizetype count)
{
    return QStringLiteral("共有") + QString::number(count) + QStringLiteral(" 个文件");
}

QString errorCountText(qsizetype count)
{
    return QStringLiteral("出错!!!共有") + QString::number(count) + QStringLiteral(" 个文件");
}

HomeRoots HomeRoots::system()
{
    return {{QStringLiteral("/home")}, {QStringLiteral("/root")}};
}

CacheListing GetCacheURLList(const AnchoredPath &cacheFolder, const std::atomic_bool *cancel)
{
    CacheListing listing;
    listing.tag = kMyCacheTag;
    CacheStore store(cacheFolder);
    const bool ok = store.load(cancel);
    for (const CacheStore::Entry &entry : store.entries())
        listing.rows.append({entry.address, 从文件名和网址提取文件类型(entry.address), -1, {}});
    if (!ok) {
        listing.counter = errorCountText(listing.rows.size());
        return listing;
    }
    listing.counter = fileCountText(listing.rows.size());
    判断文件在缓存中文件路径(listing.rows, store);
    return listing;
}

void 判断文件在缓存中文件路径(QList<CacheRow> &rows, const CacheStore &store)
{
    for (CacheRow &row : rows) {
        QString localFile;
        if (!store.GetCacheEntryInfo(row.text, &localFile) || localFile.isEmpty())
            continue;
        const qint64 length = store.fileLength(localFile.mid(localFile.lastIndexOf(u'/') + 1));
        if (length < 0)
            continue;
        row.path = localFile;
        row.size = length;
    }
}

namespace {

// Every home folder, with the way to reach it without links below its parent; their paths go to paths.
QList<AnchoredPath> homeFolders(const HomeRoots &homes, QStringList *paths, const std::atomic_bool *cancel)
{
    QList<AnchoredPath> userFolders;
    for (const QString &parent : homes.parents) {
        QStringList found;
        const AnchoredPath parentFolder{parent, {}};
        搜索纯目录(parentFolder, found, false, cancel);
        for (const QString &path : found)
            userFolders.append(parentFolder.child(path.mid(path.lastIndexOf(u'/') + 1)));
        *paths += found;
    }
    for (const QString &home : homes.homes) {
        const AnchoredPath folder = AnchoredPath::lastComponentGuarded(home);
        if (!folder.steps.isEmpty() && folderExistsWithoutLinks(folder)) {
            userFolders.append(folder);
            paths->append(folder.path());
        }
    }
    return userFolders;
}

} // namespace

void FindUserCacheFolders(const HomeRoots &homes, const QString &relativePath, CacheListing &listing,
                          const std::atomic_bool *cancel)
{
    listing.UserFolders.clear();
    listing.CacheFolders.clear();
    listing.userRows.clear();
    listing.folderRows.clear();
    listing.userCacheRoots.clear();

    const QList<AnchoredPath> userFolders = homeFolders(homes, &listing.UserFolders, cancel);

    const QStringList relativeSteps = relativePath.split(u'/', Qt::SkipEmptyParts);
    if (relativeSteps.isEmpty() || relativePath.startsWith(u'/'))
        return;
    for (const AnchoredPath &user : userFolders) {
        if (cancel && cancel->load())
            return;
        AnchoredPath cacheFolder = user;
        cacheFolder.steps += relativeSteps;
        if (!folderExistsWithoutLinks(cacheFolder))
            continue;
        listing.userRows.append({user.lastStep(), cacheFolder.path()});
        listing.userCacheRoots.append(cacheFolder);
        搜索纯目录(cacheFolder, listing.CacheFolders, true, cancel);
    }
    listing.folderRows = listing.CacheFolders;
}

void ListUserCacheFiles(const AnchoredPath &cacheFolder, const QString &userName, QList<CacheRow> &rows,
                        const std::atomic_bool *cancel)
{
    QStringList files;
    QList<qint64> sizes;
    搜索目录下所有类型文件(cacheFolder, files, true, &sizes, cancel);
    for (qsizetype i = 0; i < files.size(); ++i) {
        rows.append(
            {kUserRowPrefix + userName, 从文件名和网址提取文件类型(files.at(i)), sizes.at(i), files.at(i)});
    }
}

CacheListing listAllUsersCaches(const HomeRoots &homes, const QString &relativePath,
                                const std::atomic_bool *cancel)
{
    CacheListing listing;
    listing.tag = kAllCachesTag;
    FindUserCacheFolders(homes, relativePath, listing, cancel);
    for (qsizetype i = 0; i < listing.userRows.size(); ++i)
        ListUserCacheFiles(listing.userCacheRoots.at(i), listing.userRows.at(i).first, listing.rows, cancel);
    listing.counter = fileCountText(listing.rows.size());
    return listing;
}

namespace {

QString sortKey(const CacheRow &row, int column)
{
    switch (column) {
    case 0:
        return row.text;
    case 1:
        return row.type;
    default:
        return row.path;
    }
}

// Rows without a file come first, then the lengths from the smallest.
int compareRows(const CacheRow &a, const CacheRow &b, int column, const QString &keyA, const QString &keyB)
{
    if (column == kSizeColumn)
        return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
    return keyA.compare(keyB, Qt::CaseInsensitive);
}

} // namespace

QList<qsizetype> sortCacheRows(QList<CacheRow> &rows, int column, bool descending)
{
    QList<qsizetype> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    QStringList keys;
    keys.reserve(rows.size());
    for (const CacheRow &row : rows)
        keys.append(column == kSizeColumn ? QString() : sortKey(row, column));
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int c = compareRows(rows.at(a), rows.at(b), column, keys.at(a), keys.at(b));
        return descending ? c > 0 : c < 0;
    });
    QList<CacheRow> sorted;
    sorted.reserve(rows.size());
    for (qsizetype index : order)
        sorted.append(rows.at(index));
    rows = sorted;
    return order;
}
