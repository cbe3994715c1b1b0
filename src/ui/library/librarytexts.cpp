#include "ui/library/librarytexts.h"

#include "core/common/safetext.h"
#include "core/librarymodel/librarytablemodel.h"

#include <QFileInfo>
#include <QLocale>

namespace {

bool turnsDirection(char16_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F ||
           c == 0x061C;
}

QString timeText(const QDateTime &at)
{
    return at.isValid() ? at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

// "label：value" when there is a value.
void addField(QStringList *lines, const QString &label, const QString &value, int maxLength = 2000)
{
    const QString shown = shownLine(value, maxLength);
    if (!shown.isEmpty())
        lines->append(label + QStringLiteral("：") + shown);
}

void addMetadata(QStringList *lines, const PaperMetadata &m)
{
    addField(lines, QStringLiteral("标题"), m.title);
    addField(lines, QStringLiteral("英文标题"), m.englishTitle());
    addField(lines, QStringLiteral("作者"), m.authors());
    addField(lines, QStringLiteral("年份"), m.year());
    addField(lines, QStringLiteral("来源"), m.source());
    addField(lines, QStringLiteral("DOI"), m.doi());
    addField(lines, QStringLiteral("卷"), m.volume());
    addField(lines, QStringLiteral("期"), m.issue());
    const QString pages = m.lastPage().isEmpty() ? m.firstPage() : m.firstPage() + u'-' + m.lastPage();
    addField(lines, QStringLiteral("页码"), pages);
    addField(lines, QStringLiteral("出版者"), m.publisher());
    addField(lines, QStringLiteral("语言"), m.language());
    addField(lines, QStringLiteral("关键词"), m.keywordList().join(QStringLiteral("; ")));
    addField(lines, QStringLiteral("摘要"), m.abstractText(), 20000);
}

void addFile(QStringList *lines, const PaperDetails &d)
{
    const HeldFile &held = d.record.held;
    lines->append(QStringLiteral("状态：") + paperStateText(d.state));
    addField(lines, QStringLiteral("文件"), held.filePath);
    if (held.size >= 0)
        addField(lines, QStringLiteral("大小"),
                 QLocale::c().formattedDataSize(held.size, 1, QLocale::DataSizeTraditionalFormat));
    addField(lines, QStringLiteral("SHA-256"), held.sha256);
    addField(lines, QStringLiteral("下载时间"), timeText(held.downloadedAt));
    if (d.pages >= 0)
        lines->append(QStringLiteral("页数：") + QString::number(d.pages));
    addField(lines, QStringLiteral("PDF检查"),
             d.pdf.isEmpty() ? QString() : d.pdf + u' ' + timeText(d.checkedAt));
}

void addAddresses(QStringList *lines, const PaperRecord &r)
{
    addField(lines, QStringLiteral("地址"), WithoutCredentials(r.address));
    addField(lines, QStringLiteral("全文地址"), WithoutCredentials(r.fileAddress));
    addField(lines, QStringLiteral("文献页面"), WithoutCredentials(r.landingPage));
    addField(lines, QStringLiteral("首次见到"), timeText(r.seenAt));
}

void addHistory(QStringList *lines, const PaperDetails &d)
{
    lines->append(QString());
    lines->append(QStringLiteral("见于页面："));
    for (const PaperPage &page : d.seenOn)
        lines->append(QStringLiteral("  ") + timeText(page.seenAt) + u' ' +
                      shownLine(WithoutCredentials(page.page)));
    lines->append(QString());
    lines->append(QStringLiteral("下载记录："));
    for (const DownloadEnd &end : d.history) {
        QString line = QStringLiteral("  ") + timeText(end.at) + u' ' + downloadOutcomeText(end.outcome);
        if (!end.reason.isEmpty())
            line += QStringLiteral("：") + shownLine(end.reason);
        if (!end.filePath.isEmpty())
            line += QStringLiteral(" → ") + shownLine(end.filePath);
        lines->append(line);
    }
}

} // namespace

QString shownLine(const QString &text, int maxLength)
{
    QString out = text;
    for (QChar &c : out) {
        if (turnsDirection(c.unicode()))
            c = u' ';
    }
    return TidyCellText(out, maxLength);
}

QString downloadOutcomeText(DownloadOutcome outcome)
{
    switch (outcome) {
    case DownloadOutcome::Done:
        return QStringLiteral("成功");
    case DownloadOutcome::Failed:
        return QStringLiteral("失败");
    case DownloadOutcome::None:
        break;
    }
    return QStringLiteral("未下载");
}

QString paperDetailsText(const PaperDetails &details)
{
    QStringList lines;
    addMetadata(&lines, details.record.metadata);
    addAddresses(&lines, details.record);
    addFile(&lines, details);
    if (!details.record.metadata.cells.isEmpty()) {
        lines.append(QString());
        lines.append(QStringLiteral("页面上的各栏："));
        for (const PaperCell &cell : details.record.metadata.cells)
            lines.append(QStringLiteral("  ") + shownLine(cell.header, 200) + QStringLiteral("：") +
                         shownLine(cell.text));
    }
    addHistory(&lines, details);
    return lines.join(u'\n');
}

QString citationText(const PaperMetadata &paper)
{
    QString text;
    const QStringList authors = paper.authorList();
    if (!authors.isEmpty()) {
        QStringList shown;
        for (const QString &a : authors.mid(0, 3))
            shown.append(shownLine(a, 200));
        text += shown.join(QStringLiteral(", ")) +
                (authors.size() > 3 ? QStringLiteral(", 等. ") : QStringLiteral(". "));
    }
    text += shownLine(paper.title);
    const QString source = shownLine(paper.source());
    if (!source.isEmpty()) {
        text += (paper.isConference() ? QStringLiteral("[C]. ") : QStringLiteral("[J]. ")) + source;
        if (!paper.year().isEmpty())
            text += QStringLiteral(", ") + paper.year();
        if (!paper.volume().isEmpty())
            text += QStringLiteral(", ") + shownLine(paper.volume(), 40);
        if (!paper.issue().isEmpty())
            text += u'(' + shownLine(paper.issue(), 40) + u')';
        if (!paper.firstPage().isEmpty())
            text += u':' + shownLine(paper.firstPage(), 40) +
                    (paper.lastPage().isEmpty() ? QString() : u'-' + shownLine(paper.lastPage(), 40));
    } else if (!paper.year().isEmpty()) {
        text += QStringLiteral(", ") + paper.year();
    }
    text += u'.';
    if (!paper.doi().isEmpty())
        text += QStringLiteral(" DOI: ") + paper.doi() + u'.';
    return text;
}
