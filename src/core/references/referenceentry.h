#pragma once

#include <QString>
#include <QStringList>

// Why an entry of a reference list cannot be used. The entry is kept with what could be read of it
// (its line, key and title name it to the user) and left out of the papers to fetch.
enum class EntryProblem {
    None,
    NothingUsable,  // names no DOI, arXiv id, web address or file address
    NotADoi,        // its DOI is not one (detail: the value)
    NotAnArxivId,   // it says it is an arXiv id, but is not one (detail: the value)
    CannotParse,    // the reader could not make an entry of it (detail: what the reader met)
    TooManyFields,  // a link-list line with more than three tab-separated fields
    BadSourcePage,  // a link-list line whose third field is not an http or https address
    LineTooLong,    // a line longer than a link list takes
    TooManyEntries, // the list goes on beyond the number of entries read from one list
};

// English words for a problem, e.g. "names no DOI, arXiv id or web address". Texts for the windows are
// made where they are shown.
QString EntryProblemText(EntryProblem problem);

// One paper of a reference list: where it stands, the identifiers it names, and the metadata that names
// its file and goes into the exports.
struct ReferenceEntry
{
    int line = 0;        // where the entry starts, counting from 1
    QString key;         // the list's own name for it (BibTeX key, RIS ID, CSL id); often empty
    QString doi;         // as written, without "doi:" or a resolver and not percent-encoded; see DoiKey()
    QString arxiv;       // "2101.00001v2", "hep-th/9901001"
    QString webAddress;  // a page about the paper (neither a DOI nor an arXiv address)
    QString fileAddress; // the full text itself (BibTeX pdf/file, RIS L1)
    QString sourcePage;  // link lists only: the page the link was taken from

    QString title;
    QStringList authors; // in order; "Family, Given" where the list tells the parts apart
    QString year;        // four digits, or empty
    QString journal;

    EntryProblem problem = EntryProblem::None;
    QString detail; // for a problem: the value or the reader's words, made safe to show

    bool usable() const { return problem == EntryProblem::None; }
    bool namesIdentifier() const
    {
        return !doi.isEmpty() || !arxiv.isEmpty() || !webAddress.isEmpty() || !fileAddress.isEmpty();
    }
};

enum class ReferenceFormat { Unknown, Lines, BibTeX, Ris, CslJson, Csv };

// "plain lines", "BibTeX", "RIS", "CSL-JSON", "CSV".
QString ReferenceFormatName(ReferenceFormat format);
