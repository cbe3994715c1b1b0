#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One cell of a paper's row on a result page, under the text of its column's header.
struct PaperCell
{
    QString header;
    QString text;
    // The values one by one, in page order, when the page gave several (authors one element each);
    // `text` then holds them joined. Empty for a single value.
    QStringList values = {};

    bool operator==(const PaperCell &) const = default;
};
using PaperCells = QList<PaperCell>;

// What a result page tells about a paper besides its link: the link's text and the other cells of its
// row. Sites name their columns differently; the accessors recognise the usual header texts.
struct PaperMetadata
{
    QString title;
    PaperCells cells;

    // Text of the first cell whose header equals the given one (ignoring case, spaces and a trailing
    // colon); empty when there is none.
    QString cell(const QString &header) const;

    QString authors() const; // as the page wrote them, e.g. "张伟; 王芳"
    // The values the page gave one by one; else the text split at ";", "；", "、" and "，".
    QStringList authorList() const;
    QString year() const;   // the first four-digit year in the year or date cell; empty when none
    QString source() const; // journal, proceedings or other source
    QString englishTitle() const;
    // What a paper's own page may declare besides (see landingpage.h); empty when unknown.
    QString doi() const; // only a value of the DOI's form, without "doi:" or a resolver before it
    QString volume() const;
    QString issue() const;
    QString firstPage() const;
    QString lastPage() const;
    QString publisher() const;
    QString language() const;
    QString abstractText() const;
    QStringList keywordList() const;
    bool isConference() const; // the source is a conference's proceedings

    bool operator==(const PaperMetadata &) const = default;
};

// The DOI in a text ("10.NNNN/…"), without "doi:" or a resolver's address before it; empty when the
// text holds none.
QString DoiOf(const QString &text);

// A cell's text made safe to keep and show: control characters and line breaks become single spaces,
// runs of white space collapse, the ends are trimmed, and the result holds at most maxLength characters.
QString TidyCellText(const QString &text, int maxLength = 2000);

// Cells as stored (a JSON array of [header, text] pairs, [header, text, [values]] for a cell of several
// values) and back; unreadable text gives no cells.
QString CellsToJson(const PaperCells &cells);
PaperCells CellsFromJson(const QString &json);
