#include "core/library/linkimport.h"
#include "core/references/entryfields.h"
#include "core/references/identifiers.h"
#include "core/references/referencereaders.h"

namespace {

// A line that is not a link as the link lists take them: perhaps a DOI or an arXiv id, alone or in the
// address field of "title<TAB>address<TAB>source page".
void takeIdentifierLine(ReferenceEntry &entry, const QString &line)
{
    const QStringList fields = line.split(u'\t');
    const QString value = (fields.size() == 1 ? fields.at(0) : fields.at(1)).trimmed();
    if (fields.size() > 1)
        TakeTitle(entry, fields.at(0));
    if (fields.size() == 3 && !fields.at(2).trimmed().isEmpty()) {
        const QString source = fields.at(2).trimmed();
        TakeSourcePage(entry, source);
        if (!IsWebAddress(source))
            Refuse(entry, EntryProblem::BadSourcePage, source);
    }
    if (ReadDoi(value).ok())
        TakeDoi(entry, value);
    else if (!ReadArxivId(value).isEmpty())
        TakeArxivId(entry, value);
    else if (ClaimsToBeDoi(value))
        Refuse(entry, EntryProblem::NotADoi, value);
    else if (ClaimsToBeArxivId(value))
        Refuse(entry, EntryProblem::NotAnArxivId, value);
    else
        Refuse(entry, EntryProblem::NothingUsable, line.trimmed());
}

ReferenceEntry entryOfLine(const QByteArray &bytes, int number)
{
    ReferenceEntry entry;
    entry.setLine(number);
    // What a link list takes is taken the same way.
    const LinkImport link = ParseLinkList(bytes);
    if (!link.links.isEmpty()) {
        const ImportedLink &taken = link.links.first();
        TakeTitle(entry, taken.title);
        TakeSourcePage(entry, taken.sourcePage);
        TakeAddress(entry, taken.address);
        return entry;
    }
    const QString line = QString::fromUtf8(bytes);
    switch (link.problems.isEmpty() ? ImportProblem::Kind::NotAnAddress : link.problems.first().kind) {
    case ImportProblem::Kind::NotAnAddress:
    case ImportProblem::Kind::Duplicate:
        takeIdentifierLine(entry, line);
        break;
    case ImportProblem::Kind::TooManyFields:
        Refuse(entry, EntryProblem::TooManyFields, line);
        break;
    case ImportProblem::Kind::BadSourcePage:
        Refuse(entry, EntryProblem::BadSourcePage, line.section(u'\t', 2));
        break;
    case ImportProblem::Kind::TooLong:
        Refuse(entry, EntryProblem::LineTooLong, line.left(120));
        break;
    }
    return entry;
}

} // namespace

void ReadLineList(ReferenceText &text, ReferenceCollector &into)
{
    QByteArray line;
    while (!into.full() && text.readLine(&line)) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        into.add(entryOfLine(line, text.lineNumber()));
    }
}
