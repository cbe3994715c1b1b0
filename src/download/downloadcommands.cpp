#include "download/downloadcommands.h"

#include "common/classify.h"
#include "common/filenames.h"
#include "common/messenger.h"
#include "download/downloadlistmodel.h"
#include "download/targetfile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

namespace {

constexpr int MaxShuffleDraws = 10000;

bool refused(bool guard, const QString &text, MessageIcon icon = MessageIcon::Information)
{
    if (guard)
        showMessage(icon, text);
    return guard;
}

void deleteIfPresent(const QString &path)
{
    if (FileExists(path))
        QFile::remove(path);
}

bool isFinished(RowState state)
{
    return state == RowState::Done || state == RowState::Failed;
}

bool isHtmlType(const QString &type)
{
    return type.compare(QLatin1String("htm"), Qt::CaseInsensitive) == 0
        || type.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0;
}

// Keys of the rows at the given positions (keys are unique in the list).
QSet<QString> keysAt(const DownloadListModel &model, const QList<int> &positions)
{
    QSet<QString> keys;
    for (int position : positions) {
        if (model.isValidRow(position))
            keys.insert(model.row(position).key);
    }
    return keys;
}

} // namespace

QString rowFile(const DownloadListModel &model, int position)
{
    const DownloadRow &row = model.row(position);
    return rowFilePath(withTrailingSlash(row.folder), FitNameForDisk(row.name, row.type), row.type);
}

bool ShuffleRows(DownloadListModel &model, const CommandGuards &guards, QRandomGenerator &random)
{
    if (refused(guards.listChangeGuard, commandtext::StopFirst))
        return false;
    // Each draw takes one of the rows not yet moved and puts it at the end. Rows never drawn (only in
    // lists longer than the draw limit) keep their order at the top.
    QList<int> unmoved(model.count());
    for (int i = 0; i < model.count(); ++i)
        unmoved[i] = i;
    QList<int> moved;
    int draws = 0;
    while (!unmoved.isEmpty() && ++draws <= MaxShuffleDraws)
        moved.append(unmoved.takeAt(random.bounded(static_cast<int>(unmoved.size()))));
    if (!moved.isEmpty()) {
        QList<DownloadRow> rows;
        rows.reserve(model.count());
        for (int i : std::as_const(unmoved))
            rows.append(model.row(i));
        for (int i : std::as_const(moved))
            rows.append(model.row(i));
        model.replaceRows(std::move(rows));
    }
    showMessage(MessageIcon::Information, commandtext::ShuffleDone);
    return true;
}

void ResetRow(DownloadListModel &model, int position)
{
    if (!model.isValidRow(position))
        return;
    model.setState(position, RowState::Waiting);
    model.clearProgress(position);
    deleteIfPresent(rowFile(model, position));
}

namespace {

// Sends the rows that match back to the queue; the count of rows reset.
int resetRowsWhere(DownloadListModel &model, const QList<int> &positions,
                   const std::function<bool(const DownloadRow &)> &match)
{
    int reset = 0;
    for (int position : positions) {
        if (model.isValidRow(position) && match(model.row(position))) {
            ResetRow(model, position);
            ++reset;
        }
    }
    return reset;
}

QList<int> allPositions(const DownloadListModel &model)
{
    QList<int> positions(model.count());
    std::iota(positions.begin(), positions.end(), 0);
    return positions;
}

} // namespace

int RedownloadSelectedRows(DownloadListModel &model, const QList<int> &selected)
{
    return resetRowsWhere(model, selected, [](const DownloadRow &row) { return isFinished(row.state); });
}

int RedownloadFailedRows(DownloadListModel &model, const CommandGuards &guards)
{
    if (refused(guards.listChangeGuard, commandtext::StopFirst))
        return -1;
    return resetRowsWhere(model, allPositions(model),
                          [](const DownloadRow &row) { return row.state == RowState::Failed; });
}

int RedownloadHtmlRows(DownloadListModel &model, const CommandGuards &guards)
{
    if (refused(guards.listChangeGuard, commandtext::StopFirst))
        return -1;
    return resetRowsWhere(model, allPositions(model),
                          [](const DownloadRow &row) { return isFinished(row.state) && isHtmlType(row.type); });
}

void AutoRedownload(DownloadListModel &model, const CommandGuards &guards, int choicePosition)
{
    switch (static_cast<AutoRedownloadChoice>(choicePosition)) {
    case AutoRedownloadChoice::Failed:
        RedownloadFailedRows(model, guards);
        break;
    case AutoRedownloadChoice::Html:
        RedownloadHtmlRows(model, guards);
        break;
    case AutoRedownloadChoice::FailedAndHtml:
        RedownloadFailedRows(model, guards);
        RedownloadHtmlRows(model, guards);
        break;
    }
}

int RemoveSelectedRows(DownloadListModel &model, const CommandGuards &guards, const QList<int> &selected)
{
    if (refused(guards.listChangeGuard, commandtext::StopFirst))
        return -1;
    const QSet<QString> keys = keysAt(model, selected);
    return model.removeRowsIf([&keys](const DownloadRow &row) { return keys.contains(row.key); });
}

int RemoveFailedRows(DownloadListModel &model)
{
    return model.removeRowsIf([](const DownloadRow &row) { return row.state == RowState::Failed; });
}

int RemoveDoneRows(DownloadListModel &model)
{
    return model.removeRowsIf([](const DownloadRow &row) { return row.state == RowState::Done; });
}

bool ClearAllRows(DownloadListModel &model, const CommandGuards &guards)
{
    if (refused(guards.listChangeGuard, commandtext::StopFirst))
        return false;
    if (!askYesNo(MessageIcon::None, commandtext::ClearAllQuestion))
        return false;
    model.clear();
    return true;
}

bool CancelSelectedRows(DownloadListModel &model, const CommandGuards &guards, const QList<int> &selected)
{
    if (refused(guards.downloadBusy, commandtext::StopBeforeSetting, MessageIcon::Critical))
        return false;
    for (int position : selected) {
        if (model.isValidRow(position) && model.row(position).state == RowState::Waiting)
            model.setState(position, RowState::Failed);
    }
    return true;
}

namespace {

// The row's file when it is on disk; otherwise "该文件不存在！" is shown and the text is empty.
QString fileOrSayMissing(const DownloadListModel &model, int position)
{
    if (!model.isValidRow(position))
        return {};
    const QString path = rowFile(model, position);
    if (FileExists(path))
        return path;
    showMessage(MessageIcon::Critical, commandtext::FileMissing);
    return {};
}

} // namespace

void OpenDownloadedFile(const DownloadListModel &model, int position, const ShellHooks &shell)
{
    const QString path = fileOrSayMissing(model, position);
    if (path.isEmpty())
        return;
    if (shell.openFile)
        shell.openFile(path);
}

void OpenContainingFolder(const DownloadListModel &model, int position, const ShellHooks &shell)
{
    if (!model.isValidRow(position))
        return;
    const QString path = rowFile(model, position);
    if (!FileExists(path)) {
        if (shell.openFolder)
            shell.openFolder(model.row(position).folder);
        return;
    }
    if (!shell.showInFolder || !shell.showInFolder(path))
        showMessage(MessageIcon::Critical, commandtext::OpenFailed);
}

void OpenInTextEditor(const DownloadListModel &model, int position, const ShellHooks &shell)
{
    const QString path = fileOrSayMissing(model, position);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).size() > MaxEditorFileBytes) {
        showMessage(MessageIcon::Critical, commandtext::TooBigForEditor);
        return;
    }
    if (shell.openInTextEditor)
        shell.openInTextEditor(path);
}

void DoubleClickRow(DownloadListModel &model, int position, const ShellHooks &shell)
{
    if (!model.isValidRow(position))
        return;
    switch (model.row(position).state) {
    case RowState::Done: {
        const QString path = rowFile(model, position);
        if (!FileExists(path))
            showMessage(MessageIcon::Critical, commandtext::DoubleClickMissing);
        else if (shell.openFile)
            shell.openFile(path);
        break;
    }
    case RowState::Failed:
        ResetRow(model, position);
        break;
    case RowState::Waiting:
    case RowState::Downloading:
        break;
    }
}

QString RowClickPanelText(const DownloadListModel &model, int position)
{
    if (!model.isValidRow(position))
        return {};
    const QString path = rowFile(model, position);
    return FileExists(path) ? path : QString();
}

int CheckPdfFiles(DownloadListModel &model)
{
    int changed = 0;
    for (int i = 0; i < model.count(); ++i) {
        const DownloadRow &row = model.row(i);
        if (row.state != RowState::Done || row.type.compare(QLatin1String("pdf"), Qt::CaseInsensitive) != 0)
            continue;
        const QString path = rowFile(model, i);
        const QString answer = SniffPaperType(path);
        if (answer == kPaperMissing || answer == kPaperUnknown
            || answer.compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0)
            continue;
        const QString newPath = MakeUniquePath(
            rowFilePath(withTrailingSlash(row.folder), FitNameForDisk(row.name, answer), answer));
        // The row follows the file only when the file really moved, so row and disk never disagree.
        if (!QFile::rename(path, newPath))
            continue;
        QString baseName;
        SplitFileName(newPath, &baseName);
        model.setCell(i, DownloadListModel::ColType, answer);
        model.setName(i, baseName);
        ++changed;
    }
    return changed;
}

namespace {

bool isNumericColumn(int column)
{
    return column == DownloadListModel::ColSize || column == DownloadListModel::ColDownloaded
        || column == DownloadListModel::ColPercent;
}

QString cellOf(const DownloadRow &row, DownloadListModel::Column column)
{
    switch (column) {
    case DownloadListModel::ColName:
        return row.name;
    case DownloadListModel::ColType:
        return row.type;
    case DownloadListModel::ColSize:
        return row.size;
    case DownloadListModel::ColDownloaded:
        return row.downloaded;
    case DownloadListModel::ColPercent:
        return row.percent;
    case DownloadListModel::ColFolder:
    case DownloadListModel::ColumnCount:
        break;
    }
    return row.folder;
}

// The text a numeric column sorts by: numbers as twelve zero-filled digits, other text as it stands.
QString sortText(const QString &cell, int column)
{
    if (!isNumericColumn(column))
        return cell;
    QString text = cell;
    if (column == DownloadListModel::ColPercent)
        text.remove(u'%');
    double value = 0;
    if (text.isEmpty() || !LooksNumeric(text, &value))
        return cell;
    return QStringLiteral("%1").arg(static_cast<qlonglong>(std::llround(value)), 12, 10, QLatin1Char('0'));
}

// Numbers are written back without leading zeros (percentages with their "%"); other text stays.
QString plainNumber(const QString &cell, int column)
{
    QString text = cell;
    if (column == DownloadListModel::ColPercent)
        text.remove(u'%');
    double value = 0;
    if (text.isEmpty() || !LooksNumeric(text, &value))
        return cell;
    QString number = QString::number(static_cast<qlonglong>(std::llround(value)));
    if (column == DownloadListModel::ColPercent)
        number += u'%';
    return number;
}

} // namespace

bool HeaderSorter::sortByColumn(DownloadListModel &model, int column, const CommandGuards &guards)
{
    if (refused(guards.sortGuard, commandtext::StopBeforeSorting))
        return false;
    if (column < 0 || column >= DownloadListModel::ColumnCount)
        return false;
    m_column = column;
    m_ascending = !m_ascending;
    const auto col = static_cast<DownloadListModel::Column>(column);
    const bool ascending = m_ascending;
    auto key = [col](const DownloadRow &row) { return sortText(cellOf(row, col), col); };
    model.sortRows([&](const DownloadRow &a, const DownloadRow &b) {
        const int order = QString::compare(key(a), key(b), Qt::CaseInsensitive);
        return ascending ? order < 0 : order > 0;
    });
    if (isNumericColumn(column)) {
        for (int i = 0; i < model.count(); ++i)
            model.setCell(i, col, plainNumber(model.cell(i, col), column));
    }
    return true;
}
