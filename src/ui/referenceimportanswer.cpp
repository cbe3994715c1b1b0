#include "ui/referenceimportanswer.h"

#include "core/common/safetext.h"
#include "core/references/findertemplate.h"

namespace {

// What is shown of the value or the reader's words behind a refusal.
constexpr int DetailShown = 200;

QString problemText(EntryProblem problem)
{
    switch (problem) {
    case EntryProblem::None:
        break;
    case EntryProblem::NothingUsable:
        return QStringLiteral("没有 DOI、arXiv 编号或网址");
    case EntryProblem::NotADoi:
        return QStringLiteral("DOI 无效");
    case EntryProblem::NotAnArxivId:
        return QStringLiteral("arXiv 编号无效");
    case EntryProblem::CannotParse:
        return QStringLiteral("无法解析");
    case EntryProblem::TooManyFields:
        return QStringLiteral("以制表符分隔的字段超过三个");
    case EntryProblem::BadSourcePage:
        return QStringLiteral("来源网页不是 http 或 https 网址");
    case EntryProblem::LineTooLong:
        return QStringLiteral("行太长");
    case EntryProblem::TooManyEntries:
        return QStringLiteral("列表条目超过一次可导入的数目，其后的条目没有导入");
    }
    return QString();
}

QString failureText(ListFailure failure)
{
    switch (failure) {
    case ListFailure::None:
        break;
    case ListFailure::CannotOpen:
        return QStringLiteral("文件不存在或无法打开");
    case ListFailure::NotRegular:
        return QStringLiteral("不是普通文件（文件夹、管道或设备）");
    case ListFailure::TooLarge:
        return QStringLiteral("文件超过 %1 MB").arg(MaxReferenceListBytes >> 20);
    case ListFailure::ReadError:
        return QStringLiteral("文件没能读完");
    case ListFailure::NoIdentifierColumn:
        return QStringLiteral("CSV 表头中没有 doi、url 或 arxiv 列");
    case ListFailure::NotJsonList:
        return QStringLiteral("JSON 内容既不是条目列表也不是单个条目");
    }
    return QString();
}

QString formatText(ReferenceFormat format)
{
    switch (format) {
    case ReferenceFormat::Lines:
        return QStringLiteral("文本行");
    case ReferenceFormat::Unknown:
        return QStringLiteral("文献");
    default:
        return ReferenceFormatName(format);
    }
}

} // namespace

QString RefusedEntryLine(const ReferenceEntry &entry)
{
    QString text = QStringLiteral("第 %1 行：%2").arg(entry.line()).arg(problemText(entry.problem()));
    if (const QString detail = ShowableText(entry.detail().left(DetailShown)).trimmed(); !detail.isEmpty())
        text += QStringLiteral("（%1）").arg(detail);
    return text;
}

QString ReferenceImportText(const ReferenceImportTally &tally)
{
    QString text =
        QStringLiteral("已从%1列表导入 %2 篇文献。").arg(formatText(tally.format)).arg(tally.added);
    if (tally.alreadyListed > 0)
        text += QStringLiteral("另有 %1 篇已在下载列表中。").arg(tally.alreadyListed);
    if (tally.merged > 0)
        text += QStringLiteral("列表中重复列出的 %1 条只导入了一次。").arg(tally.merged);
    if (tally.noWay > 0)
        text += QStringLiteral("另有 %1 篇没有可用的下载途径。").arg(tally.noWay);
    if (tally.resolverRefused)
        text += QStringLiteral("\n设置中的 DOI 解析地址无效，已改用 %1。").arg(DefaultDoiResolverTemplate);
    if (tally.findersRefused)
        text += QStringLiteral("\nfinders.json 无法使用，本次没有询问任何查找服务。");
    if (tally.refused.isEmpty())
        return text;
    text += QStringLiteral("\n以下 %1 条没有导入：").arg(tally.refused.size());
    for (qsizetype i = 0; i < tally.refused.size() && i < RefusedEntriesShown; ++i)
        text += u'\n' + RefusedEntryLine(tally.refused.at(i));
    if (tally.refused.size() > RefusedEntriesShown)
        text +=
            QStringLiteral("\n……还有 %1 条，详见详细信息。").arg(tally.refused.size() - RefusedEntriesShown);
    return text;
}

QString ReferenceImportDetails(const ReferenceImportTally &tally)
{
    if (tally.refused.size() <= RefusedEntriesShown)
        return QString();
    QStringList lines;
    lines.reserve(tally.refused.size());
    for (const ReferenceEntry &entry : tally.refused)
        lines.append(RefusedEntryLine(entry));
    return lines.join(u'\n');
}

QString ReferenceListFailureText(const ReferenceList &list)
{
    QString text = QStringLiteral("无法读取文献列表：") + failureText(list.failure);
    if (const QString detail = ShowableText(list.failureDetail.left(DetailShown)).trimmed();
        !detail.isEmpty())
        text += QStringLiteral("（%1）").arg(detail);
    return text;
}
