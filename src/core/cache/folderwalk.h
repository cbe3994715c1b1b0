#pragma once

#include "core/cache/anchoredpath.h"

#include <QList>
#include <QStringList>
#include <atomic>

// The two walks over a folder. Names of one folder are all read (in name order) before any subfolder
// is entered, so only one directory listing is open at a time. ".", "..", "pagefile.sys" and, directly
// in "/", "RECYCLER" (letter case ignored) are skipped. Symbolic links and special files are never
// listed nor entered. A folder that cannot be opened ends that branch of the walk silently.

// Appends folder + "/" + name for every folder below the folder (only the first level without recursion),
// each folder before the folders inside it.
void 搜索纯目录(const AnchoredPath &folder, QStringList &list, bool recursion,
                const std::atomic_bool *cancel = nullptr);

// Appends the path of every plain file below the folder; *sizes (when given) gets each file's length.
void 搜索目录下所有类型文件(const AnchoredPath &folder, QStringList &list, bool recursion,
                            QList<qint64> *sizes = nullptr, const std::atomic_bool *cancel = nullptr);

// The folder exists and is reached without passing through a link.
bool folderExistsWithoutLinks(const AnchoredPath &folder);
