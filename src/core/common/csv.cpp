#include "core/common/csv.h"

namespace csv {

namespace {

bool isFormulaStart(QChar c)
{
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r';
}

// The cell starts with apostrophes (at least `least` of them) and then a formula character.
bool startsWithApostrophesThenFormula(const QString &cell, qsizetype least)
{
    qsizetype i = 0;
    while (i < cell.size() && cell.at(i) == u'\'')
        ++i;
    return i >= least && i < cell.size() && isFormulaStart(cell.at(i));
}

bool needsQuotes(const QString &cell)
{
    return cell.contains(u',') || cell.contains(u'"') || cell.contains(u'\n') || cell.contains(u'\r') ||
           (!cell.isEmpty() && (cell.front().isSpace() || cell.back().isSpace()));
}

bool isLineEnd(QChar c)
{
    return c == u'\n' || c == u'\r';
}

} // namespace

QString neutralised(const QString &cell)
{
    return startsWithApostrophesThenFormula(cell, 0) ? u'\'' + cell : cell;
}

QString restored(const QString &cell)
{
    return startsWithApostrophesThenFormula(cell, 1) ? cell.mid(1) : cell;
}

QString field(const QString &cell, Quoting quoting)
{
    const QString value = neutralised(cell);
    if (quoting == Quoting::AsNeeded && !needsQuotes(value))
        return value;
    QString escaped = value;
    escaped.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

QString line(const QStringList &cells, Quoting quoting)
{
    QStringList written;
    written.reserve(cells.size());
    for (const QString &cell : cells)
        written.append(field(cell, quoting));
    return written.join(u',') + QStringLiteral("\r\n");
}

QString ParseError::text() const
{
    switch (kind) {
    case Kind::None:
        break;
    case Kind::QuoteInsideCell:
        return QStringLiteral("line %1: a quote in the middle of a cell that is not quoted").arg(line);
    case Kind::TextAfterQuote:
        return QStringLiteral("line %1: text after the closing quote of a cell").arg(line);
    case Kind::UnclosedQuote:
        return QStringLiteral("line %1: a quoted cell that is never closed").arg(line);
    }
    return QString();
}

namespace {

// A quoted cell whose opening quote stands at i: up to the quote that is not doubled, line breaks and
// all, each counted in *lineNumber. Returns the position of the closing quote, or -1 when none closes it.
qsizetype readQuotedCell(const QString &text, qsizetype i, QString *cell, int *lineNumber)
{
    const qsizetype n = text.size();
    for (++i; i < n; ++i) {
        const QChar q = text.at(i);
        if (q == u'"' && i + 1 < n && text.at(i + 1) == u'"') {
            *cell += u'"';
            ++i;
        } else if (q == u'"') {
            return i;
        } else {
            if (q == u'\n' || (q == u'\r' && !(i + 1 < n && text.at(i + 1) == u'\n')))
                ++*lineNumber;
            *cell += q;
        }
    }
    return -1;
}

// What parse() has read so far: the records, the one being read and its cell.
struct Reading
{
    QList<Record> records;
    Record record{1, {}};
    QString cell;
    int lineNumber = 1;
    bool lineEmpty = true; // nothing read since the record began

    void endCell() { record.cells.append(std::exchange(cell, QString())); }
    // A line break: the record read on the line, if any, is whole.
    void endLine()
    {
        if (!lineEmpty) {
            endCell();
            records.append(std::exchange(record, Record{}));
        }
        ++lineNumber;
        record.line = lineNumber;
        lineEmpty = true;
    }
    QList<Record> finish()
    {
        if (!lineEmpty) {
            record.cells.append(cell);
            records.append(record);
        }
        return records;
    }
};

// The quoted cell whose opening quote stands at i, read into the cell being read: the position of its
// closing quote, or -1 with the error when the cell breaks the rules.
qsizetype readQuoted(const QString &text, qsizetype i, Reading &reading, ParseError *error)
{
    if (!reading.cell.isEmpty()) {
        *error = ParseError{ParseError::Kind::QuoteInsideCell, reading.lineNumber};
        return -1;
    }
    const int opened = reading.lineNumber;
    i = readQuotedCell(text, i, &reading.cell, &reading.lineNumber);
    if (i < 0) {
        *error = ParseError{ParseError::Kind::UnclosedQuote, opened};
        return -1;
    }
    if (i + 1 < text.size() && text.at(i + 1) != u',' && !isLineEnd(text.at(i + 1))) {
        *error = ParseError{ParseError::Kind::TextAfterQuote, reading.lineNumber};
        return -1;
    }
    return i;
}

} // namespace

QList<Record> parse(const QString &text, ParseError *error)
{
    *error = ParseError{};
    Reading reading;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (isLineEnd(c)) {
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            reading.endLine();
            continue;
        }
        reading.lineEmpty = false;
        if (c == u',')
            reading.endCell();
        else if (c != u'"')
            reading.cell += c;
        else if ((i = readQuoted(text, i, reading, error)) < 0)
            return {};
    }
    return reading.finish();
}

} // namespace csv
