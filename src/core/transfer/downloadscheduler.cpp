#include "core/transfer/downloadscheduler.h"

#include "core/common/clock.h"
#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloader.h"
#include "core/transfer/partfile.h"
#include "core/transfer/retrypolicy.h"
#include "core/transfer/schedulertime.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSet>
#include <cmath>

using Kind = FailureReason::Kind;
using schedulertime::monoNow;
using schedulertime::now;

DownloadScheduler::DownloadScheduler(RowWriter rows, QObject *parent)
    : QObject(parent), m_rows(rows), m_model(rows.model()), m_network(m_options, this), m_transfers(rows),
      m_landing(rows), m_retries(rows, m_landing), m_pause(rows, m_retries),
      m_picker(rows, m_retries, [this](RowId id) { Q_EMIT rowEnded(id); }),
      m_pacing(m_options, m_retries, [this] { startDue(); })
{
    Timer_Down.setInterval(1000);
    Timer1.setInterval(1000);
    connect(&Timer_Down, &QTimer::timeout, this, &DownloadScheduler::tickScheduler);
    connect(&Timer1, &QTimer::timeout, this, &DownloadScheduler::tickHousekeeping);

    connect(m_model, &DownloadListModel::rowsDropped, this, &DownloadScheduler::onRowsDropped);
    connect(m_model, &DownloadListModel::rowFinished, this, &DownloadScheduler::onRowFinished);
    m_retries.setQueueBusy(
        [this] { return m_pause.isPausedForVerification() || m_transfers.anyTransferLive(); });
}

DownloadScheduler::~DownloadScheduler()
{
    // Transfers wind down without reporting to a list that may be going too.
    m_transfers.dropAll(this);
}

void DownloadScheduler::setRunning(bool running)
{
    if (running == Timer_Down.isActive())
        return;
    if (running) {
        Timer_Down.start();
    } else {
        Timer_Down.stop();
        m_pacing.cancelWake();
    }
    Q_EMIT runningChanged(running);
}

void DownloadScheduler::setHousekeeping(bool on)
{
    if (on)
        Timer1.start();
    else
        Timer1.stop();
}

void DownloadScheduler::start()
{
    if (m_options.jitterSeed != 0)
        m_retries.seed(m_options.jitterSeed);
    if (!isRunning()) {
        cleanDeadPartFiles();
        m_retries.dropIdleHolds();
    }
    setRunning(true);
    m_runOpen = true;
    // The first rows start now, not at the first tick.
    QTimer::singleShot(0, this, &DownloadScheduler::startDue);
}

void DownloadScheduler::cleanDeadPartFiles()
{
    // Temporary files of runs that ended without cleaning up (killed, crashed,
    // power cut).
    const qint64 runStart = QDateTime::currentSecsSinceEpoch();
    QSet<QString> folders;
    for (int i = 0; i < m_model->count(); ++i) {
        if (m_model->row(i).state == RowState::Waiting)
            folders.insert(withTrailingSlash(m_model->row(i).folder));
    }
    for (const QString &folder : std::as_const(folders))
        RemoveDeadPartFiles(folder, runStart);
}

void DownloadScheduler::windowLoaded()
{
    using namespace settingkeys;
    m_pacing.stampFinish();
    m_rows.ResetDownloadList();
    int number = 0;
    if (ReadSettingNumber(settingkeys::DownloadMethod, &number))
        m_options.method = methodFromNumber(number);
    m_options.threadCount = 1;
    m_options.threadPosition = 0;
    if (method() != DownloadMethod::Single) {
        int position = 0;
        if (ReadSettingNumber(Threads, &position) && position >= 0 && position < MaxSlots) {
            m_options.threadPosition = position;
            m_options.threadCount = position + 1;
        }
    }
    Q_EMIT methodShown(method(), method() != DownloadMethod::Single, m_options.threadPosition);
    m_options.policy = policyFromText(TrimSpaces(ReadSetting(DuplicateName)));
    m_network.loadProxy();
    m_network.applyProxy();
    m_options.intervalSeconds = 0;
    Timer1.start();
}

void DownloadScheduler::switchMethod()
{
    m_options.method =
        method() == DownloadMethod::Parallel ? DownloadMethod::Single : DownloadMethod::Parallel;
    m_options.threadCount = 1;
    m_options.threadPosition = 0;
    Q_EMIT methodShown(method(), method() != DownloadMethod::Single, 0);
    setRunning(false);
}

bool DownloadScheduler::closeNeedsConfirmation() const
{
    return m_transfers.transferExecuting() || m_transfers.CountTransferSlots() > 1 ||
           !m_model->检测是否下载列表完毕() || isRunning();
}

void DownloadScheduler::windowClosing()
{
    Timer1.stop();
    setRunning(false);
    StopDownloads();
    WriteSetting(settingkeys::Threads, QString::number(m_options.threadPosition));
}

void DownloadScheduler::StopDownloads()
{
    setRunning(false);
    m_busy = false;
    // A transfer whose file is whole keeps it and ends by itself; every other one
    // ends here, failed.
    const QList<QPointer<Downloader>> live = m_transfers.live();
    for (const QPointer<Downloader> &transfer : live) {
        if (transfer)
            transfer->stop();
    }
    m_transfers.forgetEnded();
    for (int i = 0; i < m_model->count(); ++i) {
        const DownloadRow &row = m_model->row(i);
        if (row.state == RowState::Waiting && m_retries.waits(row.id)) {
            // A row waiting for its next try ends with the reason of the last one.
            const RowId id = row.id;
            m_retries.drop(id);
            m_rows.update(id, [](DownloadRow &r) {
                r.state = RowState::Failed;
                r.sizeNote = SizeNote::None;
            });
            continue;
        }
        if (row.state != RowState::Downloading || m_picker.reserving(row.id))
            continue;
        m_rows.update(row.id, [](DownloadRow &r) {
            r.state = RowState::Failed;
            r.reason = FailureReason::of(Kind::Stopped);
            r.speed = -1;
        });
    }
    // A new run starts afresh: no host is held back, no wall is half counted.
    m_pause.clear();
    m_retries.clearHolds();
    m_busy = false;
    checkQueueFinished();
}

void DownloadScheduler::tickScheduler()
{
    // The store is written when the policy changed, not on every tick: each write is a file write.
    if (m_options.storePolicy && m_storedPolicy != m_options.policy) {
        WriteSetting(settingkeys::DuplicateName, policyCaption(m_options.policy));
        m_storedPolicy = m_options.policy;
    }
    if (m_model->count() == 0) {
        setRunning(false);
        checkQueueFinished();
        return;
    }
    if (!m_pacing.intervalPassed())
        return;
    startWaitingRows(true);
}

void DownloadScheduler::startDue()
{
    m_pacing.dueReached();
    if (!isRunning())
        return;
    if (!m_pacing.intervalPassed()) {
        scheduleWake();
        return;
    }
    startWaitingRows();
}

void DownloadScheduler::scheduleWake()
{
    if (isRunning())
        m_pacing.scheduleWake();
}

void DownloadScheduler::onRowsDropped(const QList<RowId> &ids)
{
    // A row that leaves the list takes its transfer with it: stopped, its file
    // discarded.
    const QSet<RowId> gone(ids.cbegin(), ids.cend());
    for (RowId id : ids) {
        m_retries.drop(id);
        m_beforeAnswer.remove(id);
        m_landing.remove(id);
    }
    QList<QPointer<Downloader>> stopping;
    if (gone.contains(m_transfers.single().row))
        stopping.append(m_transfers.single().transfer);
    for (int k = 0; k <= MaxSlots; ++k) {
        const TransferSlots::Slot &slot = m_transfers.at(k);
        if (slot.transfer && gone.contains(slot.row))
            stopping.append(slot.transfer);
    }
    for (const QPointer<Downloader> &transfer : std::as_const(stopping)) {
        if (transfer)
            transfer->abort(FailureReason::of(Kind::Stopped, 0, QStringLiteral("removed from the list")));
    }
    checkQueueFinished();
}

void DownloadScheduler::checkQueueFinished()
{
    // The run is over when its last transfer has ended and nothing is left to do,
    // or it was stopped.
    if (!m_runOpen || m_transfers.anyTransferLive() || m_pause.isPausedForVerification() ||
        (isRunning() && !m_model->检测是否下载列表完毕()))
        return;
    m_runOpen = false;
    setRunning(false);
    Q_EMIT queueFinished();
}

void DownloadScheduler::UpdateStatusSummary()
{
    Q_EMIT totalsChanged();
}

void DownloadScheduler::tickHousekeeping()
{
    Q_EMIT runningChanged(isRunning());
    if (m_model->检测是否下载列表完毕()) {
        setRunning(false);
        checkQueueFinished();
        Q_EMIT startEnabledChanged(true);
    } else {
        Q_EMIT startEnabledChanged(!isRunning());
    }
    m_transfers.watchdog(m_options.threadCount);
    m_transfers.refreshSpeeds();
    if (method() == DownloadMethod::Single) {
        if (!m_transfers.transferExecuting() && !isRunning())
            m_busy = false;
    } else {
        bool anySlot = false;
        for (int k = 1; k <= m_options.threadCount && k <= MaxSlots; ++k)
            anySlot = anySlot || m_transfers.slotAlive(k);
        if (anySlot) {
            m_busy = true;
            return;
        }
        if (!isRunning())
            m_busy = false;
    }
    UpdateStatusSummary();
    if (m_options.autoStart && m_model->统计未下载项数目() > 0)
        start();
    Q_EMIT housekeepingDone();
}
