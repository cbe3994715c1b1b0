#pragma once

#include <QSet>
#include <QString>

class CandidateListModel;

enum class RemovalRule { Selected, Succeeded, TitleContains, TitleLacks };

// Removes the rows the rule picks; text is the given text of the two title rules, selectedKeys the keys
// of the selected rows. Returns the number of rows removed.
int RemoveCandidates(CandidateListModel &list, RemovalRule rule, const QString &text = {},
                     const QSet<QString> &selectedKeys = {});
