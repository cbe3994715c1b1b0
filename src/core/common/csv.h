#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Comma-separated text as spreadsheets read it (RFC 4180), written and read by one set of rules: the
// batch run's manifest and the reference export share them.
namespace csv {

enum class Quoting {
    AsNeeded, // only cells holding a comma, a quote, a line break or spaces at either end
    Always,
};

// A spreadsheet runs a cell that starts with "=", "+", "-", "@", a tab or a carriage return as a
// formula. Such a cell is written with a leading apostrophe, which the spreadsheet shows as text; so
// that this can be undone exactly, a cell that already starts with apostrophes before one of those
// characters gets one more.
QString neutralised(const QString &cell);
// The cell as it was before neutralised().
QString restored(const QString &cell);

// The cell neutralised, then quoted as asked.
QString field(const QString &cell, Quoting quoting = Quoting::AsNeeded);
// The cells as one line, ending in CR LF.
QString line(const QStringList &cells, Quoting quoting = Quoting::AsNeeded);

struct Record
{
    int line = 0; // where the record starts, counting from 1
    QStringList cells;
};

// Why text could not be read as CSV, and where.
struct ParseError
{
    enum class Kind {
        None,
        QuoteInsideCell, // a quote in a cell that does not start with one
        TextAfterQuote,  // a quoted cell goes on after its closing quote
        UnclosedQuote,   // the text ends inside a quoted cell
    };
    Kind kind = Kind::None;
    int line = 0;

    explicit operator bool() const { return kind != Kind::None; }
    // For the user, e.g. "line 7: a quote in the middle of a cell that is not quoted".
    QString text() const;
};

// The records of the text, cells as written (neutralised cells are not restored); empty lines are
// passed over. Text that does not follow the rules is refused as a whole: the error names the line.
QList<Record> parse(const QString &text, ParseError *error);

} // namespace csv
