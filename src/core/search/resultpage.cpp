#include "core/search/resultpage.h"

#include "core/common/filenames.h"
#include "core/search/candidatelistmodel.h"
#include "core/search/recipevalues.h"
#include "core/sites/siterules.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QVariantMap>
#include <optional>

namespace {
QString compiledScript(const QString &resource)
{
    QFile file(resource);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}
} // namespace

QString pageRulesScript(const SiteRules &rules)
{
    // The scripts (resources/scripts/pagerules.js, and pagerecipes.js for rules of format 2) are
    // compiled in; the rules go to them as one JSON value.
    const QByteArray arguments =
        QJsonDocument(QJsonArray{rules.pageArguments()}).toJson(QJsonDocument::Compact);
    static const QString script = compiledScript(QStringLiteral(":/scripts/pagerules.js"));
    static const QString recipes = compiledScript(QStringLiteral(":/scripts/pagerecipes.js"));
    return QStringLiteral("(%1)(%2[0], %3)")
        .arg(rules.format == SiteRules::LatestFormat ? recipes : script, QString::fromUtf8(arguments),
             QString::number(MaxPaperCells));
}

namespace {
// Header and text of every cell, tidied; cells without a header are left out.
PaperCells cellsFromScript(const QVariant &value)
{
    PaperCells cells;
    for (const QVariant &c : value.toList()) {
        const QVariantList pair = c.toList();
        if (pair.size() != 2)
            continue;
        const QString header = TidyCellText(pair.at(0).toString(), MaxHeaderLength);
        if (!header.isEmpty())
            cells.append(PaperCell{header, TidyCellText(pair.at(1).toString())});
        if (cells.size() >= MaxPaperCells)
            break;
    }
    return cells;
}

// A link as the script gives it: [text, address] or [text, address, cells]; none when it is not one.
std::optional<PageLink> linkFromScript(const QVariant &value)
{
    const QVariantList fields = value.toList();
    if (fields.size() < 2)
        return std::nullopt;
    return PageLink{fields.at(0).toString(), fields.at(1).toString(),
                    fields.size() >= 3 ? cellsFromScript(fields.at(2)) : PaperCells{}};
}

PageDiv divFromScript(const QVariantMap &entry)
{
    PageDiv div;
    div.className = entry.value(QStringLiteral("cls")).toString();
    div.tableCount = entry.value(QStringLiteral("tables")).toInt();
    for (const QVariant &l : entry.value(QStringLiteral("links")).toList()) {
        if (std::optional<PageLink> link = linkFromScript(l))
            div.tableLinks.append(std::move(*link));
    }
    return div;
}

} // namespace

QString clickAnchorScript(int anchorIndex)
{
    return QStringLiteral("(function () { var a = document.getElementsByTagName('A')[%1];"
                          " if (!a) return false; a.click(); return true; })()")
        .arg(anchorIndex);
}

PageSnapshot snapshotFromScriptResult(const QVariant &result, std::shared_ptr<const SiteRules> rules)
{
    const QVariantMap map = result.toMap();
    const bool byRecipes =
        rules && rules->format == SiteRules::LatestFormat && map.contains(QStringLiteral("recipes"));
    QVariantMap plain = map;
    if (byRecipes)
        plain.remove(QStringLiteral("items")); // read below, by the rules' recipes
    PageSnapshot page = snapshotFromScriptResult(byRecipes ? QVariant(plain) : result);
    page.rules = rules;
    if (byRecipes && page.valid)
        ReadRecipeItems(map.value(QStringLiteral("items")).toList(), *rules, page);
    return page;
}

QString paperKey(const PageSnapshot &page, const PageLink &link)
{
    if (link.text.isEmpty())
        return {};
    if (page.recipesRead)
        return link.fileAddress.isEmpty() ? link.address : link.fileAddress;
    return link.address.isEmpty() ? QString() : pageRules(page).fileAddress(link.address);
}

PageSnapshot snapshotFromScriptResult(const QVariant &result)
{
    PageSnapshot page;
    if (result.typeId() != QMetaType::QVariantMap)
        return page;
    const QVariantMap map = result.toMap();
    const bool byRules = map.contains(QStringLiteral("items")) || map.contains(QStringLiteral("recipes"));
    if ((!byRules && !map.contains(QStringLiteral("divs"))) || !map.contains(QStringLiteral("anchors")))
        return page;
    page.valid = true;
    page.documentAddress = map.value(QStringLiteral("url")).toString();
    if (byRules) {
        page.itemsRead = true;
        const QVariantList items = map.value(QStringLiteral("items")).toList();
        for (const QVariant &l : items) {
            if (std::optional<PageLink> link = linkFromScript(l))
                page.items.append(std::move(*link));
            if (page.items.size() >= SiteRules::MaxItems)
                break;
        }
    }
    bool ok = false;
    const int next = map.value(QStringLiteral("next"), -1).toInt(&ok);
    page.nextAnchor = ok ? next : -1;
    page.unmatched = map.value(QStringLiteral("unmatched")).toStringList();
    page.rejected = map.value(QStringLiteral("rejected")).toStringList();
    for (const QVariant &d : map.value(QStringLiteral("divs")).toList())
        page.divs.append(divFromScript(d.toMap()));
    for (const QVariant &a : map.value(QStringLiteral("anchors")).toList())
        page.anchorTexts.append(a.toString());
    return page;
}

int findListDiv(const PageSnapshot &page, const QString &listClass)
{
    const QString wanted = listClass.toLower();
    for (int i = 0; i < page.divs.size(); ++i) {
        if (page.divs.at(i).className.toLower() == wanted)
            return i;
    }
    return -1;
}

int findPaperListDiv(const PageSnapshot &page)
{
    return findListDiv(page, QStringLiteral("tablelist paperlist"));
}

const SiteRules &pageRules(const PageSnapshot &page)
{
    return page.rules ? *page.rules : builtInSiteRules();
}

QList<PageLink> paperLinks(const PageSnapshot &page)
{
    if (!page.rejected.isEmpty())
        return {};
    if (page.itemsRead)
        return page.items;
    const int found = findListDiv(page, pageRules(page).listClass);
    if (found < 0 || page.divs.at(found).tableCount != 1)
        return {};
    return page.divs.at(found).tableLinks;
}

QList<KeyedLink> distinctPapers(const PageSnapshot &page)
{
    QList<KeyedLink> papers;
    QSet<QString> seen;
    for (const PageLink &link : paperLinks(page)) {
        QString key = paperKey(page, link);
        if (key.isEmpty() || seen.contains(key))
            continue;
        seen.insert(key);
        papers.append({link, std::move(key)});
    }
    return papers;
}

int ExtractResultPage(const PageSnapshot &page, CandidateListModel &list, const QString &saveFolder)
{
    int added = 0;
    for (const PageLink &link : paperLinks(page)) {
        const QString file = paperKey(page, link);
        if (file.isEmpty())
            continue;
        if (list.加入LV1(link.text, file, page.documentAddress, QStringLiteral("pdf"), saveFolder,
                         link.cells))
            ++added;
    }
    return added;
}

int findNextPageLink(const QStringList &anchorTexts)
{
    return builtInSiteRules().nextLinkByText(anchorTexts);
}

int nextPageAnchor(const PageSnapshot &page)
{
    const SiteRules &rules = pageRules(page);
    switch (rules.next) {
    case SiteRules::NextRule::None:
        return -1;
    case SiteRules::NextRule::Text:
        return rules.nextLinkByText(page.anchorTexts);
    case SiteRules::NextRule::Selector:
    case SiteRules::NextRule::RelNext:
        return page.rejected.isEmpty() && page.nextAnchor < page.anchorTexts.size() ? page.nextAnchor : -1;
    }
    return -1;
}
