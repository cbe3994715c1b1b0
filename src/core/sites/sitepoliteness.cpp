#include "core/sites/sitepoliteness.h"

#include <algorithm>

SitePoliteness::SitePoliteness(const SiteRulesCatalog &catalog)
    : m_user(sitesOf(catalog.user())), m_builtIn(sitesOf(catalog.builtIn()))
{
    for (const SiteRules &rules : catalog.given()) {
        m_given = m_given.stricter(rules.politeness);
        m_hasGiven = true;
    }
    const auto none = [](const QList<Site> &sites) {
        return std::none_of(sites.begin(), sites.end(), [](const Site &s) { return s.limits.any(); });
    };
    m_empty = !m_given.any() && none(m_user) && none(m_builtIn);
}

QList<SitePoliteness::Site> SitePoliteness::sitesOf(const QList<SiteRules> &rules)
{
    QList<Site> sites;
    for (const SiteRules &r : rules) {
        if (!r.hosts.isEmpty())
            sites.append(Site{r.hosts, r.politeness});
    }
    return sites;
}

SiteLimits SitePoliteness::limitsFor(const QUrl &address) const
{
    if (m_hasGiven)
        return m_given;
    SiteRules named;
    const QString host = address.host().toLower();
    if (host.isEmpty())
        return {};
    for (const QList<Site> *group : {&m_user, &m_builtIn}) {
        bool found = false;
        SiteLimits limits;
        for (const Site &site : *group) {
            named.hosts = site.hosts;
            if (named.namesHost(host)) {
                found = true;
                limits = limits.stricter(site.limits);
            }
        }
        if (found)
            return limits;
    }
    return {};
}
