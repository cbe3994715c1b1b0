#pragma once

#include <QString>
#include <QUrl>

class SiteRulesCatalog;

// The full text's address that a site's rules make of the address of one of its papers' own pages by a
// replacement (say "/doi/full/" into "/doi/pdf/"), for publishers whose pages name no full text. Empty
// when only the fallback rules are for the page, when none of their replacements matches its address,
// or when a replacement makes no other http(s) address of it.
QString FullTextByRules(const SiteRulesCatalog &catalog, const QUrl &page);
