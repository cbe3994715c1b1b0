#pragma once

#include "core/references/referenceentry.h"

#include <QString>
#include <QStringList>

// How the readers fill an entry from the fields of a list, the same way for every format. A problem found
// first stays: later fields do not hide it.

// A DOI field: an invalid one makes the entry NotADoi. A DOI that arXiv registered also gives the arXiv
// id when the entry has none yet.
void TakeDoi(ReferenceEntry &entry, const QString &value);
// An arXiv id field (eprint, arxiv column): an invalid one makes the entry NotAnArxivId.
void TakeArxivId(ReferenceEntry &entry, const QString &value);
// An address that says where the paper is (url, UR): a DOI resolver address gives the DOI, an arXiv
// address the arXiv id, any other http(s) address the web address, each only where the entry has none
// yet. Anything else is passed over.
void TakeAddress(ReferenceEntry &entry, const QString &value);
// An address of the full text (pdf, L1): kept when it is an http(s) address, the first one wins. An
// arXiv address gives the arXiv id as well.
void TakeFileAddress(ReferenceEntry &entry, const QString &value);
// Metadata: the first non-empty value wins, made safe (no control characters, white space collapsed).
void TakeTitle(ReferenceEntry &entry, const QString &value);
void TakeJournal(ReferenceEntry &entry, const QString &value);
void TakeYear(ReferenceEntry &entry, const QString &value);
void TakeAuthor(ReferenceEntry &entry, const QString &name);
void TakeKey(ReferenceEntry &entry, const QString &value);
// Link lists: the page the link was taken from, as it stands.
void TakeSourcePage(ReferenceEntry &entry, const QString &value);

// The entry refused for a problem, unless it has one already.
void Refuse(ReferenceEntry &entry, EntryProblem problem, const QString &detail);
// Once every field is taken: an entry that names nothing to fetch is refused.
void FinishEntry(ReferenceEntry &entry);

// Text from a list as it may be kept and shown: tabs and line breaks become spaces, other control
// characters (bidirectional ones too) go, runs of white space collapse, the ends are trimmed, at most
// maxLength characters.
QString TidyText(const QString &text, int maxLength = 2000);
// The first four-digit number that stands alone ("2019" of "2019/05/01/", "c1998"); empty when none.
QString YearOf(const QString &text);
// A cell holding several authors: split at ";" when there is one, else at " and ", else at ",".
QStringList SplitAuthorCell(const QString &cell);
