// Another program instance on a library file, for the tests:
//   fn_library_helper write PATH PREFIX COUNT   records COUNT papers, 25 to a transaction
//   fn_library_helper hold PATH MS              holds the write lock for MS milliseconds around one insert
// Prints "held" once the lock is taken, and "ok" or the error on the last line.
#include "core/library/paperlibrary.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <cstdio>

namespace {

int say(const QString &text, int code)
{
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
    return code;
}

int write(const QString &path, const QString &prefix, int count)
{
    PaperLibrary library(path);
    library.setBusyTimeoutMs(20000);
    if (const PaperLibrary::OpenResult r = library.open(); !r.ok)
        return say(r.message, 1);
    QList<SeenPaper> batch;
    for (int i = 0; i < count; ++i) {
        SeenPaper p;
        p.address = QStringLiteral("http://site/%1/%2.pdf").arg(prefix).arg(i);
        p.metadata.title = QStringLiteral("%1 论文 %2").arg(prefix).arg(i);
        p.metadata.cells = {{QStringLiteral("年份"), QString::number(2000 + i % 20)}};
        batch.append(p);
        if (batch.size() == 25 || i + 1 == count) {
            if (!library.recordSeen(batch))
                return say(library.lastError(), 1);
            batch.clear();
        }
    }
    return say(QStringLiteral("ok"), 0);
}

int hold(const QString &path, int ms)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("hold"));
        db.setDatabaseName(path);
        if (!db.open())
            return say(db.lastError().text(), 1);
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return say(q.lastError().text(), 1);
        if (!q.exec(QStringLiteral(
                "INSERT OR REPLACE INTO papers (address, title) VALUES ('http://site/held.pdf', 'held')")))
            return say(q.lastError().text(), 1);
        say(QStringLiteral("held"), 0);
        QThread::msleep(static_cast<unsigned long>(ms));
        if (!q.exec(QStringLiteral("COMMIT")))
            return say(q.lastError().text(), 1);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("hold"));
    return say(QStringLiteral("ok"), 0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args.at(1) == QStringLiteral("write"))
        return write(args.at(2), args.at(3), args.at(4).toInt());
    if (args.size() == 4 && args.at(1) == QStringLiteral("hold"))
        return hold(args.at(2), args.at(3).toInt());
    return say(QStringLiteral("usage: fn_library_helper write PATH PREFIX COUNT | hold PATH MS"), 2);
}
