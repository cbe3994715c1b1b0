#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QComboBox;

// The folder history of the save-location chooser, kept in SaveList.dat: one folder per line,
// GBK, every line ending in CR LF, oldest first.

// At most this many non-empty lines of the file are read.
constexpr int kFolderHistoryLines = 100;

// Folders offered from a history file's bytes: lines trimmed, empty lines skipped, only the first
// 100 non-empty lines read, and a line equal to an earlier one ignoring letter case dropped.
QStringList ParseFolderHistory(const QByteArray &bytes);
// The file's bytes for a list; an empty list is one empty line.
QByteArray FormatFolderHistory(const QStringList &folders);

// Fills the drop-down list from the file; a missing file leaves the list as it is.
void LoadFolderHistory(QComboBox *box, const QString &path);
// Writes the list's entries, in list order, over the file (and creates its folder).
void SaveFolderHistory(QComboBox *box, const QString &path);
// The same for a list of folders (on any thread).
void WriteFolderHistory(const QStringList &folders, const QString &path);

// Creates an absolute folder and its missing parents, each missing component cleaned as a file name (one
// that exists is taken as it is). A component left empty by cleaning stops the walk with
// "文件夹名称有误！不能创建文件夹！". Returns the folder that
// exists at the end of the walk (without a trailing "/", except the root "/"), or empty text when there is
// none (a relative path, a walk that ends on a file, or a folder that could not be created).
QString CreateFolderChain(const QString &path);

// Widens the opened list of the drop-down to its longest entry, no further than the screen's right edge.
void FitDropDownWidth(QComboBox *box);

// SaveList.dat in the per-user application data folder.
QString FolderHistoryPath();

// The save folder proposed when none has been stored: "Folionexus" in the user's documents folder.
QString DefaultSaveFolderSetting();
