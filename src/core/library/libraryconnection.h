#pragma once

#include "core/library/librarytypes.h"

#include <QSqlQuery>
#include <QString>
#include <functional>
#include <optional>

class PaperLibrary;
class QSqlDatabase;
class QThread;

// The statements of one read or write on the library's own connection; a failed statement is handed
// back so that the library can say why, in its own words.
using LibraryStatements = std::function<std::optional<QSqlQuery>(QSqlDatabase &db)>;

// What the library's views and upkeep do on a PaperLibrary's connection, on the thread that owns it:
// reads as they are, writes in the library's write transaction (waiting for another program, reopening a
// file made writable), failures in the library's lastError().
class LibraryConnection
{
public:
    // False (with the library's lastError) when it is not open or a statement failed.
    static bool read(PaperLibrary &library, const LibraryStatements &statements);
    static bool write(PaperLibrary &library, const LibraryStatements &statements);
    // Hands the library's open connection to another thread, which uses the library from then on (called
    // on the thread that opened it, before the other thread touches it). False when it is not open.
    static bool moveToThread(PaperLibrary &library, QThread *thread);

    // The columns recordFrom reads, first in a select, and the record made of them.
    static QString recordColumns();
    static PaperRecord recordFrom(const QSqlQuery &query);
};
