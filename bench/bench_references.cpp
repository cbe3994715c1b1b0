// A reference list of 100,000 entries into download rows, as the download window's import makes them:
// the time to read the file, the time to make the rows (a few thousand at a time, into the queue's own
// list) and the memory the process took at its peak, against the file's size and against the memory
// before the list was read. One format a run, so that each peak is its own.
//   bench_references bibtex|ris|doi [DIR]     the list is written in DIR (a temporary folder by default)
#include "core/queue/downloadqueue.h"
#include "core/references/referencelist.h"
#include "core/search/handover.h"
#include "core/search/referenceimporting.h"
#include "core/search/referencerows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <malloc.h>

namespace {

constexpr int kEntries = 100000;
constexpr int kRowsPerTurn = 2000; // as the window hands them over
constexpr double kGoalMiB = 200;

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
long statusKiB(const QByteArray &name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// The peak so far starts again from what the process holds now.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QByteArray bibtexEntry(int i)
{
    return QStringLiteral("@article{key%1,\n  title = {Sediment transport in the lower reaches, part %1},\n"
                          "  author = {M{\\\"u}ller, Anna and Zhang, Wei and Smith, John},\n"
                          "  journal = {Journal of Hydraulic Studies},\n  year = {%2},\n"
                          "  doi = {10.5555/bench.%1},\n}\n\n")
        .arg(i)
        .arg(1990 + i % 35)
        .toUtf8();
}

QByteArray risEntry(int i)
{
    return QStringLiteral("TY  - JOUR\nTI  - Sediment transport in the lower reaches, part %1\n"
                          "AU  - Müller, Anna\nAU  - Zhang, Wei\nAU  - Smith, John\nPY  - %2\n"
                          "JO  - Journal of Hydraulic Studies\nDO  - 10.5555/bench.%1\nER  - \n\n")
        .arg(i)
        .arg(1990 + i % 35)
        .toUtf8();
}

QByteArray doiLine(int i)
{
    return "https://doi.org/10.5555/bench." + QByteArray::number(i) + '\n';
}

// Writes the list a thousand entries at a time, so that writing it leaves no peak of its own.
bool writeList(const QString &path, QByteArray (*entry)(int))
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block;
    for (int i = 1; i <= kEntries; ++i) {
        block += entry(i);
        if (i % 1000 == 0) {
            file.write(block);
            block.clear();
        }
    }
    return file.write(block) >= 0 && file.flush();
}

struct Figures
{
    double readSeconds = 0;
    double rowSeconds = 0;
    double heldMiB = 0; // what stays once the list is let go, as in the window after an import
    int entries = 0;
    int rows = 0;
};

Figures readIntoRows(const QString &path, DownloadQueue &queue, ReferenceSources &sources)
{
    Figures figures;
    QElapsedTimer clock;
    clock.start();
    ReferenceList list = ReadReferenceFile(path);
    figures.readSeconds = clock.nsecsElapsed() / 1e9;
    figures.entries = static_cast<int>(list.entries.size());
    clock.restart();
    HandOverOptions options;
    options.defaultFolder = QStringLiteral("/tmp/papers/");
    ReferenceRowMaker maker(*queue.model(), sources, options);
    for (qsizetype next = 0; next < list.entries.size(); next += kRowsPerTurn) {
        const qsizetype end = std::min(next + kRowsPerTurn, list.entries.size());
        figures.rows += static_cast<int>(queue.enqueueRows(maker.takeRows(list.entries, next, end)).size());
    }
    figures.rowSeconds = clock.nsecsElapsed() / 1e9;
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString format = app.arguments().value(1);
    QByteArray (*entry)(int) = format == u"bibtex" ? bibtexEntry
                               : format == u"ris"  ? risEntry
                               : format == u"doi"  ? doiLine
                                                   : nullptr;
    if (!entry) {
        std::fputs("usage: bench_references bibtex|ris|doi [DIR]\n", stderr);
        return 2;
    }
    QTemporaryDir temporary;
    const QString dir = app.arguments().size() > 2 ? app.arguments().at(2) : temporary.path();
    const QString path =
        dir + QStringLiteral("/bench-list.") + (format == u"doi" ? QStringLiteral("txt") : format);
    if (!writeList(path, entry)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    DownloadQueue queue;
    ReferenceSources sources;
    resetPeak();
    const long before = statusKiB("VmRSS");
    Figures figures = readIntoRows(path, queue, sources);
    const double peak = statusKiB("VmHWM") / 1024.0;
    malloc_trim(0); // what the list took goes back, so that what the rows hold shows
    figures.heldMiB = statusKiB("VmRSS") / 1024.0;
    const double fileMiB = QFile(path).size() / (1024.0 * 1024.0);
    std::printf(
        "%d %s entries (%.1f MiB file) into %d rows: read %.3f s, rows %.3f s; peak memory %.1f MiB, "
        "%.1f MiB above the %.1f MiB before the list (%.2f x the file) (goal < %.0f MiB); %.1f MiB held once "
        "the list is let go\n",
        figures.entries, qPrintable(format), fileMiB, figures.rows, figures.readSeconds, figures.rowSeconds,
        peak, peak - before / 1024.0, before / 1024.0, (peak - before / 1024.0) / fileMiB, kGoalMiB,
        figures.heldMiB);
    QFile::remove(path);
    return figures.rows == kEntries ? 0 : 1;
}
