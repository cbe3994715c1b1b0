#pragma once

#include "core/settings/sharedoptions.h"
#include "core/sites/sitepoliteness.h"

#include <QString>

class PdfChecker;
class RowSources;

// An HTTP proxy for the single connection.
struct ProxySetting
{
    bool enabled = false;
    QString host;
    quint16 port = 80;
};

// What the download window's controls say, kept in step with them by the window; batch mode fills it
// from its command line. The one place the queue reads its options from.
struct SchedulerOptions
{
    DownloadMethod method = settingdefaults::Method;
    int threadCount = 1;      // the number shown in the thread-count list (1 to 6)
    int threadPosition = 0;   // its position in that list
    int parallelPosition = 0; // the parallel method's position while the single connection runs
    int intervalSeconds = 0;  // pause from one file's end to the next start
    DuplicatePolicy policy = settingdefaults::Policy;
    ProxySetting proxy;
    bool autoStart = false;                 // start when rows are not yet downloaded
    int retries = settingdefaults::Retries; // automatic retries of a transient failure
    quint32 jitterSeed = 0;                 // 0: a random spread of the retry pauses; tests fix it
    bool storePolicy = true;                // each tick keeps the duplicate-name option in the settings store
    bool namesFromLinks = false;            // rows are named after their links: a declared title renames none
    // Limits of each transfer (tests shorten them): an answer within the first, and no fewer than
    // stallMinBytes within each stall window.
    int headerTimeoutMs = 30000;
    int stallWindowMs = 60000;
    qint64 stallMinBytes = 1024;
    // Checks every finished PDF before it takes its name; made by whoever runs the queue (the program,
    // the batch run, a test) and living longer than it. None: files are not checked.
    PdfChecker *pdfChecker = nullptr;

    // The position the parallel method runs with, kept while the single connection is in force: the
    // one saved when the window closes.
    int parallelThreadPosition() const
    {
        return method == DownloadMethod::Single ? parallelPosition : threadPosition;
    }
    // The method in force from now on: the single connection runs one transfer, the parallel method as
    // many as the position given says.
    void putMethod(DownloadMethod inForce, int position)
    {
        parallelPosition = position;
        method = inForce;
        threadPosition = inForce == DownloadMethod::Single ? 0 : position;
        threadCount = threadPosition + 1;
    }
    // What the site rules ask of each site: a least interval between two requests and a most of
    // transfers at once, kept besides the interval and the thread count above.
    SitePoliteness sites;
    // The catalog the transfers judge answers by (the session's; the built-in files alone when none).
    const SiteRulesCatalog *siteRules = nullptr;
    // The other ways to a row's paper, asked when the row's address gave no file (none: the row ends
    // with its failure). Not owned: whoever sets it keeps it while the queue runs.
    RowSources *sources = nullptr;
};
