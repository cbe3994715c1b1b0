#pragma once

#include "core/common/disklooks.h"

#include <QString>

// Rules that turn titles and addresses into file names, find free names and test the disk.
// Paths use "/" and folders end in "/"; rules that take addresses also split at "\".

// Characters a file name may not hold removed, edge dots removed, at most 250 code-page bytes, trimmed.
QString CleanFileName(const QString &text);

// CR, LF and NUL removed; nothing else changes.
QString StripLineBreaks(const QString &text);

// Last component of a path or address (split at "/" and "\"), trimmed; optionally without its extension.
QString FileNameFromPath(const QString &pathOrAddress, bool withoutExtension);

// Extension of the last path component (at most 6 characters after the last "."), base name through baseName.
QString SplitFileName(const QString &path, QString *baseName);

// The path itself when free, else the first free name with a four-digit counter: a[0001].pdf, a[0002].pdf,
// ... Every name it gives fits MaxFileNameBytes of UTF-8 (the base name is cut at a character boundary).
QString MakeUniquePath(const QString &path);

// Result of moving a file to another extension.
struct RenameResult
{
    QString path; // where the file is now (the old path when nothing moved)
    bool moved = false;
    bool ok = true; // false when the move was needed and failed
};
RenameResult RenameWithExtension(const QString &path, const QString &newExtension);

// A file (not a folder, not a dangling link) exists at the path.
bool FileExists(const QString &path);
bool FolderExists(const QString &path);

// scheme://host of an address (the whole address when there is no "/" after the host).
QString SiteRootOf(const QString &address);

// Trims only U+0020 at both ends, nothing else.
QString TrimSpaces(const QString &text);

// Linux allows 255 bytes of UTF-8 in a file name. Cuts name (at a character boundary) so that
// name + reserve + "." + extension fits; reserve is the room kept for a counter such as "[001]".
QString FitNameForDisk(const QString &name, const QString &extension, int reserveBytes = 5);
constexpr int MaxFileNameBytes = 255;

// Reads as a number the way a user would type one: optional sign and spaces, digits, one decimal point,
// an optional exponent. Used wherever a cell or a typed value is tested for being numeric.
bool LooksNumeric(const QString &text, double *value = nullptr);
