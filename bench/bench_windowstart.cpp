// Start-up of the download window on a long-used library: the window opens, asks whether the last list
// (10,000 rows) comes back, and shows it.
//   bench_windowstart DIR     DIR holds the library bench_library built (run that first with DIR).
#include "commonseams.h"
#include "core/library/paperlibrary.h"
#include "core/rows/downloadlistmodel.h"
#include "core/settings/sharedoptions.h"
#include "core/sites/siterules.h"
#include "ui/downloadwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

namespace {

// Seconds from the window's construction until it is shown with its list.
double openWindow(const RunObjects &run)
{
    QElapsedTimer timer;
    timer.start();
    auto *window = new fFileDownload(run);
    window->show();
    QCoreApplication::processEvents();
    const double seconds = timer.nsecsElapsed() / 1e9;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    delete window;
    return seconds;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_windowstart DIR (the folder bench_library built)\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/PaperLibrary.db");
    MessageSeam::replace([](const MessageRequest &) { return MessageAnswer::Yes; });
    OptionStore options;
    SiteRulesCatalog siteRules;
    RunObjects run{options, siteRules, nullptr};

    // Without a library first: the window's own cost (the browser of the login panel included).
    QList<double> bare;
    for (int round = 0; round < 3; ++round)
        bare.append(openWindow(run));

    PaperLibrary library(path);
    if (!library.open().ok || library.paperCount() < 100000) {
        std::fprintf(stderr, "no library of 100,000 papers at %s: run bench_library first\n",
                     qPrintable(path));
        return 1;
    }
    const QList<QueueRow> queue = library.loadQueue();
    run.library = &library;
    QList<double> restored;
    for (int round = 0; round < 3; ++round) {
        restored.append(openWindow(run));
        library.saveQueue(queue); // the window saved its list on the way out; the next round starts alike
    }
    std::printf("download window start-up without a library: %.3f s\n", median(bare));
    std::printf(
        "download window start-up, library of %lld papers, %lld-row list restored: %.3f s (goal < 0.5 s)\n",
        static_cast<long long>(library.paperCount()), static_cast<long long>(queue.size()), median(restored));
    return 0;
}
