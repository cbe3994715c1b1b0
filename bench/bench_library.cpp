// The paper library at the size of a long-used installation: 100,000 papers, half of them downloaded.
//   bench_library [DIR]      builds the library in DIR (a temporary folder by default) and prints
//                            one line per figure with its goal.
#include "core/library/heldcheck.h"
#include "core/library/paperlibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kPapers = 100000;
constexpr int kFiles = 1000; // downloaded papers share these files, so the disk holds few
constexpr int kFileBytes = 64 * 1024;
constexpr int kQueueRows = 10000;

QString address(int i)
{
    return QStringLiteral("https://www.example-literature.org/kcms/detail/paper/%1.pdf").arg(i);
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

void line(const char *what, double value, const char *unit, const char *goal)
{
    std::printf("%s: %.3f %s (goal %s)\n", what, value, unit, goal);
    std::fflush(stdout);
}

bool build(PaperLibrary &library, const QString &folder)
{
    QList<QString> files;
    for (int f = 0; f < kFiles; ++f) {
        const QString path = folder + QStringLiteral("/file%1.pdf").arg(f);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        QByteArray bytes(kFileBytes, char('a' + f % 26));
        bytes.prepend("%PDF-1.4\n");
        file.write(bytes);
        files.append(path);
    }
    QList<SeenPaper> seen;
    QList<DownloadResult> downloads;
    for (int i = 0; i < kPapers; ++i) {
        SeenPaper p;
        p.address = address(i);
        p.metadata.title = QStringLiteral("基于深度学习的古籍文字识别方法研究 第%1部分").arg(i);
        p.metadata.cells = {{QStringLiteral("序号"), QString::number(i)},
                            {QStringLiteral("Title"),
                             QStringLiteral("Recognition of Characters in Ancient Books, part %1").arg(i)},
                            {QStringLiteral("作者"), QStringLiteral("张伟; 王芳; 李娜")},
                            {QStringLiteral("来源"), QStringLiteral("计算机学报")},
                            {QStringLiteral("年份"), QString::number(2000 + i % 24)}};
        p.sourcePage =
            QStringLiteral("https://www.example-literature.org/search?q=x&page=%1").arg(i / 20 + 1);
        seen.append(p);
        if (i % 2 == 0) {
            const QString &file = files.at(i % kFiles);
            DownloadResult d;
            d.address = p.address;
            d.filePath = file;
            d.size = QFile(file).size();
            downloads.append(d);
        }
    }
    // The hashes of the shared files are known once each file has been hashed once.
    QHash<QString, QString> hashes;
    for (const QString &f : files)
        hashes.insert(f, FileSha256(f));
    for (DownloadResult &d : downloads)
        d.sha256 = hashes.value(d.filePath);
    return library.recordSeen(seen) && library.recordDownloads(downloads);
}

QList<QueueRow> queue()
{
    QList<QueueRow> rows;
    for (int i = 0; i < kQueueRows; ++i)
        rows.append(
            QueueRow{address(i * 7), QStringLiteral("基于深度学习的古籍文字识别方法研究 第%1部分").arg(i),
                     QStringLiteral("pdf"), QStringLiteral("/home/user/12345/"),
                     QStringLiteral("https://www.example-literature.org/search?q=x&page=%1").arg(i / 20 + 1),
                     i % 3 == 0 ? 3 : 1, i % 3 == 0 ? 1234567 : -1, i % 3 == 0 ? 1234567 : 0, QString()});
    return rows;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/PaperLibrary.db");
    QFile::remove(path);

    QElapsedTimer timer;
    {
        PaperLibrary library(path);
        if (!library.open().ok || !build(library, folder)) {
            std::fprintf(stderr, "could not build the library: %s\n", qPrintable(library.lastError()));
            return 1;
        }
        std::printf("library of %lld papers, %.1f MiB\n", static_cast<long long>(library.paperCount()),
                    QFile(path).size() / 1048576.0);

        // Rows as a 10,000-row download list would ask: every seventh paper, held or not.
        QList<double> lookup, verify;
        for (int round = 0; round < 3; ++round) {
            timer.start();
            int held = 0;
            for (int i = 0; i < kQueueRows; ++i)
                held += library.heldFile(address(i * 7)).has_value();
            lookup.append(timer.nsecsElapsed() / 1e6 / kQueueRows);
            timer.start();
            int verified = 0;
            for (int i = 0; i < 2000; ++i) {
                const std::optional<HeldFile> h = library.heldFile(address(i * 7));
                verified += h && CheckHeldFile(*h) == HeldVerdict::Held;
            }
            verify.append(timer.nsecsElapsed() / 1e6 / 2000);
            if (held == 0 || verified == 0)
                std::fprintf(stderr, "nothing held: %d %d\n", held, verified);
        }
        line("held lookup per row (database)", median(lookup), "ms", "< 1 ms");
        line("held lookup and check per row (64 KiB files, SHA-256 read)", median(verify), "ms", "< 1 ms");

        const QList<QueueRow> rows = queue();
        QList<double> saves;
        for (int round = 0; round < 5; ++round) {
            timer.start();
            if (!library.saveQueue(rows))
                std::fprintf(stderr, "save failed: %s\n", qPrintable(library.lastError()));
            saves.append(timer.nsecsElapsed() / 1e6);
        }
        line("saving a 10,000-row queue", median(saves), "ms", "< 200 ms");
    }

    QList<double> starts;
    for (int round = 0; round < 5; ++round) {
        timer.start();
        PaperLibrary library(path);
        const bool opened = library.open().ok;
        const qsizetype loaded = library.loadQueue().size();
        starts.append(timer.nsecsElapsed() / 1e9);
        if (!opened || loaded != kQueueRows)
            std::fprintf(stderr, "start-up failed: %s\n", qPrintable(library.lastError()));
    }
    line("opening the library and loading the 10,000-row queue", median(starts), "s", "< 0.5 s");
    return 0;
}
