#include "core/queue/exportrecords.h"

#include "core/common/safetext.h"
#include "core/library/landingpage.h"
#include "core/library/paperexport.h"
#include "core/library/paperlibrary.h"
#include "core/rows/targetfile.h"

#include <QFileInfo>
#include <QHash>

PaperRecord exportRecordFor(const DownloadRow &row, const std::optional<PaperRecord> &known)
{
    PaperRecord record = known.value_or(PaperRecord{});
    record.address = row.key;
    // What the row's own page declared fills what the library does not know (a list restored, or a
    // library that could not take the record).
    record.metadata = MergedMetadata(record.metadata, row.declared);
    if (record.fileAddress.isEmpty()) {
        record.fileAddress = row.fileAddress;
        record.landingPage = row.landingPage;
    }
    if (record.metadata.title.isEmpty())
        record.metadata.title = row.name;
    if (record.sourcePage.isEmpty())
        record.sourcePage = row.tag;
    if (row.state != RowState::Done)
        return record;
    countDiskLook();
    const QFileInfo file(rowFilePath(row));
    if (!file.isFile())
        return record;
    const QString path = file.absoluteFilePath();
    // The hash on record belongs to the file on record; another file of the row's goes without one.
    if (record.held.filePath != path || record.held.size != file.size())
        record.held = HeldFile{row.key, path, file.size(), {}, {}};
    return record;
}

QList<ExportItem> exportItems(const DownloadListModel &model, const QList<RowId> &rows, PaperLibrary *library)
{
    QList<const DownloadRow *> chosen;
    if (rows.isEmpty()) {
        for (int i = 0; i < model.count(); ++i) {
            if (model.row(i).state == RowState::Done)
                chosen.append(&model.row(i));
        }
    } else {
        for (RowId id : rows) {
            if (const DownloadRow *row = model.find(id))
                chosen.append(row);
        }
    }
    QList<ExportItem> items;
    items.reserve(chosen.size());
    for (const DownloadRow *row : std::as_const(chosen))
        items.append(ExportItem{*row, library ? library->record(row->key) : std::nullopt});
    return items;
}

void addLibraryRecords(QList<ExportItem> &items, const QString &libraryPath)
{
    QStringList addresses;
    addresses.reserve(items.size());
    for (const ExportItem &item : std::as_const(items))
        addresses.append(item.row.key);
    QHash<QString, PaperRecord> known;
    for (PaperRecord &record : PaperLibrary::readRecords(libraryPath, addresses))
        known.insert(record.address, std::move(record));
    for (ExportItem &item : items) {
        if (const auto found = known.constFind(WithoutCredentials(item.row.key)); found != known.cend())
            item.known = *found;
    }
}

QList<PaperRecord> exportRecords(const QList<ExportItem> &items)
{
    QList<PaperRecord> records;
    records.reserve(items.size());
    for (const ExportItem &item : items)
        records.append(exportRecordFor(item.row, item.known));
    return records;
}

QList<PaperRecord> exportRecords(const DownloadListModel &model, const QList<RowId> &rows,
                                 PaperLibrary *library)
{
    return exportRecords(exportItems(model, rows, library));
}

QByteArray exportBytes(ExportFormat format, const QList<PaperRecord> &records)
{
    switch (format) {
    case ExportFormat::Ris:
        return ExportRis(records);
    case ExportFormat::BibTeX:
        return ExportBibTeX(records);
    case ExportFormat::Csv:
        break;
    }
    return ExportCsv(records);
}

QString exportFilter(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Ris:
        return QStringLiteral("RIS (*.ris)");
    case ExportFormat::BibTeX:
        return QStringLiteral("BibTeX (*.bib)");
    case ExportFormat::Csv:
        break;
    }
    return QStringLiteral("CSV (*.csv)");
}

QString exportSuffix(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Ris:
        return QStringLiteral("ris");
    case ExportFormat::BibTeX:
        return QStringLiteral("bib");
    case ExportFormat::Csv:
        break;
    }
    return QStringLiteral("csv");
}
