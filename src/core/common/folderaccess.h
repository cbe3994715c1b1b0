#pragma once

#include <QString>

// Whether downloads can be written into a folder, asked before the folder is accepted, so that a
// read-only, immutable or full folder is refused at once instead of failing every row of the list.
enum class FolderAccess {
    Writable,
    Missing,     // not there, and could not be made
    NotAFolder,  // a file or something else sits at the path
    NotWritable, // no file can be created there (permissions, read-only or immutable file system)
    Full,        // a file can be created but no byte fits (no space, or the quota is used up)
};

// Creates a small probe file in the folder, writes a byte and removes it (no flush: it runs when a
// folder is confirmed, on the window's thread; a full disk refuses the byte itself). Never follows a
// symbolic link at the probe's name (the probe is made with O_EXCL and O_NOFOLLOW).
FolderAccess ProbeFolderAccess(const QString &folder);
