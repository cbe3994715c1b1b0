#include "core/library/papermetadata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {

QString headerKey(const QString &header)
{
    QString key = header.simplified().toLower();
    key.remove(u' ');
    while (key.endsWith(u':') || key.endsWith(u'：'))
        key.chop(1);
    return key;
}

// The first cell whose header is one of the names (already in headerKey form); nullptr when none is.
const PaperCell *findCell(const PaperCells &cells, std::initializer_list<const char16_t *> names)
{
    for (const PaperCell &c : cells) {
        const QString key = headerKey(c.header);
        for (const char16_t *name : names) {
            if (key == QStringView(name))
                return &c;
        }
    }
    return nullptr;
}

QString cellNamed(const PaperCells &cells, std::initializer_list<const char16_t *> names)
{
    const PaperCell *cell = findCell(cells, names);
    return cell ? cell->text : QString();
}

// The cell's values as the page gave them one by one, or its text split at the separators.
QStringList listOf(const PaperCell *cell, const QRegularExpression &separators)
{
    QStringList out;
    if (!cell)
        return out;
    for (const QString &part : cell->values.isEmpty() ? cell->text.split(separators) : cell->values) {
        if (!part.trimmed().isEmpty())
            out.append(part.trimmed());
    }
    return out;
}

const std::initializer_list<const char16_t *> kAuthorHeaders{u"作者",   u"著者",    u"作者名", u"责任者",
                                                             u"author", u"authors", u"creator"};

bool isSpaceLike(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
           c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

} // namespace

QString PaperMetadata::cell(const QString &header) const
{
    const QString wanted = headerKey(header);
    for (const PaperCell &c : cells) {
        if (headerKey(c.header) == wanted)
            return c.text;
    }
    return {};
}

QString PaperMetadata::authors() const
{
    return cellNamed(cells, kAuthorHeaders);
}

QStringList PaperMetadata::authorList() const
{
    static const QRegularExpression separators(QStringLiteral("[;；、，]"));
    return listOf(findCell(cells, kAuthorHeaders), separators);
}

QString PaperMetadata::year() const
{
    static const QRegularExpression fourDigits(QStringLiteral("(?<!\\d)(1[5-9]\\d\\d|2\\d\\d\\d)(?!\\d)"));
    const QString text = cellNamed(cells, {u"年份", u"年", u"年度", u"出版年", u"发表年份", u"发表时间",
                                           u"出版时间", u"时间", u"日期", u"year", u"date", u"published"});
    const QRegularExpressionMatch m = fourDigits.match(text);
    return m.hasMatch() ? m.captured(1) : QString();
}

QString PaperMetadata::source() const
{
    return cellNamed(cells, {u"来源", u"刊名", u"期刊", u"出处", u"出版物", u"文献来源", u"会议", u"source",
                             u"journal", u"publication", u"conference"});
}

QString PaperMetadata::doi() const
{
    return DoiOf(cellNamed(cells, {u"doi"}));
}

QString PaperMetadata::volume() const
{
    return cellNamed(cells, {u"卷", u"卷号", u"volume"});
}

QString PaperMetadata::issue() const
{
    return cellNamed(cells, {u"期", u"期号", u"issue", u"number"});
}

QString PaperMetadata::firstPage() const
{
    return cellNamed(cells, {u"起始页", u"firstpage"});
}

QString PaperMetadata::lastPage() const
{
    return cellNamed(cells, {u"结束页", u"lastpage"});
}

QString PaperMetadata::publisher() const
{
    return cellNamed(cells, {u"出版者", u"出版社", u"publisher"});
}

QString PaperMetadata::language() const
{
    return cellNamed(cells, {u"语言", u"language"});
}

QString PaperMetadata::abstractText() const
{
    return cellNamed(cells, {u"摘要", u"abstract"});
}

QStringList PaperMetadata::keywordList() const
{
    static const QRegularExpression separators(QStringLiteral("[;；]"));
    return listOf(findCell(cells, {u"关键词", u"keywords", u"subjects", u"subject"}), separators);
}

bool PaperMetadata::isConference() const
{
    const QString conference = cellNamed(cells, {u"会议", u"conference"});
    return !conference.isEmpty() && source() == conference;
}

QString PaperMetadata::englishTitle() const
{
    return cellNamed(cells, {u"title", u"英文题名", u"英文标题", u"英文篇名", u"englishtitle"});
}

QString DoiOf(const QString &text)
{
    // "10." and a registrant code of four to nine digits, "/" and a suffix without spaces.
    static const QRegularExpression doi(QStringLiteral("(?<![0-9A-Za-z])(10\\.\\d{4,9}(?:\\.\\d+)*/\\S+)"));
    const QRegularExpressionMatch m = doi.match(text);
    if (!m.hasMatch())
        return {};
    QString value = m.captured(1);
    // Closing punctuation of the sentence or tag it sits in is not part of it; a bracket is, when the
    // DOI opened it.
    while (!value.isEmpty()) {
        const QChar last = value.back();
        const QChar opening = last == u')' ? u'(' : last == u']' ? u'[' : last == u'}' ? u'{' : QChar();
        if (QStringLiteral(".,;:>\"'").contains(last) ||
            (!opening.isNull() && value.count(opening) < value.count(last)))
            value.chop(1);
        else
            break;
    }
    return value.contains(u'/') && !value.endsWith(u'/') ? value : QString();
}

QString TidyCellText(const QString &text, int maxLength)
{
    QString out;
    out.reserve(std::min<qsizetype>(text.size(), maxLength));
    bool pendingSpace = false;
    for (QChar c : text) {
        if (isSpaceLike(c)) {
            pendingSpace = !out.isEmpty();
            continue;
        }
        if (pendingSpace) {
            out += u' ';
            pendingSpace = false;
        }
        out += c;
        if (out.size() >= maxLength)
            break;
    }
    // A surrogate pair cut in half by the limit would not survive a round trip through UTF-8.
    if (!out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1);
    return out;
}

QString CellsToJson(const PaperCells &cells)
{
    QJsonArray array;
    for (const PaperCell &c : cells) {
        if (c.values.isEmpty())
            array.append(QJsonArray{c.header, c.text});
        else
            array.append(QJsonArray{c.header, c.text, QJsonArray::fromStringList(c.values)});
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

PaperCells CellsFromJson(const QString &json)
{
    PaperCells cells;
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8());
    for (const QJsonValue &v : doc.array()) {
        const QJsonArray pair = v.toArray();
        if (pair.size() < 2)
            continue;
        PaperCell cell{pair.at(0).toString(), pair.at(1).toString(), {}};
        for (const QJsonValue &value : pair.at(2).toArray())
            cell.values.append(value.toString());
        cells.append(cell);
    }
    return cells;
}
