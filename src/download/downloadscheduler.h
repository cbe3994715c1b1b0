#pragma once

#include "common/objectalive.h"
#include "download/scheduleroptions.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>

class DownloadListModel;
class Downloader;
class SingleConnectionEngine;
class QNetworkAccessManager;
class QNetworkCookieJar;

// The queue: Timer_Down picks waiting rows and hands them to the engine of the chosen method;
// Timer1 keeps house (finished list, busy flag, totals, stalled slots, automatic start).
class DownloadScheduler : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxSlots = 6;
    static constexpr int WatchdogSeconds = 120;

    explicit DownloadScheduler(DownloadListModel *model, QObject *parent = nullptr);
    ~DownloadScheduler() override;

    DownloadListModel *model() const { return m_model; }
    SchedulerOptions &options() { return m_options; }
    const SchedulerOptions &options() const { return m_options; }

    // The download method of this run: 1 single connection, anything else parallel slots.
    int method() const;

    // The queue's part of window load: LastFinishTime, empty list, method and thread position from the
    // store, duplicate policy, proxy, housekeeping timer on.
    void windowLoaded();
    // Start ("开始下载"): the scheduler runs.
    void start();
    // Stop ("停止下载"): timer off, transfers cancelled, slots destroyed, downloading rows failed.
    void StopDownloads();
    // "切换": toggles the method for this run and stops the scheduler (running transfers go on).
    void switchMethod();
    // The close check: true while something runs or rows are not finished.
    bool closeNeedsConfirmation() const;
    // Close steps after any confirmation: timers off, stop, thread position saved.
    void windowClosing();

    bool isRunning() const { return Timer_Down.isActive(); }
    bool DownloadBusy() const { return m_busy; }
    double LastFinishTime() const { return m_lastFinishTime; }
    // Transfer controls on the window: the template plus each live slot.
    int CountTransferSlots() const;
    // The single-connection engine has a request under way.
    bool transferExecuting() const;
    bool slotAlive(int k) const; // k = 1..6
    int SlotRow(int k) const; // row position (0-based) slot k serves

    // Engines, for tests and the login hook.
    SingleConnectionEngine *singleEngine() const { return m_single; }
    Downloader *slot(int k) const;
    QNetworkCookieJar *cookieJar() const { return m_cookieJar; }

    // Ticks, public so tests can drive them without waiting.
    void tickScheduler();
    void tickHousekeeping();

    // Limits of the engines (tests shorten them): no answer headers within headerTimeoutMs, or no data for
    // stallTimeoutMs, fails the row.
    void setTimeouts(int headerTimeoutMs, int stallTimeoutMs);

    QTimer Timer_Down;
    QTimer Timer1;

Q_SIGNALS:
    // Status-bar panel texts (2: file being downloaded, 3: connection state, 4: totals).
    void panelText(int panel, const QString &text);
    // The scheduler went on or off (running mark, "开始下载" item).
    void runningChanged(bool running);
    // The menu item "开始下载" is enabled or not (kept by the housekeeping tick).
    void startEnabledChanged(bool enabled);
    // The method changed by the switch or at load: label "下载方式：N" and the thread list's state.
    void methodShown(int method, bool threadListEnabled, int threadPosition);
    // Last step of each housekeeping tick that was not cut short by live slots.
    void housekeepingDone();
    // A row's answer turned out to be a web page instead of a file.
    void webPageReceived(int position);

private:
    int findRow();
    void startRow(int position, QString *targetPath);
    void startSingle(int position);
    void startSlot(int k, int position, const QString &targetPath);
    void destroySlot(int k);
    void watchdog(int threadCount);
    void setRunning(bool running);
    void onSlotProgress(int k, qint64 soFar, qint64 total);
    void onSlotError(int k);
    void onSlotComplete(int k, qint64 size, const QString &file);
    void onSingleFinished(int position, bool done, bool stamped);

    DownloadListModel *m_model;
    SchedulerOptions m_options;
    bool m_busy = false;
    double m_lastFinishTime = 0;
    QNetworkCookieJar *m_cookieJar;
    QNetworkAccessManager *m_slotManager; // shared by the parallel slots
    SingleConnectionEngine *m_single;
    std::array<QPointer<Downloader>, MaxSlots + 1> m_slots{};
    std::array<int, MaxSlots + 1> m_slotRow{};
    std::array<qint64, MaxSlots + 1> m_slotStartMs{};
    int m_headerTimeoutMs = 30000;
    int m_stallTimeoutMs = 60000;
};
