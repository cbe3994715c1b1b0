#pragma once

#include "core/cache/anchoredpath.h"
#include "core/cache/cachelisting.h"

#include <QList>
#include <QStringList>
#include <atomic>

// What the deletions may touch: the current user's cache folder for rows of that listing, the users'
// cache folders of the last all-users listing for its rows, and the folders found below them.
struct DeleteScope
{
    AnchoredPath myCache;
    QList<AnchoredPath> userCacheRoots;
    QStringList CacheFolders;
};

// Applies the row rule to every row (selected is null) or to the selected rows only, in list order,
// then removes the cache folders that became empty. Cookie entries and the text files of the all-users
// listing are kept.
void deleteCacheRows(const QList<CacheRow> &rows, const QList<bool> *selected, const DeleteScope &scope,
                     const std::atomic_bool *cancel = nullptr);
