// Measures the download engines against figures the script compares with curl on the same files.
//   bench_download single URL DIR            seconds for one file over one connection
//   bench_download slots DIR URL...          seconds for all files on parallel slots
//   bench_download rss URL DIR               peak resident growth (KiB) while one file downloads
//   bench_download tick ROWS DIR             seconds of one scheduler tick over existing files (skip), once
//                                            the folder's names are in
//   bench_download housekeeping ROWS         seconds of one housekeeping tick
//   bench_download lateness DIR URL...       worst lateness (ms) of a 10 ms timer while the files download
//                                            on six slots over a list of 10,000 rows; on stderr the longest
//                                            stall of the event loop and where it was meanwhile
//   bench_download network LIST N            seconds to fetch the addresses in the file LIST, N at a time,
//                                            through the transfers' own network set-up with nothing else:
//                                            no rows, no files, the bodies read and dropped
//   bench_download pdfs DIR PREFIX COUNT BYTES  writes COUNT whole one-page PDFs of BYTES bytes each,
//                                            DIR/PREFIX1.pdf to DIR/PREFIXCOUNT.pdf, the small papers of
//                                            the runs
#include "core/common/clock.h"
#include "core/rows/downloadlistmodel.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "core/transfer/transfernetwork.h"
#include "demo/minipdf.h"
#include "stallsampler.h"
#include "testrows.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <cstdio>

namespace {

long peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

DownloadRow rowFor(const QString &url, const QString &dir, int i)
{
    DownloadRow row;
    row.key = url;
    row.name = QStringLiteral("bench%1").arg(i);
    row.type = QStringLiteral("bin");
    row.folder = dir + u'/';
    return row;
}

double runDownloads(const QStringList &urls, const QString &dir, int method)
{
    DownloadListModel model;
    DownloadScheduler scheduler(TestRows::of(model));
    scheduler.options().method = methodFromNumber(method);
    scheduler.options().threadCount = static_cast<int>(std::min<qsizetype>(urls.size(), 6));
    scheduler.options().policy = DuplicatePolicy::Overwrite;
    for (int i = 0; i < urls.size(); ++i)
        TestRows::of(model).addRow(rowFor(urls.at(i), dir, i));
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QObject::connect(&scheduler, &DownloadScheduler::queueFinished, &loop, &QEventLoop::quit);
    scheduler.start();
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    for (int i = 0; i < model.count(); ++i) {
        if (model.row(i).state != RowState::Done) {
            std::fprintf(stderr, "row %d failed\n", i);
            return -1;
        }
    }
    return seconds;
}

// The worst lateness of a 10 ms timer on this thread while six slots download at full speed in a list
// of 10,000 rows (the others finished).
double timerLateness(const QStringList &urls, const QString &dir)
{
    DownloadListModel model;
    for (int i = 0; model.count() < 10000 - urls.size(); ++i) {
        DownloadRow row = rowFor(QStringLiteral("http://127.0.0.1:1/done%1").arg(i), dir, i);
        row.state = RowState::Done;
        TestRows::of(model).addRow(row);
    }
    for (int i = 0; i < urls.size(); ++i)
        TestRows::of(model).addRow(rowFor(urls.at(i), dir, 100000 + i));
    DownloadScheduler scheduler(TestRows::of(model));
    scheduler.options().method = DownloadMethod::Parallel;
    scheduler.options().threadCount = 6;
    scheduler.options().policy = DuplicatePolicy::Overwrite;
    scheduler.housekeeping()->setOn(true);
    QElapsedTimer clock;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    qint64 last = -1;
    qint64 worst = 0;
    StallSampler sampler(25);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        sampler.beat();
        const qint64 now = clock.elapsed();
        if (last >= 0)
            worst = std::max(worst, now - last - 10);
        last = now;
    });
    QEventLoop loop;
    QObject::connect(&scheduler, &DownloadScheduler::queueFinished, &loop, &QEventLoop::quit);
    clock.start();
    ticker.start();
    scheduler.start();
    loop.exec();
    const StallSampler::Stall stall = sampler.longest();
    std::fprintf(stderr, "longest stall %lld ms (%d samples):", static_cast<long long>(stall.ms),
                 stall.samples);
    for (const QString &frame : stall.frames)
        std::fprintf(stderr, " | %s", qPrintable(frame));
    std::fprintf(stderr, "\n");
    return model.totals().done == model.count() ? double(worst) : -1;
}

// What the network layer alone takes for the addresses, parallel at a time: the floor under the engines.
double networkOnly(const QString &listFile, int parallel)
{
    QFile list(listFile);
    if (!list.open(QIODevice::ReadOnly))
        return -1;
    QList<QUrl> urls;
    for (const QByteArray &line : list.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            urls.append(QUrl(QString::fromUtf8(line.trimmed())));
    }
    QObject owner;
    SchedulerOptions options;
    TransferNetwork network(options, &owner);
    qsizetype next = 0;
    int running = 0;
    bool failed = false;
    QEventLoop loop;
    std::function<void()> startMore = [&] {
        while (running < parallel && next < urls.size()) {
            // As the slots do: slot k (1 to 6) goes out through its own manager.
            const int slot = static_cast<int>(next % parallel) + 1;
            QNetworkReply *reply =
                network.manager(parallel == 1, slot)->get(QNetworkRequest(urls.at(next++)));
            ++running;
            QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply] { reply->readAll(); });
            QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply] {
                failed = failed || reply->error() != QNetworkReply::NoError;
                reply->deleteLater();
                --running;
                startMore();
                if (running == 0)
                    loop.quit();
            });
        }
    };
    QElapsedTimer timer;
    timer.start();
    startMore();
    if (running > 0)
        loop.exec();
    return failed ? -1 : timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    QTextStream out(stdout);
    if (mode == u"single" && args.size() == 3) {
        out << runDownloads({args.at(1)}, args.at(2), 1) << Qt::endl;
    } else if (mode == u"slots" && args.size() >= 3) {
        out << runDownloads(args.mid(2), args.at(1), 2) << Qt::endl;
    } else if (mode == u"lateness" && args.size() >= 3) {
        out << timerLateness(args.mid(2), args.at(1)) << Qt::endl;
    } else if (mode == u"network" && args.size() == 3) {
        out << networkOnly(args.at(1), std::max(1, args.at(2).toInt())) << Qt::endl;
    } else if (mode == u"pdfs" && args.size() == 5) {
        // Papers a reader opens, as the check judges them: a random line each, padded to the size.
        for (int i = 1; i <= args.at(3).toInt(); ++i) {
            const QStringList lines{QStringLiteral("Paper %1").arg(i),
                                    QString::number(QRandomGenerator::global()->generate64(), 16)};
            QFile file(args.at(1) + u'/' + args.at(2) + QString::number(i) + QStringLiteral(".pdf"));
            if (!file.open(QIODevice::WriteOnly) ||
                file.write(MiniPdf(lines, args.at(4).toLongLong()).bytes()) < 0)
                return 1;
        }
    } else if (mode == u"rss" && args.size() == 3) {
        const long before = peakRssKiB();
        if (runDownloads({args.at(1)}, args.at(2), 2) < 0)
            return 1;
        out << (peakRssKiB() - before) << Qt::endl;
    } else if ((mode == u"tick" && args.size() == 3) || (mode == u"housekeeping" && args.size() == 2)) {
        const int rows = args.at(1).toInt();
        DownloadListModel model;
        for (int i = 0; i < rows; ++i) {
            DownloadRow row = rowFor(QStringLiteral("http://127.0.0.1:1/%1").arg(i), args.value(2), i);
            if (mode == u"tick")
                QFile(row.folder + row.name + ".bin").open(QIODevice::WriteOnly);
            else
                row.state = i % 2 ? RowState::Done : RowState::Failed;
            TestRows::of(model).addRow(row);
        }
        DownloadScheduler scheduler(TestRows::of(model));
        scheduler.options().method = DownloadMethod::Parallel;
        scheduler.options().policy = DuplicatePolicy::Skip;
        scheduler.options().threadCount = 6;
        scheduler.options().autoStart = true;
        QElapsedTimer timer;
        if (mode == u"tick") {
            // The folder is listed, and the names the rows would skip on looked at, on a worker: the
            // ticks that ask for them are not timed, the one that takes the answers is.
            QElapsedTimer wall;
            wall.start();
            for (int ask = 0; ask < 2; ++ask) {
                scheduler.tickScheduler();
                while (scheduler.picker().names().busy())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            }
            timer.start();
            scheduler.tickScheduler();
            const qint64 tickNs = timer.nsecsElapsed();
            std::fprintf(stderr, "listing, looks and the tick: %.3f s of wall time\n",
                         wall.nsecsElapsed() / 1e9);
            out << tickNs / 1e9 << Qt::endl;
        } else {
            timer.start();
            scheduler.housekeeping()->tickHousekeeping();
            out << timer.nsecsElapsed() / 1e9 << Qt::endl;
        }
        if (mode == u"tick" && model.row(rows - 1).state != RowState::Done)
            return 1;
    } else {
        std::fprintf(stderr, "usage: see the comment at the top of bench_download.cpp\n");
        return 2;
    }
    return 0;
}
