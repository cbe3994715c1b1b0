#pragma once

#include <QSqlError>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QSqlDatabase;
class QSqlQuery;
struct sqlite3;
struct sqlite3_stmt;

// A statement of the library's hottest writes, compiled once on the library's connection and bound,
// run and read through SQLite itself: Qt's layer costs more per value than SQLite's work on it. Values
// are bound in order (as QSqlQuery::addBindValue does) and columns read by their index.
class SqliteStatement
{
public:
    SqliteStatement(sqlite3 *db, const QString &sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    // The next value. Texts are bound as Qt binds them (UTF-16, converted by SQLite); a null text is
    // bound as '' by addText and as NULL by addTextOrNull.
    void addText(const QString &text);
    void addTextOrNull(const QString &text);
    void addInt(qint64 value);
    void addNull();

    // Runs the statement to its next row: false at its end and when it failed (failure() says which).
    bool next();
    // Runs a statement that gives no rows, and makes it ready for the next values.
    std::optional<QSqlError> run();
    // Ends a run (no read is left open on the connection) and forgets the values bound.
    void finish();
    // Why it could not be compiled or the last run failed; nullopt when neither.
    std::optional<QSqlError> failure() const;

    bool isNull(int column) const;
    qint64 integer(int column) const;
    QString text(int column) const; // NULL reads as a null QString

private:
    void bindText(const QString &text);

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statement = nullptr;
    int m_code = 0;               // SQLite's code of the last failure, 0 when none
    int m_next = 1;               // the number of the next value
    std::vector<QString> m_texts; // the texts bound, kept until the run ends (SQLite reads them in place)
};

// The statements of one connection, each compiled the first time it is asked for and kept until this
// object goes, which must be before the connection closes. SQLite compiles a kept statement again by
// itself when the schema has changed since.
class SqliteStatements
{
public:
    explicit SqliteStatements(QSqlDatabase &db);
    ~SqliteStatements();
    SqliteStatements(const SqliteStatements &) = delete;
    SqliteStatements &operator=(const SqliteStatements &) = delete;

    SqliteStatement &statement(const QString &sql);

private:
    sqlite3 *m_db = nullptr;
    std::map<QString, std::unique_ptr<SqliteStatement>> m_statements;
};

// A query that holds nothing but this error, for callers that are handed failures as queries.
QSqlQuery failedQuery(const QSqlError &error);
