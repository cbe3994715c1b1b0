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
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QSet>
#include <cmath>

using Kind = FailureReason::Kind;
using schedulertime::monoNow;
using schedulertime::now;

DownloadScheduler::DownloadScheduler(RowWriter rows, QObject *parent)
    : QObject(parent), m_rows(rows), m_model(rows.model()), m_cookieJar(new QNetworkCookieJar(this)),
      m_landing(rows), m_retries(rows, m_landing), m_pause(rows, m_retries)
{
    Timer_Down.setInterval(1000);
    Timer1.setInterval(1000);
    connect(&Timer_Down, &QTimer::timeout, this, &DownloadScheduler::tickScheduler);
    connect(&Timer1, &QTimer::timeout, this, &DownloadScheduler::tickHousekeeping);
    m_wake.setSingleShot(true);
    connect(&m_wake, &QTimer::timeout, this, &DownloadScheduler::startDue);

    // Both methods send the cookies of one jar (the login panel fills it).
    m_singleManager = new QNetworkAccessManager(this);
    m_slotManager = new QNetworkAccessManager(this);
    for (QNetworkAccessManager *manager : {m_singleManager, m_slotManager}) {
        manager->setCookieJar(m_cookieJar);
        m_cookieJar->setParent(this);
    }
    connect(m_model, &DownloadListModel::rowsDropped, this, &DownloadScheduler::onRowsDropped);
    connect(m_model, &DownloadListModel::rowFinished, this, &DownloadScheduler::onRowFinished);
    m_lastFinishMono = monoNow();
    m_retries.setQueueBusy([this] { return m_pause.isPausedForVerification() || anyTransferLive(); });
}

DownloadScheduler::~DownloadScheduler()
{
    // Transfers wind down without reporting to a list that may be going too.
    auto drop = [this](Slot &slot) {
        if (Downloader *t = slot.transfer.data()) {
            t->disconnect(this);
            delete t;
        }
        slot = Slot{};
    };
    drop(m_single);
    for (Slot &slot : m_slots)
        drop(slot);
    for (const QPointer<Downloader> &t : std::as_const(m_committing)) {
        if (t) {
            t->disconnect(this);
            delete t.data();
        }
    }
}

void DownloadScheduler::setTimeouts(int headerTimeoutMs, int stallWindowMs, qint64 stallMinBytes)
{
    m_headerTimeoutMs = headerTimeoutMs;
    m_stallWindowMs = stallWindowMs;
    m_stallMinBytes = stallMinBytes;
}

int DownloadScheduler::CountTransferSlots() const
{
    int n = 1; // the template the slots are made from
    for (int k = 1; k <= MaxSlots; ++k)
        n += slotAlive(k) ? 1 : 0;
    return n;
}

bool DownloadScheduler::transferExecuting() const
{
    return !m_single.transfer.isNull();
}

bool DownloadScheduler::anyTransferLive() const
{
    return transferExecuting() || CountTransferSlots() > 1 || !m_committing.isEmpty();
}

bool DownloadScheduler::slotAlive(int k) const
{
    return k >= 1 && k <= MaxSlots && !m_slots.at(static_cast<size_t>(k)).transfer.isNull();
}

RowId DownloadScheduler::SlotRow(int k) const
{
    return (k >= 1 && k <= MaxSlots) ? m_slots.at(static_cast<size_t>(k)).row : RowId::None;
}

qint64 DownloadScheduler::SlotStartTime(int k) const
{
    return (k >= 1 && k <= MaxSlots) ? m_slots.at(static_cast<size_t>(k)).startMs : 0;
}

Downloader *DownloadScheduler::slot(int k) const
{
    return slotAlive(k) ? m_slots.at(static_cast<size_t>(k)).transfer.data() : nullptr;
}

void DownloadScheduler::setRunning(bool running)
{
    if (running == Timer_Down.isActive())
        return;
    if (running) {
        Timer_Down.start();
    } else {
        Timer_Down.stop();
        m_wake.stop();
        m_wakeDueMs = -1;
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
    m_lastFinishTime = now();
    m_lastFinishMono = monoNow();
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
    loadProxy();
    applyProxy();
    m_options.intervalSeconds = 0;
    Timer1.start();
}

void DownloadScheduler::loadProxy()
{
    ProxySetting &proxy = m_options.proxy;
    proxy.host = ReadSetting(settingkeys::ProxyAddress);
    proxy.port = proxyPortFromText(ReadSetting(settingkeys::ProxyPort));
    int enabled = 0;
    if (ReadSettingNumber(settingkeys::ProxyEnabled, &enabled))
        proxy.enabled = enabled == 1;
}

void DownloadScheduler::applyProxy()
{
    const ProxySetting &proxy = m_options.proxy;
    if (proxy.enabled)
        m_singleManager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, proxy.host, proxy.port));
    else
        m_singleManager->setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
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
    return transferExecuting() || CountTransferSlots() > 1 || !m_model->检测是否下载列表完毕() || isRunning();
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
    QList<QPointer<Downloader>> live{m_single.transfer};
    for (int k = 1; k <= MaxSlots; ++k)
        live.append(m_slots[static_cast<size_t>(k)].transfer);
    for (const QPointer<Downloader> &transfer : std::as_const(live)) {
        if (transfer)
            transfer->stop();
    }
    m_committing.removeAll(nullptr);
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
        if (row.state != RowState::Downloading || m_reservedBy.contains(row.id))
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

bool DownloadScheduler::intervalPassed() const
{
    // More than the pause since the last file's end (on the monotonic clock, so
    // midnight changes nothing).
    const qint64 pauseMs = static_cast<qint64>(m_options.intervalSeconds) * 1000;
    return pauseMs <= 0 || monoNow() - m_lastFinishMono > pauseMs;
}

void DownloadScheduler::tickScheduler()
{
    if (m_options.storePolicy)
        WriteSetting(settingkeys::DuplicateName, policyCaption(m_options.policy));
    if (m_model->count() == 0) {
        setRunning(false);
        checkQueueFinished();
        return;
    }
    if (!intervalPassed())
        return;
    startWaitingRows(true);
}

void DownloadScheduler::startDue()
{
    m_wakeDueMs = -1;
    if (!isRunning())
        return;
    if (!intervalPassed()) {
        scheduleWake();
        return;
    }
    startWaitingRows();
}

void DownloadScheduler::scheduleWake()
{
    if (!isRunning())
        return;
    // The end of the pause, or else the first retry or host hold that ends.
    const qint64 nowMs = monoNow();
    qint64 due = m_lastFinishMono + static_cast<qint64>(m_options.intervalSeconds) * 1000 + 1;
    if (due <= nowMs) {
        // Retries already due start as soon as a slot frees; only later ones need
        // the wake-up.
        due = m_retries.nextEndAfter(nowMs);
        if (due < 0)
            return;
    }
    m_wakeDueMs = due;
    m_wake.start(static_cast<int>(std::clamp<qint64>(due - nowMs, 0, 3600 * 1000)));
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
    if (gone.contains(m_single.row))
        stopping.append(m_single.transfer);
    for (const Slot &slot : m_slots) {
        if (slot.transfer && gone.contains(slot.row))
            stopping.append(slot.transfer);
    }
    for (const QPointer<Downloader> &transfer : std::as_const(stopping)) {
        if (transfer)
            transfer->abort(FailureReason::of(Kind::Stopped, 0, QStringLiteral("removed from the list")));
    }
    checkQueueFinished();
}

void DownloadScheduler::watchdog(int threadCount)
{
    const qint64 nowMs = monoNow();
    for (int k = 1; k <= threadCount && k <= MaxSlots; ++k) {
        Slot &slot = m_slots[static_cast<size_t>(k)];
        if (!slot.transfer || nowMs - slot.startMs < WatchdogSeconds * 1000LL)
            continue;
        // A slot that has body bytes is watched by its own stall limit; this
        // catches the ones that never got under way.
        if (slot.transfer->hasProgressWithTotal() || slot.transfer->hasBodyBytes() ||
            slot.transfer->isCommitting())
            continue;
        const DownloadRow *row = m_model->find(slot.row);
        if (row && (row->size >= 0 || row->sizeNote != SizeNote::None))
            continue;
        slot.transfer->abort(FailureReason::of(
            Kind::Timeout, 0, QStringLiteral("no progress in %1 seconds").arg(WatchdogSeconds)));
    }
}

void DownloadScheduler::refreshSpeeds()
{
    // A transfer whose bytes stopped coming reports nothing: its speed falls with
    // the time it stays quiet.
    const qint64 at = monoNow();
    for (auto it = m_speed.begin(); it != m_speed.end(); ++it) {
        Speed &speed = it.value();
        if (at - speed.atMs < 1000)
            continue;
        const qint64 rate = std::max<qint64>(0, (speed.latest - speed.bytes) * 1000 / (at - speed.atMs));
        speed = Speed{at, speed.latest, speed.latest};
        m_rows.update(it.key(), [rate](DownloadRow &r) {
            if (r.state == RowState::Downloading)
                r.speed = rate;
        });
    }
}

void DownloadScheduler::checkQueueFinished()
{
    // The run is over when its last transfer has ended and nothing is left to do,
    // or it was stopped.
    if (!m_runOpen || anyTransferLive() || m_pause.isPausedForVerification() ||
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
    watchdog(m_options.threadCount);
    refreshSpeeds();
    if (method() == DownloadMethod::Single) {
        if (!transferExecuting() && !isRunning())
            m_busy = false;
    } else {
        bool anySlot = false;
        for (int k = 1; k <= m_options.threadCount && k <= MaxSlots; ++k)
            anySlot = anySlot || slotAlive(k);
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
