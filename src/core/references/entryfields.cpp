#include "core/references/entryfields.h"

#include "core/common/safetext.h"
#include "core/library/linkimport.h"
#include "core/references/identifiers.h"

#include <QRegularExpression>

namespace {

void keepFirst(QString &field, const QString &value, int maxLength = 2000)
{
    if (field.isEmpty())
        field = TidyText(value, maxLength);
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
    if (entry.problem != EntryProblem::None)
        return;
    entry.problem = problem;
    entry.detail = ShowableText(WithoutCredentials(detail)).left(200);
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
    if (entry.doi.isEmpty())
        entry.doi = read.doi.left(MaxAddressLength);
    if (entry.arxiv.isEmpty())
        entry.arxiv = ArxivIdOfDoi(read.doi);
}

void TakeArxivId(ReferenceEntry &entry, const QString &value)
{
    if (value.trimmed().isEmpty())
        return;
    const QString id = ReadArxivId(value);
    if (id.isEmpty())
        Refuse(entry, EntryProblem::NotAnArxivId, value.trimmed());
    else if (entry.arxiv.isEmpty())
        entry.arxiv = id;
}

void TakeAddress(ReferenceEntry &entry, const QString &value)
{
    const QString address = value.trimmed();
    if (ReadDoi(address).ok()) {
        TakeDoi(entry, address);
    } else if (const QString id = ReadArxivId(address); !id.isEmpty()) {
        keepFirst(entry.arxiv, id);
    } else if (IsWebAddress(address)) {
        keepFirst(entry.webAddress, address, MaxAddressLength);
    }
}

void TakeFileAddress(ReferenceEntry &entry, const QString &value)
{
    const QString address = value.trimmed();
    if (!IsWebAddress(address))
        return;
    keepFirst(entry.fileAddress, address, MaxAddressLength);
    if (const QString id = ReadArxivId(address); !id.isEmpty())
        keepFirst(entry.arxiv, id);
}

void TakeTitle(ReferenceEntry &entry, const QString &value)
{
    keepFirst(entry.title, value);
}

void TakeJournal(ReferenceEntry &entry, const QString &value)
{
    keepFirst(entry.journal, value);
}

void TakeYear(ReferenceEntry &entry, const QString &value)
{
    if (entry.year.isEmpty())
        entry.year = YearOf(value);
}

void TakeAuthor(ReferenceEntry &entry, const QString &name)
{
    if (const QString tidy = TidyText(name, 500); !tidy.isEmpty())
        entry.authors.append(tidy);
}

void TakeKey(ReferenceEntry &entry, const QString &value)
{
    keepFirst(entry.key, value, 200);
}

void FinishEntry(ReferenceEntry &entry)
{
    if (entry.problem == EntryProblem::None && !entry.namesIdentifier())
        Refuse(entry, EntryProblem::NothingUsable, entry.key.isEmpty() ? entry.title : entry.key);
}
