#include "core/references/entryfields.h"
#include "core/references/referencereaders.h"

#include <optional>

namespace {

bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

// "TI  - value" (some programs write one space before the dash, or none after it): the tag and where the
// value starts; an empty tag for a line that has none.
QByteArray tagOf(const QByteArray &line, qsizetype *valueStart)
{
    if (line.size() < 4 || !isUpper(line.at(0)) ||
        !(isUpper(line.at(1)) || (line.at(1) >= '0' && line.at(1) <= '9')))
        return QByteArray();
    qsizetype i = 2;
    while (i < line.size() && i < 4 && line.at(i) == ' ')
        ++i;
    if (i == 2 || i >= line.size() || line.at(i) != '-')
        return QByteArray();
    ++i;
    if (i < line.size() && line.at(i) == ' ')
        ++i;
    *valueStart = i;
    return line.left(2);
}

// One record, from its TY line on. The journal is the best of the names given for it: the full name
// first, an abbreviation last.
class RisRecord
{
public:
    explicit RisRecord(int line) { m_entry.setLine(line); }

    void take(const QByteArray &tag, const QByteArray &value)
    {
        const QString text = QString::fromUtf8(value).trimmed();
        if (tag == "DO")
            TakeDoi(m_entry, text);
        else if (tag == "UR" || tag == "L2")
            TakeAddress(m_entry, text);
        else if (tag == "L1")
            TakeFileAddress(m_entry, text);
        else if (tag == "TI" || tag == "T1")
            TakeTitle(m_entry, text);
        else if (tag == "AU" || tag == "A1")
            TakeAuthor(m_entry, text);
        else if (tag == "PY" || tag == "Y1" || tag == "DA")
            TakeYear(m_entry, text);
        else if (tag == "ID")
            TakeKey(m_entry, text);
        else if (const int rank = journalRank(tag); rank >= 0 && m_journals[rank].isEmpty())
            m_journals[rank] = text;
    }

    ReferenceEntry finish()
    {
        for (const QString &journal : m_journals)
            TakeJournal(m_entry, journal);
        return std::move(m_entry);
    }

private:
    static int journalRank(const QByteArray &tag)
    {
        static const char *const ranked[] = {"JF", "T2", "JO", "JA", "J2"};
        for (int i = 0; i < 5; ++i) {
            if (tag == ranked[i])
                return i;
        }
        return -1;
    }

    ReferenceEntry m_entry;
    QString m_journals[5];
};

// Values of the tags that are read; the rest (abstracts, affiliations, keywords) are never decoded.
bool isRead(const QByteArray &tag)
{
    static const QList<QByteArray> read{"DO", "UR", "L1", "L2", "TI", "T1", "AU", "A1", "PY",
                                        "Y1", "DA", "ID", "JF", "T2", "JO", "JA", "J2"};
    return read.contains(tag);
}

} // namespace

void ReadRis(ReferenceText &text, ReferenceCollector &into)
{
    std::optional<RisRecord> record;
    QByteArray tag;   // of the value being gathered
    QByteArray value; // lines without a tag go on it
    const auto commit = [&] {
        if (record && isRead(tag))
            record->take(tag, value);
        tag.clear();
    };
    QByteArray line;
    while (!into.full() && text.readLine(&line)) {
        qsizetype start = 0;
        const QByteArray lineTag = tagOf(line, &start);
        if (lineTag.isEmpty()) {
            if (isRead(tag) && !line.trimmed().isEmpty())
                value += ' ' + line.trimmed();
            continue;
        }
        commit();
        if (lineTag == "TY") {
            if (record)
                into.add(record->finish());
            record.emplace(text.lineNumber());
        } else if (lineTag == "ER") {
            if (record)
                into.add(record->finish());
            record.reset();
        } else {
            tag = lineTag;
            value = isRead(tag) ? line.mid(start) : QByteArray();
        }
    }
    commit();
    if (record)
        into.add(record->finish());
}
