#include "core/search/pagecheck.h"

#include "core/common/safetext.h"
#include "core/search/resultpage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// A built-in file by its name alone: its resource path means nothing to the user.
QString shownFile(const SiteRules &rules)
{
    return rules.origin == SiteRules::Origin::BuiltIn ? rules.file.section(u'/', -1) : rules.file;
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

namespace {

// The papers of a page read by a site's rules of format 2, and the items that are none.
void checkRecipeItems(const PageSnapshot &page, int shown, PageCheck &check)
{
    const SiteRules &rules = pageRules(page);
    QSet<QString> seen;
    for (const PageLink &link : page.items) {
        ++check.itemCount;
        const QString key = paperKey(page, link);
        if (link.address.isEmpty() && link.fileAddress.isEmpty()) {
            ++check.linklessCount;
            continue;
        }
        if (key.isEmpty()) {
            ++check.untitledCount;
            continue;
        }
        if (seen.contains(key))
            continue;
        seen.insert(key);
        ++check.paperCount;
        const bool byLink = link.fileAddress.isEmpty();
        check.byLinkCount += byLink ? 1 : 0;
        if (shown < 0 || check.first.size() < shown)
            check.first.append(PageCheck::Paper{link.text, key, link.cells, link.address, byLink});
    }
    const QList<SiteRules::RecipeUse> recipes = rules.recipes();
    for (int r = 0; r < recipes.size(); ++r) {
        const int hits = page.recipeHits.value(r);
        check.recipes.append(
            PageCheck::RecipeCount{recipes.at(r).field, recipes.at(r).recipe.selector, hits});
        // An item without a link is told as such, not as a selector that found nothing.
        if (hits == 0 && check.itemCount > 0 && recipes.at(r).recipe.isSet() &&
            recipes.at(r).role != SiteRules::RecipeUse::Role::Link)
            check.unmatched.append(recipes.at(r).field);
    }
}

void checkLinks(const PageSnapshot &page, int shown, PageCheck &check)
{
    for (const KeyedLink &paper : distinctPapers(page)) {
        ++check.paperCount;
        if (shown < 0 || check.first.size() < shown)
            check.first.append(
                PageCheck::Paper{paper.link.text, paper.key, paper.link.cells, paper.link.address, false});
    }
}

} // namespace

PageCheck CheckResultPage(const PageSnapshot &page, int shown)
{
    const SiteRules &rules = pageRules(page);
    PageCheck check;
    check.readable = page.valid;
    check.pageAddress = page.documentAddress;
    check.rulesName = rules.name;
    check.rulesFile = rules.file;
    check.origin = rules.origin;
    check.format = rules.format;
    if (!page.valid)
        return check;
    QStringList unmatched = page.unmatched;
    if (page.recipesRead && page.rejected.isEmpty())
        checkRecipeItems(page, shown, check);
    else
        checkLinks(page, shown, check);
    unmatched += check.unmatched;
    check.nextFound = nextPageAnchor(page) >= 0;
    if (!page.itemsRead && page.rejected.isEmpty() && findListDiv(page, rules.listClass) < 0)
        unmatched.prepend(QStringLiteral("papers.listClass"));
    check.unmatched = withSelectors(unmatched, rules);
    check.rejected = withSelectors(page.rejected, rules);
    return check;
}

QString rulesSourceText(const SiteRules &rules)
{
    QString text = QStringLiteral("站点规则：%1\n来源：%2（%3）\n")
                       .arg(rules.name, originText(rules.origin), shownFile(rules));
    text += QStringLiteral("适用网站：%1")
                .arg(rules.hosts.isEmpty() ? QStringLiteral("（其他规则都不适用的网页）")
                                           : rules.hosts.join(QStringLiteral("、")));
    if (!rules.pathPrefix.isEmpty())
        text += QStringLiteral("，路径 %1").arg(rules.pathPrefix);
    return text + u'\n';
}

namespace {

QString paperText(int number, const PageCheck::Paper &paper)
{
    QString text = QStringLiteral("%1. %2\n   %3\n")
                       .arg(number)
                       .arg(ShowableText(paper.title), ShowableText(WithoutCredentials(paper.fileAddress)));
    if (paper.byLink)
        text += QStringLiteral("   （没有全文地址，下载时从论文网页找全文）\n");
    else if (!paper.link.isEmpty() && paper.link != paper.fileAddress)
        text += QStringLiteral("   论文链接：%1\n").arg(ShowableText(WithoutCredentials(paper.link)));
    for (const PaperCell &cell : paper.cells)
        text += QStringLiteral("   %1：%2\n").arg(ShowableText(cell.header), ShowableText(cell.text));
    return text;
}

QString itemCountsText(const PageCheck &check)
{
    QString text;
    if (check.byLinkCount > 0)
        text += QStringLiteral("其中没有全文地址、下载时从论文网页找全文：%1 篇\n").arg(check.byLinkCount);
    if (check.linklessCount > 0)
        text += QStringLiteral("没有链接的条目：%1 个\n").arg(check.linklessCount);
    if (check.untitledCount > 0)
        text += QStringLiteral("没有标题的条目：%1 个\n").arg(check.untitledCount);
    return text;
}

QString recipeCountsText(const PageCheck &check)
{
    if (check.recipes.isEmpty())
        return {};
    QString text = QStringLiteral("各项规则取到值的条目（共 %1 个条目）：\n").arg(check.itemCount);
    for (const PageCheck::RecipeCount &recipe : check.recipes) {
        const QString name = recipe.selector.isEmpty()
                                 ? recipe.field
                                 : QStringLiteral("%1 (%2)").arg(recipe.field, ShowableText(recipe.selector));
        text += QStringLiteral("   %1：%2\n").arg(name).arg(recipe.items);
    }
    return text;
}

} // namespace

QString pageCheckText(const PageCheck &check)
{
    QString text = QStringLiteral("网页：%1\n").arg(ShowableText(WithoutCredentials(check.pageAddress)));
    text += QStringLiteral("站点规则：%1（%2）\n").arg(check.rulesName, check.rulesFile);
    if (!check.readable)
        return text + QStringLiteral("无法读取网页内容。\n");
    for (const QString &field : check.rejected)
        text += QStringLiteral("浏览器不接受此选择器：%1（%2）\n").arg(field, check.rulesFile);
    text += QStringLiteral("找到论文：%1 篇\n").arg(check.paperCount);
    text += itemCountsText(check);
    for (int i = 0; i < check.first.size(); ++i)
        text += paperText(i + 1, check.first.at(i));
    if (check.paperCount > check.first.size())
        text += QStringLiteral("……另有 %1 篇未列出\n").arg(check.paperCount - check.first.size());
    text += check.nextFound ? QStringLiteral("下一页：找到\n") : QStringLiteral("下一页：未找到\n");
    text += recipeCountsText(check);
    for (const QString &field : check.unmatched)
        text += QStringLiteral("未匹配任何元素：%1\n").arg(field);
    return text;
}

namespace {

// A field's value: a list where the page gave several values one by one.
QJsonValue cellValue(const PaperCell &cell)
{
    if (cell.values.isEmpty())
        return cell.text;
    return QJsonArray::fromStringList(cell.values);
}

QJsonObject paperJson(const PageCheck::Paper &paper)
{
    QJsonObject fields;
    for (const PaperCell &cell : paper.cells) {
        if (!fields.contains(cell.header))
            fields.insert(cell.header, cellValue(cell));
    }
    const auto address = [](const QString &a) { return a.isEmpty() ? QJsonValue() : WithoutCredentials(a); };
    return QJsonObject{
        {QStringLiteral("title"), paper.title},
        {QStringLiteral("link"), address(paper.link)},
        {QStringLiteral("fileAddress"), paper.byLink ? QJsonValue() : address(paper.fileAddress)},
        {QStringLiteral("fields"), fields}};
}

// Unsafe controls in the JSON text (only inside its strings: the line breaks between its members are
// its own) written as escapes, which a JSON reader turns back into what the page had.
QByteArray escapedControls(const QString &json)
{
    QString out;
    out.reserve(json.size());
    for (QChar c : json) {
        if (c != u'\n' && IsUnsafeControl(c.unicode()))
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out.toUtf8();
}

} // namespace

QByteArray pageCheckJson(const PageCheck &check)
{
    QJsonArray papers;
    for (const PageCheck::Paper &paper : check.first)
        papers.append(paperJson(paper));
    QJsonArray recipes;
    for (const PageCheck::RecipeCount &recipe : check.recipes)
        recipes.append(QJsonObject{{QStringLiteral("field"), recipe.field},
                                   {QStringLiteral("selector"), recipe.selector},
                                   {QStringLiteral("items"), recipe.items}});
    const QJsonObject root{{QStringLiteral("page"), WithoutCredentials(check.pageAddress)},
                           {QStringLiteral("rules"), QJsonObject{{QStringLiteral("name"), check.rulesName},
                                                                 {QStringLiteral("file"), check.rulesFile},
                                                                 {QStringLiteral("format"), check.format}}},
                           {QStringLiteral("readable"), check.readable},
                           {QStringLiteral("paperCount"), check.paperCount},
                           {QStringLiteral("byLink"), check.byLinkCount},
                           {QStringLiteral("noLink"), check.linklessCount},
                           {QStringLiteral("noTitle"), check.untitledCount},
                           {QStringLiteral("items"), check.itemCount},
                           {QStringLiteral("papers"), papers},
                           {QStringLiteral("nextPage"), check.nextFound},
                           {QStringLiteral("recipes"), recipes},
                           {QStringLiteral("unmatched"), QJsonArray::fromStringList(check.unmatched)},
                           {QStringLiteral("rejected"), QJsonArray::fromStringList(check.rejected)}};
    return escapedControls(QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented)));
}
