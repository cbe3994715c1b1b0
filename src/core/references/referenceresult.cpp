#include "core/references/referenceresult.h"

QString ListFailureText(ListFailure failure)
{
    switch (failure) {
    case ListFailure::None:
        break;
    case ListFailure::CannotOpen:
        return QStringLiteral("the file cannot be opened");
    case ListFailure::NotRegular:
        return QStringLiteral("it is not a regular file (a folder, a pipe or a device)");
    case ListFailure::TooLarge:
        return QStringLiteral("the file is larger than %1 MiB").arg(MaxReferenceListBytes >> 20);
    case ListFailure::ReadError:
        return QStringLiteral("the file could not be read to its end");
    case ListFailure::NoIdentifierColumn:
        return QStringLiteral("the CSV header names no doi, url or arxiv column");
    case ListFailure::NotJsonList:
        return QStringLiteral("the JSON is neither a list of items nor one item");
    }
    return QString();
}
