#include "core/library/paperlibrary.h"

#include "core/library/libraryconnection.h"
#include "core/library/libraryschema.h"
#include "core/library/librarysql.h"
#include "core/library/sqlitestatement.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QVariant>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using librarysql::readInt;
using librarysql::uniqueConnectionName;

// SQLite's primary result codes that matter here.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteReadOnly = 8;
constexpr int SqliteCantOpen = 14;
constexpr int SqliteCorrupt = 11;
constexpr int SqliteNotADatabase = 26;

const QString kBusyText = QStringLiteral(
    "文献资料库正被另一个正在运行的本程序使用，等待 %1 秒后仍未空闲，这次操作没有完成。请稍后再试。");
const QString kDamagedText =
    QStringLiteral("文献资料库文件已损坏（%1）。下次启动程序时会把它改名保存并新建资料库。");
const QString kSetAsideText =
    QStringLiteral("文献资料库文件已损坏，已改名保存为“%1”，并新建了一个空的资料库。");
const QString kNewerText = QStringLiteral("文献资料库“%1”由较新版本的本程序建立，这个版本不能使用它。");
const QString kOpenFailedText = QStringLiteral("无法打开文献资料库“%1”：%2");
const QString kFailedText = QStringLiteral("文献资料库“%1”读写出错：%2");
const QString kNotOpenText = QStringLiteral("文献资料库“%1”没有打开。");

const QString kReadOnlyText =
    QStringLiteral("文献资料库不能写入：“%1”是只读的。把它改为可写后，程序会再次写入资料库。");
const QString kNotAFileText = QStringLiteral("文献资料库“%1”不是普通文件，不能使用。");
const QString kForeignReason = QStringLiteral("这是另一个程序的数据库，本程序不使用也不改动它");

// Between two tries of a write that SQLite refused at once as busy.
constexpr int BusyRetryPauseMs = 20;

int sqliteCode(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1;
}

bool isWritable(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

QString freeSetAsidePath(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString candidate = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    return candidate;
}

// Something other than a regular file stands at the path.
bool isThereButNotAFile(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode);
}

QSqlDatabase addConnection(const QString &name, const QString &path, int busyTimeoutMs)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
    return db;
}

// Why the file is not to be used (empty when it is ours, or empty and ours to make); false when it cannot
// be read (the query tells why).
bool readRefusal(QSqlDatabase &db, QSqlQuery &q, const QString &path, QString *refusal)
{
    using libraryschema::Owner;
    Owner owner = Owner::Foreign;
    if (!libraryschema::readOwner(db, q, {PaperLibrary::ApplicationId, PaperLibrary::SchemaVersion}, &owner))
        return false;
    if (owner == Owner::Newer)
        *refusal = kNewerText.arg(path);
    else if (owner == Owner::Foreign)
        *refusal = kOpenFailedText.arg(path, kForeignReason);
    return true;
}

} // namespace

QString DefaultPaperLibraryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/PaperLibrary.db");
}

PaperLibrary::PaperLibrary(QString path) : m_path(std::move(path)) {}

PaperLibrary::~PaperLibrary()
{
    close();
}

bool PaperLibrary::isOpen() const
{
    return !m_connection.isEmpty() && QSqlDatabase::database(m_connection, false).isOpen();
}

void PaperLibrary::close()
{
    // Statements left unfinalised would keep SQLite from closing the file.
    m_statements.reset();
    if (m_connection.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
}

PaperLibrary::OpenResult PaperLibrary::open()
{
    close();
    QElapsedTimer waited;
    waited.start();
    OpenResult result = openConnection();
    // Another program making the file at the same moment: its first write is waited for.
    while (!result.ok && m_lastFailure == Failure::Busy && waited.elapsed() < m_busyTimeoutMs) {
        QThread::msleep(BusyRetryPauseMs);
        result = openConnection();
    }
    if (result.ok || m_lastFailure != Failure::Damaged)
        return result;
    if (!setAsideDamagedFile(&result))
        return result;
    const QString setAsideMessage = result.message;
    const QString setAsidePath = result.setAsidePath;
    result = openConnection();
    result.setAsidePath = setAsidePath;
    result.message = result.ok ? setAsideMessage : setAsideMessage + u'\n' + result.message;
    return result;
}

PaperLibrary::OpenResult PaperLibrary::openConnection()
{
    failText(QString(), Failure::None);
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // A pipe or a device at the library's name would block the program for ever.
    if (isThereButNotAFile(m_path)) {
        failText(kNotAFileText.arg(m_path), Failure::Other);
        return {false, m_lastError, {}};
    }
    repairJournalModes();
    m_connection = uniqueConnectionName();
    const bool ready = [this] {
        QSqlDatabase db = addConnection(m_connection, m_path, m_busyTimeoutMs);
        if (!db.open())
            return failText(kOpenFailedText.arg(m_path, db.lastError().text()), Failure::Other);
        // The first statements only read: a file that is not a database fails here, and another program's
        // database or one of a newer version is left exactly as it is. quick_check finds damaged pages
        // before a write could spread the damage.
        QSqlQuery q(db);
        QString refusal;
        if (!readRefusal(db, q, m_path, &refusal))
            return fail(q);
        if (!refusal.isEmpty())
            return failText(refusal, Failure::Other);
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
            !q.exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
            !q.exec(QStringLiteral("PRAGMA temp_store=MEMORY")) ||
            !q.exec(QStringLiteral("PRAGMA quick_check(1)")) || !q.next())
            return fail(q);
        if (const QString check = q.value(0).toString(); check != QStringLiteral("ok"))
            return failText(kDamagedText.arg(check), Failure::Damaged);
        return true;
    }();
    if (!ready || !migrate()) {
        close();
        return {false, m_lastError, {}};
    }
    return {true, {}, {}};
}

bool PaperLibrary::migrate()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    int version = 0;
    int id = 0;
    // A statement left open keeps a read going, and SQLite will not wait for the write lock of a
    // connection that reads: it would answer busy at once (readInt finishes its statement).
    if (!readInt(q, QStringLiteral("PRAGMA user_version"), &version) ||
        !readInt(q, QStringLiteral("PRAGMA application_id"), &id))
        return fail(q);
    if (version > SchemaVersion)
        return failText(kNewerText.arg(m_path), Failure::Other);
    const auto step = [this, &version](QSqlDatabase &db) {
        QSqlQuery q(db);
        // Another instance may have migrated the file while this one waited for the write lock.
        if (!readInt(q, QStringLiteral("PRAGMA user_version"), &version))
            return fail(q);
        if (const std::optional<QSqlQuery> failed =
                version < SchemaVersion ? libraryschema::runStep(db, version) : std::nullopt)
            return fail(*failed);
        if (version < SchemaVersion)
            ++version;
        // Each step marks the file as this program's library, one made before the mark too.
        return (q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version)) &&
                q.exec(QStringLiteral("PRAGMA application_id = %1").arg(ApplicationId))) ||
               fail(q);
    };
    for (; version < SchemaVersion; id = ApplicationId) {
        // Opening is under way: a read-only file is not opened again from here.
        if (!writeTransaction(step, false))
            return false;
    }
    // A library of ours from before the mark, at this version already: marked now, or at a later opening
    // when it cannot be written at the moment (it is read as it is meanwhile).
    if (id != ApplicationId && !writeTransaction(step, false))
        failText(QString(), Failure::None);
    return true;
}

bool PaperLibrary::setAsideDamagedFile(OpenResult *result)
{
    close();
    const QString target = freeSetAsidePath(m_path);
    if (!QFile::rename(m_path, target)) {
        result->message = kOpenFailedText.arg(m_path, m_lastError);
        return false;
    }
    // The journal files belong to the damaged file and go with it, so the new file does not read them.
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (QFileInfo::exists(m_path + suffix))
            QFile::rename(m_path + suffix, target + suffix);
    }
    result->setAsidePath = target;
    result->message = kSetAsideText.arg(target);
    return true;
}

bool PaperLibrary::beginWrite()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    // IMMEDIATE takes the write lock now, so a second instance waits here rather than failing half-way.
    return q.exec(QStringLiteral("BEGIN IMMEDIATE")) || fail(q);
}

bool PaperLibrary::commit()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(QStringLiteral("COMMIT")))
        return true;
    fail(q);
    rollback();
    return false;
}

void PaperLibrary::rollback()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.exec(QStringLiteral("ROLLBACK"));
}

bool PaperLibrary::fail(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    switch (sqliteCode(error)) {
    case SqliteBusy:
    case SqliteLocked:
        return failText(kBusyText.arg(m_busyTimeoutMs / 1000.0, 0, 'g', 3), Failure::Busy);
    case SqliteCorrupt:
    case SqliteNotADatabase:
        return failText(kDamagedText.arg(error.databaseText()), Failure::Damaged);
    case SqliteReadOnly:
        return failText(kReadOnlyText.arg(unwritableFile().isEmpty() ? m_path : unwritableFile()),
                        Failure::ReadOnly);
    case SqliteCantOpen:
        if (!unwritableFile().isEmpty())
            return failText(kReadOnlyText.arg(unwritableFile()), Failure::ReadOnly);
        break;
    default:
        break;
    }
    return failText((isOpen() ? kFailedText : kOpenFailedText).arg(m_path, error.text()), Failure::Other);
}

bool PaperLibrary::writeTransaction(const std::function<bool(QSqlDatabase &)> &statements, bool mayReopen)
{
    if (!isOpen())
        return failText(kNotOpenText.arg(m_path), Failure::Other);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        m_lastError.clear();
        m_lastFailure = Failure::None;
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (beginWrite()) {
            if (statements(db) && commit())
                return true;
            rollback();
        }
        // The files were made writable since the connection was opened read-only.
        if (m_lastFailure == Failure::ReadOnly && mayReopen) {
            mayReopen = false;
            if (reopenWritable())
                continue;
            return false;
        }
        // SQLite answers busy at once, without waiting, where waiting could deadlock two writers; the
        // whole transaction is tried again then, for as long as a write is meant to wait.
        if (m_lastFailure != Failure::Busy || waited.elapsed() >= m_busyTimeoutMs)
            return false;
        QThread::msleep(BusyRetryPauseMs);
    }
}

QString PaperLibrary::unwritableFile() const
{
    if (QFileInfo::exists(m_path) && !isWritable(m_path))
        return m_path;
    bool journalMissing = false;
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        const QString journal = m_path + suffix;
        if (!QFileInfo::exists(journal))
            journalMissing = true;
        else if (!isWritable(journal))
            return journal;
    }
    const QString folder = QFileInfo(m_path).absolutePath();
    return journalMissing && !isWritable(folder) ? folder : QString();
}

void PaperLibrary::repairJournalModes() const
{
    // SQLite gives the -wal and -shm files the database file's permissions when it makes them. Made
    // while the database was read-only, they would keep it unwritable after the user made the database
    // itself writable again; they get its permissions back then (only this user's own files).
    struct stat database = {};
    const QByteArray path = QFile::encodeName(m_path);
    if (::stat(path.constData(), &database) != 0 || !isWritable(m_path))
        return;
    for (const char *suffix : {"-wal", "-shm"}) {
        const QByteArray journal = path + suffix;
        struct stat info = {};
        if (::lstat(journal.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            ::access(journal.constData(), W_OK) != 0)
            ::chmod(journal.constData(), (database.st_mode | info.st_mode) & 0666);
    }
}

bool PaperLibrary::reopenWritable()
{
    repairJournalModes();
    if (!unwritableFile().isEmpty())
        return false;
    const QString readOnly = m_lastError;
    close();
    if (openConnection().ok)
        return true;
    m_lastError = readOnly + u'\n' + m_lastError;
    return false;
}

bool PaperLibrary::failText(const QString &text, Failure kind)
{
    m_lastError = text;
    m_lastFailure = kind;
    return false;
}

// The door of the library's views and upkeep to its connection.
bool LibraryConnection::moveToThread(PaperLibrary &library, QThread *thread)
{
    if (!library.isOpen())
        return false;
    // A connection belongs to the thread of its driver: the driver goes, the connection with it.
    QSqlDriver *driver = QSqlDatabase::database(library.m_connection, false).driver();
    driver->moveToThread(thread);
    return driver->thread() == thread;
}

bool LibraryConnection::read(PaperLibrary &library, const LibraryStatements &statements)
{
    if (!library.isOpen())
        return library.failText(QStringLiteral("文献资料库“%1”没有打开。").arg(library.m_path),
                                PaperLibrary::Failure::Other);
    library.m_lastError.clear();
    library.m_lastFailure = PaperLibrary::Failure::None;
    QSqlDatabase db = QSqlDatabase::database(library.m_connection, false);
    if (const std::optional<QSqlQuery> failed = statements(db))
        return library.fail(*failed);
    return true;
}

bool LibraryConnection::write(PaperLibrary &library, const LibraryStatements &statements)
{
    return library.writeTransaction([&library, &statements](QSqlDatabase &db) {
        if (const std::optional<QSqlQuery> failed = statements(db))
            return library.fail(*failed);
        return true;
    });
}
