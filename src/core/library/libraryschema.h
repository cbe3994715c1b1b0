#pragma once

#include <QSqlQuery>
#include <optional>

class QSqlDatabase;

// The library file's schema: the steps that bring a file of any earlier version up to date, and whose
// database a file is before anything is written to it.
namespace libraryschema {

// Whose database a file is, told from what it holds.
enum class Owner { Ours, OursUnmarked, Empty, Newer, Foreign };

// The statements of the step after version, and what completes them; the one that failed, if any.
std::optional<QSqlQuery> runStep(QSqlDatabase &db, int version);

// What marks a file as a library of this program: SQLite's application_id, and the user_version of the
// latest schema.
struct Mark
{
    int applicationId = 0;
    int version = 0;
};

// Reads only, in one read: another instance that makes the library meanwhile is seen before or after,
// never half-way (its first tables beside a mark not yet read would look like a stranger's). False when
// the file cannot be read (the query tells why).
bool readOwner(QSqlDatabase &db, QSqlQuery &q, const Mark &ours, Owner *owner);

} // namespace libraryschema
