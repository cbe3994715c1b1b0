#include "core/common/safetext.h"
#include "core/library/libraryrows.h"
#include "core/library/librarysql.h"
#include "core/library/paperlibrary.h"
#include "core/library/sqlitestatement.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace {

using librarysql::nonNull;
using librarysql::timeValue;

// A paper seen again takes the new title, cells and page, keeping what was known when they are empty.
const QString kSeenStatement = QStringLiteral(
    "INSERT INTO papers (address, title, cells, source_page, seen_at) VALUES (?, ?, ?, ?, ?)"
    " ON CONFLICT (address) DO UPDATE SET"
    " title = CASE WHEN excluded.title <> '' THEN excluded.title ELSE title END,"
    " cells = CASE WHEN excluded.cells <> '[]' THEN excluded.cells ELSE cells END,"
    " source_page = CASE WHEN excluded.source_page <> '' THEN excluded.source_page ELSE source_page END,"
    " seen_at = excluded.seen_at");

// The pages the papers were seen on and their rows for the window, in recordSeen's transaction.
std::optional<QSqlError> recordSeenRows(libraryrows::Writer &rows, const QStringList &addresses,
                                        const QList<SeenPaper> &papers, qint64 now)
{
    qsizetype next = 0;
    for (const SeenPaper &p : papers) {
        if (p.address.isEmpty())
            continue;
        const QString &address = addresses.at(next++);
        if (p.sourcePage.isEmpty())
            continue;
        if (std::optional<QSqlError> failed = rows.recordPage(address, WithoutCredentials(p.sourcePage), now))
            return failed;
    }
    return rows.update(addresses, false);
}

// The connection's kept statements, made on its first write of them.
SqliteStatements &kept(std::unique_ptr<SqliteStatements> &statements, QSqlDatabase &db)
{
    if (!statements)
        statements = std::make_unique<SqliteStatements>(db);
    return *statements;
}

} // namespace

bool PaperLibrary::recordSeen(const QList<SeenPaper> &papers)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return writeTransaction([this, &papers, now](QSqlDatabase &db) {
        SqliteStatements &statements = kept(m_statements, db);
        SqliteStatement &q = statements.statement(kSeenStatement);
        QStringList addresses;
        for (const SeenPaper &p : papers) {
            if (p.address.isEmpty())
                continue;
            addresses.append(WithoutCredentials(p.address));
            q.addText(addresses.constLast());
            q.addText(p.metadata.title);
            q.addText(CellsToJson(p.metadata.cells));
            q.addText(WithoutCredentials(p.sourcePage));
            q.addInt(now);
            if (const std::optional<QSqlError> failed = q.run())
                return fail(failedQuery(*failed));
        }
        libraryrows::Writer rows(statements);
        if (const std::optional<QSqlError> failed = recordSeenRows(rows, addresses, papers, now))
            return fail(failedQuery(*failed));
        return true;
    });
}

// What a download learnt from the paper's own page replaces what an earlier one learnt; a download that
// met no such page leaves it.
#define DECLARED_UPDATE                                                                                      \
    " declared_title = CASE WHEN excluded.declared_cells <> '[]' OR excluded.declared_title <> ''"           \
    " THEN excluded.declared_title ELSE declared_title END,"                                                 \
    " declared_cells = CASE WHEN excluded.declared_cells <> '[]' OR excluded.declared_title <> ''"           \
    " THEN excluded.declared_cells ELSE declared_cells END,"                                                 \
    " landing_page = CASE WHEN excluded.file_address <> '' THEN excluded.landing_page ELSE landing_page "    \
    "END,"                                                                                                   \
    " file_address = CASE WHEN excluded.file_address <> '' THEN excluded.file_address ELSE file_address END"

namespace {

// What the paper's own page declared, the full text it named and where that page was.
void bindLandingPage(QSqlQuery &q, const PaperMetadata &declared, const QString &fileAddress,
                     const QString &landingPage)
{
    q.addBindValue(nonNull(declared.title));
    q.addBindValue(CellsToJson(declared.cells));
    q.addBindValue(nonNull(WithoutCredentials(fileAddress)));
    q.addBindValue(nonNull(WithoutCredentials(landingPage)));
}

// The structure check's verdict on a held file, checked at `when` (no time for a file not checked).
void bindCheck(QSqlQuery &q, int pages, const QString &pdf, const QDateTime &when)
{
    q.addBindValue(pages);
    q.addBindValue(nonNull(pdf));
    q.addBindValue(pdf.isEmpty() ? QVariant(QMetaType(QMetaType::LongLong)) : timeValue(when));
}

// Times are kept as milliseconds since the epoch; no time is NULL.
void addTime(SqliteStatement &q, const QDateTime &time)
{
    if (time.isValid())
        q.addInt(time.toMSecsSinceEpoch());
    else
        q.addNull();
}

// A download's values in the order its statement takes them; the file's only when it succeeded.
void bindDownload(SqliteStatement &q, const DownloadResult &r, bool succeeded, const QDateTime &when)
{
    q.addText(WithoutCredentials(r.address));
    q.addText(r.title);
    if (succeeded) {
        q.addText(r.filePath);
        q.addInt(r.size);
        q.addTextOrNull(r.sha256.toLower());
        addTime(q, when);
        q.addInt(r.pdfPages);
        q.addText(r.pdf);
        addTime(q, r.pdf.isEmpty() ? QDateTime() : when);
    }
    q.addInt(static_cast<int>(r.outcome));
    q.addText(WithoutCredentials(r.reason));
    addTime(q, when);
    q.addText(r.declared.title);
    q.addText(CellsToJson(r.declared.cells));
    q.addText(WithoutCredentials(r.fileAddress));
    q.addText(WithoutCredentials(r.landingPage));
}

// A download's end in the paper's history and its row for the window, in recordDownloads' transaction.
std::optional<QSqlError> recordEndRows(libraryrows::Writer &rows, const DownloadResult &r,
                                       const QDateTime &when, bool newFile)
{
    const QString address = WithoutCredentials(r.address);
    if (std::optional<QSqlError> failed = rows.recordEnd(address, r, when.toMSecsSinceEpoch()))
        return failed;
    return rows.update({address}, newFile);
}

// A download that ended with its file: the file, its check and the end replace what was recorded.
const QString kDownloadedStatement = QStringLiteral(
    "INSERT INTO papers (address, title, file_path, file_size, sha256, downloaded_at, pages, pdf,"
    " checked_at, outcome, reason,"
    " attempted_at, declared_title, declared_cells, file_address, landing_page, doi_key)"
    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
    " ON CONFLICT (address) DO UPDATE SET"
    " title = CASE WHEN title = '' THEN excluded.title ELSE title END,"
    " file_path = excluded.file_path, file_size = excluded.file_size, sha256 = excluded.sha256,"
    " downloaded_at = excluded.downloaded_at, pages = excluded.pages, pdf = excluded.pdf,"
    " checked_at = excluded.checked_at, outcome = excluded.outcome, reason = excluded.reason,"
    " attempted_at = excluded.attempted_at," DECLARED_UPDATE ","
    " doi_key = CASE WHEN excluded.doi_key <> '' THEN excluded.doi_key ELSE doi_key END");

// A failure, or an end without a file, is an attempt: the file of an earlier download stays on record.
const QString kAttemptedStatement = QStringLiteral(
    "INSERT INTO papers (address, title, outcome, reason, attempted_at, declared_title, declared_cells,"
    " file_address, landing_page) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"
    " ON CONFLICT (address) DO UPDATE SET"
    " title = CASE WHEN title = '' THEN excluded.title ELSE title END,"
    " outcome = excluded.outcome, reason = excluded.reason, attempted_at = "
    "excluded.attempted_at," DECLARED_UPDATE);

} // namespace

bool PaperLibrary::recordDownloads(const QList<DownloadResult> &results)
{
    return writeTransaction([this, &results](QSqlDatabase &db) {
        SqliteStatements &statements = kept(m_statements, db);
        SqliteStatement &done = statements.statement(kDownloadedStatement);
        SqliteStatement &attempt = statements.statement(kAttemptedStatement);
        libraryrows::Writer rows(statements);
        for (const DownloadResult &r : results) {
            if (r.address.isEmpty())
                continue;
            const bool succeeded = r.outcome == DownloadOutcome::Done && !r.filePath.isEmpty();
            SqliteStatement &q = succeeded ? done : attempt;
            const QDateTime when = r.finishedAt.isValid() ? r.finishedAt : QDateTime::currentDateTimeUtc();
            bindDownload(q, r, succeeded, when);
            if (succeeded)
                q.addText(r.doiKey);
            if (const std::optional<QSqlError> failed = q.run())
                return fail(failedQuery(*failed));
            if (const std::optional<QSqlError> failed = recordEndRows(rows, r, when, succeeded))
                return fail(failedQuery(*failed));
        }
        return true;
    });
}

bool PaperLibrary::recordPdfChecks(const QList<PdfCheckRecord> &checks)
{
    return writeTransaction([this, &checks](QSqlDatabase &db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE papers SET pages = ?, pdf = ?, checked_at = ? WHERE file_path = ?"));
        for (const PdfCheckRecord &check : checks) {
            const QDateTime when =
                check.checkedAt.isValid() ? check.checkedAt : QDateTime::currentDateTimeUtc();
            bindCheck(q, check.pages, check.pdf, when);
            q.addBindValue(check.filePath);
            if (!q.exec())
                return fail(q);
            if (const std::optional<QSqlQuery> failed = libraryrows::updateAt(db, {check.filePath}))
                return fail(*failed);
        }
        return true;
    });
}

namespace {

void bindQueueRow(QSqlQuery &q, qsizetype position, const QueueRow &r)
{
    q.addBindValue(position);
    q.addBindValue(nonNull(WithoutCredentials(r.address)));
    q.addBindValue(nonNull(r.name));
    q.addBindValue(nonNull(r.type));
    q.addBindValue(nonNull(r.folder));
    q.addBindValue(nonNull(WithoutCredentials(r.tag)));
    q.addBindValue(r.state);
    q.addBindValue(r.totalBytes);
    q.addBindValue(r.receivedBytes);
    q.addBindValue(nonNull(r.note));
    q.addBindValue(nonNull(r.givenName));
    q.addBindValue(nonNull(r.givenFolder));
    q.addBindValue(nonNull(r.filePath));
    q.addBindValue(r.fileDevice);
    q.addBindValue(r.fileInode);
    q.addBindValue(r.fileSize);
    q.addBindValue(r.fileModifiedNs);
    bindLandingPage(q, r.declared, r.fileAddress, r.landingPage);
    q.addBindValue(nonNull(r.identifier));
    q.addBindValue(nonNull(r.origin));
}

} // namespace

bool PaperLibrary::saveQueue(const QList<QueueRow> &rows)
{
    return writeTransaction([this, &rows](QSqlDatabase &db) {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("DELETE FROM queue")))
            return fail(q);
        q.prepare(QStringLiteral(
            "INSERT INTO queue (position, address, name, type, folder, tag, state, total_bytes, "
            "received_bytes,"
            " note, given_name, given_folder, file_path, file_device, file_inode, file_size, file_modified,"
            " declared_title, declared_cells, file_address, landing_page, identifier, origin)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (qsizetype i = 0; i < rows.size(); ++i) {
            bindQueueRow(q, i, rows.at(i));
            if (!q.exec())
                return fail(q);
        }
        return true;
    });
}
