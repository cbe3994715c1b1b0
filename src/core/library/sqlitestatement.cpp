#include "core/library/sqlitestatement.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlResult>
#include <QVariant>
#include <sqlite3.h>

namespace {

// An empty text is bound from here: SQLite takes a null pointer for NULL.
const char16_t kEmpty[1] = {0};

// Qt's driver hands out its connection as a QVariant holding the sqlite3 pointer.
sqlite3 *handleOf(QSqlDatabase &db)
{
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

// The same words for a failure as Qt's driver uses, so that the library tells it alike.
QSqlError errorOf(sqlite3 *db, int code, const char *what)
{
    const QString message = db ? QString::fromUtf16(static_cast<const char16_t *>(sqlite3_errmsg16(db)))
                               : QStringLiteral("no open connection");
    return QSqlError(QString::fromLatin1(what), message, QSqlError::StatementError, QString::number(code));
}

// Holds nothing but an error.
class FailedResult final : public QSqlResult
{
public:
    explicit FailedResult(const QSqlError &error) : QSqlResult(nullptr) { setLastError(error); }

protected:
    QVariant data(int) override { return {}; }
    bool isNull(int) override { return true; }
    bool reset(const QString &) override { return false; }
    bool fetch(int) override { return false; }
    bool fetchFirst() override { return false; }
    bool fetchLast() override { return false; }
    int size() override { return -1; }
    int numRowsAffected() override { return -1; }
};

} // namespace

SqliteStatement::SqliteStatement(sqlite3 *db, const QString &sql) : m_db(db)
{
    if (!m_db) {
        m_code = SQLITE_MISUSE;
        return;
    }
    const int code = sqlite3_prepare16_v3(m_db, sql.utf16(), int(sql.size() * sizeof(char16_t)),
                                          SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr);
    if (code != SQLITE_OK)
        m_code = code;
    else
        m_texts.resize(size_t(sqlite3_bind_parameter_count(m_statement)));
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

void SqliteStatement::bindText(const QString &text)
{
    const int i = m_next++;
    if (!m_statement || i > int(m_texts.size()))
        return;
    QString &kept = m_texts[size_t(i - 1)];
    kept = text;
    const void *chars = kept.isEmpty() ? static_cast<const void *>(kEmpty) : kept.constData();
    sqlite3_bind_text16(m_statement, i, chars, int(kept.size() * sizeof(char16_t)), SQLITE_STATIC);
}

void SqliteStatement::addText(const QString &text)
{
    bindText(text);
}

void SqliteStatement::addTextOrNull(const QString &text)
{
    if (text.isNull())
        addNull();
    else
        bindText(text);
}

void SqliteStatement::addInt(qint64 value)
{
    if (m_statement)
        sqlite3_bind_int64(m_statement, m_next, value);
    ++m_next;
}

void SqliteStatement::addNull()
{
    if (m_statement)
        sqlite3_bind_null(m_statement, m_next);
    ++m_next;
}

bool SqliteStatement::next()
{
    if (!m_statement)
        return false;
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    if (code != SQLITE_DONE)
        m_code = code;
    return false;
}

std::optional<QSqlError> SqliteStatement::run()
{
    m_code = m_statement ? 0 : m_code;
    while (next()) {
    }
    std::optional<QSqlError> failed = failure();
    finish();
    return failed;
}

void SqliteStatement::finish()
{
    m_next = 1;
    if (!m_statement)
        return;
    m_code = 0;
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
    for (QString &text : m_texts)
        text = QString();
}

std::optional<QSqlError> SqliteStatement::failure() const
{
    if (m_code == 0)
        return std::nullopt;
    return errorOf(m_db, m_code, m_statement ? "Unable to fetch row" : "Unable to execute statement");
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

qint64 SqliteStatement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QString SqliteStatement::text(int column) const
{
    const void *chars = sqlite3_column_text16(m_statement, column);
    if (!chars)
        return QString();
    return QString(static_cast<const QChar *>(chars), sqlite3_column_bytes16(m_statement, column) / 2);
}

SqliteStatements::SqliteStatements(QSqlDatabase &db) : m_db(handleOf(db)) {}

SqliteStatements::~SqliteStatements() = default;

SqliteStatement &SqliteStatements::statement(const QString &sql)
{
    std::unique_ptr<SqliteStatement> &kept = m_statements[sql];
    if (!kept)
        kept = std::make_unique<SqliteStatement>(m_db, sql);
    return *kept;
}

QSqlQuery failedQuery(const QSqlError &error)
{
    return QSqlQuery(new FailedResult(error));
}
