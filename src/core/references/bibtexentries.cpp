#include "core/references/bibtexentries.h"

#include <cctype>
#include <cstring>

namespace {

// BibTeX's names as btparse reads them: letters, digits and these marks.
bool isNameCharacter(char c)
{
    return std::isalnum(uchar(c)) || (c != 0 && std::strchr("!$&*+-./:;<>?[]^_`|", c));
}

qsizetype skipSpaces(const QByteArray &line, qsizetype i)
{
    while (i < line.size() && (line.at(i) == ' ' || line.at(i) == '\t'))
        ++i;
    return i;
}

} // namespace

bool BibTeXEntries::nextLine()
{
    if (m_ended || !m_text.readLine(&m_line)) {
        m_ended = true;
        return false;
    }
    for (char &c : m_line) {
        if (uchar(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    m_at = 0;
    m_started = true;
    return true;
}

// "@", perhaps spaces, a type whose first character is a letter, perhaps spaces, "{" or "(".
bool BibTeXEntries::startsEntry(qsizetype at) const
{
    qsizetype i = skipSpaces(m_line, at + 1);
    if (i >= m_line.size() || !std::isalpha(uchar(m_line.at(i))))
        return false;
    while (i < m_line.size() && isNameCharacter(m_line.at(i)))
        ++i;
    i = skipSpaces(m_line, i);
    return i < m_line.size() && (m_line.at(i) == '{' || m_line.at(i) == '(');
}

// The position of the next entry's "@", the lines before it passed over; -1 at the end of the text.
qsizetype BibTeXEntries::findStart()
{
    if (!m_started && !nextLine())
        return -1;
    for (;;) {
        for (qsizetype at = m_line.indexOf('@', m_at); at >= 0; at = m_line.indexOf('@', at + 1)) {
            if (startsEntry(at))
                return at;
        }
        if (!nextLine())
            return -1;
    }
}

bool BibTeXEntries::next(Entry *entry)
{
    const qsizetype at = findStart();
    if (at < 0)
        return false;
    entry->text.resize(0);
    entry->line = m_text.lineNumber();
    entry->closed = false;
    entry->fields = 0;
    m_at = at;
    m_depth = 0;
    m_quoted = false;
    while (!scan(entry)) {
        entry->text += '\n';
        if (!nextLine())
            return true;
        if (const qsizetype first = skipSpaces(m_line, 0);
            first < m_line.size() && m_line.at(first) == '@' && startsEntry(first))
            return true; // the next entry starts here: this one never closed
    }
    entry->closed = true;
    return true;
}

// Reads the rest of the line into the entry; true when the entry closes on it.
bool BibTeXEntries::scan(Entry *entry)
{
    const qsizetype from = m_at;
    for (; m_at < m_line.size(); ++m_at) {
        const char c = m_line.at(m_at);
        if (m_depth == 0) {
            if (c == '{' || c == '(') {
                m_depth = 1;
                m_close = c == '{' ? '}' : ')';
            }
        } else if (c == '"' && m_depth == 1) {
            m_quoted = !m_quoted;
        } else if (c == '{') {
            ++m_depth;
        } else if (m_depth == 1 && !m_quoted && c == m_close) {
            entry->text.append(m_line.constData() + from, ++m_at - from);
            return true;
        } else if (c == '}' && m_depth > 1) {
            --m_depth;
        } else if (c == '=' && m_depth == 1 && !m_quoted) {
            ++entry->fields;
        }
    }
    entry->text.append(m_line.constData() + from, m_at - from);
    return false;
}
