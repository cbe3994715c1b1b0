#pragma once

#include <QStringList>
#include <QVariantList>

struct PageSnapshot;
struct SiteRules;
struct ValueRecipe;

// The values a recipe keeps of the raw texts the page script read: each folded as a reader sees it
// (controls and runs of spaces become one space) and trimmed, cut down to what the recipe's pattern
// matches (its first group, else the whole match), dropped when nothing is left or the pattern does not
// match; only the first unless the recipe takes all.
QStringList RecipeValues(const ValueRecipe &recipe, const QStringList &raw);

// Takes the items a page script of format 2 read into the page: each item's title, link, file address and
// cells, and for each recipe the number of items it gave a value for. A link that is not an http(s)
// address is no link.
void ReadRecipeItems(const QVariantList &items, const SiteRules &rules, PageSnapshot &page);
