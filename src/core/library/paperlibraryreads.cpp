#include "core/common/safetext.h"
#include "core/library/libraryconnection.h"
#include "core/library/librarysql.h"
#include "core/library/paperlibrary.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>
#include <atomic>

namespace {

using librarysql::readOnOwnConnection;
using librarysql::timeFrom;

std::atomic_int g_mainThreadReads{0};

void countRead()
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        ++g_mainThreadReads;
}

} // namespace

int libraryReadsOnMainThread()
{
    return g_mainThreadReads.load();
}

namespace {

// The address of the latest download of a paper of that DOI, whatever address it came from; empty when
// there is none (or the read failed: a failed read holds nothing).
QString heldAddressOfDoi(QSqlQuery &q, const QString &doiKey)
{
    q.prepare(
        QStringLiteral("SELECT address FROM papers WHERE doi_key = ? AND doi_key <> '' AND file_path IS "
                       "NOT NULL ORDER BY downloaded_at DESC LIMIT 1"));
    q.addBindValue(doiKey);
    const QString address = q.exec() && q.next() ? q.value(0).toString() : QString();
    q.finish();
    return address;
}

} // namespace

std::optional<HeldFile> PaperLibrary::heldFile(const QString &address, const QString &doiKey)
{
    countRead();
    if (!isOpen())
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT file_path, file_size, sha256, downloaded_at, file_address, landing_page,"
                             " declared_title, declared_cells FROM papers"
                             " WHERE address = ? AND file_path IS NOT NULL AND pdf <> 'damaged'"));
    q.addBindValue(WithoutCredentials(address));
    if (!q.exec()) {
        fail(q);
        return std::nullopt;
    }
    if (!q.next()) {
        q.finish();
        const QString other = doiKey.isEmpty() ? QString() : heldAddressOfDoi(q, doiKey);
        std::optional<HeldFile> file = other.isEmpty() || other == address ? std::nullopt : heldFile(other);
        if (file)
            file->address = address; // held for the address asked
        return file;
    }
    return HeldFile{address,
                    q.value(0).toString(),
                    q.value(1).toLongLong(),
                    q.value(2).toString(),
                    timeFrom(q.value(3)),
                    q.value(4).toString(),
                    q.value(5).toString(),
                    PaperMetadata{q.value(6).toString(), CellsFromJson(q.value(7).toString())}};
}

QList<HeldFile> PaperLibrary::heldFilesAt(const QString &filePath)
{
    countRead();
    QList<HeldFile> held;
    if (!isOpen() || filePath.isEmpty())
        return held;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT address, file_size, sha256, downloaded_at FROM papers WHERE file_path = ?"));
    q.addBindValue(filePath);
    if (!q.exec()) {
        fail(q);
        return held;
    }
    while (q.next())
        held.append(HeldFile{q.value(0).toString(), filePath, q.value(1).toLongLong(), q.value(2).toString(),
                             timeFrom(q.value(3))});
    return held;
}

PaperRecord PaperLibrary::recordFrom(const QSqlQuery &q)
{
    PaperRecord r;
    r.address = q.value(0).toString();
    r.sourcePage = q.value(3).toString();
    r.seenAt = timeFrom(q.value(4));
    if (!q.value(5).isNull())
        r.held = HeldFile{r.address, q.value(5).toString(), q.value(6).toLongLong(), q.value(7).toString(),
                          timeFrom(q.value(8))};
    r.lastOutcome = static_cast<DownloadOutcome>(q.value(9).toInt());
    r.lastReason = q.value(10).toString();
    r.lastAttemptAt = timeFrom(q.value(11));
    r.metadata = librarysql::recordMetadata(r.address, q.value(1).toString(), q.value(2).toString(),
                                            q.value(12).toString(), q.value(13).toString());
    r.fileAddress = q.value(14).toString();
    r.landingPage = q.value(15).toString();
    return r;
}

std::optional<PaperRecord> PaperLibrary::record(const QString &address)
{
    const QList<PaperRecord> found = records({address});
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

bool PaperLibrary::readRecordRows(QSqlQuery &q, const QStringList &addresses, QList<PaperRecord> *out)
{
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM papers WHERE address = ?").arg(librarysql::recordColumns()));
    for (const QString &address : addresses) {
        q.addBindValue(WithoutCredentials(address));
        if (!q.exec())
            return false;
        if (q.next())
            out->append(recordFrom(q));
    }
    return true;
}

QList<PaperRecord> PaperLibrary::records(const QStringList &addresses)
{
    QList<PaperRecord> out;
    if (!isOpen())
        return out;
    countRead();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!readRecordRows(q, addresses, &out))
        fail(q);
    return out;
}

QList<PaperRecord> PaperLibrary::readRecords(const QString &path, const QStringList &addresses)
{
    QList<PaperRecord> out;
    readOnOwnConnection(path, [&](QSqlDatabase &db) {
        QSqlQuery q(db);
        readRecordRows(q, addresses, &out);
    });
    return out;
}

QList<PaperRecord> PaperLibrary::downloadedRecords()
{
    QList<PaperRecord> out;
    if (!isOpen())
        return out;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
                    "SELECT %1 FROM papers WHERE file_path IS NOT NULL ORDER BY downloaded_at, address")
                    .arg(librarysql::recordColumns()))) {
        fail(q);
        return out;
    }
    while (q.next())
        out.append(recordFrom(q));
    return out;
}

qint64 PaperLibrary::paperCount()
{
    if (!isOpen())
        return -1;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("SELECT count(*) FROM papers")) || !q.next()) {
        fail(q);
        return -1;
    }
    return q.value(0).toLongLong();
}

bool PaperLibrary::readQueueRows(QSqlQuery &q, QList<QueueRow> *rows)
{
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT address, name, type, folder, tag, state, total_bytes, received_bytes, note, given_name,"
            " given_folder, file_path, file_device, file_inode, file_size, file_modified, landing_page,"
            " file_address, declared_title, declared_cells, identifier, origin FROM queue"
            " ORDER BY position")))
        return false;
    while (q.next()) {
        rows->append(QueueRow{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                              q.value(3).toString(), q.value(4).toString(), q.value(5).toInt(),
                              q.value(6).toLongLong(), q.value(7).toLongLong(), q.value(8).toString(),
                              q.value(9).toString(), q.value(10).toString(), q.value(11).toString(),
                              q.value(12).toLongLong(), q.value(13).toLongLong(), q.value(14).toLongLong(),
                              q.value(15).toLongLong(), q.value(16).toString(), q.value(17).toString(),
                              PaperMetadata{q.value(18).toString(), CellsFromJson(q.value(19).toString())}});
        rows->last().identifier = q.value(20).toString();
        rows->last().origin = q.value(21).toString();
    }
    return q.isActive() && !q.lastError().isValid();
}

QList<QueueRow> PaperLibrary::loadQueue()
{
    QList<QueueRow> rows;
    if (!isOpen())
        return rows;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!readQueueRows(q, &rows)) {
        fail(q);
        return {};
    }
    return rows;
}

std::optional<QList<QueueRow>> PaperLibrary::readQueue(const QString &path)
{
    std::optional<QList<QueueRow>> rows;
    readOnOwnConnection(path, [&rows](QSqlDatabase &db) {
        QSqlQuery q(db);
        QList<QueueRow> read;
        if (readQueueRows(q, &read))
            rows = std::move(read);
    });
    return rows;
}

QString LibraryConnection::recordColumns()
{
    return librarysql::recordColumns();
}

PaperRecord LibraryConnection::recordFrom(const QSqlQuery &query)
{
    return PaperLibrary::recordFrom(query);
}
