#pragma once

#include "ui/downloadwindowparts.h"

#include <QList>
#include <QObject>
#include <QtGlobal>
#include <functional>

enum class RowId : quint64;
class DownloadWindowFeedback;
class DownloadWindowPdfCheck;
class DownloadListModel;
class DownloadQueue;
class DownloadScheduler;
class QAction;
class QMenu;

// The download window's commands: the menus (the list menu is also the list's right-click menu), the
// buttons that start and stop the queue, and what a click on the list does. Each command works on the
// selection or the whole list through the queue's operations.
class DownloadWindowCommands : public QObject
{
    Q_OBJECT

public:
    DownloadWindowCommands(const DownloadWindowParts &parts, DownloadWindowFeedback &feedback);

    // The window's menu bar; addExportMenu puts the library's export menu into the list menu.
    void buildMenus(const std::function<void(QMenu *list)> &addExportMenu);
    QMenu *listMenu() const { return m_listMenu; }
    // The right-click: enables four items from the sort guard (the menu is shown by the caller).
    void prepareListMenu();

    // Rows whose selection mark is set, and the current row when it is selected (-1: none).
    QList<int> selectedRows() const;
    int selectedRow() const;
    QList<RowId> selectedIds() const;
    RowId selectedId() const;

    void sortByHeader(int column);
    void webLogin(); // "网页登录"
    void refreshRecordCount();
    // Walks the list with repainting off, as the commands that touch many rows do.
    void runFrozen(const std::function<void()> &work);

Q_SIGNALS:
    void optionsRequested();      // "设置"
    void aboutRequested();        // "关于"
    void searchWindowRequested(); // "打开网页分析窗口"

private:
    QAction *addItem(QMenu *menu, const QString &text, const QString &name,
                     void (DownloadWindowCommands::*slot)());
    void buildListMenu(const std::function<void(QMenu *list)> &addExportMenu);
    // "重新下载" and "清除" with their items.
    void buildRowSubmenus(QMenu *list);
    void buildToolsMenu();
    void buildHelpMenu();
    void connectList();
    void selectAll();
    void selectNone();
    void shuffle();
    void fitColumns();
    void redownloadSelected();
    void redownloadFailed();
    void redownloadHtml();
    void redownloadDamaged();
    void removeSelected();
    void removeFailed();
    void removeDone();
    void clearAll();
    void startDownloads();
    void stopDownloads();
    void cancelSelected();
    void openFile();
    void openFolder();
    void openInEditor();
    void checkPdf();

    DownloadWindowParts m_parts;
    DownloadWindowFeedback &m_feedback;
    DownloadQueue *m_queue;
    DownloadListModel *m_model;
    const DownloadScheduler *m_scheduler;
    DownloadWindowPdfCheck *m_pdfCheck; // "检查PDF文件"
    QMenu *m_listMenu = nullptr;
    // The items of the list menu that the sort guard turns on or off.
    struct GuardedItems
    {
        QAction *remove = nullptr; // "清除"
        QAction *clearAll = nullptr;
        QAction *selectAll = nullptr;
        QAction *stop = nullptr;
    } m_guarded;
};
