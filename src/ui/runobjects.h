#pragma once

class OptionStore;
class PaperLibrary;
class SiteRulesCatalog;

// What the program makes once for a run and lends to the windows that use it: the options, the site
// rules the pages and the transfers are read by, and the paper library (nullptr when it is not open).
struct RunObjects
{
    OptionStore &options;
    SiteRulesCatalog &siteRules;
    PaperLibrary *library = nullptr;
};
