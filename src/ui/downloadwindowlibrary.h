#pragma once

#include "core/queue/exportrecords.h"
#include "ui/downloadwindowparts.h"

#include <QObject>

class DownloadWindowFeedback;
class DownloadWindowCommands;
class DownloadQueue;
class QMenu;

// The download window's use of the paper library: rows held from earlier downloads, the outcome of
// every download, the list kept across runs and the exports of the list menu.
class DownloadWindowLibrary : public QObject
{
    Q_OBJECT

public:
    DownloadWindowLibrary(const DownloadWindowParts &parts, DownloadWindowCommands &commands,
                          DownloadWindowFeedback &feedback);

    // Ties the queue to the library (once the window has loaded its options) and offers the last list.
    void connectLibrary();
    void buildExportMenu(QMenu *list);
    // "导出" of the list menu: the selected rows, or every done row when none is selected.
    void exportRows(ExportFormat format);

private:
    void offerLastList();
    void tellLibraryFailure(const QString &message);

    DownloadWindowParts m_parts;
    DownloadWindowCommands &m_commands;
    DownloadWindowFeedback &m_feedback;
    DownloadQueue *m_queue;
    bool m_libraryFailureTold = false; // one message a window: a busy library would repeat it for every row
};
