// What the PDF check costs per thousand small papers, in CPU time: the checking processes' own (user and
// system, counted by the kernel once they have ended) and the callers' side (sending each file and waiting
// for its verdict), as the transfers' checking pool asks, two files at a time.
//   bench_pdfcheck DIR COUNT [REFERENCE-CHECKER]
// writes COUNT whole one-page PDFs of 64 KiB into DIR (unless there), checks them all in several rounds
// and prints the medians with their spread; with a reference checker (another build's
// folionexus-pdfcheck) that one checks the same files in the same rounds, in turn with ours, and the
// line gives ours against it.
#include "core/pdf/pdfchecker.h"
#include "demo/minipdf.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <QTextStream>
#include <algorithm>
#include <atomic>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

constexpr int kRounds = 5;
constexpr qint64 kPaperBytes = 64 * 1024;

struct Cost
{
    double checkers = 0; // ms of CPU of the checking processes per 1,000 files
    double callers = 0;  // ms of CPU of this process meanwhile, per 1,000 files
    double wall = 0;     // ms per 1,000 files
};

double cpuMs(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    const auto ms = [](const timeval &t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

QStringList writePapers(const QString &dir, int count)
{
    QStringList files;
    for (int i = 1; i <= count; ++i) {
        const QString path = dir + QStringLiteral("/p%1.pdf").arg(i);
        QFile file(path);
        if (!file.exists() && file.open(QIODevice::WriteOnly)) {
            const QStringList lines{QStringLiteral("Paper %1").arg(i),
                                    QString::number(QRandomGenerator::global()->generate64(), 16)};
            file.write(MiniPdf(lines, kPaperBytes).bytes());
        }
        files += path;
    }
    return files;
}

// One run over all files; false when a file was not judged whole.
bool run(const QString &program, const QStringList &files, Cost *cost)
{
    std::atomic<int> next{0};
    std::atomic<bool> allWhole{true};
    const double childrenBefore = cpuMs(RUSAGE_CHILDREN);
    const double selfBefore = cpuMs(RUSAGE_SELF);
    QElapsedTimer took;
    took.start();
    {
        PdfChecker checker(program);
        std::vector<std::thread> workers;
        for (int w = 0; w < checker.limits().processes; ++w) {
            workers.emplace_back([&] {
                for (int i = next++; i < files.size(); i = next++) {
                    if (checker.checkFile(files.at(i)).state != PdfVerdict::State::Whole)
                        allWhole = false;
                }
            });
        }
        for (std::thread &worker : workers)
            worker.join();
    } // the checking processes end here, and their time is counted
    const double per = 1000.0 / double(files.size());
    cost->wall = double(took.nsecsElapsed()) / 1e6 * per;
    cost->checkers = (cpuMs(RUSAGE_CHILDREN) - childrenBefore) * per;
    cost->callers = (cpuMs(RUSAGE_SELF) - selfBefore) * per;
    return allWhole;
}

QString figure(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return QStringLiteral("%1 ms (spread %2-%3)")
        .arg(values[values.size() / 2], 0, 'f', 1)
        .arg(values.front(), 0, 'f', 1)
        .arg(values.back(), 0, 'f', 1);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Runs
{
    std::vector<double> checkers, callers, wall;
    void add(const Cost &cost)
    {
        checkers.push_back(cost.checkers);
        callers.push_back(cost.callers);
        wall.push_back(cost.wall);
    }
    QString line() const
    {
        return QStringLiteral("checking processes %1, callers %2, wall %3")
            .arg(figure(checkers), figure(callers), figure(wall));
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2 || args.at(1).toInt() <= 0) {
        QTextStream(stderr) << "usage: bench_pdfcheck DIR COUNT [REFERENCE-CHECKER]\n";
        return 1;
    }
    const QStringList files = writePapers(args.at(0), args.at(1).toInt());
    const QString ours = QStringLiteral(FOLIONEXUS_PDFCHECK_EXE);
    const QString reference = args.value(2);
    Runs mine, theirs;
    for (int round = 0; round < kRounds; ++round) {
        // In turn, so that what the machine does meanwhile falls on both alike.
        for (int turn = 0; turn < (reference.isEmpty() ? 1 : 2); ++turn) {
            const bool isOurs = (turn + round) % 2 == 0 || reference.isEmpty();
            Cost cost;
            if (!run(isOurs ? ours : reference, files, &cost)) {
                QTextStream(stderr) << "a whole paper was not judged whole\n";
                return 1;
            }
            (isOurs ? mine : theirs).add(cost);
        }
    }
    QTextStream out(stdout);
    out << "PDF check, CPU time per 1,000 x 64 KiB papers, two at a time, median of " << kRounds
        << " runs: " << mine.line() << Qt::endl;
    if (!reference.isEmpty()) {
        out << "  the reference checker (" << reference << "): " << theirs.line() << Qt::endl;
        out << "  ours / reference, checking processes: "
            << QString::number(median(mine.checkers) / median(theirs.checkers), 'f', 3)
            << ", checking processes and callers: "
            << QString::number((median(mine.checkers) + median(mine.callers)) /
                                   (median(theirs.checkers) + median(theirs.callers)),
                               'f', 3)
            << Qt::endl;
    }
    return 0;
}
