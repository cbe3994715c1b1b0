#pragma once

#include "core/transfer/scheduleroptions.h"
#include "ui/downloadwindowparts.h"

#include <QObject>

class DownloadWindowCommands;
class DownloadScheduler;

// The queue's options on the download window's control bar (method, threads, interval, the
// duplicate-name rule, automatic start and re-download), kept in step with the scheduler both ways.
class QueueControls : public QObject
{
    Q_OBJECT

public:
    QueueControls(const DownloadWindowParts &parts, DownloadWindowCommands &commands);

    // The options window stored new values: the queue takes the method and the proxy from them.
    void takeSharedOptions();

private:
    void loadWindow();
    void onMethodShown(DownloadMethod method, bool threadListEnabled, int threadPosition);
    void syncPolicy();
    void onHousekeepingDone();

    DownloadWindowParts m_parts;
    DownloadWindowCommands &m_commands;
    const DownloadScheduler *m_scheduler;
};
