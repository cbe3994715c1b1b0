#include "core/library/libraryconnection.h"

#include "core/library/paperlibrary.h"

#include <QSqlDatabase>

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
