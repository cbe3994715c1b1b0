#pragma once

#include <functional>
#include <memory>
#include <optional>

class BatchPage;
class QCoreApplication;
class SiteRulesCatalog;
struct BatchOptions;

// What a program with the browser engine lends the batch mode for the runs that load pages.
struct BatchBrowser
{
    // The application of such a run (the browser needs a GUI application, drawn off screen).
    std::function<std::unique_ptr<QCoreApplication>(int &argc, char **argv)> makeApplication;
    // --check-rules: loads the page, prints what the rules find and returns the exit status.
    std::function<int(const BatchOptions &options, const SiteRulesCatalog &rules)> checkRules;
    // The page a run loads its start page in, reading result pages by the rules.
    std::function<BatchPage *(const SiteRulesCatalog *rules)> makePage;
};

// "folionexus --batch ...": downloads the papers of a result page without a window. Parses the
// arguments, runs the browser headless and returns the process exit status (0 every file done,
// 2 some failed, 1 bad arguments or start page not loaded, 128 + signal when interrupted). Without a
// browser, a run that needs one (a start page, a check of site rules) returns nothing and has done
// nothing.
std::optional<int> runBatchCommand(int argc, char **argv, const BatchBrowser *browser = nullptr);
