#include "core/search/pagecheck.h"

#include "core/common/safetext.h"
#include "core/search/resultpage.h"

#include <QSet>

namespace {

QStringList withSelectors(const QStringList &fields, const SiteRules &rules)
{
    QStringList out;
    for (const QString &field : fields) {
        const QString selector = rules.selectorOf(field);
        out.append(selector.isEmpty() ? field : QStringLiteral("%1 (%2)").arg(field, selector));
    }
    return out;
}

QString originText(SiteRules::Origin origin)
{
    switch (origin) {
    case SiteRules::Origin::BuiltIn:
        return QStringLiteral("内置");
    case SiteRules::Origin::UserFolder:
        return QStringLiteral("用户规则文件夹");
    case SiteRules::Origin::GivenFile:
        return QStringLiteral("命令行指定");
    }
    return {};
}

} // namespace

PageCheck CheckResultPage(const PageSnapshot &page)
{
    const SiteRules &rules = pageRules(page);
    PageCheck check;
    check.readable = page.valid;
    check.pageAddress = page.documentAddress;
    check.rulesName = rules.name;
    check.rulesFile = rules.file;
    check.origin = rules.origin;
    if (!page.valid)
        return check;
    QSet<QString> seen;
    for (const PageLink &link : paperLinks(page)) {
        const QString file = link.text.isEmpty() ? QString() : rules.fileAddress(link.address);
        if (file.isEmpty() || seen.contains(file))
            continue;
        seen.insert(file);
        ++check.paperCount;
        if (check.first.size() < PageCheck::FirstShown)
            check.first.append(PageCheck::Paper{link.text, file, link.cells});
    }
    check.nextFound = nextPageAnchor(page) >= 0;
    QStringList unmatched = page.unmatched;
    if (!page.itemsRead && page.rejected.isEmpty() && findListDiv(page, rules.listClass) < 0)
        unmatched.prepend(QStringLiteral("papers.listClass"));
    check.unmatched = withSelectors(unmatched, rules);
    check.rejected = withSelectors(page.rejected, rules);
    return check;
}

QString rulesSourceText(const SiteRules &rules)
{
    QString text = QStringLiteral("站点规则：%1\n来源：%2（%3）\n")
                       .arg(rules.name, originText(rules.origin), rules.file);
    text += QStringLiteral("适用网站：%1")
                .arg(rules.hosts.isEmpty() ? QStringLiteral("（其他规则都不适用的网页）")
                                           : rules.hosts.join(QStringLiteral("、")));
    if (!rules.pathPrefix.isEmpty())
        text += QStringLiteral("，路径 %1").arg(rules.pathPrefix);
    return text + u'\n';
}

QString pageCheckText(const PageCheck &check)
{
    QString text = QStringLiteral("网页：%1\n").arg(ShowableText(WithoutCredentials(check.pageAddress)));
    text += QStringLiteral("站点规则：%1（%2）\n").arg(check.rulesName, check.rulesFile);
    if (!check.readable)
        return text + QStringLiteral("无法读取网页内容。\n");
    for (const QString &field : check.rejected)
        text += QStringLiteral("浏览器不接受此选择器：%1（%2）\n").arg(field, check.rulesFile);
    text += QStringLiteral("找到论文：%1 篇\n").arg(check.paperCount);
    for (int i = 0; i < check.first.size(); ++i) {
        const PageCheck::Paper &paper = check.first.at(i);
        text += QStringLiteral("%1. %2\n   %3\n")
                    .arg(i + 1)
                    .arg(ShowableText(paper.title), ShowableText(WithoutCredentials(paper.fileAddress)));
        for (const PaperCell &cell : paper.cells)
            text += QStringLiteral("   %1：%2\n").arg(ShowableText(cell.header), ShowableText(cell.text));
    }
    text += check.nextFound ? QStringLiteral("下一页：找到\n") : QStringLiteral("下一页：未找到\n");
    for (const QString &field : check.unmatched)
        text += QStringLiteral("未匹配任何元素：%1\n").arg(field);
    return text;
}
