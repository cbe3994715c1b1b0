#include "core/library/libraryrows.h"

#include "core/library/librarysql.h"
#include "core/library/sqlitestatement.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <array>
#include <variant>

namespace {

// How the reason of a download whose paper's page offered no full text begins.
const QString kNoFullTextReason = QStringLiteral("no full text offered");

// The columns the window sorts by, each with an index so that a page of rows in any order is read
// without sorting the table.
const QStringList kSortedColumns = {QStringLiteral("title"),     QStringLiteral("authors"),
                                    QStringLiteral("year"),      QStringLiteral("source"),
                                    QStringLiteral("doi"),       QStringLiteral("state"),
                                    QStringLiteral("file_path"), QStringLiteral("file_size"),
                                    QStringLiteral("pages"),     QStringLiteral("downloaded_at")};

// Trigrams find any part of a word of three characters or more, in any script, ignoring case.
const QStringList kSearchIndex = {
    QStringLiteral("CREATE VIRTUAL TABLE library_search USING fts5(title, authors, doi, source,"
                   " content='library_rows', content_rowid='id', tokenize='trigram')"),
    QStringLiteral("CREATE TRIGGER library_rows_added AFTER INSERT ON library_rows BEGIN"
                   " INSERT INTO library_search (rowid, title, authors, doi, source)"
                   " VALUES (new.id, new.title, new.authors, new.doi, new.source); END"),
    QStringLiteral("CREATE TRIGGER library_rows_removed AFTER DELETE ON library_rows BEGIN"
                   " INSERT INTO library_search (library_search, rowid, title, authors, doi, source)"
                   " VALUES ('delete', old.id, old.title, old.authors, old.doi, old.source); END"),
    QStringLiteral("CREATE TRIGGER library_rows_changed AFTER UPDATE OF title, authors, doi, source"
                   " ON library_rows BEGIN"
                   " INSERT INTO library_search (library_search, rowid, title, authors, doi, source)"
                   " VALUES ('delete', old.id, old.title, old.authors, old.doi, old.source);"
                   " INSERT INTO library_search (rowid, title, authors, doi, source)"
                   " VALUES (new.id, new.title, new.authors, new.doi, new.source); END"),
};

// A paper's row written for the first time.
const QString kInsertRow = QStringLiteral(
    "INSERT INTO library_rows (address, title, authors, year, source, doi, state, file_path, file_size,"
    " pages, downloaded_at, finding) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");

// The columns of a row besides its key, in the order the statements here take and give them.
const std::array<QLatin1StringView, 11> kRowColumns = {
    QLatin1StringView("title"),         QLatin1StringView("authors"),   QLatin1StringView("year"),
    QLatin1StringView("source"),        QLatin1StringView("doi"),       QLatin1StringView("state"),
    QLatin1StringView("file_path"),     QLatin1StringView("file_size"), QLatin1StringView("pages"),
    QLatin1StringView("downloaded_at"), QLatin1StringView("finding")};

// A paper's record and its row as it stands, in one read: the columns of the record the row is made
// of, then the row there is (all NULL when there is none) in the order of kRowColumns.
QString selectRows(const QString &where)
{
    return QStringLiteral("SELECT p.address, p.title, p.cells, p.file_path, p.file_size, p.downloaded_at,"
                          " p.outcome, p.reason, p.declared_title, p.declared_cells, p.pages, p.pdf,"
                          " r.id, r.title, r.authors, r.year, r.source, r.doi, r.state, r.file_path,"
                          " r.file_size, r.pages, r.downloaded_at, r.finding, r.file_path IS p.file_path"
                          " FROM papers p LEFT JOIN library_rows r ON r.address = p.address %1")
        .arg(where);
}

// Where selectRows puts the row there is, and whether its file is the record's.
enum RowColumn { HeldRow = 12, HeldValues = 13, HeldFinding = 23, HeldSameFile = 24 };

// A value as SQLite keeps it: NULL, a number or a text.
using RowValue = std::variant<std::monostate, qint64, QString>;

// What a paper's row shows, made from its record.
struct RowValues
{
    QString address;
    std::array<RowValue, 11> values; // in the order of kRowColumns
};

// Text columns are NOT NULL: a null QString would bind as NULL.
QString text(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

RowValues rowOf(const SqliteStatement &select, bool newFiles)
{
    RowValues row;
    row.address = select.text(0);
    const PaperMetadata metadata = librarysql::recordMetadata(row.address, select.text(1), select.text(2),
                                                              select.text(8), select.text(9));
    PaperRecord record;
    if (!select.isNull(3)) {
        const QDateTime downloadedAt =
            select.isNull(5) ? QDateTime() : QDateTime::fromMSecsSinceEpoch(select.integer(5), Qt::UTC);
        record.held = HeldFile{row.address, select.text(3), select.integer(4), QString(), downloadedAt};
    }
    record.lastOutcome = static_cast<DownloadOutcome>(select.integer(6));
    record.lastReason = select.text(7);
    const bool sameFile = select.integer(HeldSameFile) != 0;
    const auto finding =
        static_cast<FileFinding>(newFiles || !sameFile ? 0 : static_cast<int>(select.integer(HeldFinding)));
    const auto state = static_cast<qint64>(libraryrows::stateOf(record, select.text(11), finding));
    const bool held = !record.held.isEmpty();
    const bool dated = held && record.held.downloadedAt.isValid();
    row.values = {text(metadata.title),
                  text(metadata.authors()),
                  text(metadata.year()),
                  text(metadata.source()),
                  text(metadata.doi()),
                  state,
                  held ? RowValue(record.held.filePath) : RowValue(),
                  held ? RowValue(record.held.size) : RowValue(),
                  qint64(static_cast<int>(select.integer(10))),
                  dated ? RowValue(record.held.downloadedAt.toMSecsSinceEpoch()) : RowValue(),
                  qint64(static_cast<int>(finding))};
    return row;
}

// Whether the row there is holds this value in column `i` of kRowColumns.
bool sameValue(const SqliteStatement &select, int i, const RowValue &value)
{
    const int column = HeldValues + i;
    if (select.isNull(column))
        return std::holds_alternative<std::monostate>(value);
    if (const qint64 *number = std::get_if<qint64>(&value))
        return select.integer(column) == *number;
    const QString *words = std::get_if<QString>(&value);
    return words && select.text(column) == *words;
}

void bind(SqliteStatement &statement, const RowValue &value)
{
    if (const qint64 *number = std::get_if<qint64>(&value))
        statement.addInt(*number);
    else if (const QString *words = std::get_if<QString>(&value))
        statement.addText(*words);
    else
        statement.addNull();
}

// The columns of the row there is that differ from the values (their numbers in kRowColumns).
QList<int> changedColumns(const SqliteStatement &select, const RowValues &row)
{
    QList<int> changed;
    for (int i = 0; i < int(row.values.size()); ++i) {
        if (!sameValue(select, i, row.values.at(size_t(i))))
            changed.append(i);
    }
    return changed;
}

// Sets only what changed: the index of every other column is left as it is, and the triggers of the
// search index and the words' table (dearer than the rest of the row) run only when a searched word
// (title, authors, DOI, source) changed.
QString updateRow(const QList<int> &changed)
{
    QStringList set;
    for (int i : changed)
        set.append(kRowColumns.at(size_t(i)) + QStringLiteral(" = ?"));
    return QStringLiteral("UPDATE library_rows SET %1 WHERE id = ?").arg(set.join(QStringLiteral(", ")));
}

// Writes the row of the paper select stands on: anew, or the columns of it that changed.
std::optional<QSqlError> writeRow(SqliteStatements &statements, SqliteStatement &insert,
                                  const SqliteStatement &select, const RowValues &row)
{
    if (select.isNull(HeldRow)) {
        insert.addText(row.address);
        for (const RowValue &value : row.values)
            bind(insert, value);
        return insert.run();
    }
    const QList<int> changed = changedColumns(select, row);
    if (changed.isEmpty())
        return std::nullopt;
    SqliteStatement &update = statements.statement(updateRow(changed));
    for (int i : changed)
        bind(update, row.values.at(size_t(i)));
    update.addInt(select.integer(HeldRow));
    return update.run();
}

// Reads the papers that select finds and writes those of their rows that change.
std::optional<QSqlError> writeRows(SqliteStatements &statements, SqliteStatement &select, bool newFiles)
{
    SqliteStatement &insert = statements.statement(kInsertRow);
    while (select.next()) {
        if (std::optional<QSqlError> failed = writeRow(statements, insert, select, rowOf(select, newFiles)))
            return failed;
    }
    return select.failure();
}

} // namespace

// A paper's words, the columns apart: a word of the filter (which holds no line break) is never found
// across two of them.
#define WORDS_OF_NEW "new.title || char(10) || new.authors || char(10) || new.doi || char(10) || new.source"

QStringList libraryrows::schemaStep()
{
    QStringList statements = {
        QStringLiteral("CREATE TABLE library_rows (id INTEGER PRIMARY KEY, address TEXT UNIQUE NOT NULL,"
                       " title TEXT NOT NULL DEFAULT '', authors TEXT NOT NULL DEFAULT '',"
                       " year TEXT NOT NULL DEFAULT '', source TEXT NOT NULL DEFAULT '',"
                       " doi TEXT NOT NULL DEFAULT '', state INTEGER NOT NULL DEFAULT 3, file_path TEXT,"
                       " file_size INTEGER, pages INTEGER NOT NULL DEFAULT -1, downloaded_at INTEGER,"
                       " finding INTEGER NOT NULL DEFAULT 0)"),
        QStringLiteral("CREATE TABLE paper_pages (address TEXT NOT NULL, page TEXT NOT NULL, seen_at INTEGER,"
                       " PRIMARY KEY (address, page)) WITHOUT ROWID"),
        QStringLiteral(
            "CREATE TABLE download_history (id INTEGER PRIMARY KEY, address TEXT NOT NULL,"
            " outcome INTEGER NOT NULL, reason TEXT NOT NULL DEFAULT '', at INTEGER, file_path TEXT)"),
        QStringLiteral("CREATE INDEX download_history_address ON download_history (address, at)"),
        // Each paper's searched words in one narrow row: words too short for the index are looked for here.
        QStringLiteral("CREATE TABLE library_words (id INTEGER PRIMARY KEY, words TEXT NOT NULL)"),
        QStringLiteral("CREATE TRIGGER library_words_added AFTER INSERT ON library_rows BEGIN"
                       " INSERT INTO library_words (id, words) VALUES (new.id, " WORDS_OF_NEW "); END"),
        QStringLiteral("CREATE TRIGGER library_words_changed AFTER UPDATE OF title, authors, doi, source"
                       " ON library_rows BEGIN UPDATE library_words SET words = " WORDS_OF_NEW
                       " WHERE id = new.id; END"),
        QStringLiteral("CREATE TRIGGER library_words_removed AFTER DELETE ON library_rows BEGIN"
                       " DELETE FROM library_words WHERE id = old.id; END"),
        QStringLiteral("CREATE INDEX papers_sha256 ON papers (sha256) WHERE file_path IS NOT NULL"),
        // What was known before: the last page of each paper and its last ends.
        QStringLiteral("INSERT INTO paper_pages (address, page, seen_at) SELECT address, source_page, seen_at"
                       " FROM papers WHERE source_page <> ''"),
        QStringLiteral("INSERT INTO download_history (address, outcome, reason, at, file_path)"
                       " SELECT address, 1, '', downloaded_at, file_path FROM papers"
                       " WHERE file_path IS NOT NULL AND outcome <> 1"),
        QStringLiteral("INSERT INTO download_history (address, outcome, reason, at, file_path)"
                       " SELECT address, outcome, reason, attempted_at,"
                       " CASE WHEN outcome = 1 THEN file_path END FROM papers WHERE outcome <> 0"),
    };
    for (const QString &column : kSortedColumns)
        statements.append(QStringLiteral("CREATE INDEX library_rows_%1 ON library_rows (%1)").arg(column));
    return statements;
}

QStringList libraryrows::schemaObjects()
{
    QStringList names = {QStringLiteral("library_rows"),           QStringLiteral("paper_pages"),
                         QStringLiteral("download_history"),       QStringLiteral("download_history_address"),
                         QStringLiteral("papers_sha256"),          QStringLiteral("library_search"),
                         QStringLiteral("library_search_data"),    QStringLiteral("library_search_idx"),
                         QStringLiteral("library_search_docsize"), QStringLiteral("library_search_config"),
                         QStringLiteral("library_rows_added"),     QStringLiteral("library_rows_removed"),
                         QStringLiteral("library_rows_changed"),   QStringLiteral("library_words"),
                         QStringLiteral("library_words_added"),    QStringLiteral("library_words_changed"),
                         QStringLiteral("library_words_removed")};
    for (const QString &column : kSortedColumns)
        names.append(QStringLiteral("library_rows_") + column);
    return names;
}

std::optional<QSqlQuery> libraryrows::finishSchemaStep(QSqlDatabase &db)
{
    QSqlQuery q(db);
    // Without FTS5 the first statement fails and the filter reads the rows themselves.
    if (q.exec(kSearchIndex.first())) {
        for (const QString &statement : kSearchIndex.mid(1)) {
            if (!q.exec(statement))
                return q;
        }
    }
    SqliteStatements statements(db);
    SqliteStatement &select = statements.statement(selectRows(QString()));
    const std::optional<QSqlError> failed = writeRows(statements, select, false);
    select.finish();
    return failed ? std::optional(failedQuery(*failed)) : std::nullopt;
}

libraryrows::Writer::Writer(SqliteStatements &statements)
    : m_select(statements.statement(selectRows(QStringLiteral("WHERE p.address = ?")))),
      m_statements(statements),
      m_page(statements.statement(
          QStringLiteral("INSERT INTO paper_pages (address, page, seen_at) VALUES (?, ?, ?)"
                         " ON CONFLICT (address, page) DO UPDATE SET seen_at = excluded.seen_at"))),
      m_end(statements.statement(
          QStringLiteral("INSERT INTO download_history (address, outcome, reason, at, file_path)"
                         " VALUES (?, ?, ?, ?, ?)")))
{
}

std::optional<QSqlError> libraryrows::Writer::update(const QStringList &addresses, bool newFiles)
{
    for (const QString &address : addresses) {
        m_select.addText(address);
        std::optional<QSqlError> failed = writeRows(m_statements, m_select, newFiles);
        m_select.finish(); // no read left open on the connection between papers
        if (failed)
            return failed;
    }
    return std::nullopt;
}

std::optional<QSqlQuery> libraryrows::update(QSqlDatabase &db, const QStringList &addresses, bool newFiles)
{
    SqliteStatements statements(db);
    if (const std::optional<QSqlError> failed = Writer(statements).update(addresses, newFiles))
        return failedQuery(*failed);
    return std::nullopt;
}

std::optional<QSqlQuery> libraryrows::updateAt(QSqlDatabase &db, const QStringList &filePaths)
{
    QStringList addresses;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT address FROM papers WHERE file_path = ?"));
    for (const QString &path : filePaths) {
        q.addBindValue(path);
        if (!q.exec())
            return q;
        while (q.next())
            addresses.append(q.value(0).toString());
    }
    q.finish();
    return update(db, addresses, false);
}

std::optional<QSqlError> libraryrows::Writer::recordPage(const QString &address, const QString &page,
                                                         qint64 at)
{
    m_page.addText(address);
    m_page.addText(page);
    m_page.addInt(at);
    return m_page.run();
}

std::optional<QSqlError> libraryrows::Writer::recordEnd(const QString &address, const DownloadResult &result,
                                                        qint64 at)
{
    m_end.addText(address);
    m_end.addInt(static_cast<int>(result.outcome));
    m_end.addText(result.reason);
    m_end.addInt(at);
    if (result.filePath.isEmpty())
        m_end.addNull();
    else
        m_end.addText(result.filePath);
    return m_end.run();
}

bool libraryrows::hasSearchIndex(QSqlDatabase &db)
{
    QSqlQuery q(db);
    return q.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'library_search'")) && q.next();
}

PaperState libraryrows::stateOf(const PaperRecord &record, const QString &pdf, FileFinding finding)
{
    if (record.held.isEmpty()) {
        const bool noFullText =
            record.lastOutcome == DownloadOutcome::Failed && record.lastReason.startsWith(kNoFullTextReason);
        return noFullText ? PaperState::NoFullText : PaperState::NotDownloaded;
    }
    if (finding == FileFinding::Missing)
        return PaperState::Missing;
    if (finding == FileFinding::Changed || pdf == QStringLiteral("damaged"))
        return PaperState::Damaged;
    return PaperState::Held;
}
