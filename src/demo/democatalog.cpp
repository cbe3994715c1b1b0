#include "demo/democatalog.h"

#include "demo/minipdf.h"

#include <array>
#include <memory>

namespace {

struct TitlePair
{
    const char *chinese;
    const char *english;
};

// Titles of the first round of papers; later rounds reuse them with a part number. A few carry
// characters that cannot stand in a file name, and one is very long, because real titles do.
constexpr std::array<TitlePair, 25> kTitles = {{
    {"基于深度学习的古籍文字识别方法研究",
     "Recognition of Characters in Ancient Books Based on Deep Learning"},
    {"长江中下游地区水稻种植结构的时空演变",
     "Spatio-temporal Evolution of Rice Planting in the Middle and Lower Yangtze"},
    {"城市更新中的历史街区保护策略", "Conservation Strategies for Historic Districts in Urban Renewal"},
    {"C/C++ 程序的静态分析: 方法与工具", "Static Analysis of C/C++ Programs: Methods and Tools"},
    {"宋代书院教育制度考论", "A Study of the Academy Education System in the Song Dynasty"},
    {"高寒草甸土壤有机碳对增温的响应", "Response of Soil Organic Carbon in Alpine Meadows to Warming"},
    {"人工智能能否替代人工翻译？——基于语料库的对比分析",
     "Can Artificial Intelligence Replace Human Translators? A Corpus-based Comparison"},
    {"锂离子电池正极材料的表面改性研究进展",
     "Advances in Surface Modification of Cathode Materials for Lithium-ion Batteries"},
    {"数字经济对区域创新效率的影响", "The Impact of the Digital Economy on Regional Innovation Efficiency"},
    {"《红楼梦》英译本中的文化负载词翻译",
     "Translating Culture-loaded Words in English Versions of Dream of the Red Chamber"},
    {"老年人慢性病共病与医疗费用负担",
     "Multimorbidity of Chronic Diseases and Medical Cost Burden among Older Adults"},
    {"黄土高原植被恢复的水文效应", "Hydrological Effects of Vegetation Restoration on the Loess Plateau"},
    {"\"双碳\"目标下电力系统的低碳转型路径",
     "Low-carbon Transition Paths of the Power System under the Dual Carbon Goals"},
    {"明清时期江南市镇的商业网络",
     "Commercial Networks of Market Towns in Jiangnan during the Ming and Qing"},
    {"基于图神经网络的交通流量预测", "Traffic Flow Forecasting with Graph Neural Networks"},
    {"乡村振兴背景下的农村电商发展模式",
     "Development Models of Rural E-commerce in the Context of Rural Revitalization"},
    {"中学数学课堂中的提问策略研究", "Questioning Strategies in Secondary School Mathematics Classrooms"},
    {"青藏高原冻土退化对基础设施的影响",
     "Effects of Permafrost Degradation on Infrastructure of the Qinghai-Tibet Plateau"},
    {"网络舆情传播的演化博弈分析", "An Evolutionary Game Analysis of Online Public Opinion Spreading"},
    {"中药复方治疗2型糖尿病的网络药理学研究",
     "A Network Pharmacology Study of Chinese Herbal Formulas for Type 2 Diabetes"},
    {"唐诗中的月亮意象与文人情怀", "The Moon Image in Tang Poetry and the Sentiments of the Literati"},
    {"海上风电场基础结构的疲劳可靠性分析", "Fatigue Reliability of Foundations of Offshore Wind Farms"},
    {"短视频平台用户持续使用意愿的影响因素", "Factors Influencing Continued Use of Short Video Platforms"},
    {"跨境数据流动的法律规制：比较法视角下的国际经验与中国路径选择——兼论个人信息保护与数字贸易规则的协调",
     "Legal Regulation of Cross-border Data Flows: International Experience and China's Path from a "
     "Comparative Perspective, with Remarks on Personal Information Protection and Digital Trade Rules"},
    {"敦煌壁画颜料的无损检测技术", "Non-destructive Testing of Pigments in Dunhuang Murals"},
}};

constexpr std::array<const char *, 12> kAuthors = {"张伟", "王芳", "李娜", "刘洋", "陈静", "杨磊",
                                                   "赵敏", "黄涛", "周婷", "吴刚", "徐丽", "孙强"};

constexpr std::array<const char *, 6> kSources = {"中国科学", "地理学报", "计算机学报",
                                                  "历史研究", "管理世界", "外语教学与研究"};

// Where the special kinds fall within each round of 25; every other paper is an ordinary PDF.
DemoPaperKind kindInRound(int place)
{
    switch (place) {
    case 3:
        return DemoPaperKind::Caj;
    case 5:
        return DemoPaperKind::OctetStreamPdf;
    case 7:
        return DemoPaperKind::Kdh;
    case 9:
        return DemoPaperKind::ChunkedPdf;
    case 11:
        return DemoPaperKind::Nh;
    case 13:
        return DemoPaperKind::ErrorPage;
    case 15:
        return DemoPaperKind::Missing;
    case 17:
        return DemoPaperKind::UnsizedPdf;
    default:
        return DemoPaperKind::Pdf;
    }
}

QStringList pageLines(const DemoPaper &paper)
{
    QStringList lines = {QStringLiteral("Folionexus Demo Library - paper %1").arg(paper.number), QString()};
    QString line;
    for (const QString &word : paper.englishTitle.split(QLatin1Char(' '))) {
        if (!line.isEmpty() && line.size() + word.size() > 56) {
            lines.append(line);
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    lines.append(line);
    lines.append(QString());
    lines.append(QStringLiteral("Demo Journal, %1").arg(paper.year));
    return lines;
}

// The bytes of a file in one of the readers' own formats: its magic, a line naming the paper, and
// filler up to a size above the error-page limit.
QByteArray readerFile(const QByteArray &magic, const DemoPaper &paper, int size)
{
    QByteArray bytes = magic + "Folionexus demo full text " + QByteArray::number(paper.number) + ": " +
                       paper.title.toUtf8() + '\n';
    bytes += MiniPdf::padding(0, size - bytes.size(), size - bytes.size());
    return bytes;
}

QByteArray errorPageBody()
{
    return "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD>\n"
           "<BODY><H1>Not Found</H1>The requested file was not found on this server.</BODY></HTML>\n";
}

QByteArray missingBody()
{
    return "<html><head><title>404 Not Found</title></head>\n"
           "<body><h1>404 Not Found</h1></body></html>\n";
}

QByteArray buildBody(int number)
{
    const DemoPaper p = DemoCatalog::paper(number);
    // Sizes differ from paper to paper so a mixed-up file shows.
    const int size = DemoCatalog::kSmallestFile + (number * 389) % 4000;
    switch (p.kind) {
    case DemoPaperKind::Caj:
        return readerFile(QByteArray("\xC8\x00\x00\x00", 4), p, size);
    case DemoPaperKind::Kdh:
        return readerFile("KDH ", p, size);
    case DemoPaperKind::Nh:
        return readerFile(QByteArray("HN\x00\x00", 4), p, size);
    case DemoPaperKind::ErrorPage:
        return errorPageBody();
    case DemoPaperKind::Missing:
        return missingBody();
    default:
        return MiniPdf(pageLines(p), size).bytes();
    }
}

} // namespace

QString demoPaperKindName(DemoPaperKind kind)
{
    switch (kind) {
    case DemoPaperKind::Pdf:
        return QStringLiteral("pdf");
    case DemoPaperKind::OctetStreamPdf:
        return QStringLiteral("octet-stream pdf");
    case DemoPaperKind::Caj:
        return QStringLiteral("caj");
    case DemoPaperKind::Kdh:
        return QStringLiteral("kdh");
    case DemoPaperKind::Nh:
        return QStringLiteral("nh");
    case DemoPaperKind::ChunkedPdf:
        return QStringLiteral("chunked pdf");
    case DemoPaperKind::UnsizedPdf:
        return QStringLiteral("close-delimited pdf");
    case DemoPaperKind::ErrorPage:
        return QStringLiteral("error page");
    case DemoPaperKind::Missing:
        return QStringLiteral("missing");
    }
    return QString();
}

namespace DemoCatalog {

DemoPaperKind kindOf(int number)
{
    return kindInRound((number - 1) % int(kTitles.size()) + 1);
}

DemoPaper paper(int number)
{
    const int round = (number - 1) / int(kTitles.size());
    const TitlePair &t = kTitles[size_t((number - 1) % int(kTitles.size()))];
    DemoPaper p;
    p.number = number;
    p.title = QString::fromUtf8(t.chinese);
    p.englishTitle = QString::fromUtf8(t.english);
    if (round > 0) {
        p.title += QStringLiteral("（%1）").arg(round + 1);
        p.englishTitle += QStringLiteral(" (Part %1)").arg(round + 1);
    }
    p.authors = {QString::fromUtf8(kAuthors[size_t(number % int(kAuthors.size()))]),
                 QString::fromUtf8(kAuthors[size_t((number * 7 + 3) % int(kAuthors.size()))])};
    if (p.authors.at(0) == p.authors.at(1))
        p.authors.removeLast();
    p.source = QString::fromUtf8(kSources[size_t(number % int(kSources.size()))]);
    p.year = 2010 + number % 14;
    p.kind = kindOf(number);
    return p;
}

int status(int number)
{
    return kindOf(number) == DemoPaperKind::Missing ? 404 : 200;
}

QString mediaType(int number)
{
    switch (kindOf(number)) {
    case DemoPaperKind::OctetStreamPdf:
    case DemoPaperKind::Nh:
        return QStringLiteral("application/octet-stream");
    case DemoPaperKind::Kdh:
        return QStringLiteral("application/kdh");
    case DemoPaperKind::ErrorPage:
    case DemoPaperKind::Missing:
        return QStringLiteral("text/html");
    default:
        return QStringLiteral("application/pdf");
    }
}

DemoBody sizedBody(int number, qint64 size)
{
    const DemoPaper p = paper(number);
    const bool pdf = p.kind == DemoPaperKind::Pdf || p.kind == DemoPaperKind::OctetStreamPdf ||
                     p.kind == DemoPaperKind::ChunkedPdf || p.kind == DemoPaperKind::UnsizedPdf;
    if (size <= 0 || !pdf)
        return DemoBody::fromBytes(body(number));
    return DemoBody::fromGenerated(std::make_shared<MiniPdf>(pageLines(p), size));
}

QByteArray body(int number)
{
    // Cheap enough to build on every request, and nothing to keep for a site of many papers.
    return buildBody(number);
}

} // namespace DemoCatalog
