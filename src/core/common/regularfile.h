#pragma once

#include <QByteArray>
#include <QString>

// Reading a file that the user named. Only a regular file is read: a pipe nobody writes to, a terminal
// or a device would block the reader for ever or never end, so they are refused before anything reads
// them (a symbolic link to a regular file is read).
struct RegularFileRead
{
    enum class Failure {
        None,
        CannotOpen, // missing, not allowed, ...: systemError says what the system answered
        NotRegular, // a folder, a pipe, a socket or a device
        TooLarge,   // longer than the limit
    };
    Failure failure = Failure::None;
    QString systemError;
    QByteArray bytes;

    bool ok() const { return failure == Failure::None; }
};

RegularFileRead ReadRegularFile(const QString &path, qint64 maxBytes);
