#pragma once

#include "core/transfer/scheduleroptions.h"

#include <QObject>

class DownloadWindowCommands;
class DownloadScheduler;
class fFileDownload;

// The queue's options on the download window's control bar (method, threads, interval, the
// duplicate-name rule, automatic start and re-download), kept in step with the scheduler both ways.
class QueueControls : public QObject
{
    Q_OBJECT

public:
    QueueControls(fFileDownload &window, DownloadWindowCommands &commands);

    // The options window stored new values: the queue takes the method and the proxy from them.
    void takeSharedOptions();

private:
    void loadWindow();
    void onMethodShown(DownloadMethod method, bool threadListEnabled, int threadPosition);
    void syncPolicy();
    void onHousekeepingDone();

    fFileDownload &m_window;
    DownloadWindowCommands &m_commands;
    const DownloadScheduler *m_scheduler;
};
