#pragma once

#include "core/sites/siterules.h"

#include <QList>
#include <QUrl>

// How hard the site rules let each site be asked, by host: what a download queue keeps to besides its
// own pause and thread count. A value: it stays as it was made when the catalog changes later.
class SitePoliteness
{
public:
    SitePoliteness() = default;
    explicit SitePoliteness(const SiteRulesCatalog &catalog);

    // The limits for the address's host, chosen as the catalog chooses rules: those given for the run
    // (whatever the host), else those of the user's files that name the host, else those of the
    // built-in files that do; the strictest where several files of one kind name it.
    SiteLimits limitsFor(const QUrl &address) const;
    bool isEmpty() const { return m_empty; }

    bool operator==(const SitePoliteness &) const = default;

private:
    struct Site
    {
        QStringList hosts;
        SiteLimits limits;

        bool operator==(const Site &) const = default;
    };
    static QList<Site> sitesOf(const QList<SiteRules> &rules);

    SiteLimits m_given;
    bool m_hasGiven = false;
    QList<Site> m_user;
    QList<Site> m_builtIn;
    bool m_empty = true; // no rules ask for any limit
};
