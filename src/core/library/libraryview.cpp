#include "core/library/libraryview.h"

#include "core/common/safetext.h"
#include "core/library/libraryconnection.h"
#include "core/library/paperlibrary.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QVariant>

namespace {

// The shortest word the trigram index finds; shorter ones are looked for in the rows themselves.
constexpr int kShortestIndexedWord = 3;

const QString kRowColumns = QStringLiteral(
    "address, title, authors, year, source, doi, state, file_path, file_size, pages, downloaded_at");

QString sortColumnName(LibraryColumn column)
{
    static const char *const names[kLibraryColumnCount] = {"title", "authors",      "year",      "source",
                                                           "doi",   "state",        "file_path", "file_size",
                                                           "pages", "downloaded_at"};
    return QString::fromLatin1(names[static_cast<int>(column)]);
}

QDateTime timeFrom(const QVariant &value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

LibraryRow rowFrom(const QSqlQuery &q)
{
    LibraryRow row;
    row.address = q.value(0).toString();
    row.title = q.value(1).toString();
    row.authors = q.value(2).toString();
    row.year = q.value(3).toString();
    row.source = q.value(4).toString();
    row.doi = q.value(5).toString();
    row.state = static_cast<PaperState>(q.value(6).toInt());
    row.filePath = q.value(7).toString();
    row.size = q.value(8).isNull() ? -1 : q.value(8).toLongLong();
    row.pages = q.value(9).toInt();
    row.downloadedAt = timeFrom(q.value(10));
    return row;
}

// The WHERE clause of a query and the values it binds, in order; and the count of the papers it takes
// from the narrowest table that can tell.
struct Filter
{
    QString where;
    QVariantList values;
    QString countSql;
};

QString likePattern(const QString &word)
{
    QString escaped = word;
    escaped.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'%', QStringLiteral("\\%"))
        .replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

// Words of three characters or more go to the trigram index; shorter ones (and every word without the
// index) are looked for in each paper's words, one narrow row per paper.
Filter filterOf(QSqlDatabase &db, const QString &text)
{
    const QStringList words = text.simplified().split(u' ', Qt::SkipEmptyParts);
    const bool indexed = libraryrows::hasSearchIndex(db);
    QStringList phrases;
    QStringList likes;
    QVariantList likeValues;
    for (const QString &word : words) {
        if (indexed && word.size() >= kShortestIndexedWord) {
            phrases.append(u'"' + QString(word).replace(u'"', QStringLiteral("\"\"")) + u'"');
        } else {
            likes.append(QStringLiteral("words LIKE ? ESCAPE '\\'"));
            likeValues.append(likePattern(word));
        }
    }
    const QString match = QStringLiteral("library_search MATCH ?");
    const QString like = likes.join(QStringLiteral(" AND "));
    QStringList terms;
    Filter filter;
    if (!phrases.isEmpty()) {
        terms.append(QStringLiteral("id IN (SELECT rowid FROM library_search WHERE %1)").arg(match));
        filter.values.append(phrases.join(u' '));
    }
    if (!likes.isEmpty()) {
        terms.append(QStringLiteral("id IN (SELECT id FROM library_words WHERE %1)").arg(like));
        filter.values += likeValues;
    }
    if (!terms.isEmpty())
        filter.where = QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
    if (likes.isEmpty() && !phrases.isEmpty())
        filter.countSql = QStringLiteral("SELECT count(*) FROM library_search WHERE ") + match;
    else if (phrases.isEmpty() && !likes.isEmpty())
        filter.countSql = QStringLiteral("SELECT count(*) FROM library_words WHERE ") + like;
    else
        filter.countSql = QStringLiteral("SELECT count(*) FROM library_rows") + filter.where;
    return filter;
}

bool execWith(QSqlQuery &q, const QString &sql, const QVariantList &values)
{
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        return false;
    for (const QVariant &v : values)
        q.addBindValue(v);
    return q.exec();
}

QString orderOf(const LibraryQuery &query)
{
    const QString direction = query.descending ? QStringLiteral(" DESC") : QStringLiteral(" ASC");
    return QStringLiteral(" ORDER BY ") + sortColumnName(query.sortColumn) + direction +
           QStringLiteral(", id") + direction;
}

// The rows of a select over library_rows.
std::optional<QSqlQuery> readRows(QSqlQuery &q, QList<LibraryRow> *out)
{
    while (q.next())
        out->append(rowFrom(q));
    if (q.lastError().isValid())
        return q;
    return std::nullopt;
}

std::optional<QSqlQuery> readDetails(QSqlDatabase &db, const QString &address,
                                     std::optional<PaperDetails> *out)
{
    QSqlQuery q(db);
    if (!execWith(q,
                  QStringLiteral(
                      "SELECT %1, pages, pdf, checked_at, (SELECT state FROM library_rows r WHERE r.address ="
                      " papers.address) FROM papers WHERE address = ?")
                      .arg(LibraryConnection::recordColumns()),
                  {address}))
        return q;
    if (!q.next())
        return std::nullopt;
    const int extra = LibraryConnection::recordColumns().count(u',') + 1;
    PaperDetails details;
    details.record = LibraryConnection::recordFrom(q);
    details.pages = q.value(extra).toInt();
    details.pdf = q.value(extra + 1).toString();
    details.checkedAt = timeFrom(q.value(extra + 2));
    details.state = static_cast<PaperState>(q.value(extra + 3).toInt());
    if (!execWith(
            q,
            QStringLiteral("SELECT page, seen_at FROM paper_pages WHERE address = ? ORDER BY seen_at DESC"),
            {address}))
        return q;
    while (q.next())
        details.seenOn.append(PaperPage{q.value(0).toString(), timeFrom(q.value(1))});
    if (!execWith(
            q,
            QStringLiteral("SELECT outcome, reason, at, file_path FROM download_history WHERE address = ?"
                           " ORDER BY at, id"),
            {address}))
        return q;
    while (q.next())
        details.history.append(DownloadEnd{static_cast<DownloadOutcome>(q.value(0).toInt()),
                                           q.value(1).toString(), timeFrom(q.value(2)),
                                           q.value(3).toString()});
    *out = std::move(details);
    return std::nullopt;
}

// The groups of one kind: keys select finds, the papers of each key papersOf finds.
std::optional<QSqlQuery> readGroups(QSqlDatabase &db, DuplicateGroup::Kind kind, const QString &keys,
                                    const QString &papersOf, QList<DuplicateGroup> *out)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(keys))
        return q;
    QStringList found;
    while (q.next())
        found.append(q.value(0).toString());
    for (const QString &key : found) {
        DuplicateGroup group{kind, key, {}};
        if (!execWith(q, papersOf, {key}))
            return q;
        if (std::optional<QSqlQuery> failed = readRows(q, &group.papers))
            return failed;
        out->append(group);
    }
    return std::nullopt;
}

} // namespace

std::optional<qint64> libraryview::count(PaperLibrary &library, const LibraryQuery &query)
{
    std::optional<qint64> counted;
    LibraryConnection::read(library, [&](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        const Filter filter = filterOf(db, query.filter);
        QSqlQuery q(db);
        if (!execWith(q, filter.countSql, filter.values) || !q.next())
            return q;
        counted = q.value(0).toLongLong();
        return std::nullopt;
    });
    return counted;
}

std::optional<QList<LibraryRow>> libraryview::rows(PaperLibrary &library, const LibraryQuery &query,
                                                   qint64 offset, int limit)
{
    QList<LibraryRow> out;
    const bool ok = LibraryConnection::read(library, [&](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        Filter filter = filterOf(db, query.filter);
        filter.values << limit << offset;
        QSqlQuery q(db);
        const QString sql = QStringLiteral("SELECT %1 FROM library_rows").arg(kRowColumns) + filter.where +
                            orderOf(query) + QStringLiteral(" LIMIT ? OFFSET ?");
        if (!execWith(q, sql, filter.values))
            return q;
        return readRows(q, &out);
    });
    return ok ? std::optional(out) : std::nullopt;
}

std::optional<QStringList> libraryview::addresses(PaperLibrary &library, const LibraryQuery &query)
{
    QStringList out;
    const bool ok = LibraryConnection::read(library, [&](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        const Filter filter = filterOf(db, query.filter);
        QSqlQuery q(db);
        if (!execWith(q, QStringLiteral("SELECT address FROM library_rows") + filter.where + orderOf(query),
                      filter.values))
            return q;
        while (q.next())
            out.append(q.value(0).toString());
        if (q.lastError().isValid())
            return q;
        return std::nullopt;
    });
    return ok ? std::optional(out) : std::nullopt;
}

std::optional<PaperDetails> libraryview::details(PaperLibrary &library, const QString &address)
{
    std::optional<PaperDetails> out;
    LibraryConnection::read(
        library, [&](QSqlDatabase &db) { return readDetails(db, WithoutCredentials(address), &out); });
    return out;
}

std::optional<QList<DuplicateGroup>> libraryview::duplicates(PaperLibrary &library)
{
    QList<DuplicateGroup> out;
    const QString rowsOf = QStringLiteral("SELECT %1 FROM library_rows WHERE ").arg(kRowColumns);
    const bool ok = LibraryConnection::read(library, [&](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        if (std::optional<QSqlQuery> failed = readGroups(
                db, DuplicateGroup::Kind::SameDoi,
                QStringLiteral("SELECT doi FROM library_rows WHERE doi <> '' AND file_path IS NOT NULL"
                               " GROUP BY doi HAVING count(DISTINCT file_path) > 1 ORDER BY doi"),
                rowsOf + QStringLiteral("doi = ? AND file_path IS NOT NULL ORDER BY downloaded_at, id"),
                &out))
            return failed;
        return readGroups(
            db, DuplicateGroup::Kind::SameContent,
            QStringLiteral("SELECT sha256 FROM papers WHERE file_path IS NOT NULL AND sha256 <> ''"
                           " GROUP BY sha256 HAVING count(DISTINCT file_path) > 1 ORDER BY sha256"),
            rowsOf + QStringLiteral("address IN (SELECT address FROM papers WHERE sha256 = ? AND"
                                    " file_path IS NOT NULL) ORDER BY downloaded_at, id"),
            &out);
    });
    return ok ? std::optional(out) : std::nullopt;
}

std::optional<qint64> libraryview::dataVersion(PaperLibrary &library)
{
    std::optional<qint64> version;
    LibraryConnection::read(library, [&](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA data_version")) || !q.next())
            return q;
        version = q.value(0).toLongLong();
        return std::nullopt;
    });
    return version;
}
