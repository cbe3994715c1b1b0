#pragma once

#include "core/queue/downloadcommands.h"
#include "core/queue/rowwriter.h"

#include <QList>
#include <QRandomGenerator>
#include <functional>
#include <memory>

class DownloadScheduler;

// The list commands of the download window's menus and the list's clicks, on the queue's rows. Each
// asks the scheduler whether it may run now (the busy tests) before it changes a row.
class QueueCommands
{
public:
    QueueCommands(RowWriter rows, const DownloadScheduler *scheduler);

    // The busy tests of the list commands, as they stand now.
    CommandGuards guards() const;

    // Back to waiting (the commands of "重新下载"); the number of rows reset, -1 when refused.
    void reset(RowId id);
    int redownloadSelected(const QList<RowId> &selected);
    int redownloadFailed();
    int redownloadHtml();
    void autoRedownload(AutoRedownloadChoice choice);
    // "清除" and "清空"; the number of rows removed, -1 when refused.
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
    // "检查PDF文件": the files are read and moved on a worker; `done` gets the number of files renamed
    // on the GUI thread, unless the list went away first. False while a check is still under way.
    bool checkPdfFiles(std::function<void(int renamed)> done);

private:
    RowWriter m_rows;
    const DownloadScheduler *m_scheduler;
    HeaderSorter m_sorter;
    QRandomGenerator m_random;
    std::shared_ptr<bool> m_pdfCheckRunning = std::make_shared<bool>(false);
};
