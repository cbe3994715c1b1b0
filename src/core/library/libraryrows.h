#pragma once

#include "core/library/librarytypes.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <optional>

class QSqlDatabase;
class SqliteStatement;
class SqliteStatements;

// Where a paper stands with its file, as the library window shows it.
enum class PaperState {
    Held = 0,          // its file is there, whole as far as the last check saw
    Missing = 1,       // the last check found no file at the recorded path
    Damaged = 2,       // the PDF check called it damaged, or its content is no longer what was downloaded
    NotDownloaded = 3, // seen, never downloaded (or every download failed)
    NoFullText = 4,    // its own page offered no full text to fetch
};

// What the last check of a held file found besides the PDF verdict.
enum class FileFinding { None = 0, Missing = 1, Changed = 2 };

// The library's rows for its window: table library_rows, one row per paper with what the window shows and
// sorts by, made from the paper's record in the same transaction as every write of it. A full-text index
// of them (library_search, trigrams over title, authors, DOI and source) where SQLite has FTS5. Beside
// them the pages each paper was seen on (paper_pages) and every end of a download (download_history).
namespace libraryrows {

// The statements of the schema step that makes these tables, and what it does after them: the search
// index where it can be had and a row for every paper already known. Nullopt when all went well,
// else the statement that failed.
QStringList schemaStep();
std::optional<QSqlQuery> finishSchemaStep(QSqlDatabase &db);
// The names of the tables, indices and triggers these are made of (and of the search index's own tables).
QStringList schemaObjects();

// The rows of these papers made again from their records; a paper with a new file has its finding
// forgotten. Addresses as the papers table keeps them.
std::optional<QSqlQuery> update(QSqlDatabase &db, const QStringList &addresses, bool newFiles);
// The rows of the papers whose file is at one of these paths.
std::optional<QSqlQuery> updateAt(QSqlDatabase &db, const QStringList &filePaths);

// The same writes through statements compiled once on the connection and kept (in statements) for the
// papers and transactions that follow; a failure is SQLite's error.
class Writer
{
public:
    explicit Writer(SqliteStatements &statements);
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    std::optional<QSqlError> update(const QStringList &addresses, bool newFiles);
    std::optional<QSqlError> recordPage(const QString &address, const QString &page, qint64 at);
    std::optional<QSqlError> recordEnd(const QString &address, const DownloadResult &result, qint64 at);

private:
    SqliteStatement &m_select;
    SqliteStatements &m_statements;
    SqliteStatement &m_page;
    SqliteStatement &m_end;
};

// Whether the database has the full-text index (SQLite built without FTS5 has none).
bool hasSearchIndex(QSqlDatabase &db);
// The state of a paper from its record, its PDF verdict and the last finding of its file.
PaperState stateOf(const PaperRecord &record, const QString &pdf, FileFinding finding);

} // namespace libraryrows
