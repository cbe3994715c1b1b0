#pragma once

#include <QList>
#include <QString>

// The library table's columns the user has hidden, as the settings keep them: their numbers, separated
// by commas. Numbers out of range, repeated or unreadable are dropped; the title column never hides, so
// the table always shows something to find a paper by.
QList<int> hiddenColumnsFromText(const QString &text);
QString hiddenColumnsText(const QList<int> &columns);

QList<int> readHiddenLibraryColumns();
void writeHiddenLibraryColumns(const QList<int> &columns);
