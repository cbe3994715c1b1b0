#include "core/sites/pagefulltext.h"

#include "core/sites/siterules.h"

#include <QRegularExpression>

namespace {

bool isFetchable(const QUrl &address)
{
    const QString scheme = address.scheme().toLower();
    return address.isValid() && (scheme == u"http" || scheme == u"https") && !address.host().isEmpty();
}

// Only a replacement whose pattern matches the address makes another of it: a suffix would make an
// address of every page of the site, the paper's or not.
QString replaced(const QString &address, const QRegularExpression &pattern, const QString &replacement)
{
    if (!pattern.isValid() || pattern.pattern().isEmpty() || !pattern.match(address).hasMatch())
        return {};
    const QString out = QString(address).replace(pattern, replacement);
    return out != address && isFetchable(QUrl(out)) ? out : QString();
}

} // namespace

QString FullTextByRules(const SiteRulesCatalog &catalog, const QUrl &page)
{
    if (!isFetchable(page))
        return {};
    const SiteRules &rules = catalog.pick(page);
    if (!rules.appliesTo(page))
        return {};
    const QString address = page.toString(QUrl::FullyEncoded);
    if (rules.address == SiteRules::AddressRule::Replace) {
        if (const QString out = replaced(address, rules.pattern, rules.replacement); !out.isEmpty())
            return out;
    }
    for (const SiteRules::FileSource &source : rules.fileSources) {
        if (source.kind != SiteRules::FileSource::Kind::Replace)
            continue;
        if (const QString out = replaced(address, source.pattern, source.replacement); !out.isEmpty())
            return out;
    }
    return {};
}
