#pragma once

#include <QString>

// Whether downloads can be written into a folder, asked before the folder is accepted, so that a
// read-only, immutable or full folder is refused at once instead of failing every row of the list.
enum class FolderAccess {
    Writable,
    Missing,     // not there, and could not be made
    NotAFolder,  // a file or something else sits at the path
    NotWritable, // no file can be created there (permissions, an immutable folder)
    ReadOnly,    // the folder is on a file system mounted read-only
    Full,        // a file can be created but no byte fits (no space, or the quota is used up)
};

// Creates a small probe file in the folder, writes a byte and removes it (no flush: it runs when a
// folder is confirmed, on a worker while the window waits for it; a full disk refuses the byte itself). Never
// follows a symbolic link at the probe's name (the probe is made with O_EXCL and O_NOFOLLOW).
FolderAccess ProbeFolderAccess(const QString &folder);

// Creates an absolute folder and its missing parents, each missing component cleaned as a file name (one
// that exists is taken as it is). A component left empty by cleaning stops the walk and sets *badName.
// Returns the folder that exists at the end of the walk (without a trailing "/", except the root "/"), or
// empty text when there is none (a relative path, a walk that ends on a file, or a folder that could not
// be created).
QString MakeFolderChain(const QString &path, bool *badName = nullptr);

// What confirming a typed folder found: the folder made for it (empty when there is none it may be,
// the root included), whether a component's name was refused on the way, and whether the folder takes
// files. With no folder, the typed text itself was probed when it is an absolute path other than the
// root, and probed tells so.
struct ChosenFolderCheck
{
    QString folder;
    bool badName = false;
    bool probed = false;
    FolderAccess access = FolderAccess::Writable;
};
// Makes and probes the folder typed into the save-location chooser. Works on the disk: run it on a worker.
ChosenFolderCheck CheckChosenFolder(const QString &typed);
