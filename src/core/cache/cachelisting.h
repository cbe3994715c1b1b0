#pragma once

#include "core/cache/anchoredpath.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <atomic>

class CacheStore;

// One row of the viewer's file list.
struct CacheRow
{
    QString text; // the address, or "用户:" + user name
    QString type;
    qint64 size = -1; // length of the local file, -1 without one
    QString path;     // the local file, empty without one

    // The length as the list shows it: decimal, empty without a file.
    QString sizeText() const { return size < 0 ? QString() : QString::number(size); }

    bool operator==(const CacheRow &other) const = default;
};

inline const QString kMyCacheTag = QStringLiteral("我的缓存");
inline const QString kAllCachesTag = QStringLiteral("所有缓存");
inline const QString kUserRowPrefix = QStringLiteral("用户:");

QString fileCountText(qsizetype count);  // "共有N 个文件"
QString errorCountText(qsizetype count); // "出错!!!共有N 个文件"

// Where users' home folders are: every folder inside each of parents, and each of homes itself.
struct HomeRoots
{
    QStringList parents;
    QStringList homes;
    static HomeRoots system(); // /home/* and /root
};

// What a listing puts into the window.
struct CacheListing
{
    QList<CacheRow> rows;
    QString counter;
    QString tag;
    // Filled by the all-users listing only.
    QList<QPair<QString, QString>> userRows; // user name, that user's cache folder
    QStringList folderRows;
    QStringList UserFolders;
    QStringList CacheFolders;
    QList<AnchoredPath> userCacheRoots;
};

// The current user's cache: rows with address and type, the counter, then sizes and paths.
CacheListing GetCacheURLList(const AnchoredPath &cacheFolder, const std::atomic_bool *cancel = nullptr);

// Fills size and path of every row whose address has a local file in the store.
void 判断文件在缓存中文件路径(QList<CacheRow> &rows, const CacheStore &store);

// Finds every home folder that holds the cache folder (relativePath below it); fills the user rows,
// the folder rows, UserFolders, CacheFolders and userCacheRoots of the listing.
void FindUserCacheFolders(const HomeRoots &homes, const QString &relativePath, CacheListing &listing,
                          const std::atomic_bool *cancel = nullptr);

// Adds a row for every file below the user's cache folder.
void ListUserCacheFiles(const AnchoredPath &cacheFolder, const QString &userName, QList<CacheRow> &rows,
                        const std::atomic_bool *cancel = nullptr);

// Every user's cache: FindUserCacheFolders, then the files of each user, counter and tag.
CacheListing listAllUsersCaches(const HomeRoots &homes, const QString &relativePath,
                                const std::atomic_bool *cancel = nullptr);

// Sorts the rows by one column in the list's text order (letter case ignored, equal rows keep their
// order); the size column compares the lengths, rows without a file first. Returns the old index of each
// row in its new place.
QList<qsizetype> sortCacheRows(QList<CacheRow> &rows, int column, bool descending);
constexpr int kSizeColumn = 2;
