#include "core/search/linkimporting.h"

#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/search/candidatelistmodel.h"

namespace {
// Lines listed by number in one message; the rest are counted.
constexpr int MaxReportedLines = 20;

QString titleFromLink(const QString &address)
{
    const QString shown = WithoutCredentials(address);
    const QString name = TrimSpaces(FileNameFromPath(shown, true));
    return name.isEmpty() ? shown : name;
}
} // namespace

LinkImportOutcome AddImportedLinks(const LinkImport &import, CandidateListModel &list,
                                   const QString &saveFolder)
{
    LinkImportOutcome outcome;
    outcome.problems = import.problems;
    outcome.error = import.error;
    for (const ImportedLink &link : import.links) {
        const QString title = link.title.isEmpty() ? titleFromLink(link.address) : link.title;
        if (list.加入LV1(title, link.address, link.sourcePage, QStringLiteral("pdf"), saveFolder))
            ++outcome.added;
        else
            ++outcome.alreadyListed;
    }
    return outcome;
}

QString linkImportReport(const LinkImportOutcome &outcome)
{
    if (!outcome.error.isEmpty())
        return outcome.error;
    QString text = QStringLiteral("已导入 %1 条链接。").arg(outcome.added);
    if (outcome.alreadyListed > 0)
        text += QStringLiteral("另有 %1 条已在列表中。").arg(outcome.alreadyListed);
    if (outcome.problems.isEmpty())
        return text;
    text += QStringLiteral("\n以下 %1 行没有导入：").arg(outcome.problems.size());
    for (qsizetype i = 0; i < outcome.problems.size() && i < MaxReportedLines; ++i)
        text += u'\n' + outcome.problems.at(i).text();
    if (outcome.problems.size() > MaxReportedLines)
        text += QStringLiteral("\n……还有 %1 行").arg(outcome.problems.size() - MaxReportedLines);
    return text;
}
