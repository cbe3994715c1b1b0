// A thousand papers from the demo site while one transfer in ten is cut in the middle: every paper must
// end complete and identical, and resuming must keep the bytes sent close to the bytes of the papers.
//   bench_flaky DIR [PERCENT]
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "demo/demosite.h"
#include "testrows.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_flaky DIR [PERCENT]\n");
        return 2;
    }
    const QString dir = args.at(0) + u'/';
    QDir().mkpath(dir);
    DemoSite site;
    site.setPaperCount(1000);
    site.faults().setFlakyPercent(args.value(1, QStringLiteral("10")).toInt());
    if (!site.listen())
        return 1;
    DownloadListModel model;
    QList<int> papers;
    qint64 total = 0;
    for (int n = 1; n <= site.paperCount(); ++n) {
        if (site.paperStatus(n) != 200 || site.paperKind(n) == DemoPaperKind::ErrorPage)
            continue; // the site's broken entries are no papers to count
        papers.append(n);
        total += site.paperBytes(n).size();
        DownloadRow row;
        row.key = site.paperFileUrl(n).toString();
        row.name = QStringLiteral("p%1").arg(n);
        row.type = QStringLiteral("pdf");
        row.folder = dir;
        TestRows::of(model).addRow(row);
    }
    DownloadScheduler scheduler(TestRows::of(model));
    scheduler.options().method = DownloadMethod::Parallel;
    scheduler.options().threadCount = 6;
    scheduler.options().retries = 10;
    // A paper that ends done must be whole on the disk at that moment already.
    QObject::connect(&scheduler, &DownloadScheduler::rowEnded, [&](RowId id) {
        const DownloadRow *row = model.find(id);
        if (!row || row->state != RowState::Done)
            return;
        const QFileInfo file(dir + row->name + u'.' + row->type);
        const int n = papers.at(model.positionOf(id));
        if (file.size() != site.paperBytes(n).size())
            std::fprintf(
                stderr, "paper %d ended done with %lld of %lld bytes on disk (row says %lld of %lld)\n", n,
                static_cast<long long>(file.size()), static_cast<long long>(site.paperBytes(n).size()),
                static_cast<long long>(row->downloaded), static_cast<long long>(row->size));
    });
    QEventLoop loop;
    QObject::connect(&scheduler, &DownloadScheduler::queueFinished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    scheduler.start();
    loop.exec();
    int identical = 0;
    for (int i = 0; i < model.count(); ++i) {
        const DownloadRow &row = model.row(i);
        QFile file(dir + row.name + u'.' + row.type);
        const int n = papers.at(i);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (row.state == RowState::Done && bytes == site.paperBytes(n)) {
            ++identical;
            continue;
        }
        // What went wrong with a paper that did not come out whole.
        std::fprintf(stderr, "paper %d: state %d, reason %s, %lld of %lld bytes on disk as %s\n", n,
                     static_cast<int>(row.state), qPrintable(reasonText(row.reason)),
                     static_cast<long long>(bytes.size()), static_cast<long long>(site.paperBytes(n).size()),
                     qPrintable(file.fileName()));
    }
    QTextStream(stdout) << identical << ' ' << model.count() << ' ' << site.faults().droppedTransfers() << ' '
                        << site.faults().paperBytesSent() << ' ' << total << ' ' << clock.elapsed() / 1000.0
                        << Qt::endl;
    return identical == model.count() ? 0 : 1;
}
