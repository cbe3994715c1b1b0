#include "ui/library/librarycolumns.h"

#include "core/library/libraryview.h"
#include "core/settings/settingsstore.h"

#include <algorithm>

QList<int> hiddenColumnsFromText(const QString &text)
{
    QList<int> columns;
    for (const QString &part : text.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int column = part.trimmed().toInt(&ok);
        if (ok && column > static_cast<int>(LibraryColumn::Title) && column < kLibraryColumnCount &&
            !columns.contains(column))
            columns.append(column);
    }
    std::sort(columns.begin(), columns.end());
    return columns;
}

QString hiddenColumnsText(const QList<int> &columns)
{
    QStringList parts;
    for (const int column : columns)
        parts.append(QString::number(column));
    // Through the reader, so that what is written is what will be read back.
    QStringList kept;
    for (const int column : hiddenColumnsFromText(parts.join(u',')))
        kept.append(QString::number(column));
    return kept.join(u',');
}

QList<int> readHiddenLibraryColumns()
{
    return hiddenColumnsFromText(ReadSetting(settingkeys::LibraryHiddenColumns));
}

void writeHiddenLibraryColumns(const QList<int> &columns)
{
    WriteSetting(settingkeys::LibraryHiddenColumns, hiddenColumnsText(columns));
}
