#include "core/queue/downloadcommands.h"

#include "core/common/classify.h"
#include "core/common/filenames.h"
#include "core/common/messenger.h"
#include "core/pdf/pdfchecker.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/targetfile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <sys/stat.h>

namespace {

constexpr int MaxShuffleDraws = 10000;

bool refused(bool guard, const QString &text, MessageIcon icon = MessageIcon::Information)
{
    if (guard)
        showMessage(icon, text);
    return guard;
}

bool isFinished(RowState state)
{
    return state == RowState::Done || state == RowState::Failed;
}

bool isHtmlType(const QString &type)
{
    return type.compare(QLatin1String("htm"), Qt::CaseInsensitive) == 0 ||
           type.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0;
}

} // namespace

QString rowFile(const DownloadListModel &model, RowId id)
{
    const DownloadRow *row = model.find(id);
    return row ? rowFilePath(*row) : QString();
}

bool ShuffleRows(const RowWriter &rows, const CommandGuards &guards, QRandomGenerator &random)
{
    const DownloadListModel &model = rows.list();
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
        QList<RowId> order;
        order.reserve(model.count());
        for (int i : std::as_const(unmoved))
            order.append(model.idAt(i));
        for (int i : std::as_const(moved))
            order.append(model.idAt(i));
        rows.reorderRows(order);
    }
    showMessage(MessageIcon::Information, commandtext::ShuffleDone);
    return true;
}

void ResetRow(const RowWriter &rows, RowId id)
{
    ApplyReset(rows, ResetCandidates(rows.list(), {id}, [](const DownloadRow &) { return true; }));
}

QList<ResetItem> ResetCandidates(const DownloadListModel &model, const QList<RowId> &ids,
                                 const std::function<bool(const DownloadRow &)> &match)
{
    QList<ResetItem> items;
    QSet<RowId> seen;
    for (RowId id : ids) {
        const DownloadRow *row = model.find(id);
        if (row && match(*row) && !seen.contains(id)) {
            seen.insert(id);
            items.append(ResetItem{id, row->state, row->owned});
        }
    }
    return items;
}

int ApplyReset(const RowWriter &rows, const QList<ResetItem> &items)
{
    int reset = 0;
    for (const ResetItem &item : items) {
        const DownloadRow *row = rows.list().find(item.id);
        if (!row || row->state != item.state || !(row->owned == item.owned))
            continue;
        // A row held from an earlier download pointed at that download's file, maybe in another folder: it
        // goes back to its own. A file the row wrote stays its own until the new copy takes its place.
        rows.update(item.id, [](DownloadRow &r) {
            if (r.percentNote == PercentNote::Held) {
                r.name = r.givenName;
                r.folder = r.givenFolder;
            }
            r.state = RowState::Waiting;
            r.clearProgress();
            r.reason = {};
            r.retry = 0;
            r.refetchedWhole = false;
        });
        ++reset;
    }
    return reset;
}

bool IsRedownloadable(const DownloadRow &row)
{
    return isFinished(row.state);
}

bool IsFailedRow(const DownloadRow &row)
{
    return row.state == RowState::Failed;
}

bool IsDamagedPdfRow(const DownloadRow &row)
{
    return row.state == RowState::Failed && row.reason.kind == FailureReason::Kind::PdfDamaged;
}

bool IsFinishedHtmlRow(const DownloadRow &row)
{
    return isFinished(row.state) && isHtmlType(row.type);
}

namespace {

// Sends the rows that match back to the queue; the count of rows reset.
int resetRowsWhere(const RowWriter &rows, const QList<RowId> &ids,
                   const std::function<bool(const DownloadRow &)> &match)
{
    return ApplyReset(rows, ResetCandidates(rows.list(), ids, match));
}

} // namespace

QList<RowId> AllRowIds(const DownloadListModel &model)
{
    QList<RowId> ids;
    ids.reserve(model.count());
    for (int i = 0; i < model.count(); ++i)
        ids.append(model.idAt(i));
    return ids;
}

int RedownloadSelectedRows(const RowWriter &rows, const QList<RowId> &selected)
{
    return resetRowsWhere(rows, selected, IsRedownloadable);
}

int RedownloadFailedRows(const RowWriter &rows, const CommandGuards &guards)
{
    const DownloadListModel &model = rows.list();
    if (refused(guards.listChangeGuard, commandtext::StopFirst))
        return -1;
    return resetRowsWhere(rows, AllRowIds(model), IsFailedRow);
}

int RedownloadHtmlRows(const RowWriter &rows, const CommandGuards &guards)
{
    const DownloadListModel &model = rows.list();
    if (refused(guards.listChangeGuard, commandtext::StopFirst))
        return -1;
    return resetRowsWhere(rows, AllRowIds(model), IsFinishedHtmlRow);
}

bool AutoRedownloadResets(const DownloadRow &row, AutoRedownloadChoice choice)
{
    switch (choice) {
    case AutoRedownloadChoice::Failed:
        return IsFailedRow(row);
    case AutoRedownloadChoice::Html:
        return IsFinishedHtmlRow(row);
    case AutoRedownloadChoice::FailedAndHtml:
        return IsFailedRow(row) || IsFinishedHtmlRow(row);
    }
    return false;
}

bool AutoRedownloadFindsRows(const DownloadListModel &model, AutoRedownloadChoice choice)
{
    for (int i = 0; i < model.count(); ++i) {
        if (AutoRedownloadResets(model.row(i), choice))
            return true;
    }
    return false;
}

void AutoRedownload(const RowWriter &rows, const CommandGuards &guards, int choicePosition)
{
    // It runs from a timer: a guard that holds skips it without a word, never with a message box.
    if (guards.listChangeGuard)
        return;
    const auto choice = static_cast<AutoRedownloadChoice>(choicePosition);
    resetRowsWhere(rows, AllRowIds(rows.list()),
                   [choice](const DownloadRow &row) { return AutoRedownloadResets(row, choice); });
}

namespace {

int removeRowsWhere(const RowWriter &rows, const std::function<bool(const DownloadRow &)> &match,
                    StayingRows *staying)
{
    if (!staying || !staying->stays)
        return static_cast<int>(rows.removeRowsIf(match).size());
    const qsizetype before = staying->stayed.size();
    const QList<RowId> removed = rows.removeRowsIf([&match, staying](const DownloadRow &row) {
        if (!match(row))
            return false;
        if (!staying->stays(row.id))
            return true;
        staying->stayed.append(row.id);
        return false;
    });
    return static_cast<int>(removed.size() + staying->stayed.size() - before);
}

} // namespace

int RemoveSelectedRows(const RowWriter &rows, const CommandGuards &guards, const QList<RowId> &selected,
                       StayingRows *staying)
{
    if (refused(guards.listChangeGuard, commandtext::StopFirst))
        return -1;
    const QSet<RowId> ids(selected.cbegin(), selected.cend());
    return removeRowsWhere(
        rows, [&ids](const DownloadRow &row) { return ids.contains(row.id); }, staying);
}

int RemoveFailedRows(const RowWriter &rows, StayingRows *staying)
{
    return removeRowsWhere(
        rows, [](const DownloadRow &row) { return row.state == RowState::Failed; }, staying);
}

int RemoveDoneRows(const RowWriter &rows, StayingRows *staying)
{
    return removeRowsWhere(
        rows, [](const DownloadRow &row) { return row.state == RowState::Done; }, staying);
}

bool ClearAllRows(const RowWriter &rows, const CommandGuards &guards, StayingRows *staying)
{
    if (refused(guards.listChangeGuard, commandtext::StopFirst))
        return false;
    if (!askYesNo(MessageIcon::None, commandtext::ClearAllQuestion))
        return false;
    const QList<RowId> all = AllRowIds(rows.list());
    if (staying && staying->stays && std::any_of(all.cbegin(), all.cend(), staying->stays))
        removeRowsWhere(
            rows, [](const DownloadRow &) { return true; }, staying);
    else
        rows.clear(); // every row at once
    return true;
}

bool CancelSelectedRows(const RowWriter &rows, const CommandGuards &guards, const QList<RowId> &selected)
{
    const DownloadListModel &model = rows.list();
    if (refused(guards.downloadBusy, commandtext::StopBeforeSetting, MessageIcon::Critical))
        return false;
    // The queue hears of it by the rows' end: a row that waited for its next try lets that try go.
    for (RowId id : selected) {
        const DownloadRow *row = model.find(id);
        if (row && row->state == RowState::Waiting)
            rows.update(id, [](DownloadRow &r) {
                r.state = RowState::Failed;
                if (r.sizeNote == SizeNote::RetryWait)
                    r.sizeNote = SizeNote::None;
            });
    }
    return true;
}

RowFileLook RowFileToLook(const DownloadListModel &model, RowId id)
{
    if (!model.find(id))
        return {};
    return RowFileLook{id, rowFile(model, id), false, -1};
}

void LookAtRowFile(RowFileLook &look)
{
    if (look.path.isEmpty())
        return;
    countDiskLook();
    // As the shell sees it: a link is followed to what it leads to.
    struct stat st
    {
    };
    look.exists = ::stat(QFile::encodeName(look.path).constData(), &st) == 0 && S_ISREG(st.st_mode);
    look.size = look.exists ? static_cast<qint64>(st.st_size) : -1;
}

bool LookStillApplies(const DownloadListModel &model, const RowFileLook &look)
{
    return !look.path.isEmpty() && model.find(look.id) && rowFile(model, look.id) == look.path;
}

namespace {

RowFileLook lookNow(const DownloadListModel &model, RowId id)
{
    RowFileLook look = RowFileToLook(model, id);
    LookAtRowFile(look);
    return look;
}

} // namespace

void OpenDownloadedFileWith(const RowFileLook &look, const ShellHooks &shell)
{
    if (!look.exists) {
        showMessage(MessageIcon::Critical, commandtext::FileMissing);
        return;
    }
    if (shell.openFile)
        shell.openFile(look.path);
}

void OpenContainingFolderWith(const DownloadListModel &model, const RowFileLook &look,
                              const ShellHooks &shell)
{
    const DownloadRow *row = model.find(look.id);
    if (!row)
        return;
    if (!look.exists) {
        if (shell.openFolder)
            shell.openFolder(row->folder);
        return;
    }
    if (!shell.showInFolder || !shell.showInFolder(look.path))
        showMessage(MessageIcon::Critical, commandtext::OpenFailed);
}

void OpenInTextEditorWith(const RowFileLook &look, const ShellHooks &shell)
{
    if (!look.exists) {
        showMessage(MessageIcon::Critical, commandtext::FileMissing);
        return;
    }
    if (look.size > MaxEditorFileBytes) {
        showMessage(MessageIcon::Critical, commandtext::TooBigForEditor);
        return;
    }
    if (shell.openInTextEditor)
        shell.openInTextEditor(look.path);
}

void OpenDoneRowWith(const RowFileLook &look, const ShellHooks &shell)
{
    if (!look.exists)
        showMessage(MessageIcon::Critical, commandtext::DoubleClickMissing);
    else if (shell.openFile)
        shell.openFile(look.path);
}

void OpenDownloadedFile(const DownloadListModel &model, RowId id, const ShellHooks &shell)
{
    if (model.find(id))
        OpenDownloadedFileWith(lookNow(model, id), shell);
}

void OpenContainingFolder(const DownloadListModel &model, RowId id, const ShellHooks &shell)
{
    if (model.find(id))
        OpenContainingFolderWith(model, lookNow(model, id), shell);
}

void OpenInTextEditor(const DownloadListModel &model, RowId id, const ShellHooks &shell)
{
    if (model.find(id))
        OpenInTextEditorWith(lookNow(model, id), shell);
}

void DoubleClickRow(const RowWriter &rows, RowId id, const ShellHooks &shell)
{
    const DownloadListModel &model = rows.list();
    const DownloadRow *row = model.find(id);
    if (!row)
        return;
    switch (row->state) {
    case RowState::Done:
        OpenDoneRowWith(lookNow(model, id), shell);
        break;
    case RowState::Failed:
        ResetRow(rows, id);
        break;
    case RowState::Waiting:
    case RowState::Downloading:
        break;
    }
}

QString RowClickReasonText(const DownloadListModel &model, RowId id)
{
    const DownloadRow *row = model.find(id);
    if (!row)
        return {};
    // A row that failed, or waits to be tried again, says why.
    if (!row->reason.isNone() && row->state == RowState::Failed)
        return QStringLiteral("失败原因：") + reasonTextForWindow(row->reason) +
               (row->owned.isNone() ? QString() : QStringLiteral("（原文件已保留）"));
    if (!row->reason.isNone() && row->sizeNote == SizeNote::RetryWait)
        return row->sizeText() + QStringLiteral("，失败原因：") + reasonTextForWindow(row->reason);
    return {};
}

QString RowClickPanelText(const DownloadListModel &model, RowId id)
{
    const QString reason = RowClickReasonText(model, id);
    if (!reason.isEmpty() || !model.find(id))
        return reason;
    const RowFileLook look = lookNow(model, id);
    return look.exists ? look.path : QString();
}

QList<PdfCheckItem> PdfCheckCandidates(const DownloadListModel &model)
{
    QList<PdfCheckItem> items;
    for (int i = 0; i < model.count(); ++i) {
        const DownloadRow &row = model.row(i);
        if (row.state != RowState::Done || row.type.compare(QLatin1String("pdf"), Qt::CaseInsensitive) != 0)
            continue;
        // Only a file the row wrote itself is renamed: not one it was skipped on, nor one held from before.
        if (row.owned.path != rowFilePath(row))
            continue;
        items.append(PdfCheckItem{row.id, withTrailingSlash(row.folder), row.name, row.owned, {}, {}});
    }
    return items;
}

void CheckPdfFileOnDisk(PdfCheckItem &item, PdfChecker *checker)
{
    if (!IsStillOwned(item.owned))
        return;
    const QString answer = SniffPaperType(item.owned.path);
    if (answer.compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0) {
        if (checker) {
            item.checked = true;
            item.verdict = checker->checkFile(item.owned.path);
        }
        return;
    }
    if (answer == kPaperMissing || answer == kPaperUnknown)
        return;
    const QString newPath =
        MakeUniquePath(rowFilePath(item.folder, FitNameForDisk(item.name, answer, 0), answer));
    item.moved = MoveOwnedFile(item.owned, newPath);
    if (!item.moved.isNone())
        item.type = answer;
}

namespace {

void countVerdict(const PdfVerdict &verdict, PdfCheckTally *tally)
{
    switch (verdict.state) {
    case PdfVerdict::State::Whole:
        ++tally->whole;
        break;
    case PdfVerdict::State::Repaired:
        ++tally->repaired;
        break;
    case PdfVerdict::State::Encrypted:
        ++tally->encrypted;
        break;
    case PdfVerdict::State::Damaged:
        ++tally->damaged;
        break;
    case PdfVerdict::State::NotChecked:
        ++tally->notChecked;
        break;
    }
}

// The row takes what was found of its file: a new name and type, or the check's verdict. A damaged file
// is no paper: the row fails, and keeps the file as its own until a new copy takes its place.
void applyToRow(const RowWriter &rows, const PdfCheckItem &item)
{
    QString baseName;
    if (!item.moved.isNone())
        SplitFileName(item.moved.path, &baseName);
    rows.update(item.id, [&](DownloadRow &r) {
        if (!item.moved.isNone()) {
            r.type = item.type;
            r.name = baseName;
            r.owned = item.moved;
        }
        if (!item.checked || r.state != RowState::Done)
            return; // a row sent back to the queue meanwhile gets a verdict of its own
        r.pdf = item.verdict;
        if (item.verdict.state == PdfVerdict::State::Damaged) {
            r.state = RowState::Failed;
            r.reason =
                FailureReason::of(FailureReason::Kind::PdfDamaged, static_cast<int>(item.verdict.damage),
                                  pdfVerdictCause(item.verdict));
        }
    });
}

} // namespace

PdfCheckTally ApplyPdfCheck(const RowWriter &rows, const QList<PdfCheckItem> &items)
{
    PdfCheckTally tally;
    for (const PdfCheckItem &item : items) {
        if (!item.moved.isNone())
            ++tally.renamed;
        if (item.checked)
            countVerdict(item.verdict, &tally);
        if (item.moved.isNone() && !item.checked)
            continue;
        // The row follows the file only when it still names the file that was looked at, so row and disk
        // never disagree.
        const DownloadRow *row = rows.list().find(item.id);
        if (!row || row->owned.path != item.owned.path || !(row->owned.identity == item.owned.identity))
            continue;
        applyToRow(rows, item);
    }
    return tally;
}

PdfCheckTally CheckPdfFiles(const RowWriter &rows, PdfChecker *checker)
{
    QList<PdfCheckItem> items = PdfCheckCandidates(rows.list());
    for (PdfCheckItem &item : items)
        CheckPdfFileOnDisk(item, checker);
    return ApplyPdfCheck(rows, items);
}

bool HeaderSorter::sortByColumn(const RowWriter &rows, int column, const CommandGuards &guards)
{
    if (refused(guards.sortGuard, commandtext::StopBeforeSorting))
        return false;
    if (column < 0 || column >= DownloadListModel::ColumnCount)
        return false;
    m_column = column;
    m_ascending = !m_ascending;
    const auto col = static_cast<DownloadListModel::Column>(column);
    rows.sortRowsByKey([col](const DownloadRow &row) { return DownloadListModel::sortKey(row, col); },
                       m_ascending);
    return true;
}
