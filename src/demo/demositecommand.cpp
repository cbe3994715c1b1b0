#include "demo/demositecommand.h"

#include "common/stopsignals.h"
#include "demo/demosite.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

int runDemoSiteCommand(int port)
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
    std::fflush(stdout);
    QCoreApplication::exec();
    return 0;
}
