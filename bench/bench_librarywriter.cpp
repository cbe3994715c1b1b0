// What the paper library's writer costs per thousand papers of a batch run from a list of links: the
// papers seen (one write of them all), then their downloads' ends in the groups a run gathers. Processor
// time of the writing thread, in a fresh library each round.
//   bench_librarywriter [ROUNDS [GROUP]]   rounds (5) and papers per group of ends (50); prints the
//                                          medians with their spread.
#include "core/library/paperlibrary.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kPapers = 1000;

double threadMs()
{
    timespec t = {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QString address(int i)
{
    return QStringLiteral("http://127.0.0.1:28765/many/p%1.pdf").arg(i);
}

QList<SeenPaper> seenPapers()
{
    QList<SeenPaper> seen;
    for (int i = 1; i <= kPapers; ++i)
        seen.append(SeenPaper{address(i), PaperMetadata{QStringLiteral("p%1").arg(i), {}}, QString()});
    return seen;
}

QList<DownloadResult> ends(const QString &folder)
{
    QList<DownloadResult> results;
    for (int i = 1; i <= kPapers; ++i) {
        DownloadResult r;
        r.address = address(i);
        r.filePath = folder + QStringLiteral("/p%1.pdf").arg(i);
        r.size = 65536;
        r.sha256 = QStringLiteral("%1").arg(i, 64, 16, QLatin1Char('0'));
        r.pdf = QStringLiteral("whole");
        r.pdfPages = 1;
        r.finishedAt = QDateTime::currentDateTimeUtc();
        results.append(r);
    }
    return results;
}

struct Round
{
    double seen = 0;
    double ends = 0;
};

Round measure(int group)
{
    QTemporaryDir dir;
    PaperLibrary library(dir.path() + QStringLiteral("/PaperLibrary.db"));
    if (!library.open().ok)
        return {-1, -1};
    const QList<SeenPaper> seen = seenPapers();
    const QList<DownloadResult> results = ends(dir.path());
    Round round;
    double start = threadMs();
    if (!library.recordSeen(seen))
        return {-1, -1};
    round.seen = threadMs() - start;
    start = threadMs();
    for (qsizetype i = 0; i < results.size(); i += group) {
        if (!library.recordDownloads(results.mid(i, group)))
            return {-1, -1};
    }
    round.ends = threadMs() - start;
    return round;
}

QString figure(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return QStringLiteral("%1 ms (%2-%3)")
        .arg(values.at(values.size() / 2), 0, 'f', 1)
        .arg(values.first(), 0, 'f', 1)
        .arg(values.last(), 0, 'f', 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int group = argc > 2 ? std::max(1, atoi(argv[2])) : 50;
    measure(group); // the first round pays for loading SQLite and the driver
    QList<double> seen;
    QList<double> ended;
    QList<double> all;
    for (int r = 0; r < rounds; ++r) {
        const Round round = measure(group);
        if (round.seen < 0) {
            std::fprintf(stderr, "a write failed\n");
            return 1;
        }
        seen.append(round.seen);
        ended.append(round.ends);
        all.append(round.seen + round.ends);
    }
    std::printf("library writer, %d papers seen then ended in groups of %d: seen %s, ends %s, both %s"
                " (goal <= 100 ms)\n",
                kPapers, group, qPrintable(figure(seen)), qPrintable(figure(ended)), qPrintable(figure(all)));
    return 0;
}
