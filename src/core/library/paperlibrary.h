#pragma once

#include "core/library/librarytypes.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QSqlDatabase;
class QSqlQuery;
class SqliteStatements;

// How many reads of the held files (heldFile, heldFilesAt) were made on the application's main thread.
int libraryReadsOnMainThread();

// Where the library lives unless a caller names another file: beside SaveList.dat in the per-user
// data folder.
QString DefaultPaperLibraryPath();

// The paper library: one SQLite file (WAL) with a record per paper seen or downloaded and the saved
// download queue. Addresses are kept, and looked up, without the user name and password they may
// carry: a paper stored from a link with them is found again by the same link. One object is the one
// writer of its process and lives on the thread that opened it; a second program instance on the same
// file waits for the other's write to end (busy timeout) and, when that takes too long, the call fails
// with a message saying so. A library that cannot be written
// because a file is read-only says which file, and is written again once that file is writable.
class PaperLibrary
{
public:
    static constexpr int SchemaVersion = 9;
    // SQLite's application_id of our library files ("FNXL"): another program's database is never ours.
    static constexpr int ApplicationId = 0x464E584C;

    struct OpenResult
    {
        bool ok = false;
        // For the user: why the library cannot be used, or what happened to a damaged file.
        QString message;
        QString setAsidePath; // where a damaged file was moved; empty otherwise
    };

    explicit PaperLibrary(QString path = DefaultPaperLibraryPath());
    ~PaperLibrary();
    PaperLibrary(const PaperLibrary &) = delete;
    PaperLibrary &operator=(const PaperLibrary &) = delete;

    // Opens (creating the folder and the file when missing) and brings the schema up to date. A file
    // that is not a database or is damaged is renamed with the date and time and a fresh one made. A
    // database of another program (one that is not empty and is neither marked as ours nor holds our
    // tables alone) cannot be used, and nothing is written to it.
    OpenResult open();
    void close();
    bool isOpen() const;
    QString path() const { return m_path; }

    // How long a call waits for another program's write to end. Applies from the next open().
    void setBusyTimeoutMs(int ms) { m_busyTimeoutMs = ms; }
    int busyTimeoutMs() const { return m_busyTimeoutMs; }

    // Papers seen on a result page, in one transaction. A paper seen again takes the new title, cells
    // and page, keeping what was known when the new values are empty; its download stays.
    bool recordSeen(const QList<SeenPaper> &papers);
    // How downloads ended. A failure leaves the file of an earlier successful download on record.
    bool recordDownloads(const QList<DownloadResult> &results);
    // The structure check of held files, found by their paths: a damaged one is held no more.
    bool recordPdfChecks(const QList<PdfCheckRecord> &checks);

    // The file held for an address; nullopt when none was downloaded (or on a failed read). With a
    // DOI (its DoiKey), a file downloaded for a paper of that DOI from another address is the address's.
    std::optional<HeldFile> heldFile(const QString &address, const QString &doiKey = {});
    // The papers whose held file is at this path (absolute, as recorded).
    QList<HeldFile> heldFilesAt(const QString &filePath);
    std::optional<PaperRecord> record(const QString &address);
    // Records of the given addresses, in that order; unknown addresses are left out.
    QList<PaperRecord> records(const QStringList &addresses);
    // Every paper with a successful download, oldest download first.
    QList<PaperRecord> downloadedRecords();
    qint64 paperCount();

    // The download queue replaces the saved one in one transaction.
    bool saveQueue(const QList<QueueRow> &rows);
    QList<QueueRow> loadQueue();
    // The saved queue read on a connection of its own, opened read-only on the calling thread and
    // closed before returning, so any thread may call it while the library object is in use elsewhere.
    // nullopt when the file cannot be read that way.
    static std::optional<QList<QueueRow>> readQueue(const QString &path);
    // The records of the given addresses, read the same way (unknown addresses are left out; none when
    // the file cannot be read).
    static QList<PaperRecord> readRecords(const QString &path, const QStringList &addresses);

    // For the user: why the last call failed (empty after a call that worked).
    QString lastError() const { return m_lastError; }
    // The last call failed because another program kept writing for longer than the wait: the same
    // call may go through a little later.
    bool lastFailureWasBusy() const { return m_lastFailure == Failure::Busy; }

private:
    friend class LibraryConnection; // the library's views and upkeep, on this connection
    enum class Failure { None, Busy, ReadOnly, Damaged, Other };

    OpenResult openConnection();
    bool migrate();
    bool setAsideDamagedFile(OpenResult *result);
    bool beginWrite();
    // Runs the statements (which say why they failed through fail()) in one write transaction, tried
    // again while SQLite answers busy within the busy timeout, and once more on a connection opened
    // afresh when the files have been made writable since.
    bool writeTransaction(const std::function<bool(QSqlDatabase &)> &statements, bool mayReopen = true);
    // The file (the database, a journal file, or the folder where one must be made) that keeps the
    // library from being written; empty when there is none.
    QString unwritableFile() const;
    void repairJournalModes() const;
    bool reopenWritable();
    bool commit();
    void rollback();
    bool fail(const QSqlQuery &query);
    bool failText(const QString &text, Failure kind);
    static PaperRecord recordFrom(const QSqlQuery &query);
    static bool readQueueRows(QSqlQuery &query, QList<QueueRow> *rows);
    // The records of the addresses the query finds; false when a lookup failed (out holds those before).
    static bool readRecordRows(QSqlQuery &query, const QStringList &addresses, QList<PaperRecord> *out);

    QString m_path;
    QString m_connection;
    // The statements of the hottest writes, compiled on the connection's first write of them and kept
    // until it closes.
    std::unique_ptr<SqliteStatements> m_statements;
    int m_busyTimeoutMs = 3000;
    QString m_lastError;
    Failure m_lastFailure = Failure::None;
};
