#include "core/library/paperlibrary.h"

#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/library/landingpage.h"
#include "core/library/libraryconnection.h"
#include "core/library/libraryrows.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

std::atomic_int g_mainThreadReads{0};

void countRead()
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        ++g_mainThreadReads;
}
const QString kReadOnlyText =
    QStringLiteral("文献资料库不能写入：“%1”是只读的。把它改为可写后，程序会再次写入资料库。");
const QString kNotAFileText = QStringLiteral("文献资料库“%1”不是普通文件，不能使用。");
const QString kForeignReason = QStringLiteral("这是另一个程序的数据库，本程序不使用也不改动它");

// Between two tries of a write that SQLite refused at once as busy.
constexpr int BusyRetryPauseMs = 20;

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
};
// The step whose statements libraryrows::finishSchemaStep completes.
constexpr int kLibraryRowsStep = 7;

// The statements of the step after version, and what completes them; the one that failed, if any.
std::optional<QSqlQuery> runStep(QSqlDatabase &db, int version)
{
    QSqlQuery q(db);
    for (const QString &statement : kMigrations.at(version)) {
        if (!q.exec(statement))
            return q;
    }
    return version + 1 == kLibraryRowsStep ? libraryrows::finishSchemaStep(db) : std::nullopt;
}

const QString kRecordColumns =
    QStringLiteral("address, title, cells, source_page, seen_at, file_path, file_size, "
                   "sha256, downloaded_at, outcome, reason, attempted_at, declared_title, declared_cells, "
                   "file_address, landing_page");

// Whose database a file is, told from what it holds before anything is written to it.
enum class Owner { Ours, OursUnmarked, Empty, Newer, Foreign };

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

bool readInt(QSqlQuery &q, const QString &sql, int *value)
{
    if (!q.exec(sql) || !q.next())
        return false;
    *value = q.value(0).toInt();
    q.finish();
    return true;
}

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
bool looksLikeOurs(QSqlQuery &q, int version)
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
    if (!onlyOurs || version < 1 || version > PaperLibrary::SchemaVersion ||
        !objects.contains(QStringLiteral("papers")))
        return false;
    if (version >= 2 && !objects.contains(QStringLiteral("queue")))
        return false;
    return hasColumns(q, QStringLiteral("papers"), kFirstPaperColumns) &&
           (!objects.contains(QStringLiteral("queue")) ||
            hasColumns(q, QStringLiteral("queue"), kFirstQueueColumns));
}

// Reads only; false when the file cannot be read (the query tells why).
bool readOwner(QSqlQuery &q, Owner *owner)
{
    int id = 0;
    int version = 0;
    int objects = 0;
    if (!readInt(q, QStringLiteral("PRAGMA application_id"), &id) ||
        !readInt(q, QStringLiteral("PRAGMA user_version"), &version) ||
        !readInt(q, QStringLiteral("SELECT count(*) FROM sqlite_master"), &objects))
        return false;
    if (id == PaperLibrary::ApplicationId)
        *owner = version > PaperLibrary::SchemaVersion ? Owner::Newer : Owner::Ours;
    else if (id != 0)
        *owner = Owner::Foreign;
    else if (objects == 0 && version == 0)
        *owner = Owner::Empty;
    else
        *owner = looksLikeOurs(q, version) ? Owner::OursUnmarked : Owner::Foreign;
    return true;
}

// Why the file is not to be used (empty when it is ours, or empty and ours to make); false when it cannot
// be read (the query tells why).
bool readRefusal(QSqlQuery &q, const QString &path, QString *refusal)
{
    Owner owner = Owner::Foreign;
    if (!readOwner(q, &owner))
        return false;
    if (owner == Owner::Newer)
        *refusal = kNewerText.arg(path);
    else if (owner == Owner::Foreign)
        *refusal = kOpenFailedText.arg(path, kForeignReason);
    return true;
}

int sqliteCode(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1;
}

QVariant timeValue(const QDateTime &time)
{
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch()) : QVariant(QMetaType(QMetaType::LongLong));
}

QDateTime timeFrom(const QVariant &value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

QVariant textOrNull(const QString &text)
{
    return text.isNull() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(text);
}

// Text columns are NOT NULL: a null QString would bind as NULL.
QString nonNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("fn-paper-library-%1").arg(++counter);
}

// Runs read on a read-only connection of its own to the file, opened on the calling thread and closed
// before returning, so that any thread may read while the library object is in use elsewhere; read does
// not run when the file cannot be opened.
void readOnOwnConnection(const QString &path, const std::function<void(QSqlDatabase &)> &read)
{
    const QString connection = uniqueConnectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=3000"));
        if (db.open())
            read(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
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

// readRefusal() as one read: another instance that makes the library meanwhile is seen before or after,
// never half-way (its first tables beside a mark not yet read would look like a stranger's).
bool readRefusalAtOnce(QSqlDatabase &db, QSqlQuery &q, const QString &path, QString *refusal)
{
    const bool began = db.transaction();
    const bool read = readRefusal(q, path, refusal);
    q.finish();
    if (began)
        db.commit();
    return read;
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
        if (!readRefusalAtOnce(db, q, m_path, &refusal))
            return fail(q);
        if (!refusal.isEmpty())
            return failText(refusal, Failure::Other);
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
            !q.exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
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
                version < SchemaVersion ? runStep(db, version) : std::nullopt)
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

namespace {

// The pages the papers were seen on and their rows for the window, in recordSeen's transaction.
std::optional<QSqlQuery> recordSeenRows(QSqlDatabase &db, const QList<SeenPaper> &papers, qint64 now)
{
    libraryrows::Writer rows(db);
    QStringList addresses;
    for (const SeenPaper &p : papers) {
        if (p.address.isEmpty())
            continue;
        addresses.append(WithoutCredentials(p.address));
        if (p.sourcePage.isEmpty())
            continue;
        const QString page = WithoutCredentials(p.sourcePage);
        if (std::optional<QSqlQuery> failed = rows.recordPage(addresses.constLast(), page, now))
            return failed;
    }
    return rows.update(addresses, false);
}

} // namespace

bool PaperLibrary::recordSeen(const QList<SeenPaper> &papers)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return writeTransaction([this, &papers, now](QSqlDatabase &db) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            "INSERT INTO papers (address, title, cells, source_page, seen_at) VALUES (?, ?, ?, ?, ?)"
            " ON CONFLICT (address) DO UPDATE SET"
            " title = CASE WHEN excluded.title <> '' THEN excluded.title ELSE title END,"
            " cells = CASE WHEN excluded.cells <> '[]' THEN excluded.cells ELSE cells END,"
            " source_page = CASE WHEN excluded.source_page <> '' THEN excluded.source_page ELSE source_page "
            "END,"
            " seen_at = excluded.seen_at"));
        for (const SeenPaper &p : papers) {
            if (p.address.isEmpty())
                continue;
            q.addBindValue(WithoutCredentials(p.address));
            q.addBindValue(nonNull(p.metadata.title));
            q.addBindValue(CellsToJson(p.metadata.cells));
            q.addBindValue(nonNull(WithoutCredentials(p.sourcePage)));
            q.addBindValue(now);
            if (!q.exec())
                return fail(q);
        }
        if (const std::optional<QSqlQuery> failed = recordSeenRows(db, papers, now))
            return fail(*failed);
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

// A download's values in the order its statement takes them; the file's only when it succeeded.
void bindDownload(QSqlQuery &q, const DownloadResult &r, bool succeeded, const QDateTime &when)
{
    q.addBindValue(WithoutCredentials(r.address));
    q.addBindValue(nonNull(r.title));
    if (succeeded) {
        q.addBindValue(r.filePath);
        q.addBindValue(r.size);
        q.addBindValue(textOrNull(r.sha256.toLower()));
        q.addBindValue(timeValue(when));
        bindCheck(q, r.pdfPages, r.pdf, when);
    }
    q.addBindValue(static_cast<int>(r.outcome));
    q.addBindValue(nonNull(WithoutCredentials(r.reason)));
    q.addBindValue(timeValue(when));
    bindLandingPage(q, r.declared, r.fileAddress, r.landingPage);
}

} // namespace

namespace {

// A download's end in the paper's history and its row for the window, in recordDownloads' transaction.
std::optional<QSqlQuery> recordEndRows(libraryrows::Writer &rows, const DownloadResult &r,
                                       const QDateTime &when, bool newFile)
{
    const QString address = WithoutCredentials(r.address);
    if (std::optional<QSqlQuery> failed = rows.recordEnd(address, r, when.toMSecsSinceEpoch()))
        return failed;
    return rows.update({address}, newFile);
}

} // namespace

bool PaperLibrary::recordDownloads(const QList<DownloadResult> &results)
{
    return writeTransaction([this, &results](QSqlDatabase &db) {
        QSqlQuery done(db);
        done.prepare(QStringLiteral(
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
            " doi_key = CASE WHEN excluded.doi_key <> '' THEN excluded.doi_key ELSE doi_key END"));
        // A failure, or an end without a file, is an attempt: the file of an earlier download stays on
        // record.
        QSqlQuery attempt(db);
        attempt.prepare(QStringLiteral("INSERT INTO papers (address, title, outcome, reason, attempted_at, "
                                       "declared_title, declared_cells,"
                                       " file_address, landing_page) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                       " ON CONFLICT (address) DO UPDATE SET"
                                       " title = CASE WHEN title = '' THEN excluded.title ELSE title END,"
                                       " outcome = excluded.outcome, reason = excluded.reason, attempted_at "
                                       "= excluded.attempted_at," DECLARED_UPDATE));
        libraryrows::Writer rows(db);
        for (const DownloadResult &r : results) {
            if (r.address.isEmpty())
                continue;
            const bool succeeded = r.outcome == DownloadOutcome::Done && !r.filePath.isEmpty();
            QSqlQuery &q = succeeded ? done : attempt;
            const QDateTime when = r.finishedAt.isValid() ? r.finishedAt : QDateTime::currentDateTimeUtc();
            bindDownload(q, r, succeeded, when);
            if (succeeded)
                q.addBindValue(nonNull(r.doiKey));
            if (!q.exec())
                return fail(q);
            if (const std::optional<QSqlQuery> failed = recordEndRows(rows, r, when, succeeded))
                return fail(*failed);
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
    r.metadata.title = q.value(1).toString();
    r.metadata.cells = CellsFromJson(q.value(2).toString());
    r.sourcePage = q.value(3).toString();
    r.seenAt = timeFrom(q.value(4));
    if (!q.value(5).isNull())
        r.held = HeldFile{r.address, q.value(5).toString(), q.value(6).toLongLong(), q.value(7).toString(),
                          timeFrom(q.value(8))};
    r.lastOutcome = static_cast<DownloadOutcome>(q.value(9).toInt());
    r.lastReason = q.value(10).toString();
    r.lastAttemptAt = timeFrom(q.value(11));
    PaperMetadata declared;
    declared.title = q.value(12).toString();
    declared.cells = CellsFromJson(q.value(13).toString());
    // A paper listed by its address alone carries the link's file name as its title: the title its own
    // page declares is the better one.
    if (!declared.title.isEmpty() && r.metadata.title == TrimSpaces(FileNameFromPath(r.address, true)))
        r.metadata.title.clear();
    r.metadata = MergedMetadata(r.metadata, declared);
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
    q.prepare(QStringLiteral("SELECT %1 FROM papers WHERE address = ?").arg(kRecordColumns));
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
                    .arg(kRecordColumns))) {
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
            " declared_title, declared_cells, file_address, landing_page)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QueueRow &r = rows.at(i);
            q.addBindValue(i);
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
            if (!q.exec())
                return fail(q);
        }
        return true;
    });
}

bool PaperLibrary::readQueueRows(QSqlQuery &q, QList<QueueRow> *rows)
{
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT address, name, type, folder, tag, state, total_bytes, received_bytes, note, given_name,"
            " given_folder, file_path, file_device, file_inode, file_size, file_modified, landing_page,"
            " file_address, declared_title, declared_cells FROM queue ORDER BY position")))
        return false;
    while (q.next()) {
        rows->append(QueueRow{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                              q.value(3).toString(), q.value(4).toString(), q.value(5).toInt(),
                              q.value(6).toLongLong(), q.value(7).toLongLong(), q.value(8).toString(),
                              q.value(9).toString(), q.value(10).toString(), q.value(11).toString(),
                              q.value(12).toLongLong(), q.value(13).toLongLong(), q.value(14).toLongLong(),
                              q.value(15).toLongLong(), q.value(16).toString(), q.value(17).toString(),
                              PaperMetadata{q.value(18).toString(), CellsFromJson(q.value(19).toString())}});
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
    return kRecordColumns;
}

// The door of the library's views and upkeep to its connection.
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

PaperRecord LibraryConnection::recordFrom(const QSqlQuery &query)
{
    return PaperLibrary::recordFrom(query);
}
