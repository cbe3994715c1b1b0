#include "core/common/csv.h"
#include "core/library/linkimport.h"
#include "core/references/entryfields.h"
#include "core/references/referencereaders.h"

#include <QHash>
#include <algorithm>

namespace {

enum class Column { Other, Doi, Url, Arxiv, File, Title, Name, Authors, Year, Journal, Source };

// Header texts, compared without letter case and spaces at the ends. "address", "name", "source" and
// "file_address" are the batch manifest's columns; the Chinese ones the program's own CSV export's.
Column columnOf(const QString &header)
{
    static const QHash<QString, Column> columns{{"doi", Column::Doi},
                                                {"url", Column::Url},
                                                {"link", Column::Url},
                                                {"address", Column::Url},
                                                {"地址", Column::Url},
                                                {"arxiv", Column::Arxiv},
                                                {"arxiv_id", Column::Arxiv},
                                                {"arxiv id", Column::Arxiv},
                                                {"eprint", Column::Arxiv},
                                                {"file_address", Column::File},
                                                {"pdf", Column::File},
                                                {"pdf_url", Column::File},
                                                {"title", Column::Title},
                                                {"标题", Column::Title},
                                                {"name", Column::Name},
                                                {"authors", Column::Authors},
                                                {"author", Column::Authors},
                                                {"作者", Column::Authors},
                                                {"year", Column::Year},
                                                {"年份", Column::Year},
                                                {"date", Column::Year},
                                                {"journal", Column::Journal},
                                                {"source title", Column::Journal},
                                                {"container-title", Column::Journal},
                                                {"来源", Column::Journal},
                                                {"source", Column::Source}};
    return columns.value(header.trimmed().toLower(), Column::Other);
}

bool namesIdentifier(const QList<Column> &columns)
{
    return columns.contains(Column::Doi) || columns.contains(Column::Url) || columns.contains(Column::Arxiv);
}

QList<Column> columnsOf(const QStringList &header)
{
    QList<Column> columns;
    for (const QString &cell : header)
        columns.append(columnOf(cell));
    if (columns.contains(Column::Title))
        std::replace(columns.begin(), columns.end(), Column::Name, Column::Other);
    return columns;
}

// The source column of the manifest is the page a link came from; elsewhere it may name the journal.
void takeSource(ReferenceEntry &entry, const QString &value)
{
    if (IsWebAddress(value.trimmed()))
        TakeSourcePage(entry, value.trimmed());
    else
        TakeJournal(entry, value);
}

void takeCell(ReferenceEntry &entry, Column column, const QString &value)
{
    switch (column) {
    case Column::Other:
        break;
    case Column::Doi:
        TakeDoi(entry, value);
        break;
    case Column::Url:
        TakeAddress(entry, value);
        break;
    case Column::Arxiv:
        TakeArxivId(entry, value);
        break;
    case Column::File:
        TakeFileAddress(entry, value);
        break;
    case Column::Title:
    case Column::Name: // the manifest's file name, made from the title (only when there is no title)
        TakeTitle(entry, value);
        break;
    case Column::Authors:
        for (const QString &name : SplitAuthorCell(value))
            TakeAuthor(entry, name);
        break;
    case Column::Year:
        TakeYear(entry, value);
        break;
    case Column::Journal:
        TakeJournal(entry, value);
        break;
    case Column::Source:
        takeSource(entry, value);
        break;
    }
}

// The lines of one record: a quoted cell may hold line breaks, so a record goes on while the quotes
// it has met are not paired (within limits). A record that cannot be read is refused on its first line
// alone, and the lines after it are read again as records of their own: a stray quote costs one row.
class CsvRecords
{
public:
    explicit CsvRecords(ReferenceText &text) : m_text(text) {}

    // The next record's text and first line; false at the end.
    bool next(QByteArray *record, int *line);
    // The lines of the record last given, but its first, are given again.
    void readAgainAfterFirstLine() { m_again = m_last.mid(1) + m_again; }

private:
    bool nextLine(QByteArray *line, int *number);

    static constexpr int MaxLines = 200;
    static constexpr qsizetype MaxBytes = 1024 * 1024;

    ReferenceText &m_text;
    QList<QPair<int, QByteArray>> m_last;  // the lines of the record last given
    QList<QPair<int, QByteArray>> m_again; // lines to read once more
};

bool CsvRecords::nextLine(QByteArray *line, int *number)
{
    if (!m_again.isEmpty()) {
        *number = m_again.first().first;
        *line = m_again.takeFirst().second;
        return true;
    }
    if (!m_text.readLine(line))
        return false;
    *number = m_text.lineNumber();
    return true;
}

bool CsvRecords::next(QByteArray *record, int *line)
{
    m_last.clear();
    record->clear();
    qsizetype quotes = 0;
    QByteArray piece;
    int number = 0;
    while ((m_last.isEmpty() || quotes % 2 != 0) && nextLine(&piece, &number)) {
        if (m_last.isEmpty() && piece.trimmed().isEmpty())
            continue;
        *record += m_last.isEmpty() ? piece : '\n' + piece;
        m_last.append({number, piece});
        quotes += piece.count('"');
        if (m_last.size() >= MaxLines || record->size() >= MaxBytes)
            break;
    }
    if (m_last.isEmpty())
        return false;
    *line = m_last.first().first;
    return true;
}

ReferenceEntry entryOfRecord(const QList<Column> &columns, const QByteArray &record, int line)
{
    ReferenceEntry entry;
    entry.setLine(line);
    csv::ParseError error;
    const QList<csv::Record> parsed = csv::parse(QString::fromUtf8(record), &error);
    if (error || parsed.size() != 1) {
        Refuse(
            entry, EntryProblem::CannotParse,
            csv::ParseError{error ? error.kind : csv::ParseError::Kind::UnclosedQuote, line + error.line - 1}
                .text());
        return entry;
    }
    const QStringList &cells = parsed.first().cells;
    for (qsizetype i = 0; i < cells.size() && i < columns.size(); ++i)
        takeCell(entry, columns.at(i), csv::restored(cells.at(i)));
    return entry;
}

QStringList headerCells(const QByteArray &line)
{
    csv::ParseError error;
    const QList<csv::Record> records = csv::parse(QString::fromUtf8(line), &error);
    return error || records.isEmpty() ? QStringList() : records.first().cells;
}

} // namespace

bool IsCsvReferenceHeader(const QByteArray &line)
{
    return namesIdentifier(columnsOf(headerCells(line)));
}

void ReadCsv(ReferenceText &text, ReferenceCollector &into)
{
    CsvRecords records(text);
    QByteArray record;
    int line = 0;
    if (!records.next(&record, &line))
        return;
    const QList<Column> columns = columnsOf(headerCells(record));
    if (!namesIdentifier(columns)) {
        into.fail(ListFailure::NoIdentifierColumn, QString::fromUtf8(record.left(300)));
        return;
    }
    while (!into.full() && records.next(&record, &line)) {
        ReferenceEntry entry = entryOfRecord(columns, record, line);
        if (entry.problem() == EntryProblem::CannotParse)
            records.readAgainAfterFirstLine();
        into.add(std::move(entry));
    }
}
