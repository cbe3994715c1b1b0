#include "core/library/libraryrows.h"

#include "core/library/libraryconnection.h"

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

// Text columns are NOT NULL: a null QString would bind as NULL.
QString text(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

QVariant nullable(const QVariant &value, bool isNull)
{
    return isNull ? QVariant(value.metaType()) : value;
}

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

// The two forms of upsertRow, prepared.
struct RowUpserts
{
    QSqlQuery &withWords;
    QSqlQuery &keepingWords;
};

// The searched words, in the order selectRows gives its row's.
const QStringList kWordColumns = {QStringLiteral("title"), QStringLiteral("authors"), QStringLiteral("doi"),
                                  QStringLiteral("source")};

// Whether the paper's row there is (its words from column `first` of select on) holds the words of r.
bool sameWords(const QSqlQuery &select, int first, const PaperMetadata &metadata)
{
    const QStringList words = {metadata.title, metadata.authors(), metadata.doi(), metadata.source()};
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QVariant held = select.value(first + static_cast<int>(i));
        if (held.isNull() || held.toString() != text(words.at(i)))
            return false;
    }
    return true;
}

// Reads the papers that select finds (the record's columns, then pages, pdf, the finding of the same file
// and the searched words of the row there is) and writes their rows.
std::optional<QSqlQuery> writeRows(const RowUpserts &upserts, QSqlQuery &select, bool newFiles)
{
    const int extra = LibraryConnection::recordColumns().count(u',') + 1;
    while (select.next()) {
        const PaperRecord r = LibraryConnection::recordFrom(select);
        const FileFinding finding =
            newFiles ? FileFinding::None : static_cast<FileFinding>(select.value(extra + 2).toInt());
        const bool held = !r.held.isEmpty();
        QSqlQuery &upsert =
            sameWords(select, extra + 3, r.metadata) ? upserts.keepingWords : upserts.withWords;
        upsert.addBindValue(text(r.address));
        upsert.addBindValue(text(r.metadata.title));
        upsert.addBindValue(text(r.metadata.authors()));
        upsert.addBindValue(text(r.metadata.year()));
        upsert.addBindValue(text(r.metadata.source()));
        upsert.addBindValue(text(r.metadata.doi()));
        upsert.addBindValue(
            static_cast<int>(libraryrows::stateOf(r, select.value(extra + 1).toString(), finding)));
        upsert.addBindValue(nullable(r.held.filePath, !held));
        upsert.addBindValue(nullable(QVariant(r.held.size), !held));
        upsert.addBindValue(select.value(extra).toInt());
        upsert.addBindValue(held && r.held.downloadedAt.isValid()
                                ? QVariant(r.held.downloadedAt.toMSecsSinceEpoch())
                                : QVariant(QMetaType(QMetaType::LongLong)));
        upsert.addBindValue(static_cast<int>(finding));
        if (!upsert.exec())
            return upsert;
    }
    if (select.lastError().isValid())
        return select;
    return std::nullopt;
}

QString selectRows(const QString &where)
{
    QStringList rowWords;
    for (const QString &column : kWordColumns)
        rowWords.append(
            QStringLiteral("(SELECT %1 FROM library_rows r WHERE r.address = papers.address)").arg(column));
    return QStringLiteral("SELECT %1, pages, pdf, (SELECT finding FROM library_rows r WHERE r.address ="
                          " papers.address AND r.file_path IS papers.file_path), %2 FROM papers %3")
        .arg(LibraryConnection::recordColumns(), rowWords.join(u','), where);
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
    QSqlQuery select(db);
    select.setForwardOnly(true);
    if (!select.exec(selectRows(QString())))
        return select;
    QSqlQuery withWords(db);
    QSqlQuery keepingWords(db);
    withWords.prepare(upsertRow(true));
    keepingWords.prepare(upsertRow(false));
    return writeRows({withWords, keepingWords}, select, false);
}

libraryrows::Writer::Writer(QSqlDatabase &db) : m_db(db) {}

libraryrows::Writer::~Writer() = default;

QSqlQuery &libraryrows::Writer::prepared(std::optional<QSqlQuery> &query,
                                         const std::function<QString()> &statement)
{
    // Preparing compiles the statement with the triggers and indices it touches: far dearer than running
    // it, so each is prepared once for all the papers of a transaction.
    if (!query) {
        query.emplace(m_db);
        query->setForwardOnly(true);
        query->prepare(statement());
    }
    return *query;
}

std::optional<QSqlQuery> libraryrows::Writer::update(const QStringList &addresses, bool newFiles)
{
    QSqlQuery &select = prepared(m_select, [] { return selectRows(QStringLiteral("WHERE address = ?")); });
    const RowUpserts upsert = {prepared(m_upsert, [] { return upsertRow(true); }),
                               prepared(m_upsertKeepingWords, [] { return upsertRow(false); })};
    for (const QString &address : addresses) {
        select.addBindValue(address);
        if (!select.exec())
            return select;
        std::optional<QSqlQuery> failed = writeRows(upsert, select, newFiles);
        select.finish(); // no read left open on the connection between papers
        if (failed)
            return failed;
    }
    return std::nullopt;
}

std::optional<QSqlQuery> libraryrows::update(QSqlDatabase &db, const QStringList &addresses, bool newFiles)
{
    return Writer(db).update(addresses, newFiles);
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
    return update(db, addresses, false);
}

std::optional<QSqlQuery> libraryrows::Writer::recordPage(const QString &address, const QString &page,
                                                         qint64 at)
{
    QSqlQuery &q = prepared(m_page, [] {
        return QStringLiteral("INSERT INTO paper_pages (address, page, seen_at) VALUES (?, ?, ?)"
                              " ON CONFLICT (address, page) DO UPDATE SET seen_at = excluded.seen_at");
    });
    q.addBindValue(address);
    q.addBindValue(page);
    q.addBindValue(at);
    if (!q.exec())
        return q;
    return std::nullopt;
}

std::optional<QSqlQuery> libraryrows::Writer::recordEnd(const QString &address, const DownloadResult &result,
                                                        qint64 at)
{
    QSqlQuery &q = prepared(m_end, [] {
        return QStringLiteral("INSERT INTO download_history (address, outcome, reason, at, file_path)"
                              " VALUES (?, ?, ?, ?, ?)");
    });
    q.addBindValue(address);
    q.addBindValue(static_cast<int>(result.outcome));
    q.addBindValue(text(result.reason));
    q.addBindValue(at);
    q.addBindValue(result.filePath.isEmpty() ? QVariant(QMetaType(QMetaType::QString))
                                             : QVariant(result.filePath));
    if (!q.exec())
        return q;
    return std::nullopt;
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
