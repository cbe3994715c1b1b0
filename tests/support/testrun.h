#pragma once

#include "core/sites/siterules.h"
#include "testoptions.h"
#include "ui/runobjects.h"

namespace fntest {

// The site rules a test's windows are given: the built-in files and the test's user folder, read when
// first asked for.
inline SiteRulesCatalog &siteRules()
{
    static SiteRulesCatalog catalog = [] {
        SiteRulesCatalog c;
        c.loadUserFolder(SiteRulesCatalog::userFolder());
        return c;
    }();
    return catalog;
}

// What a test's windows are lent, as main() lends its own: the test's options and site rules, and the
// library a test sets (none unless it does).
inline RunObjects &runObjects()
{
    static RunObjects run{TestOptions::store(), siteRules(), nullptr};
    return run;
}

} // namespace fntest
