#include "core/library/paperexport.h"

#include "core/common/csv.h"
#include "core/common/safetext.h"

#include <QCryptographicHash>
#include <QSet>
#include <QUrl>

namespace {

// One line of text: controls (tab included) and line or paragraph separators become spaces.
QString oneLine(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            c = u' ';
    }
    return out.trimmed();
}

struct Fields
{
    QString title;
    QStringList authors;
    QString year;
    QString source;
    QString address;
    QString file;
    QString sha256;
    QString doi;
    QString volume;
    QString issue;
    QString firstPage;
    QString lastPage;
    QString publisher;
    QString language;
    QString abstract;
    QStringList keywords;
    bool conference = false;

    // "101-117", or the one page known.
    QString pages() const
    {
        if (firstPage.isEmpty() || lastPage.isEmpty())
            return firstPage.isEmpty() ? lastPage : firstPage;
        return firstPage + u'-' + lastPage;
    }
};

Fields fieldsOf(const PaperRecord &r)
{
    Fields f;
    f.title = oneLine(r.metadata.title).simplified();
    for (const QString &a : r.metadata.authorList()) {
        const QString name = oneLine(a).simplified();
        if (!name.isEmpty())
            f.authors.append(name);
    }
    f.year = oneLine(r.metadata.year());
    f.source = oneLine(r.metadata.source()).simplified();
    f.address = oneLine(WithoutCredentials(r.address));
    f.file = oneLine(r.held.filePath);
    f.sha256 = oneLine(r.held.sha256).toLower();
    const PaperMetadata &m = r.metadata;
    f.doi = oneLine(m.doi());
    f.volume = oneLine(m.volume()).simplified();
    f.issue = oneLine(m.issue()).simplified();
    f.firstPage = oneLine(m.firstPage()).simplified();
    f.lastPage = oneLine(m.lastPage()).simplified();
    f.publisher = oneLine(m.publisher()).simplified();
    f.language = oneLine(m.language()).simplified();
    f.abstract = oneLine(m.abstractText()).simplified();
    for (const QString &word : m.keywordList()) {
        const QString keyword = oneLine(word).simplified();
        if (!keyword.isEmpty())
            f.keywords.append(keyword);
    }
    f.conference = !f.source.isEmpty() && m.isConference();
    return f;
}

QString shaNote(const QString &sha)
{
    return sha.isEmpty() ? QString() : QStringLiteral("SHA-256: ") + sha;
}

// ---- RIS

void risLine(QString &out, const char *tag, const QString &value)
{
    if (value.isEmpty())
        return;
    out += QLatin1String(tag) + QStringLiteral("  - ") + value + QStringLiteral("\r\n");
}

// ---- BibTeX

// Positions of the braces that have no partner in the text.
QSet<qsizetype> unpairedBraces(const QString &text)
{
    QSet<qsizetype> unpaired;
    QList<qsizetype> open;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'{') {
            open.append(i);
        } else if (text.at(i) == u'}') {
            if (open.isEmpty())
                unpaired.insert(i);
            else
                open.removeLast();
        }
    }
    for (qsizetype i : open)
        unpaired.insert(i);
    return unpaired;
}

QString latexEscaped(const QString &text)
{
    const QSet<qsizetype> unpaired = unpairedBraces(text);
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\textbackslash{}");
            break;
        case u'{':
            out += unpaired.contains(i) ? QStringLiteral("\\textbraceleft{}") : QStringLiteral("{");
            break;
        case u'}':
            out += unpaired.contains(i) ? QStringLiteral("\\textbraceright{}") : QStringLiteral("}");
            break;
        case u'&':
        case u'%':
        case u'$':
        case u'#':
        case u'_':
            out += u'\\';
            out += c;
            break;
        case u'~':
            out += QStringLiteral("\\textasciitilde{}");
            break;
        case u'^':
            out += QStringLiteral("\\textasciicircum{}");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Addresses and paths are taken literally by reference managers; only what would end the braced value
// early (or escape it) is percent-encoded.
QString verbatimValue(const QString &text)
{
    QString out;
    for (QChar c : text) {
        if (c == u'{')
            out += QStringLiteral("%7B");
        else if (c == u'}')
            out += QStringLiteral("%7D");
        else if (c == u'\\')
            out += QStringLiteral("%5C");
        else
            out += c;
    }
    return out;
}

QString authorField(const QStringList &authors)
{
    QStringList names;
    for (const QString &a : authors) {
        const QString escaped = latexEscaped(a);
        // A name that holds the word "and" would be read as two people; braces keep it whole.
        const bool needsBraces = a.contains(QStringLiteral(" and "), Qt::CaseInsensitive);
        names.append(needsBraces ? u'{' + escaped + u'}' : escaped);
    }
    return names.join(QStringLiteral(" and "));
}

QString bibKey(const Fields &f, QSet<QString> &used)
{
    const QByteArray digest =
        QCryptographicHash::hash(f.address.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    const QString base = QStringLiteral("fn%1_%2").arg(f.year.isEmpty() ? QStringLiteral("nd") : f.year,
                                                       QString::fromLatin1(digest));
    QString key = base;
    for (int n = 2; used.contains(key); ++n)
        key = base + u'_' + QString::number(n);
    used.insert(key);
    return key;
}

void bibField(QString &out, const char *name, const QString &value)
{
    if (value.isEmpty())
        return;
    out +=
        QStringLiteral("  ") + QLatin1String(name) + QStringLiteral(" = {") + value + QStringLiteral("},\n");
}

} // namespace

QByteArray ExportRis(const QList<PaperRecord> &records)
{
    QString out;
    for (const PaperRecord &r : records) {
        const Fields f = fieldsOf(r);
        risLine(out, "TY",
                f.conference         ? QStringLiteral("CPAPER")
                : f.source.isEmpty() ? QStringLiteral("GEN")
                                     : QStringLiteral("JOUR"));
        risLine(out, "TI", f.title);
        for (const QString &a : f.authors)
            risLine(out, "AU", a);
        risLine(out, "PY", f.year);
        risLine(out, "T2", f.source);
        risLine(out, "DO", f.doi);
        risLine(out, "VL", f.volume);
        risLine(out, "IS", f.issue);
        risLine(out, "SP", f.firstPage);
        risLine(out, "EP", f.lastPage);
        risLine(out, "PB", f.publisher);
        risLine(out, "LA", f.language);
        risLine(out, "AB", f.abstract);
        for (const QString &k : f.keywords)
            risLine(out, "KW", k);
        risLine(out, "UR", f.address);
        risLine(out, "L1", f.file);
        risLine(out, "N1", shaNote(f.sha256));
        out += QStringLiteral("ER  - \r\n\r\n");
    }
    return out.toUtf8();
}

QByteArray ExportBibTeX(const QList<PaperRecord> &records)
{
    QString out;
    QSet<QString> keys;
    for (const PaperRecord &r : records) {
        const Fields f = fieldsOf(r);
        out += (f.conference         ? QStringLiteral("@inproceedings{")
                : f.source.isEmpty() ? QStringLiteral("@misc{")
                                     : QStringLiteral("@article{")) +
               bibKey(f, keys) + QStringLiteral(",\n");
        bibField(out, "title", latexEscaped(f.title));
        bibField(out, "author", authorField(f.authors));
        bibField(out, "year", latexEscaped(f.year));
        bibField(out, f.conference ? "booktitle" : "journal", latexEscaped(f.source));
        bibField(out, "volume", latexEscaped(f.volume));
        bibField(out, "number", latexEscaped(f.issue));
        bibField(out, "pages",
                 latexEscaped(f.firstPage.isEmpty() || f.lastPage.isEmpty()
                                  ? f.pages()
                                  : f.firstPage + QStringLiteral("--") + f.lastPage));
        bibField(out, "publisher", latexEscaped(f.publisher));
        bibField(out, "language", latexEscaped(f.language));
        bibField(out, "abstract", latexEscaped(f.abstract));
        bibField(out, "keywords", latexEscaped(f.keywords.join(QStringLiteral(", "))));
        bibField(out, "doi", verbatimValue(f.doi));
        bibField(out, "url", verbatimValue(f.address));
        bibField(out, "file", verbatimValue(f.file));
        bibField(out, "note", latexEscaped(shaNote(f.sha256)));
        out += QStringLiteral("}\n\n");
    }
    return out.toUtf8();
}

QByteArray ExportCsv(const QList<PaperRecord> &records)
{
    QString out = QStringLiteral("\uFEFF");
    const QStringList header{QStringLiteral("标题"),    QStringLiteral("作者"), QStringLiteral("年份"),
                             QStringLiteral("来源"),    QStringLiteral("地址"), QStringLiteral("本地文件"),
                             QStringLiteral("SHA-256"), QStringLiteral("DOI"),  QStringLiteral("卷"),
                             QStringLiteral("期"),      QStringLiteral("页码"), QStringLiteral("出版者"),
                             QStringLiteral("语言"),    QStringLiteral("摘要"), QStringLiteral("关键词")};
    out += csv::line(header, csv::Quoting::Always);
    for (const PaperRecord &r : records) {
        const Fields f = fieldsOf(r);
        out += csv::line({f.title, f.authors.join(QStringLiteral("; ")), f.year, f.source, f.address, f.file,
                          f.sha256, f.doi, f.volume, f.issue, f.pages(), f.publisher, f.language, f.abstract,
                          f.keywords.join(QStringLiteral("; "))},
                         csv::Quoting::Always);
    }
    return out.toUtf8();
}
