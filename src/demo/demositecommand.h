#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QStringList>
#include <optional>

class DemoSite;
class QCommandLineParser;

// How the demo site pushes back, as set on the command line.
struct DemoSiteSwitches
{
    bool requireLogin = false; // --demo-login
    int paperLimit = 0;        // --demo-limit N: paper requests a minute, 0 for no limit
    int flakyPercent = 0;      // --demo-flaky P: percentage of paper transfers dropped
    int verifyAfter = -1;      // --demo-verify K: papers before the verification page, -1 for never
    bool cardsLayout = false;  // --demo-layout cards: result pages as cards
    bool defsLayout = false;   // --demo-layout defs: result pages as a definition list
    bool landingPages = false; // --demo-landing: paper links lead to the papers' own pages
    bool paywall = false;      // --demo-paywall: some of those pages offer no full text to take
    qint64 paperSize = 0;      // --demo-paper-size SIZE: bytes of each PDF paper, 0 for their own sizes
    qint64 paperRate = 0;      // --demo-rate RATE: bytes a second each paper is sent at, 0 unpaced
};

// "2M", "512K", "1G", "6000" (K, M and G are 1024, 1024² and 1024³; a trailing B is allowed): the bytes;
// empty for anything else.
std::optional<qint64> readByteCount(const QString &text);

// --demo-login, --demo-limit N, --demo-flaky P, --demo-verify K, --demo-layout, --demo-landing,
// --demo-paywall, --demo-paper-size SIZE and --demo-rate RATE, for any command line that starts the
// demo site.
QList<QCommandLineOption> demoSiteOptions();
// The switches a parsed command line sets; empty, with the reason in *error, for a value out of range.
std::optional<DemoSiteSwitches> readDemoSiteSwitches(const QCommandLineParser &parser, QString *error);
void applyDemoSiteSwitches(DemoSite &site, const DemoSiteSwitches &switches);

// Serves the demo literature site on 127.0.0.1 at the port (a free one for 0) until SIGINT or
// SIGTERM, after printing "Demo site: http://127.0.0.1:PORT/". Uses the running application object
// or makes a QCoreApplication of its own. Returns the process exit code.
int runDemoSiteCommand(int port, const DemoSiteSwitches &switches = {});
// The same from the arguments of `folionexus --demo-site [--port N] [switches]` (the program's name
// first); a bad argument is reported on stderr and ends with exit code 2.
int runDemoSiteCommand(const QStringList &arguments);
