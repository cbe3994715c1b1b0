#include "core/references/entryfields.h"
#include "core/references/identifiers.h"
#include "core/references/referencereaders.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>

namespace {

constexpr qsizetype MaxItemBytes = 16 * 1024 * 1024;

// Cuts a JSON list into its items without parsing them, so that each is parsed alone: a broken item is
// refused with its line and the others are still read, and the whole list is never held at once.
class ItemSplitter
{
public:
    enum class Shape { NotYetKnown, List, OneItem, Done, NotAList };
    // An item's text and first line; an empty text for a member of the list that is not an object.
    using Found = std::function<void(const QByteArray &item, int line, bool tooLarge)>;

    explicit ItemSplitter(Found found) : m_found(std::move(found)) {}

    void feed(const QByteArray &block);
    // Once the text has ended: the line of an item cut short by the end, or 0.
    int unfinished() const { return m_depth > topDepth() ? m_itemLine : 0; }
    bool wasList() const { return m_shape != Shape::NotYetKnown && m_shape != Shape::NotAList; }

private:
    int topDepth() const { return m_shape == Shape::List ? 1 : 0; }
    bool top(char c);
    bool inside(char c);
    void capture(const QByteArray &block, qsizetype from, qsizetype to);
    void itemEnds();

    Found m_found;
    Shape m_shape = Shape::NotYetKnown;
    int m_depth = 0;
    bool m_inString = false;
    bool m_escaped = false;
    bool m_inScalar = false; // a member of the list that is neither an object nor a list
    int m_line = 1;
    int m_itemLine = 0;
    QByteArray m_item;
    bool m_tooLarge = false;
};

void ItemSplitter::feed(const QByteArray &block)
{
    qsizetype from = m_depth > topDepth() ? 0 : -1; // where the item being gathered starts in the block
    for (qsizetype i = 0; i < block.size(); ++i) {
        const char c = block.at(i);
        if (c == '\n')
            ++m_line;
        if (m_inString) {
            m_inString = m_escaped || c != '"';
            m_escaped = !m_escaped && c == '\\';
        } else if (m_depth == topDepth()) {
            if (top(c))
                from = i;
        } else if (inside(c)) {
            capture(block, from, i + 1);
            itemEnds();
            from = -1;
        }
    }
    if (from >= 0)
        capture(block, from, block.size());
}

// Between the items: the list's own brackets, commas, white space, and the start of the next item.
// True when an object or a list starts here.
bool ItemSplitter::top(char c)
{
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t' || m_shape == Shape::Done ||
        m_shape == Shape::NotAList)
        return false;
    if (m_shape == Shape::NotYetKnown) {
        m_shape = c == '[' ? Shape::List : c == '{' ? Shape::OneItem : Shape::NotAList;
        if (m_shape != Shape::OneItem) {
            m_depth = m_shape == Shape::List ? 1 : 0;
            return false;
        }
    }
    if (c == ',' || c == ']') {
        m_inScalar = false;
        if (c == ']') {
            m_shape = Shape::Done; // what follows the list is not read
            m_depth = 0;
        }
        return false;
    }
    if (m_inScalar)
        return false;
    m_itemLine = m_line;
    m_item.resize(0);
    m_tooLarge = false;
    if (c == '{' || c == '[') {
        ++m_depth;
        return true;
    }
    m_inScalar = true;
    m_inString = c == '"';
    m_found(QByteArray(), m_itemLine, false);
    return false;
}

// True when the item ends here.
bool ItemSplitter::inside(char c)
{
    if (c == '"')
        m_inString = true;
    else if (c == '{' || c == '[')
        ++m_depth;
    else if (c == '}' || c == ']')
        return --m_depth == topDepth();
    return false;
}

void ItemSplitter::capture(const QByteArray &block, qsizetype from, qsizetype to)
{
    if (m_tooLarge || m_item.size() + (to - from) > MaxItemBytes) {
        m_tooLarge = true;
        m_item = QByteArray();
        return;
    }
    m_item.append(block.constData() + from, to - from);
}

void ItemSplitter::itemEnds()
{
    m_found(m_item.startsWith('{') || m_tooLarge ? m_item : QByteArray(), m_itemLine, m_tooLarge);
    m_item.resize(0); // its room is used again by the next item
    if (m_shape == Shape::OneItem)
        m_shape = Shape::Done; // what follows one item is not read
}

QString textOf(const QJsonValue &value)
{
    if (value.isArray())
        return textOf(value.toArray().at(0)); // at(), not first(): the list may be empty
    if (value.isDouble())
        return QString::number(value.toDouble(), 'f', 0);
    return value.toString();
}

// "Family, Given", with a particle before the family name and a suffix after it; a literal name as it is.
QString nameOf(const QJsonObject &name)
{
    if (const QString literal = textOf(name.value(QLatin1String("literal"))); !literal.isEmpty())
        return literal;
    QStringList family;
    for (const char *part : {"non-dropping-particle", "dropping-particle", "family"}) {
        if (const QString text = textOf(name.value(QLatin1String(part))).trimmed(); !text.isEmpty())
            family.append(text);
    }
    QStringList parts{family.join(u' ')};
    for (const char *part : {"suffix", "given"}) {
        if (const QString text = textOf(name.value(QLatin1String(part))).trimmed(); !text.isEmpty())
            parts.append(text);
    }
    parts.removeAll(QString());
    return parts.join(QStringLiteral(", "));
}

// The year of "issued": its first date part, or the year in its raw or literal text.
QString yearOf(const QJsonObject &issued)
{
    const QJsonArray parts = issued.value(QLatin1String("date-parts")).toArray().at(0).toArray();
    if (!parts.isEmpty())
        return YearOf(textOf(parts.first()));
    const QString raw = textOf(issued.value(QLatin1String("raw")));
    return YearOf(raw.isEmpty() ? textOf(issued.value(QLatin1String("literal"))) : raw);
}

bool saysArxiv(const QJsonObject &item)
{
    for (const char *field : {"archive", "publisher", "container-title"}) {
        if (textOf(item.value(QLatin1String(field))).trimmed().compare(u"arXiv", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void takeItem(ReferenceEntry &entry, const QJsonObject &item)
{
    TakeKey(entry, textOf(item.value(QLatin1String("id"))));
    TakeDoi(entry, textOf(item.contains(QLatin1String("DOI")) ? item.value(QLatin1String("DOI"))
                                                              : item.value(QLatin1String("doi"))));
    TakeAddress(entry, textOf(item.contains(QLatin1String("URL")) ? item.value(QLatin1String("URL"))
                                                                  : item.value(QLatin1String("url"))));
    if (saysArxiv(item) && !entry.has(ReferenceEntry::Field::Arxiv))
        entry.setValue(ReferenceEntry::Field::Arxiv,
                       ReadArxivId(textOf(item.value(QLatin1String("number")))));
    TakeTitle(entry, textOf(item.value(QLatin1String("title"))));
    for (const QJsonValue author : item.value(QLatin1String("author")).toArray())
        TakeAuthor(entry, nameOf(author.toObject()));
    TakeYear(entry, yearOf(item.value(QLatin1String("issued")).toObject()));
    TakeJournal(entry, textOf(item.value(QLatin1String("container-title"))));
}

ReferenceEntry entryOfItem(const QByteArray &text, int line, bool tooLarge)
{
    ReferenceEntry entry;
    entry.setLine(line);
    if (tooLarge) {
        Refuse(entry, EntryProblem::CannotParse,
               QStringLiteral("larger than %1 MiB").arg(MaxItemBytes >> 20));
        return entry;
    }
    if (text.isEmpty()) {
        Refuse(entry, EntryProblem::CannotParse, QStringLiteral("not an object"));
        return entry;
    }
    QJsonParseError error;
    const QJsonDocument item = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        const int errorLine = line + int(text.left(error.offset).count('\n'));
        Refuse(entry, EntryProblem::CannotParse,
               QStringLiteral("line %1: %2").arg(errorLine).arg(error.errorString()));
        return entry;
    }
    takeItem(entry, item.object());
    return entry;
}

} // namespace

void ReadCslJson(ReferenceText &text, ReferenceCollector &into)
{
    ItemSplitter splitter([&into](const QByteArray &item, int line, bool tooLarge) {
        into.add(entryOfItem(item, line, tooLarge));
    });
    QByteArray block;
    while (!into.full() && text.readBlock(&block))
        splitter.feed(block);
    if (const int line = splitter.unfinished(); line > 0) {
        ReferenceEntry cut;
        cut.setLine(line);
        Refuse(cut, EntryProblem::CannotParse, QStringLiteral("the text ends inside this item"));
        into.add(std::move(cut));
    }
    if (!splitter.wasList())
        into.fail(ListFailure::NotJsonList, QString());
}
