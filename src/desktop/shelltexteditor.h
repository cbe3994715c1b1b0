#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Finding the desktop's default text editor the way the desktop itself does: the text/plain entry of
// the user's and the system's mimeapps.list, then that application's desktop file.

// Desktop ids listed for a MIME type under [Default Applications] of a mimeapps.list (or defaults.list).
QStringList DefaultDesktopIds(const QByteArray &mimeAppsList, const QString &mimeType);

// Program and arguments of a desktop file's Exec line with the file given as one argument; empty when the
// file has no usable Exec line or is meant to run in a terminal.
QStringList DesktopExecCommand(const QByteArray &desktopFile, const QString &filePath);

// Program and arguments that open the file in the default text editor; a well-known editor on PATH when
// no default is set; empty when none is found.
QStringList TextEditorCommand(const QString &filePath);
