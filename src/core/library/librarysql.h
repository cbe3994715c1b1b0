#pragma once

#include "core/library/papermetadata.h"

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <functional>

class QSqlDatabase;
class QSqlQuery;

// The small pieces every part of the paper library reads and binds its values with.
namespace librarysql {

// The columns a paper's record is read from, first in a select.
QString recordColumns();

// A paper's metadata as its record holds it: its title and cells (JSON as stored) with what its own page
// declared merged in.
PaperMetadata recordMetadata(const QString &address, const QString &title, const QString &cells,
                             const QString &declaredTitle, const QString &declaredCells);

// Runs a statement that gives one number and finishes it; false when it failed.
bool readInt(QSqlQuery &q, const QString &sql, int *value);

// Times are kept as milliseconds since the epoch; no time is NULL.
QVariant timeValue(const QDateTime &time);
QDateTime timeFrom(const QVariant &value);
QVariant textOrNull(const QString &text);
// Text columns are NOT NULL: a null QString would bind as NULL.
QString nonNull(const QString &text);

QString uniqueConnectionName();
// Runs read on a read-only connection of its own to the file, opened on the calling thread and closed
// before returning, so that any thread may read while the library object is in use elsewhere; read does
// not run when the file cannot be opened.
void readOnOwnConnection(const QString &path, const std::function<void(QSqlDatabase &)> &read);

} // namespace librarysql
