#pragma once

#include "core/references/referencetext.h"

#include <QByteArray>

// The entries of BibTeX text, found as BibTeX finds them: from an "@" followed by a type and "{" or "("
// to the brace (or parenthesis) that closes it, braces inside counted, quotes at the entry's own level
// too. Text between entries is passed over, an "@" in it that starts no entry as well (an e-mail address
// in a comment).
//
// btparse keeps the depth of the braces it is in and the state of its lexer in variables that a new
// text does not reset: text that ends inside an entry leaves them wrong, and the entries read after it
// are then misread or end the program. So only whole entries are given to it, one at a time. An entry
// still open when a line starts another one ("@type{" at the start of the line) is given back as not
// closed, and the next entry starts on that line: an unbalanced brace costs one entry, not the rest of
// the list.
class BibTeXEntries
{
public:
    struct Entry
    {
        QByteArray text; // from its "@"; control characters (a NUL, say) made spaces
        int line = 0;    // of its "@"
        bool closed = false;
        int fields = 0; // the "=" at the entry's own level: its fields (or, in @string, its macros)
    };

    explicit BibTeXEntries(ReferenceText &text) : m_text(text) {}

    // The next entry; false at the end of the text.
    bool next(Entry *entry);

private:
    bool nextLine();
    bool startsEntry(qsizetype at) const;
    qsizetype findStart();
    bool scan(Entry *entry);

    ReferenceText &m_text;
    QByteArray m_line;
    qsizetype m_at = 0; // where the rest of the line starts
    bool m_ended = false;
    bool m_started = false;
    // The scan of the entry being read.
    int m_depth = 0;
    bool m_quoted = false;
    char m_close = 0;
};
