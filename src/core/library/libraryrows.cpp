#include "core/library/libraryrows.h"

#include "core/library/librarysql.h"
#include "core/library/sqlitestatement.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QVariant>

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

// The row of a paper written anew. The searched words (title, authors, DOI, source) are set only when
// they differ from the row's: every update of them runs the search index's triggers, dearer than the rest.
QString upsertRow(bool words)
{
    return QStringLiteral(
               "INSERT INTO library_rows (address, title, authors, year, source, doi, state, file_path,"
               " file_size, pages, downloaded_at, finding) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
               " ON CONFLICT (address) DO UPDATE SET %1 year = excluded.year, state = excluded.state,"
               " file_path = excluded.file_path, file_size = excluded.file_size, pages = excluded.pages,"
               " downloaded_at = excluded.downloaded_at, finding = excluded.finding")
        .arg(words ? QStringLiteral("title = excluded.title, authors = excluded.authors,"
                                    " source = excluded.source, doi = excluded.doi,")
                   : QString());
}

// A paper's record and its row as it stands, in one read: the columns of the record the row is made
// of, then those of the row there is (all NULL when there is none).
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
enum RowColumn { HeldRow = 12, HeldWords = 13, HeldState = 18, HeldFinding = 23, HeldSameFile = 24 };

// What a paper's row shows, made from its record.
struct RowValues
{
    QString address;
    QStringList words; // title, authors, year, source, DOI, in the row's order
    int state = 0;
    QString filePath; // null when no file is held
    qint64 fileSize = 0;
    int pages = -1;
    std::optional<qint64> downloadedAt;
    int finding = 0;
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
    row.words = {text(metadata.title), text(metadata.authors()), text(metadata.year()),
                 text(metadata.source()), text(metadata.doi())};
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
    row.finding = static_cast<int>(finding);
    row.state = static_cast<int>(libraryrows::stateOf(record, select.text(11), finding));
    if (!record.held.isEmpty()) {
        row.filePath = record.held.filePath;
        row.fileSize = record.held.size;
        if (record.held.downloadedAt.isValid())
            row.downloadedAt = record.held.downloadedAt.toMSecsSinceEpoch();
    }
    row.pages = static_cast<int>(select.integer(10));
    return row;
}

// Whether the row there is holds these words, and all of these values.
bool sameWords(const SqliteStatement &select, const RowValues &row)
{
    // The row keeps its words in the order title, authors, year, source, DOI; the year is no searched word.
    for (int i : {0, 1, 3, 4}) {
        if (select.isNull(HeldWords + i) || select.text(HeldWords + i) != row.words.at(i))
            return false;
    }
    return true;
}

bool sameRow(const SqliteStatement &select, const RowValues &row)
{
    const auto sameNumber = [&select](int column, std::optional<qint64> value) {
        return select.isNull(column) ? !value : value && select.integer(column) == *value;
    };
    const auto sameText = [&select](int column, const QString &value) {
        return select.isNull(column) == value.isNull() && select.text(column) == value;
    };
    return sameWords(select, row) && sameText(HeldWords + 2, row.words.at(2)) &&
           sameNumber(HeldState, row.state) && sameText(HeldState + 1, row.filePath) &&
           sameNumber(HeldState + 2, row.filePath.isNull() ? std::nullopt : std::optional(row.fileSize)) &&
           sameNumber(HeldState + 3, row.pages) && sameNumber(HeldState + 4, row.downloadedAt) &&
           sameNumber(HeldFinding, row.finding);
}

std::optional<QSqlError> writeRow(SqliteStatement &upsert, const RowValues &row)
{
    upsert.addText(row.address);
    for (int i : {0, 1, 2, 3, 4})
        upsert.addText(row.words.at(i));
    upsert.addInt(row.state);
    upsert.addTextOrNull(row.filePath);
    if (row.filePath.isNull())
        upsert.addNull();
    else
        upsert.addInt(row.fileSize);
    upsert.addInt(row.pages);
    if (row.downloadedAt)
        upsert.addInt(*row.downloadedAt);
    else
        upsert.addNull();
    upsert.addInt(row.finding);
    return upsert.run();
}

// The two forms of upsertRow.
struct RowUpserts
{
    SqliteStatement &withWords;
    SqliteStatement &keepingWords;
};

// Reads the papers that select finds and writes those of their rows that change.
std::optional<QSqlError> writeRows(const RowUpserts &upserts, SqliteStatement &select, bool newFiles)
{
    while (select.next()) {
        const RowValues row = rowOf(select, newFiles);
        const bool held = !select.isNull(HeldRow);
        if (held && sameRow(select, row))
            continue;
        const bool words = !held || !sameWords(select, row);
        if (std::optional<QSqlError> failed = writeRow(words ? upserts.withWords : upserts.keepingWords, row))
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
    const std::optional<QSqlError> failed = writeRows(
        {statements.statement(upsertRow(true)), statements.statement(upsertRow(false))}, select, false);
    select.finish();
    return failed ? std::optional(failedQuery(*failed)) : std::nullopt;
}

libraryrows::Writer::Writer(SqliteStatements &statements)
    : m_select(statements.statement(selectRows(QStringLiteral("WHERE p.address = ?")))),
      m_upsert(statements.statement(upsertRow(true))),
      m_upsertKeepingWords(statements.statement(upsertRow(false))),
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
        std::optional<QSqlError> failed = writeRows({m_upsert, m_upsertKeepingWords}, m_select, newFiles);
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
