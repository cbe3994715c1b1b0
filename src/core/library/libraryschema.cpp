#include "core/library/libraryschema.h"

#include "core/library/libraryrows.h"
#include "core/library/librarysql.h"

#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>
#include <algorithm>

namespace libraryschema {

namespace {

using librarysql::readInt;

// Each step brings the schema from the version before it to its own number. Steps are never changed
// once released: a file made by any earlier version runs the steps after its own.
const QList<QStringList> kMigrations = {
    // 1: the papers
    {QStringLiteral("CREATE TABLE papers ("
                    " address TEXT PRIMARY KEY NOT NULL,"
                    " title TEXT NOT NULL DEFAULT '',"
                    " cells TEXT NOT NULL DEFAULT '[]',"
                    " source_page TEXT NOT NULL DEFAULT '',"
                    " seen_at INTEGER,"
                    " file_path TEXT,"
                    " file_size INTEGER,"
                    " sha256 TEXT,"
                    " downloaded_at INTEGER,"
                    " outcome INTEGER NOT NULL DEFAULT 0,"
                    " reason TEXT NOT NULL DEFAULT '',"
                    " attempted_at INTEGER)")},
    // 2: the download queue; downloaded papers found without a scan
    {QStringLiteral("CREATE TABLE queue ("
                    " position INTEGER PRIMARY KEY,"
                    " address TEXT NOT NULL,"
                    " name TEXT NOT NULL DEFAULT '',"
                    " type TEXT NOT NULL DEFAULT '',"
                    " folder TEXT NOT NULL DEFAULT '',"
                    " tag TEXT NOT NULL DEFAULT '',"
                    " state INTEGER NOT NULL DEFAULT 1,"
                    " total_bytes INTEGER NOT NULL DEFAULT -1,"
                    " received_bytes INTEGER NOT NULL DEFAULT 0,"
                    " note TEXT NOT NULL DEFAULT '')"),
     QStringLiteral("CREATE INDEX papers_downloaded ON papers (downloaded_at) WHERE file_path IS NOT NULL")},
    // 3: which file a queued row wrote itself, and the name and folder it was handed over with; papers
    // found by their file
    {QStringLiteral("ALTER TABLE queue ADD COLUMN given_name TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN given_folder TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN file_path TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN file_device INTEGER NOT NULL DEFAULT 0"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN file_inode INTEGER NOT NULL DEFAULT 0"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN file_size INTEGER NOT NULL DEFAULT -1"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN file_modified INTEGER NOT NULL DEFAULT 0"),
     QStringLiteral("CREATE INDEX papers_file ON papers (file_path) WHERE file_path IS NOT NULL")},
    // 4: what the paper's own web page declared (kept apart from the result page's cells, which stay
    // first), and the full-text address it named
    {QStringLiteral("ALTER TABLE papers ADD COLUMN declared_title TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE papers ADD COLUMN declared_cells TEXT NOT NULL DEFAULT '[]'"),
     QStringLiteral("ALTER TABLE papers ADD COLUMN file_address TEXT NOT NULL DEFAULT ''")},
    // 5: the page that named a paper's full text; a queued row's page, full text and what it declared
    {QStringLiteral("ALTER TABLE papers ADD COLUMN landing_page TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN landing_page TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN file_address TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN declared_title TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN declared_cells TEXT NOT NULL DEFAULT '[]'")},
    // 6: the structure check of a held PDF: its pages, its verdict ("whole", "repaired", "encrypted",
    // "damaged", "not checked"; empty for a file that is none or was not checked) and when it was checked
    {QStringLiteral("ALTER TABLE papers ADD COLUMN pages INTEGER NOT NULL DEFAULT -1"),
     QStringLiteral("ALTER TABLE papers ADD COLUMN pdf TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE papers ADD COLUMN checked_at INTEGER")},
    // 7: the library window's rows (sorted and searched), the pages each paper was seen on and every end
    // of its downloads; the search index and the rows of the papers already known follow the statements
    libraryrows::schemaStep(),
    // 8: a paper's DOI in the form papers are compared in, so that a paper listed again under another
    // address is known
    {QStringLiteral("ALTER TABLE papers ADD COLUMN doi_key TEXT NOT NULL DEFAULT ''"),
     QStringLiteral(
         "CREATE INDEX papers_doi ON papers (doi_key) WHERE doi_key <> '' AND file_path IS NOT NULL")},
    // 9: the identifier a queued row of a reference list goes under, and the way its address came by
    {QStringLiteral("ALTER TABLE queue ADD COLUMN identifier TEXT NOT NULL DEFAULT ''"),
     QStringLiteral("ALTER TABLE queue ADD COLUMN origin TEXT NOT NULL DEFAULT ''")},
};
// The step whose statements libraryrows::finishSchemaStep completes.
constexpr int kLibraryRowsStep = 7;

// The objects a library of ours made before it was marked may hold, and the columns its tables had from
// their first version on.
const QStringList kOwnObjects = {QStringLiteral("papers"), QStringLiteral("queue"),
                                 QStringLiteral("papers_downloaded"), QStringLiteral("papers_file"),
                                 QStringLiteral("papers_doi")};
const QStringList kFirstPaperColumns = {
    QStringLiteral("address"),     QStringLiteral("title"),   QStringLiteral("cells"),
    QStringLiteral("source_page"), QStringLiteral("seen_at"), QStringLiteral("file_path"),
    QStringLiteral("file_size"),   QStringLiteral("sha256"),  QStringLiteral("downloaded_at"),
    QStringLiteral("outcome"),     QStringLiteral("reason"),  QStringLiteral("attempted_at")};
const QStringList kFirstQueueColumns = {QStringLiteral("position"),       QStringLiteral("address"),
                                        QStringLiteral("name"),           QStringLiteral("type"),
                                        QStringLiteral("folder"),         QStringLiteral("tag"),
                                        QStringLiteral("state"),          QStringLiteral("total_bytes"),
                                        QStringLiteral("received_bytes"), QStringLiteral("note")};

// True when the table has every one of the columns (false too when it cannot be read).
bool hasColumns(QSqlQuery &q, const QString &table, const QStringList &columns)
{
    QStringList found;
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        return false;
    while (q.next())
        found.append(q.value(1).toString());
    q.finish();
    return std::all_of(columns.cbegin(), columns.cend(), [&](const QString &c) { return found.contains(c); });
}

// A file without the mark is ours only when it holds nothing but our tables, as a version of ours made
// them, and says which version it is.
bool looksLikeOurs(QSqlQuery &q, int version, int latest)
{
    QStringList objects;
    if (!q.exec(
            QStringLiteral("SELECT name FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\'")))
        return false;
    while (q.next())
        objects.append(q.value(0).toString());
    q.finish();
    const QStringList libraryRows = libraryrows::schemaObjects();
    const bool onlyOurs = std::all_of(objects.cbegin(), objects.cend(), [&](const QString &name) {
        return kOwnObjects.contains(name) || libraryRows.contains(name);
    });
    if (!onlyOurs || version < 1 || version > latest || !objects.contains(QStringLiteral("papers")))
        return false;
    if (version >= 2 && !objects.contains(QStringLiteral("queue")))
        return false;
    return hasColumns(q, QStringLiteral("papers"), kFirstPaperColumns) &&
           (!objects.contains(QStringLiteral("queue")) ||
            hasColumns(q, QStringLiteral("queue"), kFirstQueueColumns));
}

// Reads only; false when the file cannot be read (the query tells why).
bool readOwnerNow(QSqlQuery &q, const Mark &ours, Owner *owner)
{
    int id = 0;
    int version = 0;
    int objects = 0;
    if (!readInt(q, QStringLiteral("PRAGMA application_id"), &id) ||
        !readInt(q, QStringLiteral("PRAGMA user_version"), &version) ||
        !readInt(q, QStringLiteral("SELECT count(*) FROM sqlite_master"), &objects))
        return false;
    if (id == ours.applicationId)
        *owner = version > ours.version ? Owner::Newer : Owner::Ours;
    else if (id != 0)
        *owner = Owner::Foreign;
    else if (objects == 0 && version == 0)
        *owner = Owner::Empty;
    else
        *owner = looksLikeOurs(q, version, ours.version) ? Owner::OursUnmarked : Owner::Foreign;
    return true;
}

} // namespace

std::optional<QSqlQuery> runStep(QSqlDatabase &db, int version)
{
    QSqlQuery q(db);
    for (const QString &statement : kMigrations.at(version)) {
        if (!q.exec(statement))
            return q;
    }
    return version + 1 == kLibraryRowsStep ? libraryrows::finishSchemaStep(db) : std::nullopt;
}

bool readOwner(QSqlDatabase &db, QSqlQuery &q, const Mark &ours, Owner *owner)
{
    const bool began = db.transaction();
    const bool read = readOwnerNow(q, ours, owner);
    q.finish();
    if (began)
        db.commit();
    return read;
}

} // namespace libraryschema
