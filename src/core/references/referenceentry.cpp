#include "core/references/referenceentry.h"

#include <algorithm>

QString EntryProblemText(EntryProblem problem)
{
    switch (problem) {
    case EntryProblem::None:
        break;
    case EntryProblem::NothingUsable:
        return QStringLiteral("names no DOI, arXiv id or web address");
    case EntryProblem::NotADoi:
        return QStringLiteral("its DOI is not a DOI");
    case EntryProblem::NotAnArxivId:
        return QStringLiteral("its arXiv id is not an arXiv id");
    case EntryProblem::CannotParse:
        return QStringLiteral("cannot be read");
    case EntryProblem::TooManyFields:
        return QStringLiteral("has more than three tab-separated fields");
    case EntryProblem::BadSourcePage:
        return QStringLiteral("its source page is not an http or https address");
    case EntryProblem::LineTooLong:
        return QStringLiteral("the line is too long");
    case EntryProblem::TooManyEntries:
        return QStringLiteral("the list has more entries than are read from one list");
    }
    return QString();
}

QString ReferenceFormatName(ReferenceFormat format)
{
    switch (format) {
    case ReferenceFormat::Unknown:
        break;
    case ReferenceFormat::Lines:
        return QStringLiteral("plain lines");
    case ReferenceFormat::BibTeX:
        return QStringLiteral("BibTeX");
    case ReferenceFormat::Ris:
        return QStringLiteral("RIS");
    case ReferenceFormat::CslJson:
        return QStringLiteral("CSL-JSON");
    case ReferenceFormat::Csv:
        return QStringLiteral("CSV");
    }
    return QStringLiteral("unknown");
}

namespace {

// Between the names in the authors' field; names never hold control characters.
constexpr QChar NameSeparator = QChar(0x1f);

} // namespace

QString ReferenceEntry::value(Field field) const
{
    const quint32 from = start(field);
    return m_text.mid(from, m_ends[int(field)] - from);
}

void ReferenceEntry::setValue(Field field, const QString &value)
{
    const quint32 from = start(field);
    const qsizetype old = qsizetype(m_ends[int(field)] - from);
    m_text.replace(from, old, value);
    const qint64 change = value.size() - old;
    for (int i = int(field); i < FieldCount; ++i)
        m_ends[i] = quint32(qint64(m_ends[i]) + change);
}

QStringList ReferenceEntry::authors() const
{
    const QString names = value(Field::Authors);
    return names.isEmpty() ? QStringList() : names.split(NameSeparator);
}

void ReferenceEntry::addAuthor(const QString &name)
{
    const QString names = value(Field::Authors);
    setValue(Field::Authors, names.isEmpty() ? name : names + NameSeparator + name);
}

void ReferenceEntry::setAuthors(const QStringList &names)
{
    setValue(Field::Authors, names.join(NameSeparator));
}

ReferenceEntry ReferenceEntry::waysOnly() const
{
    constexpr std::array ways{Field::Doi, Field::Arxiv, Field::WebAddress, Field::FileAddress};
    bool more = false;
    for (int i = 0; i < FieldCount; ++i)
        more = more || (has(Field(i)) && std::find(ways.cbegin(), ways.cend(), Field(i)) == ways.cend());
    if (!more)
        return *this; // shares its text
    ReferenceEntry kept;
    kept.m_line = m_line;
    for (const Field field : ways) {
        if (has(field))
            kept.setValue(field, value(field));
    }
    kept.squeeze();
    return kept;
}
