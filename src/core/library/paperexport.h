#pragma once

#include "core/library/librarytypes.h"

#include <QByteArray>
#include <QList>

// The reference-manager formats papers are exported in.
enum class ExportFormat { Ris, BibTeX, Csv };

// Reference-manager files of a list of papers: title, authors, year, source, address, the local file
// and its SHA-256 (as a note). All three are UTF-8. Text from web pages is made harmless for each format:
// line breaks and control characters become spaces, so no value can start a field or a record of its own.

// RIS, one "TY  - ... ER  - " record per paper, CR LF line ends.
QByteArray ExportRis(const QList<PaperRecord> &records);

// BibTeX, one @article (or @misc without a source) per paper, with keys unique within the file.
// LaTeX's special characters are escaped; braces that the title pairs up itself stay as written.
QByteArray ExportBibTeX(const QList<PaperRecord> &records);

// CSV with a header row, CR LF line ends and a byte-order mark so spreadsheet programs read UTF-8.
// A cell that a spreadsheet would take for a formula (starting with =, +, -, @) gets a leading "'".
// Addresses are written without the user name and password they may carry, in all three formats.
QByteArray ExportCsv(const QList<PaperRecord> &records);
