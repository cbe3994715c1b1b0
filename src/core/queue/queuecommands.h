#pragma once

#include "core/queue/downloadcommands.h"
#include "core/rows/rowwriter.h"

#include <QList>
#include <QPointer>
#include <QRandomGenerator>
#include <QSet>
#include <functional>
#include <memory>

class DownloadScheduler;
class RowPicker;

// The list commands of the download window's menus and the list's clicks, on the queue's rows. Each
// asks the scheduler whether it may run now (the busy tests) before it changes a row.
class QueueCommands
{
public:
    QueueCommands(RowWriter rows, DownloadScheduler *scheduler);

    // The busy tests of the list commands, as they stand now.
    CommandGuards guards() const;

    // Back to waiting (the commands of "重新下载"); the number of rows reset, -1 when refused. A file a
    // row wrote stays where it is, its own, until the row's new copy is whole and takes its place; a new
    // copy that fails leaves it.
    void reset(RowId id, std::function<void()> then = {});
    int redownloadSelected(const QList<RowId> &selected);
    int redownloadFailed();
    int redownloadHtml();
    // `then` runs once the chosen rows are reset (at once when there are none, or the guard holds).
    void autoRedownload(AutoRedownloadChoice choice, std::function<void()> then = {});
    // "清除" and "清空"; the number of rows removed, -1 when refused. A row whose file is on its way to the
    // disk stays until the file is in place (or its transfer failed), so that the file has its row's name
    // and outcome; it leaves then.
    int removeSelected(const QList<RowId> &selected);
    int removeFailed();
    int removeDone();
    bool clearAll();
    // "随机排序列表(打乱)" and a header click; false when refused.
    bool shuffle();
    bool sortByColumn(int column);
    const HeaderSorter &sorter() const { return m_sorter; }
    // "取消下载选中项": selected waiting rows become failed.
    bool cancel(const QList<RowId> &selected);
    // Double-click: a done row opens its file, a failed one goes back to the queue.
    void doubleClick(RowId id, const ShellHooks &shell);
    // "打开下载文件", "打开所在文件夹", "用记事本打开文件". The row's file is looked at on a worker and the
    // command acts when the answer is back, if the row still names that file; the same command on the same
    // row asked again meanwhile is not run twice.
    void openFile(RowId id, const ShellHooks &shell);
    void openFolder(RowId id, const ShellHooks &shell);
    void openInEditor(RowId id, const ShellHooks &shell);
    // The panel's text after a click on a row: at once when the row's failure decides it, else when the
    // look at its file is back. An answer to an earlier click is dropped once a later click was made.
    void clickPanelText(RowId id, std::function<void(const QString &text)> show);
    // Whether a plain file is at the path (a link followed), answered on the GUI thread.
    void lookAtFile(const QString &path, std::function<void(bool exists)> answer);
    // "检查PDF文件": the files are read, moved and their structure checked on a worker (with the queue's
    // checker); `done` gets what was found on the GUI thread, unless the list went away first. False while
    // a check is still under way.
    bool checkPdfFiles(std::function<void(const PdfCheckTally &tally)> done);
    // The rows follow what a check made elsewhere found of their files (ApplyPdfCheck), on the GUI thread.
    PdfCheckTally applyPdfCheck(const QList<PdfCheckItem> &items) { return ApplyPdfCheck(m_rows, items); }
    // "重新下载" of the rows whose files were damaged PDFs; the number reset, -1 when refused.
    int redownloadDamaged();

private:
    RowWriter m_rows;
    const DownloadScheduler *m_scheduler;
    const RowPicker *m_picker; // which rows have their files on the way to the disk
    HeaderSorter m_sorter;
    QRandomGenerator m_random;
    enum class Look { Open, Folder, Editor, DoubleClick, Panel };
    void lookThen(Look kind, RowId id, std::function<void(const RowFileLook &)> act);
    int resetRows(const QList<ResetItem> &items, std::function<void()> then = {});
    StayingRows stayingRows() const;
    void leaveLater(const StayingRows &staying);

    // What the workers' answers find when they are back; shared with them.
    struct Pending
    {
        QSet<quint64> looks; // kind and row
        QSet<RowId> leaving; // removed while their files were on their way to the disk
        quint64 panelTicket = 0;
    };
    std::shared_ptr<Pending> m_state = std::make_shared<Pending>();
    std::shared_ptr<bool> m_pdfCheckRunning = std::make_shared<bool>(false);
};
