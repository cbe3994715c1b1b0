#include "core/library/librarysql.h"

#include "core/common/filenames.h"
#include "core/library/landingpage.h"

#include <QAtomicInteger>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace librarysql {

QString recordColumns()
{
    return QStringLiteral(
        "address, title, cells, source_page, seen_at, file_path, file_size, "
        "sha256, downloaded_at, outcome, reason, attempted_at, declared_title, declared_cells, "
        "file_address, landing_page");
}

PaperMetadata recordMetadata(const QString &address, const QString &title, const QString &cells,
                             const QString &declaredTitle, const QString &declaredCells)
{
    PaperMetadata metadata{title, CellsFromJson(cells)};
    PaperMetadata declared{declaredTitle, CellsFromJson(declaredCells)};
    // A paper listed by its address alone carries the link's file name as its title: the title its own
    // page declares is the better one.
    if (!declared.title.isEmpty() && metadata.title == TrimSpaces(FileNameFromPath(address, true)))
        metadata.title.clear();
    return MergedMetadata(metadata, declared);
}

bool readInt(QSqlQuery &q, const QString &sql, int *value)
{
    if (!q.exec(sql) || !q.next())
        return false;
    *value = q.value(0).toInt();
    q.finish();
    return true;
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

QString nonNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("fn-paper-library-%1").arg(++counter);
}

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

} // namespace librarysql
