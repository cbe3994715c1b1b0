#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/rows/rowwriter.h"

#include <QList>
#include <QString>
#include <functional>

class PdfChecker;
class QRandomGenerator;

// What the list commands ask of the desktop. The window installs the real shell actions; tests record.
struct ShellHooks
{
    std::function<bool(const QString &path)> openFile;     // with its associated program
    std::function<bool(const QString &path)> showInFolder; // the folder, with the file selected
    std::function<bool(const QString &folder)> openFolder; // the folder itself
    std::function<bool(const QString &path)> openInTextEditor;
    std::function<bool(const QString &address)> openWebPage;
};

// The two busy tests, read from the scheduler when a command starts.
struct CommandGuards
{
    bool sortGuard = false;       // the scheduler runs or a download is busy
    bool listChangeGuard = false; // the scheduler runs or a transfer is still live
    bool downloadBusy = false;
};

namespace commandtext {
inline const QString StopFirst = QStringLiteral("停止下载以后，才能执行此操作！");
inline const QString ShuffleDone = QStringLiteral("随机排序完成！");
inline const QString ClearAllQuestion = QStringLiteral("您确定要清空列表的所有信息吗？");
inline const QString StopBeforeSetting = QStringLiteral("停止下载后方可设置！");
inline const QString StopBeforeSorting = QStringLiteral("停止下载后方可排序！");
inline const QString FileMissing = QStringLiteral("该文件不存在！");
inline const QString OpenFailed = QStringLiteral("打开失败！");
inline const QString TooBigForEditor = QStringLiteral("该文件太大，超过了2M，不便于用记事本打开！");
inline const QString DoubleClickMissing = QStringLiteral("文件不存在！");
} // namespace commandtext

// Largest file handed to the text editor.
constexpr qint64 MaxEditorFileBytes = 2048LL * 1024;

// Which rows the automatic re-download resets, by the position of its list.
enum class AutoRedownloadChoice { Failed = 0, Html = 1, FailedAndHtml = 2 };

// Full path of the row's file (folder with its trailing "/", name, "." and type).
QString rowFile(const DownloadListModel &model, RowId id);

// Moves every row to the end once, in random order (at most 10000 draws). False when refused.
bool ShuffleRows(const RowWriter &rows, const CommandGuards &guards, QRandomGenerator &random);

// Back to waiting with empty progress cells. The file the row wrote stays where it is: the new copy
// takes its place once it is whole, and a new copy that fails leaves it.
void ResetRow(const RowWriter &rows, RowId id);

// The same in two steps: the rows to reset as they stand when asked, then the rows reset.
struct ResetItem
{
    RowId id = RowId::None;
    RowState state = RowState::Waiting; // as it was asked
    OwnedFile owned;                    // the file the row wrote, which its new copy replaces
};

// Every row of the list, in list order.
QList<RowId> AllRowIds(const DownloadListModel &model);

QList<ResetItem> ResetCandidates(const DownloadListModel &model, const QList<RowId> &ids,
                                 const std::function<bool(const DownloadRow &)> &match);
// A row is reset only while it stands as it was asked (same state, same file); the number reset.
int ApplyReset(const RowWriter &rows, const QList<ResetItem> &items);
// Which rows each command resets.
bool IsRedownloadable(const DownloadRow &row); // done or failed
bool IsFailedRow(const DownloadRow &row);
bool IsFinishedHtmlRow(const DownloadRow &row);
// A row whose file was found a damaged PDF (on its way to its name, or by "检查PDF文件").
bool IsDamagedPdfRow(const DownloadRow &row);
// Done and failed rows among the selected ones are reset.
int RedownloadSelectedRows(const RowWriter &rows, const QList<RowId> &selected);
// Every failed row is reset; -1 when refused by the guard.
int RedownloadFailedRows(const RowWriter &rows, const CommandGuards &guards);
// Every done or failed row of type htm or html is reset; -1 when refused.
int RedownloadHtmlRows(const RowWriter &rows, const CommandGuards &guards);
// Whether the automatic re-download resets this row: a failed one, a finished web page, or either.
bool AutoRedownloadResets(const DownloadRow &row, AutoRedownloadChoice choice);
// Whether it finds any such row in the list, so that the queue goes on at once.
bool AutoRedownloadFindsRows(const DownloadListModel &model, AutoRedownloadChoice choice);
// The automatic re-download: the chosen rows are reset; the caller then starts the scheduler. While the
// list-change guard holds it does nothing and says nothing.
void AutoRedownload(const RowWriter &rows, const CommandGuards &guards, int choicePosition);

// Rows that may not leave the list yet (their files are on their way to the disk): the removals below
// leave them where they are and name them in `stayed`, for whoever removes them once the files are in
// place.
struct StayingRows
{
    std::function<bool(RowId)> stays;
    QList<RowId> stayed;
};
// "清除" commands; the count of removed (and staying) rows, -1 when refused.
int RemoveSelectedRows(const RowWriter &rows, const CommandGuards &guards, const QList<RowId> &selected,
                       StayingRows *staying = nullptr);
int RemoveFailedRows(const RowWriter &rows, StayingRows *staying = nullptr);
int RemoveDoneRows(const RowWriter &rows, StayingRows *staying = nullptr);
// "清空" after the user's Yes. False when refused or declined.
bool ClearAllRows(const RowWriter &rows, const CommandGuards &guards, StayingRows *staying = nullptr);

// "取消下载选中项": selected waiting rows become failed. False when refused.
bool CancelSelectedRows(const RowWriter &rows, const CommandGuards &guards, const QList<RowId> &selected);

// Opening the current row's file, its folder, or the file in a text editor (RowId::None: no row).
void OpenDownloadedFile(const DownloadListModel &model, RowId id, const ShellHooks &shell);
void OpenContainingFolder(const DownloadListModel &model, RowId id, const ShellHooks &shell);
void OpenInTextEditor(const DownloadListModel &model, RowId id, const ShellHooks &shell);

// Double-click: a done row opens its file; a failed row goes back to the queue.
void DoubleClickRow(const RowWriter &rows, RowId id, const ShellHooks &shell);

// Text of the second status-bar panel after a click on a row: why a failed row failed (also while it waits
// for its next try), else the file path when the file exists.
QString RowClickPanelText(const DownloadListModel &model, RowId id);
// The part of it that needs no disk: the reason, or empty text when the row's file decides.
QString RowClickReasonText(const DownloadListModel &model, RowId id);

// The commands above in two steps, so that the file is looked at off the GUI thread: the look (any
// thread), then what the command does with its answer (no disk), while the row still names that file.
struct RowFileLook
{
    RowId id = RowId::None;
    QString path;        // the row's file when it was asked; empty when there was no row
    bool exists = false; // a plain file is there (a link to one counts, as it does for the shell)
    qint64 size = -1;
};
RowFileLook RowFileToLook(const DownloadListModel &model, RowId id);
void LookAtRowFile(RowFileLook &look);
// The row is still in the list and names the file that was looked at.
bool LookStillApplies(const DownloadListModel &model, const RowFileLook &look);
void OpenDownloadedFileWith(const RowFileLook &look, const ShellHooks &shell);
void OpenContainingFolderWith(const DownloadListModel &model, const RowFileLook &look,
                              const ShellHooks &shell);
void OpenInTextEditorWith(const RowFileLook &look, const ShellHooks &shell);
// A done row's file opened, or "文件不存在！".
void OpenDoneRowWith(const RowFileLook &look, const ShellHooks &shell);

// What "检查PDF文件" found: the files renamed after their content, and the verdicts on the PDFs.
struct PdfCheckTally
{
    int renamed = 0;
    int whole = 0, repaired = 0, encrypted = 0, damaged = 0, notChecked = 0;
    bool operator==(const PdfCheckTally &) const = default;
};

// Done "pdf" rows whose content is another paper format get that extension; with a checker, the
// structure of every PDF among them is checked, and a row whose file is damaged fails (its file stays,
// the row's own, until a new copy takes its place).
PdfCheckTally CheckPdfFiles(const RowWriter &rows, PdfChecker *checker = nullptr);

// The same check in three steps, so that the files are read and moved off the GUI thread: the rows to
// look at (no disk), each file looked at and moved (any thread), the rows following their files.
struct PdfCheckItem
{
    RowId id = RowId::None;
    QString folder;
    QString name;
    OwnedFile owned;      // the file the row wrote
    QString type;         // the paper format found, empty when the file stays as it is
    OwnedFile moved;      // where it went
    bool checked = false; // the file is a PDF and went through the checker
    PdfVerdict verdict;
};
QList<PdfCheckItem> PdfCheckCandidates(const DownloadListModel &model);
void CheckPdfFileOnDisk(PdfCheckItem &item, PdfChecker *checker = nullptr);
// A row follows its file only while it still names the file it wrote.
PdfCheckTally ApplyPdfCheck(const RowWriter &rows, const QList<PdfCheckItem> &items);

// Sorting by a header click. The direction turns over with every click, whatever the column; the list
// starts ascending, so the first click sorts descending.
class HeaderSorter
{
public:
    // False when refused (a run is active); nothing changes then.
    bool sortByColumn(const RowWriter &rows, int column, const CommandGuards &guards);

    bool ascending() const { return m_ascending; }
    int column() const { return m_column; }

private:
    bool m_ascending = true;
    int m_column = -1;
};
