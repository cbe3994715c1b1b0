#include "core/search/candidateremoval.h"

#include "core/search/candidatelistmodel.h"

int RemoveCandidates(CandidateListModel &list, RemovalRule rule, const QString &text,
                     const QSet<QString> &selectedKeys)
{
    return list.removeRowsIf([&](int, const CandidateRow &row) {
        switch (rule) {
        case RemovalRule::Selected:
            return selectedKeys.contains(row.key);
        case RemovalRule::Succeeded:
            return row.status == candidatetext::Succeeded;
        case RemovalRule::TitleContains:
            return row.title.contains(text, Qt::CaseInsensitive);
        case RemovalRule::TitleLacks:
            return !row.title.contains(text, Qt::CaseInsensitive);
        }
        return false;
    });
}
