// A download list of 100,000 rows in the download window: the time the GUI thread spends sorting it,
// selecting every row and removing them, and restoring such a list from the paper library when the
// window opens, and the memory a row takes. Each time is the median of three rounds with their spread.
//   bench_bigqueue
#include "commonseams.h"
#include "core/library/paperlibrary.h"
#include "core/rows/downloadlistmodel.h"
#include "core/settings/sharedoptions.h"
#include "core/sites/siterules.h"
#include "testrows.h"
#include "ui/downloadwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kRows = 100000;

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

QString address(int i)
{
    return QStringLiteral("https://www.example-literature.org/download/paper%1.pdf?id=%2")
        .arg(i)
        .arg(i * 7919);
}

QString title(int i)
{
    return QStringLiteral("基于深度学习的古籍文字识别方法研究 第%1部分").arg((i * 7919) % kRows);
}

void fill(DownloadListModel &model)
{
    for (int i = 0; i < kRows; ++i) {
        DownloadRow row;
        row.key = address(i);
        row.name = title(i);
        row.type = QStringLiteral("pdf");
        row.folder = QStringLiteral("/home/user/papers/");
        row.tag = QStringLiteral("https://www.example-literature.org/search?q=x&page=%1").arg(i / 20 + 1);
        row.state = i % 3 == 0 ? RowState::Done : RowState::Waiting;
        row.size = i % 3 == 0 ? 1234567 + i : -1;
        TestRows::of(model).addRow(row);
    }
    model.flushChanges();
    QCoreApplication::processEvents();
}

// Milliseconds of work, the events it leaves for the window included.
double timed(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

void print(const char *what, QList<double> values, const char *goal)
{
    std::sort(values.begin(), values.end());
    std::printf("%s: %.0f ms (spread %.0f-%.0f ms, goal %s)\n", what, values.at(values.size() / 2),
                values.first(), values.last(), goal);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    MessageSeam::replace([](const MessageRequest &) { return MessageAnswer::Yes; });
    OptionStore options;
    SiteRulesCatalog siteRules;
    RunObjects run{options, siteRules, nullptr};
    QTemporaryDir temporary;

    QList<double> sorts, removals;
    long perRowBytes = 0;
    {
        fFileDownload window(run);
        window.show();
        QCoreApplication::processEvents();
        for (int round = 0; round < 3; ++round) {
            const long before = residentKiB();
            fill(*window.model());
            if (round == 0)
                perRowBytes = (residentKiB() - before) * 1024 / kRows;
            // By name, then by size: orders that differ from the one the rows came in.
            sorts.append(timed([&] { window.sortByHeader(0); }));
            sorts.append(timed([&] { window.sortByHeader(3); }));
            removals.append(timed([&] {
                window.action(QStringLiteral("actSelectAll"))->trigger();
                window.action(QStringLiteral("actRemoveSelected"))->trigger();
            }));
            if (window.model()->count() != 0)
                std::fprintf(stderr, "%d rows were not removed\n", window.model()->count());
        }
    }

    // The window's own cost, for comparison with the opening that restores the list.
    QList<double> bare;
    for (int round = 0; round < 3; ++round) {
        fFileDownload *window = nullptr;
        bare.append(timed([&] {
            window = new fFileDownload(run);
            window->show();
        }));
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        delete window;
    }

    PaperLibrary library(temporary.filePath(QStringLiteral("PaperLibrary.db")));
    if (!library.open().ok) {
        std::fprintf(stderr, "no library: %s\n", qPrintable(library.lastError()));
        return 1;
    }
    QList<QueueRow> queue;
    for (int i = 0; i < kRows; ++i)
        queue.append(QueueRow{address(i), title(i), QStringLiteral("pdf"),
                              QStringLiteral("/home/user/papers/"), QString(), 1, -1, 0, QString()});
    run.library = &library;
    // The list is read beside the opening and handed to the window when it is there: the GUI thread's
    // share is the opening and every event it handles until the rows are in, its waits left out.
    QList<double> restores, restoreWalls, restoreStalls;
    for (int round = 0; round < 3; ++round) {
        library.saveQueue(queue);
        fFileDownload *window = nullptr;
        QElapsedTimer wall;
        wall.start();
        double busy = timed([&] {
            window = new fFileDownload(run);
            window->show();
        });
        double longest = busy;
        while (window->model()->count() < kRows && wall.elapsed() < 60000) {
            QThread::msleep(1);
            const double stretch = timed([] {});
            busy += stretch;
            longest = std::max(longest, stretch);
        }
        restoreWalls.append(wall.nsecsElapsed() / 1e6);
        restores.append(busy);
        restoreStalls.append(longest);
        if (window->model()->count() != kRows)
            std::fprintf(stderr, "%d rows restored\n", window->model()->count());
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        delete window;
    }

    print("100,000 rows: sorting on the GUI thread", sorts, "< 300 ms");
    print("100,000 rows: selecting all and removing them", removals, "< 300 ms");
    print("100,000 rows: the window opening with the list restored, GUI thread", restores, "< 300 ms");
    print("  its longest stretch without a return to the event loop", restoreStalls, "none");
    print("  until the rows are in the list", restoreWalls, "none, the list is read beside the GUI thread");
    print("the same window opening without a list", bare, "none, for comparison");
    std::printf("100,000 rows: memory per row %ld bytes (goal < 2048 bytes)\n", perRowBytes);
    return 0;
}
