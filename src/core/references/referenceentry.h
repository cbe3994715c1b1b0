#pragma once

#include <QString>
#include <QStringList>
#include <array>

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
// its file and goes into the exports. A list may hold a hundred thousand of them, so the texts of an
// entry are kept together in one string rather than in a dozen.
class ReferenceEntry
{
public:
    enum class Field {
        Key,         // the list's own name for it (BibTeX key, RIS ID, CSL id); often empty
        Doi,         // as written, without "doi:" or a resolver and not percent-encoded; see DoiKey()
        Arxiv,       // "2101.00001v2", "hep-th/9901001"
        WebAddress,  // a page about the paper (neither a DOI nor an arXiv address)
        FileAddress, // the full text itself (BibTeX pdf/file, RIS L1)
        SourcePage,  // link lists only: the page the link was taken from
        Title,
        Authors, // in order; "Family, Given" where the list tells the parts apart
        Year,    // four digits, or empty
        Journal,
        Detail, // for a problem: the value or the reader's words, made safe to show
    };
    static constexpr int FieldCount = int(Field::Detail) + 1;

    int line() const { return m_line; } // where the entry starts, counting from 1
    void setLine(int line) { m_line = line; }
    EntryProblem problem() const { return m_problem; }
    void setProblem(EntryProblem problem) { m_problem = problem; }

    QString value(Field field) const;
    void setValue(Field field, const QString &value);

    QString key() const { return value(Field::Key); }
    QString doi() const { return value(Field::Doi); }
    QString arxiv() const { return value(Field::Arxiv); }
    QString webAddress() const { return value(Field::WebAddress); }
    QString fileAddress() const { return value(Field::FileAddress); }
    QString sourcePage() const { return value(Field::SourcePage); }
    QString title() const { return value(Field::Title); }
    QStringList authors() const;
    QString year() const { return value(Field::Year); }
    QString journal() const { return value(Field::Journal); }
    QString detail() const { return value(Field::Detail); }
    bool has(Field field) const { return start(field) != m_ends[int(field)]; }

    void addAuthor(const QString &name); // a name holds no control characters
    void setAuthors(const QStringList &names);

    bool usable() const { return m_problem == EntryProblem::None; }
    bool namesIdentifier() const
    {
        return has(Field::Doi) || has(Field::Arxiv) || has(Field::WebAddress) || has(Field::FileAddress);
    }
    // Gives back the room that filling the entry in left over.
    void squeeze() { m_text.squeeze(); }
    // The entry with its identifiers and addresses alone (DOI, arXiv id, web and file address): what
    // finding its full text needs, kept beside a row long after the list is gone. An entry that holds
    // nothing else is given back as it is, sharing its text.
    ReferenceEntry waysOnly() const;

private:
    quint32 start(Field field) const { return field == Field::Key ? 0 : m_ends[int(field) - 1]; }

    QString m_text; // every field, one after the other
    std::array<quint32, FieldCount> m_ends{};
    int m_line = 0;
    EntryProblem m_problem = EntryProblem::None;
};

enum class ReferenceFormat { Unknown, Lines, BibTeX, Ris, CslJson, Csv };

// "plain lines", "BibTeX", "RIS", "CSL-JSON", "CSV".
QString ReferenceFormatName(ReferenceFormat format);
