#pragma once

#include "core/rows/queueprogress.h"
#include "ui/downloadwindowparts.h"

#include <QObject>
#include <QTimer>
#include <array>

class DesktopNotifier;
class FeedbackBoard;
class DownloadListModel;
class DownloadQueue;
class DownloadScheduler;
class MessageBar;
class QLabel;

// What the download window tells of the queue: the status bar's panels with the speed, the title's
// progress, the message bar (the pause with its 继续, the end of a run, a command's result) and the
// desktop notice at the end. It builds the status bar and the message bar of the window it is given.
class DownloadWindowFeedback : public QObject
{
    Q_OBJECT

public:
    explicit DownloadWindowFeedback(const DownloadWindowParts &parts);

    QLabel *panel(StatusPanel which) const { return m_panels[static_cast<size_t>(which) - 1]; }
    QString speedText() const;
    MessageBar *messageBar() const { return m_messageBar; }
    DesktopNotifier *notifier() const { return m_notifier; }
    // Totals, speed, time left and the title's progress, as they stand now.
    void refreshProgress();

    // The user stopped the run that is on: its end says so.
    void noteRunStopped() { m_runStopped = true; }
    // A command's result, in the connection panel and, whole, in the message bar.
    void tellResult(const QString &text);
    // A word for the connection panel only (the library's state, a page's title).
    void tellNews(const QString &text);
    // What a click on a row tells (why it failed, its file) in the transfer panel; a text the panel cuts
    // is read whole in the message bar too.
    void tellRowText(const QString &text);
    // The window goes: the end of its run is not worth a word.
    void windowClosing() { m_closing = true; }
    // Rows went back to the queue (重新下载): the end of the last run, if shown, no longer tells how the
    // list stands, and goes.
    void rowsSentBack();
    // The login panel was opened by a pause: it lies beside the list instead of over it.
    bool loginBesideList() const { return m_loginBeside; }

Q_SIGNALS:
    // The list and the login panel are to be placed again.
    void placementChanged();

public:
protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildStatusBar();
    void connectScheduler();
    // The status bar's panels follow the transfers, the connection, the totals and the login panel.
    void connectPanels();
    void onRunningChanged(bool running);
    void onQueueFinished();
    void onVerificationNeeded();
    void onDiskPaused();
    void onLoginFinished();
    void continueAfterVerification();
    void clearPauseMessage(); // the pause is over: its message goes, any other stays
    void beginRun();
    void refreshTotalsSoon();
    void followRowText(); // the transfer panel was laid out again
    bool autoRedownloadGoesOn() const;

    DownloadWindowParts m_parts;
    DownloadQueue *m_queue;
    DownloadListModel *m_model;
    const DownloadScheduler *m_scheduler;
    std::array<QLabel *, 4> m_panels{};
    QLabel *m_speedPanel = nullptr;
    MessageBar *m_messageBar = nullptr;
    FeedbackBoard *m_board = nullptr; // what the connection panel and the message bar tell
    DesktopNotifier *m_notifier = nullptr;
    QueueProgress m_progress;
    QTimer m_progressTick; // while a run is on
    QTimer m_totalsSoon;   // a row ended: the totals follow shortly
    QString m_rowText;     // what the last click on a row told
    bool m_closing = false;
    // Panel 2 still names a row of an earlier run.
    bool m_transferTextStale = false;
    bool m_runStopped = false;         // the user stopped the run that is on
    bool m_messageStale = false;       // the message bar tells of an earlier run
    bool m_wallAfterLogin = false;     // a verification page waits for the login that has the browser
    bool m_loginBeside = false;        // a pause shows the login panel beside the list
    bool m_panelOpenedByPause = false; // and the panel was closed before it
};
