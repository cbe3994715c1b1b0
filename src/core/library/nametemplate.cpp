#include "core/library/nametemplate.h"

#include "core/common/filenames.h"

namespace {

struct Piece
{
    bool isField = false;
    QString text; // literal text, or the field's name
};

// "{{" and "}}" are literal braces; "{name}" is a field; an unclosed "{" is literal text.
QList<Piece> parse(const QString &t)
{
    QList<Piece> pieces;
    QString literal;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if ((c == u'{' || c == u'}') && i + 1 < t.size() && t.at(i + 1) == c) {
            literal += c;
            ++i;
            continue;
        }
        const qsizetype close = c == u'{' ? t.indexOf(u'}', i + 1) : -1;
        if (close < 0) {
            literal += c;
            continue;
        }
        pieces.append({false, literal});
        literal.clear();
        pieces.append({true, t.mid(i + 1, close - i - 1).trimmed()});
        i = close;
    }
    pieces.append({false, literal});
    return pieces; // literal, field, literal, field, ..., literal
}

bool isBuiltInField(const QString &name)
{
    static const QStringList names{QStringLiteral("标题"),    QStringLiteral("题名"), QStringLiteral("作者"),
                                   QStringLiteral("年份"),    QStringLiteral("年"),   QStringLiteral("来源"),
                                   QStringLiteral("期刊"),    QStringLiteral("卷"),   QStringLiteral("期"),
                                   QStringLiteral("英文标题")};
    return names.contains(name) || name.compare(QStringLiteral("DOI"), Qt::CaseInsensitive) == 0;
}

QString fieldValue(const QString &name, const PaperMetadata &m)
{
    // The title keeps the rule of names made from titles alone: line breaks vanish, nothing else changes.
    if (name == QStringLiteral("标题") || name == QStringLiteral("题名"))
        return TrimSpaces(StripLineBreaks(m.title));
    QString value;
    if (name == QStringLiteral("作者"))
        value = m.authors();
    else if (name == QStringLiteral("年份") || name == QStringLiteral("年"))
        value = m.year();
    else if (name == QStringLiteral("来源") || name == QStringLiteral("期刊"))
        value = m.source();
    else if (name.compare(QStringLiteral("DOI"), Qt::CaseInsensitive) == 0)
        value = QString(m.doi()).replace(u'/', u'_'); // a DOI's "/" would read as a folder
    else if (name == QStringLiteral("卷"))
        value = m.volume();
    else if (name == QStringLiteral("期"))
        value = m.issue();
    else if (name == QStringLiteral("英文标题"))
        value = m.englishTitle();
    else
        value = m.cell(name);
    return TidyCellText(value, 1000);
}

} // namespace

QString FillNameTemplate(const QString &nameTemplate, const PaperMetadata &metadata)
{
    const QList<Piece> pieces = parse(nameTemplate);
    QString name = pieces.first().text;
    bool wroteField = false;
    QString separator; // the text right after the last field written
    for (qsizetype i = 1; i + 1 < pieces.size(); i += 2) {
        const QString value = fieldValue(pieces.at(i).text, metadata);
        const QString &after = pieces.at(i + 1).text;
        if (value.isEmpty())
            continue;
        if (wroteField)
            name += separator;
        name += value;
        wroteField = true;
        separator = after;
    }
    if (pieces.size() > 1)
        name += pieces.last().text;
    return name;
}

QString TemplateFileName(const QString &nameTemplate, const PaperMetadata &metadata, const QString &extension)
{
    QString name = CleanFileName(TrimSpaces(FillNameTemplate(nameTemplate, metadata)));
    if (name.isEmpty())
        name = CleanFileName(TrimSpaces(StripLineBreaks(metadata.title)));
    return FitNameForDisk(name, extension);
}

NameTemplateIssue CheckNameTemplate(const QString &t)
{
    NameTemplateIssue unknown;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if ((c == u'{' || c == u'}') && i + 1 < t.size() && t.at(i + 1) == c) {
            ++i;
            continue;
        }
        if (c != u'{')
            continue;
        const qsizetype close = t.indexOf(u'}', i + 1);
        if (close < 0)
            return {NameTemplateIssue::Kind::UnclosedBrace, t.mid(i + 1), i};
        const QString name = t.mid(i + 1, close - i - 1).trimmed();
        if (unknown.kind == NameTemplateIssue::Kind::None && !isBuiltInField(name))
            unknown = {NameTemplateIssue::Kind::UnknownField, name, i};
        i = close;
    }
    return unknown;
}
