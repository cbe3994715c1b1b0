#pragma once

#include "core/cache/anchoredpath.h"

#include <QList>
#include <QStringList>

// Deletions inside the cache folders. Each takes the cache folders (roots) the path must lie below and
// reaches its target from them without following a link; a path outside every root is left alone.

// Makes the file writable and deletes it. A file that has other hard links keeps its mode (the change
// would reach a file outside the cache); only its name in the cache is removed. False on any failure.
bool 强制删除(const QList<AnchoredPath> &roots, const QString &path);

// Visits the folders from the last to the first and removes each that is empty (making it writable
// first). The roots themselves are never removed.
void 删除空文件夹(const QList<AnchoredPath> &roots, const QStringList &folders);

// Deletes the named plain files of an open folder the same way as 强制删除; missing ones are skipped.
void forceDeleteIn(int folderFd, const QStringList &names);
