// The paper library at the size of a long-used installation: 100,000 papers, half of them downloaded.
//   bench_library [DIR]      builds the library in DIR (a temporary folder by default) and prints
//                            one line per figure with its goal.
#include "core/library/heldcheck.h"
#include "core/library/librarythread.h"
#include "core/library/libraryview.h"
#include "core/library/paperlibrary.h"
#include "core/librarymodel/librarytablemodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
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

// Titles of twenty subjects (one paper in twenty has a subject's words), each numbered.
QString titleOf(int i)
{
    static const QStringList subjects = {QStringLiteral("基于深度学习的古籍文字识别方法研究"),
                                         QStringLiteral("城市交通流量的短时预测"),
                                         QStringLiteral("黄河下游泥沙输移规律"),
                                         QStringLiteral("水稻抗旱基因的定位与克隆"),
                                         QStringLiteral("宋代书院教育制度考"),
                                         QStringLiteral("锂电池正极材料的改性"),
                                         QStringLiteral("高速铁路桥梁的振动控制"),
                                         QStringLiteral("明清江南市镇经济研究"),
                                         QStringLiteral("肺癌早期筛查的影像特征"),
                                         QStringLiteral("农村留守儿童心理健康调查"),
                                         QStringLiteral("区块链在供应链金融中的应用"),
                                         QStringLiteral("青藏高原冻土变化监测"),
                                         QStringLiteral("唐诗意象的认知语言学分析"),
                                         QStringLiteral("风电场功率波动平抑策略"),
                                         QStringLiteral("中小企业融资约束与创新"),
                                         QStringLiteral("大气细颗粒物来源解析"),
                                         QStringLiteral("古典园林空间的量化研究"),
                                         QStringLiteral("量子点发光器件的稳定性"),
                                         QStringLiteral("社区养老服务供给模式"),
                                         QStringLiteral("深海沉积物微生物多样性")};
    return subjects.at(i % subjects.size()) + QStringLiteral(" 第%1部分").arg(i);
}

QString sourceOf(int i)
{
    static const QStringList sources = {QStringLiteral("计算机学报"), QStringLiteral("软件学报"),
                                        QStringLiteral("中国科学"),   QStringLiteral("历史研究"),
                                        QStringLiteral("地理学报"),   QStringLiteral("物理学报"),
                                        QStringLiteral("经济研究"),   QStringLiteral("中华医学杂志"),
                                        QStringLiteral("教育研究"),   QStringLiteral("环境科学")};
    return sources.at(i % sources.size());
}

// Three of fifty names, so that a name is in about one paper of sixteen.
QString authorsOf(int i)
{
    static const QStringList family = {QStringLiteral("张"), QStringLiteral("王"), QStringLiteral("李"),
                                       QStringLiteral("刘"), QStringLiteral("陈")};
    static const QStringList given = {QStringLiteral("伟"), QStringLiteral("芳"), QStringLiteral("娜"),
                                      QStringLiteral("敏"), QStringLiteral("静"), QStringLiteral("强"),
                                      QStringLiteral("磊"), QStringLiteral("军"), QStringLiteral("洋"),
                                      QStringLiteral("勇")};
    const auto name = [](int n) { return family.at(n % 5) + given.at(n / 5 % 10); };
    return name(i % 50) + QStringLiteral("; ") + name(i * 7 % 50) + QStringLiteral("; ") + name(i * 13 % 50);
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
        p.metadata.title = titleOf(i);
        p.metadata.cells = {{QStringLiteral("序号"), QString::number(i)},
                            {QStringLiteral("Title"),
                             QStringLiteral("Recognition of Characters in Ancient Books, part %1").arg(i)},
                            {QStringLiteral("作者"), authorsOf(i)},
                            {QStringLiteral("来源"), sourceOf(i)},
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

// The filter's answer as the library window gets it: the number of papers and the first page of them.
double filterMs(PaperLibrary &library, const LibraryQuery &query)
{
    QElapsedTimer timer;
    QList<double> rounds;
    for (int round = 0; round < 5; ++round) {
        timer.start();
        const std::optional<qint64> count = libraryview::count(library, query);
        const auto rows = libraryview::rows(library, query, 0, LibraryTableModel::kPageRows);
        rounds.append(timer.nsecsElapsed() / 1e6);
        if (!count || !rows)
            std::fprintf(stderr, "filter failed: %s\n", qPrintable(library.lastError()));
    }
    return median(rounds);
}

void viewFigures(const QString &path)
{
    QElapsedTimer timer;
    {
        // From nothing to the first rows in the table: its own thread's connection, count and first page.
        timer.start();
        LibraryThread thread(path, 3000);
        LibraryTableModel model(thread);
        QEventLoop loop;
        QObject::connect(&model, &LibraryTableModel::loaded, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        model.refresh();
        loop.exec();
        line("opening the library table (100,000 papers, first page shown)", timer.nsecsElapsed() / 1e9, "s",
             "< 1 s");
    }
    PaperLibrary library(path);
    if (!library.open().ok)
        return;
    const std::pair<const char *, QString> filters[] = {
        {"filter by a two-character author name", QStringLiteral("王芳")},
        {"filter by a word of the title (one paper in twenty)", QStringLiteral("古籍文字")},
        {"filter finding one paper", QStringLiteral("第54321部分")},
        {"filter by author and title word", QStringLiteral("李娜 深度学习")},
        {"filter by source (one paper in ten)", QStringLiteral("计算机学报")},
        {"filter by a word in every title (the worst case)", QStringLiteral("部分")},
        {"filter finding nothing", QStringLiteral("量子引力")}};
    for (const auto &[what, text] : filters)
        line(what, filterMs(library, LibraryQuery{text}), "ms", "< 100 ms");
    double slowest = 0;
    for (int c = 0; c < kLibraryColumnCount; ++c) {
        for (const bool descending : {false, true}) {
            const LibraryQuery query{{}, static_cast<LibraryColumn>(c), descending};
            timer.start();
            const auto first = libraryview::rows(library, query, 0, LibraryTableModel::kPageRows);
            const auto middle = libraryview::rows(library, query, kPapers / 2, LibraryTableModel::kPageRows);
            slowest = std::max(slowest, timer.nsecsElapsed() / 1e6 / 2);
            if (!first || !middle)
                std::fprintf(stderr, "sort failed: %s\n", qPrintable(library.lastError()));
        }
    }
    line("slowest page of rows sorted by any column (first or middle page)", slowest, "ms", "< 100 ms");
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
    viewFigures(path);
    return 0;
}
