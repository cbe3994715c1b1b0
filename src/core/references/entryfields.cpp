#include "core/references/entryfields.h"

#include "core/common/safetext.h"
#include "core/library/linkimport.h"
#include "core/references/identifiers.h"

#include <QRegularExpression>

namespace {

using Field = ReferenceEntry::Field;

void keepFirst(ReferenceEntry &entry, Field field, const QString &value, int maxLength = 2000)
{
    if (!entry.has(field))
        entry.setValue(field, TidyText(value, maxLength));
}

// Addresses and identifiers are short; a long one is shown cut, not kept whole.
constexpr int MaxAddressLength = 4096;

} // namespace

QString TidyText(const QString &text, int maxLength)
{
    QString spaced = text;
    for (QChar &c : spaced) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    QString out = StripUnsafeControls(spaced).simplified();
    if (out.size() > maxLength) {
        out.truncate(maxLength);
        if (out.back().isHighSurrogate())
            out.chop(1);
    }
    return out;
}

QString YearOf(const QString &text)
{
    static const QRegularExpression year(QStringLiteral("(?<![0-9])([0-9]{4})(?![0-9])"));
    return year.match(text).captured(1);
}

QStringList SplitAuthorCell(const QString &cell)
{
    static const QRegularExpression andWord(QStringLiteral("\\s+and\\s+"),
                                            QRegularExpression::CaseInsensitiveOption);
    QStringList parts;
    if (cell.contains(u';'))
        parts = cell.split(u';');
    else if (cell.contains(andWord))
        parts = cell.split(andWord);
    else
        parts = cell.split(u',');
    QStringList names;
    for (const QString &part : std::as_const(parts)) {
        if (const QString name = TidyText(part); !name.isEmpty())
            names.append(name);
    }
    return names;
}

void Refuse(ReferenceEntry &entry, EntryProblem problem, const QString &detail)
{
    if (!entry.usable())
        return;
    entry.setProblem(problem);
    entry.setValue(Field::Detail, ShowableText(WithoutCredentials(detail)).left(200));
}

void TakeDoi(ReferenceEntry &entry, const QString &value)
{
    if (value.trimmed().isEmpty())
        return;
    const DoiRead read = ReadDoi(value);
    if (!read.ok()) {
        Refuse(entry, EntryProblem::NotADoi, value.trimmed());
        return;
    }
    if (!entry.has(Field::Doi))
        entry.setValue(Field::Doi, read.doi.left(MaxAddressLength));
    if (!entry.has(Field::Arxiv))
        entry.setValue(Field::Arxiv, ArxivIdOfDoi(read.doi));
}

void TakeArxivId(ReferenceEntry &entry, const QString &value)
{
    if (value.trimmed().isEmpty())
        return;
    const QString id = ReadArxivId(value);
    if (id.isEmpty())
        Refuse(entry, EntryProblem::NotAnArxivId, value.trimmed());
    else
        keepFirst(entry, Field::Arxiv, id);
}

void TakeAddress(ReferenceEntry &entry, const QString &value)
{
    const QString address = value.trimmed();
    if (ReadDoi(address).ok()) {
        TakeDoi(entry, address);
    } else if (const QString id = ReadArxivId(address); !id.isEmpty()) {
        keepFirst(entry, Field::Arxiv, id);
    } else if (IsWebAddress(address)) {
        keepFirst(entry, Field::WebAddress, address, MaxAddressLength);
    }
}

void TakeFileAddress(ReferenceEntry &entry, const QString &value)
{
    const QString address = value.trimmed();
    if (!IsWebAddress(address))
        return;
    keepFirst(entry, Field::FileAddress, address, MaxAddressLength);
    if (const QString id = ReadArxivId(address); !id.isEmpty())
        keepFirst(entry, Field::Arxiv, id);
}

void TakeTitle(ReferenceEntry &entry, const QString &value)
{
    keepFirst(entry, Field::Title, value);
}

void TakeJournal(ReferenceEntry &entry, const QString &value)
{
    keepFirst(entry, Field::Journal, value);
}

void TakeYear(ReferenceEntry &entry, const QString &value)
{
    if (!entry.has(Field::Year))
        entry.setValue(Field::Year, YearOf(value));
}

void TakeAuthor(ReferenceEntry &entry, const QString &name)
{
    if (const QString tidy = TidyText(name, 500); !tidy.isEmpty())
        entry.addAuthor(tidy);
}

void TakeKey(ReferenceEntry &entry, const QString &value)
{
    keepFirst(entry, Field::Key, value, 200);
}

void TakeSourcePage(ReferenceEntry &entry, const QString &value)
{
    keepFirst(entry, Field::SourcePage, value, MaxAddressLength);
}

void FinishEntry(ReferenceEntry &entry)
{
    if (entry.usable() && !entry.namesIdentifier())
        Refuse(entry, EntryProblem::NothingUsable, entry.has(Field::Key) ? entry.key() : entry.title());
}
