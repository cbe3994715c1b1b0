#include "download/downloadscheduler.h"

#include "common/classify.h"
#include "common/clock.h"
#include "common/filenames.h"
#include "common/gbk.h"
#include "download/downloader.h"
#include "download/downloadlistmodel.h"
#include "download/singleconnectionengine.h"
#include "download/targetfile.h"
#include "settings/settingsstore.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>

#include <cmath>

namespace {
constexpr qint64 kSmallFile = 5001;

double now()
{
    return Clock::current().secondsSinceMidnight();
}
} // namespace

DownloadScheduler::DownloadScheduler(DownloadListModel *model, QObject *parent)
    : QObject(parent), m_model(model), m_cookieJar(new QNetworkCookieJar(this))
{
    Timer_Down.setInterval(1000);
    Timer1.setInterval(1000);
    connect(&Timer_Down, &QTimer::timeout, this, &DownloadScheduler::tickScheduler);
    connect(&Timer1, &QTimer::timeout, this, &DownloadScheduler::tickHousekeeping);

    // Both engines send the cookies of one jar (the login panel fills it).
    auto *singleManager = new QNetworkAccessManager(this);
    m_slotManager = new QNetworkAccessManager(this);
    for (QNetworkAccessManager *manager : {singleManager, m_slotManager}) {
        manager->setCookieJar(m_cookieJar);
        m_cookieJar->setParent(this);
        manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }
    m_single = new SingleConnectionEngine(m_model, singleManager, this);
    connect(m_single, &SingleConnectionEngine::panelText, this, &DownloadScheduler::panelText);
    connect(m_single, &SingleConnectionEngine::finished, this, &DownloadScheduler::onSingleFinished);
    connect(m_single, &SingleConnectionEngine::webPageReceived, this, &DownloadScheduler::webPageReceived);
    m_slotRow.fill(-1);
    m_slotStartMs.fill(0);
}

DownloadScheduler::~DownloadScheduler()
{
    for (int k = 1; k <= MaxSlots; ++k)
        destroySlot(k);
}

int DownloadScheduler::method() const
{
    return sharedOptions().DownloadMethod;
}

void DownloadScheduler::setTimeouts(int headerTimeoutMs, int stallTimeoutMs)
{
    m_headerTimeoutMs = headerTimeoutMs;
    m_stallTimeoutMs = stallTimeoutMs;
    m_single->setTimeouts(headerTimeoutMs, stallTimeoutMs);
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
    return m_single->isExecuting();
}

bool DownloadScheduler::slotAlive(int k) const
{
    return k >= 1 && k <= MaxSlots && IsObjectAlive(m_slots.at(static_cast<size_t>(k)));
}

int DownloadScheduler::SlotRow(int k) const
{
    return (k >= 1 && k <= MaxSlots) ? m_slotRow.at(static_cast<size_t>(k)) : -1;
}

Downloader *DownloadScheduler::slot(int k) const
{
    return slotAlive(k) ? m_slots.at(static_cast<size_t>(k)).data() : nullptr;
}

void DownloadScheduler::setRunning(bool running)
{
    if (running == Timer_Down.isActive())
        return;
    if (running)
        Timer_Down.start();
    else
        Timer_Down.stop();
    Q_EMIT runningChanged(running);
}

void DownloadScheduler::start()
{
    setRunning(true);
}

void DownloadScheduler::windowLoaded()
{
    using namespace settingkeys;
    m_lastFinishTime = now();
    m_model->ResetDownloadList();
    sharedOptions().loadDownloadMethod();
    m_options.threadCount = 1;
    m_options.threadPosition = 0;
    if (method() != 1) {
        int position = 0;
        if (parseStoredInt(ReadSetting(SectionDownload, Threads, DefaultThreadsPosition), &position) &&
            position >= 0 && position < MaxSlots) {
            m_options.threadPosition = position;
            m_options.threadCount = position + 1;
        }
    }
    Q_EMIT methodShown(method(), method() != 1, m_options.threadPosition);
    sharedOptions().loadDuplicateNamePolicy();
    m_options.policy = policyFromText(TrimSpaces(sharedOptions().DuplicateNamePolicy));
    sharedOptions().loadProxy();
    m_single->applyProxy();
    m_options.intervalSeconds = 0;
    Timer1.start();
}

void DownloadScheduler::switchMethod()
{
    sharedOptions().DownloadMethod = method() == 2 ? 1 : 2;
    m_options.threadCount = 1;
    m_options.threadPosition = 0;
    Q_EMIT methodShown(method(), method() != 1, 0);
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
    m_single->cancelRequest();
    WriteSetting(settingkeys::SectionDownload, settingkeys::Threads, QString::number(m_options.threadPosition));
}

void DownloadScheduler::StopDownloads()
{
    setRunning(false);
    m_busy = false;
    m_single->cancelBody();
    for (int k = 1; k <= MaxSlots; ++k)
        destroySlot(k);
    for (int i = 0; i < m_model->count(); ++i) {
        if (m_model->row(i).state == RowState::Downloading)
            m_model->setState(i, RowState::Failed);
    }
    m_busy = false;
}

void DownloadScheduler::tickScheduler()
{
    sharedOptions().DuplicateNamePolicy = policyCaption(m_options.policy);
    if (m_options.storePolicy)
        WriteSetting(settingkeys::SectionDownload, settingkeys::DuplicateName, sharedOptions().DuplicateNamePolicy);
    if (m_model->count() == 0) {
        setRunning(false);
        return;
    }
    if (std::abs(m_lastFinishTime - now()) <= m_options.intervalSeconds)
        return;
    if (method() == 1) {
        if (m_busy)
            return;
        const int position = findRow();
        if (position < 0)
            return;
        startRow(position, nullptr);
        startSingle(position);
        return;
    }
    for (int k = 1; k <= m_options.threadCount && k <= MaxSlots; ++k) {
        if (slotAlive(k))
            continue;
        const int position = findRow();
        if (position < 0)
            continue;
        QString target;
        startRow(position, &target);
        m_slotRow[static_cast<size_t>(k)] = position;
        startSlot(k, position, target);
    }
}

int DownloadScheduler::findRow()
{
    for (int i = 0; i < m_model->count(); ++i) {
        const DownloadRow &row = m_model->row(i);
        if (row.state != RowState::Waiting)
            continue;
        const QString name = CleanFileName(row.name);
        if (name != row.name)
            m_model->setName(i, name);
        const QString folder = withTrailingSlash(row.folder);
        if (folder != row.folder)
            m_model->setCell(i, DownloadListModel::ColFolder, folder);
        if (确定是需要下载(*m_model, i, m_options.policy, folder, name, row.type))
            return i;
    }
    return -1;
}

void DownloadScheduler::startRow(int position, QString *targetPath)
{
    m_model->setState(position, RowState::Downloading);
    m_model->clearProgress(position);
    const DownloadRow &row = m_model->row(position);
    QString newName;
    const QString path = 重命名保存路径(m_options.policy, row.folder, row.name, row.type, &newName);
    m_model->setName(position, newName);
    if (targetPath)
        *targetPath = path;
}

void DownloadScheduler::startSingle(int position)
{
    // Inet下载当前文件: a transfer still under way sends the row back to the queue.
    if (m_single->isExecuting() || m_busy) {
        m_model->setState(position, RowState::Waiting);
        m_model->setCell(position, DownloadListModel::ColSize, rowtext::WaitAgain);
        return;
    }
    m_busy = true;
    m_single->Inet下载文件(position, m_model->row(position).key, m_options.policy);
}

void DownloadScheduler::onSingleFinished(int, bool, bool stamped)
{
    if (stamped)
        m_lastFinishTime = now();
    m_busy = false;
}

void DownloadScheduler::startSlot(int k, int position, const QString &targetPath)
{
    auto *slot = new Downloader(m_slotManager, this);
    slot->setTimeouts(m_headerTimeoutMs, m_stallTimeoutMs);
    m_slots[static_cast<size_t>(k)] = slot;
    m_busy = true;
    m_model->setState(position, RowState::Downloading);
    m_model->clearProgress(position);
    m_slotStartMs[static_cast<size_t>(k)] = Clock::current().monotonicMs();
    connect(slot, &Downloader::DownloadProgress, this,
            [this, k](qint64 soFar, qint64 total, const QString &) { onSlotProgress(k, soFar, total); });
    connect(slot, &Downloader::DownloadError, this, [this, k](const QString &) { onSlotError(k); });
    connect(slot, &Downloader::DownloadComplete, this,
            [this, k](qint64 size, const QString &file) { onSlotComplete(k, size, file); });
    connect(slot, &Downloader::webPageReceived, this, [this, k] { Q_EMIT webPageReceived(SlotRow(k)); });
    slot->BeginDownload(m_model->row(position).key, targetPath);
}

void DownloadScheduler::destroySlot(int k)
{
    if (!slotAlive(k))
        return;
    Downloader *slot = m_slots[static_cast<size_t>(k)].data();
    m_slots[static_cast<size_t>(k)] = nullptr;
    slot->disconnect(this);
    slot->CancelAsyncRead();
    slot->deleteLater();
}

void DownloadScheduler::onSlotProgress(int k, qint64 soFar, qint64 total)
{
    const int position = SlotRow(k);
    if (!m_model->isValidRow(position) || total <= 0 || total < soFar)
        return;
    m_model->setCell(position, DownloadListModel::ColSize, QString::number(total));
    m_model->setCell(position, DownloadListModel::ColDownloaded, QString::number(soFar));
    m_model->setCell(position, DownloadListModel::ColPercent,
                     QString::number(static_cast<qint64>(static_cast<double>(soFar) / total * 100)) + u'%');
}

void DownloadScheduler::onSlotError(int k)
{
    const int position = SlotRow(k);
    if (m_model->isValidRow(position))
        m_model->setState(position, RowState::Failed);
    destroySlot(k);
    m_lastFinishTime = now();
}

void DownloadScheduler::onSlotComplete(int k, qint64, const QString &file)
{
    const int position = SlotRow(k);
    if (m_model->isValidRow(position)) {
        bool keep = true;
        if (QFileInfo(file).size() < kSmallFile) {
            QFile saved(file);
            const QString text = saved.open(QIODevice::ReadOnly) ? gbk::decode(saved.readAll()) : QString();
            keep = IsUsablePage(text);
            if (!keep)
                m_model->setCell(position, DownloadListModel::ColPercent, QString());
        }
        if (keep && m_model->row(position).percent != rowtext::Full)
            keep = false;
        m_model->setState(position, keep ? RowState::Done : RowState::Failed);
        if (!keep)
            QFile::remove(file); // an error page or an incomplete body is no finished download
    }
    destroySlot(k);
    m_lastFinishTime = now();
}

void DownloadScheduler::watchdog(int threadCount)
{
    const qint64 nowMs = Clock::current().monotonicMs();
    for (int k = 1; k <= threadCount && k <= MaxSlots; ++k) {
        if (!slotAlive(k))
            continue;
        if (nowMs - m_slotStartMs[static_cast<size_t>(k)] < WatchdogSeconds * 1000LL)
            continue;
        const int position = SlotRow(k);
        if (m_model->isValidRow(position) && m_model->row(position).size.isEmpty()) {
            destroySlot(k);
            m_model->setState(position, RowState::Failed);
        }
    }
}

void DownloadScheduler::tickHousekeeping()
{
    Q_EMIT runningChanged(isRunning());
    if (m_model->检测是否下载列表完毕()) {
        setRunning(false);
        Q_EMIT startEnabledChanged(true);
    } else {
        Q_EMIT startEnabledChanged(!isRunning());
    }
    watchdog(m_options.threadCount);
    if (method() == 1) {
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
    Q_EMIT panelText(4, m_model->totalsText());
    if (m_options.autoStart && m_model->统计未下载项数目() > 0)
        start();
    Q_EMIT housekeepingDone();
}
