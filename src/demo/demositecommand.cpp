#include "demo/demositecommand.h"

#include "core/common/stopsignals.h"
#include "demo/demosite.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <memory>

namespace {

const QString kLogin = QStringLiteral("demo-login");
const QString kLimit = QStringLiteral("demo-limit");
const QString kFlaky = QStringLiteral("demo-flaky");
const QString kVerify = QStringLiteral("demo-verify");
const QString kLayout = QStringLiteral("demo-layout");
const QString kLanding = QStringLiteral("demo-landing");
const QString kPaywall = QStringLiteral("demo-paywall");
const QString kPaperSize = QStringLiteral("demo-paper-size");
const QString kRate = QStringLiteral("demo-rate");

// The option's whole-number value within [low, high], or `unset` when the option is absent.
std::optional<int> number(const QCommandLineParser &parser, const QString &name, int low, int high, int unset,
                          QString *error)
{
    if (!parser.isSet(name))
        return unset;
    bool ok = false;
    const int value = parser.value(name).trimmed().toInt(&ok);
    if (ok && value >= low && value <= high)
        return value;
    *error = QStringLiteral("--%1 needs a whole number from %2 to %3, not \"%4\"")
                 .arg(name)
                 .arg(low)
                 .arg(high)
                 .arg(parser.value(name));
    return std::nullopt;
}

// The option's byte count within [low, high], or `unset` when the option is absent.
std::optional<qint64> byteCount(const QCommandLineParser &parser, const QString &name, qint64 low,
                                qint64 high, QString *error)
{
    if (!parser.isSet(name))
        return 0;
    const std::optional<qint64> value = readByteCount(parser.value(name));
    if (value && *value >= low && *value <= high)
        return value;
    *error = QStringLiteral("--%1 needs a size from %2 to %3 bytes (such as 2M or 512K), not \"%4\"")
                 .arg(name)
                 .arg(low)
                 .arg(high)
                 .arg(parser.value(name));
    return std::nullopt;
}

// Paper sizes above the error-page limit and below what a test disk holds; paces a client can see.
bool readPaperPace(const QCommandLineParser &parser, DemoSiteSwitches &switches, QString *error)
{
    const std::optional<qint64> size = byteCount(parser, kPaperSize, 8 * 1024, 4LL << 30, error);
    const std::optional<qint64> rate = size ? byteCount(parser, kRate, 1024, 1LL << 30, error) : std::nullopt;
    if (!rate)
        return false;
    switches.paperSize = *size;
    switches.paperRate = *rate;
    return true;
}

} // namespace

std::optional<qint64> readByteCount(const QString &text)
{
    QString t = text.trimmed().toUpper();
    if (t.endsWith(u'B'))
        t.chop(1);
    qint64 unit = 1;
    if (t.endsWith(u'K') || t.endsWith(u'M') || t.endsWith(u'G')) {
        unit = t.endsWith(u'K') ? 1024 : (t.endsWith(u'M') ? 1024 * 1024 : 1024LL * 1024 * 1024);
        t.chop(1);
    }
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || value < 0 || value > 1e15 || t.isEmpty() || !t.front().isDigit())
        return std::nullopt;
    return static_cast<qint64>(value * static_cast<double>(unit));
}

QList<QCommandLineOption> demoSiteOptions()
{
    return {
        QCommandLineOption(kLogin, QStringLiteral("The demo site serves papers only after its login.")),
        QCommandLineOption(kLimit,
                           QStringLiteral("The demo site answers 429 with Retry-After to more than N paper "
                                          "requests a minute."),
                           QStringLiteral("N")),
        QCommandLineOption(kFlaky,
                           QStringLiteral("The demo site drops P % of paper transfers mid-body (ranges and "
                                          "ETags let them resume)."),
                           QStringLiteral("P")),
        QCommandLineOption(kVerify,
                           QStringLiteral("After K papers the demo site answers paper links with a "
                                          "verification page until its form is submitted in the browser."),
                           QStringLiteral("K")),
        QCommandLineOption(kLayout,
                           QStringLiteral("Result pages of the demo site as \"tables\" (the default), as "
                                          "\"cards\" or as a definition list (\"defs\")."),
                           QStringLiteral("LAYOUT")),
        QCommandLineOption(kLanding,
                           QStringLiteral("Paper links of the demo site lead to the papers' own pages, "
                                          "which name the full text in the standard tags.")),
        QCommandLineOption(kPaywall,
                           QStringLiteral("With --demo-landing, the pages of papers 6 to 12 (of every 25) "
                                          "offer no full text that can be taken, as paywalled pages do.")),
        QCommandLineOption(kPaperSize,
                           QStringLiteral("The demo site's PDF papers are SIZE bytes each (such as 2M), so "
                                          "progress, speed and time left can be watched."),
                           QStringLiteral("SIZE")),
        QCommandLineOption(kRate,
                           QStringLiteral("The demo site sends each paper at RATE bytes a second (such as "
                                          "200K)."),
                           QStringLiteral("RATE")),
    };
}

std::optional<DemoSiteSwitches> readDemoSiteSwitches(const QCommandLineParser &parser, QString *error)
{
    DemoSiteSwitches switches;
    switches.requireLogin = parser.isSet(kLogin);
    switches.landingPages = parser.isSet(kLanding);
    switches.paywall = parser.isSet(kPaywall);
    const std::optional<int> limit = number(parser, kLimit, 1, 1000000, 0, error);
    const std::optional<int> flaky = limit ? number(parser, kFlaky, 0, 100, 0, error) : std::nullopt;
    const std::optional<int> verify =
        flaky ? number(parser, kVerify, 0, 1000000000, -1, error) : std::nullopt;
    if (!verify || !readPaperPace(parser, switches, error))
        return std::nullopt;
    const QString layout = parser.value(kLayout).trimmed();
    if (parser.isSet(kLayout) && layout != u"cards" && layout != u"tables" && layout != u"defs") {
        *error = QStringLiteral("--%1 is \"tables\", \"cards\" or \"defs\", not \"%2\"")
                     .arg(kLayout, parser.value(kLayout));
        return std::nullopt;
    }
    switches.cardsLayout = layout == u"cards";
    switches.defsLayout = layout == u"defs";
    switches.paperLimit = *limit;
    switches.flakyPercent = *flaky;
    switches.verifyAfter = *verify;
    return switches;
}

void applyDemoSiteSwitches(DemoSite &site, const DemoSiteSwitches &switches)
{
    site.login().setRequireLogin(switches.requireLogin);
    site.faults().setPaperLimit(switches.paperLimit);
    site.faults().setFlakyPercent(switches.flakyPercent);
    site.faults().setVerifyAfter(switches.verifyAfter);
    site.setCardsLayout(switches.cardsLayout);
    site.setDefsLayout(switches.defsLayout);
    site.catalog().setLandingPages(switches.landingPages);
    site.catalog().setPaywall(switches.paywall);
    site.catalog().setPaperSize(switches.paperSize);
    site.catalog().setPaperRate(switches.paperRate);
}

int runDemoSiteCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption site(QStringLiteral("demo-site"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("N"),
                                  QStringLiteral("0"));
    parser.addOptions({site, port});
    parser.addOptions(demoSiteOptions());
    QString error;
    std::optional<DemoSiteSwitches> switches;
    if (!parser.parse(arguments))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
    else
        switches = readDemoSiteSwitches(parser, &error);
    bool ok = false;
    const int portNumber = parser.value(port).toInt(&ok);
    if (switches && !ok)
        error = QStringLiteral("--port needs a number, not \"%1\"").arg(parser.value(port));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "Demo site: %s\n", qPrintable(error));
        return 2;
    }
    return runDemoSiteCommand(portNumber, *switches);
}

int runDemoSiteCommand(int port, const DemoSiteSwitches &switches)
{
    if (port < 0 || port > 65535) {
        std::fprintf(stderr, "Demo site: %d is not a port number (0 to 65535).\n", port);
        return 2;
    }
    static int argc = 1;
    static char name[] = "folionexus";
    static char *argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> ownApp;
    if (!QCoreApplication::instance())
        ownApp = std::make_unique<QCoreApplication>(argc, argv);

    DemoSite site;
    applyDemoSiteSwitches(site, switches);
    if (!site.listen(quint16(port))) {
        std::fprintf(stderr, "Demo site: cannot listen on 127.0.0.1:%d: %s\n", port,
                     qPrintable(site.errorString()));
        return 1;
    }
    const StopSignals stopSignals([](int) { QCoreApplication::quit(); });
    if (!stopSignals.ok()) {
        std::fprintf(stderr, "Demo site: cannot watch for stop signals.\n");
        return 1;
    }
    std::printf("Demo site: http://127.0.0.1:%u/\n", unsigned(site.port()));
    if (switches.cardsLayout)
        std::printf("Result pages in cards: %s\n", qPrintable(site.homeUrl().toString()));
    if (switches.defsLayout)
        std::printf("Result pages as a definition list: %s\n", qPrintable(site.homeUrl().toString()));
    std::fflush(stdout);
    QCoreApplication::exec();
    return 0;
}
