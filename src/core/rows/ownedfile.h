#pragma once

#include <QString>

struct stat;

// Which file a path names: the device and inode of a plain file, its size and when it was last written.
// Two looks at a path see the same file when these agree; a file put in its place meanwhile (which may get
// the same inode number again), or the same one changed, does not.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0; // since the epoch

    bool isValid() const { return inode != 0; }
    bool operator==(const FileIdentity &) const = default;
};

// The file a row wrote itself in this list. A row that failed, or ended on a file already there (skipped,
// or held from an earlier download), owns none; only an owned file is ever deleted or renamed for a row.
struct OwnedFile
{
    QString path; // as the row names it (its folder, name and type)
    FileIdentity identity;

    bool isNone() const { return path.isEmpty() || !identity.isValid(); }
    bool operator==(const OwnedFile &) const = default;
};

// What stands at a path, without following a link there.
enum class PathEntry {
    None,  // nothing
    File,  // a plain file
    Other, // a symbolic link (dangling or not), a folder, a device, a pipe, ...
};
PathEntry EntryAt(const QString &path);

// The identity of the plain file at path; invalid when nothing or anything else (a link) stands there.
FileIdentity IdentityOf(const QString &path);
FileIdentity IdentityOfStatus(const struct stat &status);

// The file at owned.path is still the very file the row wrote.
bool IsStillOwned(const OwnedFile &owned);

// Deletes the owned file, only while it is still that very file and never through a link. True when it
// was deleted.
bool RemoveOwnedFile(const OwnedFile &owned);

// Moves the owned file to newPath in the same folder, replacing nothing there; only while it is still that
// very file. The file as owned at its new place, or none when it did not move.
OwnedFile MoveOwnedFile(const OwnedFile &owned, const QString &newPath);
