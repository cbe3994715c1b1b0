#include "core/search/recipevalues.h"

#include "core/library/papermetadata.h"
#include "core/search/pagesnapshot.h"
#include "core/sites/siterules.h"

#include <QUrl>

namespace {

constexpr int MaxValueLength = 2000;
constexpr int MaxAddressLength = 8192;

bool isHttp(const QString &address)
{
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

QString keptPart(const ValueRecipe &recipe, const QString &value)
{
    if (recipe.match.pattern().isEmpty())
        return value;
    const QRegularExpressionMatch m = recipe.match.match(value);
    if (!m.hasMatch())
        return {};
    return TidyCellText(recipe.match.captureCount() > 0 ? m.captured(1) : m.captured(0));
}

// The fields' cells: the values of each field's recipe, joined in the cell, one by one beside it when the
// recipe takes all of them.
PaperCells cellsOf(const SiteRules &rules, const QList<QStringList> &fieldValues)
{
    PaperCells cells;
    for (int f = 0; f < rules.fields.size() && cells.size() < MaxPaperCells; ++f) {
        const QStringList &values = fieldValues.at(f);
        if (values.isEmpty())
            continue;
        const ValueRecipe &recipe = rules.fields.at(f).recipe;
        cells.append(PaperCell{TidyCellText(rules.fields.at(f).name, MaxHeaderLength),
                               TidyCellText(values.join(recipe.join)), recipe.all ? values : QStringList()});
    }
    return cells;
}

} // namespace

QStringList RecipeValues(const ValueRecipe &recipe, const QStringList &raw)
{
    QStringList values;
    const int length = recipe.address ? MaxAddressLength : MaxValueLength;
    for (const QString &text : raw) {
        const QString value = keptPart(recipe, TidyCellText(text, length));
        if (value.isEmpty())
            continue;
        values.append(value);
        if (!recipe.all || values.size() >= SiteRules::MaxValues)
            break;
    }
    return values;
}

void ReadRecipeItems(const QVariantList &items, const SiteRules &rules, PageSnapshot &page)
{
    using Role = SiteRules::RecipeUse::Role;
    const QList<SiteRules::RecipeUse> recipes = rules.recipes();
    page.recipesRead = true;
    page.itemsRead = true;
    page.recipeHits = QList<int>(recipes.size(), 0);
    for (const QVariant &item : items) {
        const QVariantList raw = item.toList();
        PageLink link;
        QList<QStringList> fileValues(rules.fileSources.size());
        QList<QStringList> fieldValues(rules.fields.size());
        for (int r = 0; r < recipes.size(); ++r) {
            const QStringList values = RecipeValues(recipes.at(r).recipe, raw.value(r).toStringList());
            page.recipeHits[r] += values.isEmpty() ? 0 : 1;
            const QString first = values.value(0);
            switch (recipes.at(r).role) {
            case Role::Link:
                link.address = isHttp(first) ? first : QString();
                break;
            case Role::Title:
                link.text = first;
                break;
            case Role::File:
                fileValues[recipes.at(r).index] = values;
                break;
            case Role::Field:
                fieldValues[recipes.at(r).index] = values;
                break;
            }
        }
        link.fileAddress = rules.fileAddressFrom(link.address, fileValues);
        link.cells = cellsOf(rules, fieldValues);
        page.items.append(link);
        if (page.items.size() >= SiteRules::MaxItems)
            break;
    }
}
