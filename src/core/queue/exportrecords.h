#pragma once

#include "core/library/librarytypes.h"
#include "core/library/paperexport.h"
#include "core/rows/downloadlistmodel.h"

#include <QByteArray>
#include <QList>
#include <optional>

class PaperLibrary;

// Reference-manager files of download rows (in the formats of ExportFormat).

// The record a row is exported as: what the library knows of the paper (title, cells, source page,
// the file it holds), with the row's own file when the row ended done and the file is there. A paper
// the library does not know is named by the row.
PaperRecord exportRecordFor(const DownloadRow &row, const std::optional<PaperRecord> &known);

// The given rows, or every done row when none is given, in list order. The library may be nullptr.
QList<PaperRecord> exportRecords(const DownloadListModel &model, const QList<RowId> &rows,
                                 PaperLibrary *library);

// The same in two steps, so that the rows' files are looked at off the GUI thread: the rows with what
// the library knows of them (no look at the rows' files), then the records (any thread).
struct ExportItem
{
    DownloadRow row;
    std::optional<PaperRecord> known;
};
QList<ExportItem> exportItems(const DownloadListModel &model, const QList<RowId> &rows,
                              PaperLibrary *library);
// What the library at libraryPath knows of the items' papers, read on the calling thread (a worker) on a
// connection of its own.
void addLibraryRecords(QList<ExportItem> &items, const QString &libraryPath);
QList<PaperRecord> exportRecords(const QList<ExportItem> &items);

QByteArray exportBytes(ExportFormat format, const QList<PaperRecord> &records);
// "RIS (*.ris)" and so on, and the extension.
QString exportFilter(ExportFormat format);
QString exportSuffix(ExportFormat format);
