#pragma once

#include <QString>

// A result page saved from a browser, to check site rules against without the live site.
struct SavedPage
{
    static constexpr qint64 MaxBytes = 32 * 1024 * 1024;

    QString html;  // the page as text
    QString error; // why it could not be read; empty when it was

    bool ok() const { return error.isEmpty(); }
};

// Reads the file (a regular file only, at most MaxBytes) in the encoding its byte order mark or its
// head names (UTF-8 when it names none), the Chinese code pages included. Touches the disk: not for the
// event loop's thread.
SavedPage ReadSavedPage(const QString &path);

// Script that puts the saved page in the place of the document on show, which keeps its address. No
// script of the saved page runs: its elements are made by a parser that runs none.
QString replaceDocumentScript(const QString &html);
