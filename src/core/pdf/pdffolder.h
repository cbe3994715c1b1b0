#pragma once

#include <QString>
#include <QStringList>

// Which files of a folder a PDF check looks at.
enum class FolderDepth { ThisFolder, WithSubfolders };

// Whether the file at path is one a PDF check looks at: a plain file (not through a link) named .pdf or
// whose content starts as a PDF.
bool IsPdfFile(const QString &path);

// The files named .pdf and those that start as a PDF, in the folder (and below it, with subfolders), in
// the order of their paths. Links are neither checked nor followed, and only plain files are opened.
// Files whose names start with skippedPrefix (the temporary files of downloads under way or kept to be
// resumed: no finished files) are left out.
QStringList PdfFilesIn(const QString &folder, FolderDepth depth, const QString &skippedPrefix = {});
