#include "core/transfer/downloadscheduler.h"

#include "core/common/clock.h"
#include "core/common/filenames.h"
#include "core/settings/settingsstore.h"
#include "core/transfer/downloader.h"
#include "core/transfer/partfile.h"
#include "core/transfer/retrypolicy.h"

#include <QDateTime>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QSet>
#include <cmath>

namespace {

double now()
{
    return Clock::current().secondsSinceMidnight();
}

qint64 monoNow()
{
    return Clock::current().monotonicMs();
}

using Kind = FailureReason::Kind;

} // namespace

DownloadScheduler::DownloadScheduler(DownloadListModel *model, QObject *parent)
    : QObject(parent), m_model(model), m_cookieJar(new QNetworkCookieJar(this))
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
    m_jitter.seed(QRandomGenerator::global()->generate());
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
        m_jitter.seed(m_options.jitterSeed);
    if (!isRunning()) {
        cleanDeadPartFiles();
        dropIdleHolds();
    }
    setRunning(true);
    m_runOpen = true;
    // The first rows start now, not at the first tick.
    QTimer::singleShot(0, this, &DownloadScheduler::startDue);
}

void DownloadScheduler::cleanDeadPartFiles()
{
    // Temporary files of runs that ended without cleaning up (killed, crashed, power cut).
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
    m_model->ResetDownloadList();
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
    // A transfer whose file is whole keeps it and ends by itself; every other one ends here, failed.
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
        if (row.state == RowState::Waiting && m_retryAt.contains(row.id)) {
            // A row waiting for its next try ends with the reason of the last one.
            const RowId id = row.id;
            dropRetries(id);
            m_model->update(id, [](DownloadRow &r) {
                r.state = RowState::Failed;
                r.sizeNote = SizeNote::None;
            });
            continue;
        }
        if (row.state != RowState::Downloading || m_reservedBy.contains(row.id))
            continue;
        m_model->update(row.id, [](DownloadRow &r) {
            r.state = RowState::Failed;
            r.reason = FailureReason::of(Kind::Stopped);
            r.speed = -1;
        });
    }
    m_paused = false;
    m_pausedRows.clear();
    // A new run starts afresh: no host is held back, no wall is half counted.
    m_hostHold.clear();
    m_walls.clear();
    m_loginWalls.clear();
    m_busy = false;
    checkQueueFinished();
}

bool DownloadScheduler::intervalPassed() const
{
    // More than the pause since the last file's end (on the monotonic clock, so midnight changes nothing).
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
        due = -1;
        // Retries already due start as soon as a slot frees; only later ones need the wake-up.
        for (qint64 at : std::as_const(m_retryAt)) {
            if (at > nowMs)
                due = (due < 0 || at < due) ? at : due;
        }
        for (qint64 until : std::as_const(m_hostHold)) {
            if (until > nowMs)
                due = (due < 0 || until < due) ? until : due;
        }
        if (due < 0)
            return;
    }
    m_wakeDueMs = due;
    m_wake.start(static_cast<int>(std::clamp<qint64>(due - nowMs, 0, 3600 * 1000)));
}

void DownloadScheduler::startWaitingRows(bool tick)
{
    // A tick looks for work as such; the other starts belong to a running queue.
    if (m_starting || (!tick && !isRunning()) || m_paused)
        return;
    m_starting = true;
    if (method() == DownloadMethod::Single) {
        if (!m_busy && !transferExecuting()) {
            const RowId id = findRow();
            if (id != RowId::None) {
                startRow(id);
                Inet下载当前文件(id);
            }
        }
    } else {
        for (int k = 1; k <= m_options.threadCount && k <= MaxSlots; ++k) {
            if (slotAlive(k))
                continue;
            const RowId id = findRow();
            if (id == RowId::None)
                break;
            const QString target = startRow(id);
            m_slots[static_cast<size_t>(k)].row = id;
            多线程下载(k, id, target);
        }
    }
    m_starting = false;
    if (!m_retryAt.isEmpty() || !m_hostHold.isEmpty())
        scheduleWake();
    checkQueueFinished();
}

qint64 DownloadScheduler::hostHeldUntilMs(const QString &host) const
{
    const qint64 until = m_hostHold.value(host, -1);
    return until > monoNow() ? until : -1;
}

QString DownloadScheduler::hostOf(const QString &address)
{
    const QUrl url(address);
    return url.host().toLower() + u':' + QString::number(url.port(url.scheme() == u"https" ? 443 : 80));
}

void DownloadScheduler::dropIdleHolds()
{
    // A hold stands behind a retry that follows; with no row of the host waiting for one it has no reason.
    QSet<QString> waiting;
    for (auto it = m_retryAt.cbegin(); it != m_retryAt.cend(); ++it) {
        if (const DownloadRow *row = m_model->find(it.key()))
            waiting.insert(hostOf(addressOf(*row)));
    }
    m_hostHold.removeIf([&waiting](const auto &hold) { return !waiting.contains(hold.key()); });
}

bool DownloadScheduler::heldBack(const DownloadRow &row, qint64 nowMs) const
{
    if (m_retryAt.value(row.id, 0) > nowMs)
        return true;
    return !m_hostHold.isEmpty() && m_hostHold.value(hostOf(addressOf(row)), 0) > nowMs;
}

QString DownloadScheduler::addressOf(const DownloadRow &row) const
{
    const auto it = m_landing.constFind(row.id);
    return it != m_landing.cend() && !it->next.isEmpty() ? it->next : row.key;
}

RowId DownloadScheduler::findRow()
{
    const qint64 nowMs = monoNow();
    for (int i = 0; i < m_model->count(); ++i) {
        const DownloadRow &row = m_model->row(i);
        if (row.state != RowState::Waiting || heldBack(row, nowMs))
            continue;
        const RowId id = row.id;
        if (m_heldCheck && passHeldRow(id))
            continue;
        if (TrimSpaces(row.folder).isEmpty()) {
            failWithoutFolder(id);
            continue;
        }
        // The name as it may stand on disk; a name that fits is never cut again. Every start begins from
        // the name the row was handed over with: a name it had on a try that wrote nothing is no claim.
        QString name = CleanFileName(row.givenName.isEmpty() ? row.name : row.givenName);
        const QString type = IsSafeFileType(row.type) ? row.type : QStringLiteral("pdf");
        name = FitNameForDisk(name, type, 0);
        const QString folder = withTrailingSlash(row.folder);
        if (name != row.name || folder != row.folder || type != row.type)
            m_model->update(id, [&](DownloadRow &r) {
                r.name = name;
                r.folder = folder;
                r.type = type;
            });
        const NeedAnswer answer =
            确定是需要下载(m_options.policy, folder, name, type, m_reserved, claimsFor(row.key));
        switch (answer.need) {
        case Need::Fetch:
            return id;
        case Need::Wait:
            continue;
        case Need::Skip:
            m_model->update(id, [&answer](DownloadRow &r) {
                r.state = RowState::Done;
                r.size = answer.existingLength;
                r.sizeNote = SizeNote::None;
                r.downloaded = answer.existingLength;
                r.percentShown = false;
                r.percentNote = PercentNote::Skipped;
                r.reason = {};
            });
            Q_EMIT rowEnded(id);
            continue;
        }
    }
    return RowId::None;
}

// True when the row is passed over: its answer is pending, or it ended done on the file it already has.
bool DownloadScheduler::passHeldRow(RowId id)
{
    const HeldAnswer held = m_heldCheck->check(*m_model->find(id));
    if (held.kind == HeldAnswer::Kind::NotHeld)
        return false;
    if (held.kind == HeldAnswer::Kind::Held) {
        m_model->update(id, [&held](DownloadRow &r) {
            r.state = RowState::Done;
            r.folder = held.folder;
            r.name = held.name;
            r.type = held.type;
            r.size = held.size;
            r.sizeNote = SizeNote::None;
            r.downloaded = held.size;
            r.percentShown = false;
            r.percentNote = PercentNote::Held;
            r.reason = {};
        });
        Q_EMIT rowEnded(id);
    }
    return true;
}

void DownloadScheduler::heldAnswered()
{
    if (isRunning())
        QTimer::singleShot(0, this, &DownloadScheduler::startDue);
}

void DownloadScheduler::failWithoutFolder(RowId id)
{
    // An empty folder is no folder: it never becomes the root of the file system.
    m_model->update(id, [](DownloadRow &r) {
        r.state = RowState::Failed;
        r.reason = FailureReason::of(Kind::NoFolder);
    });
    Q_EMIT rowEnded(id);
}

ClaimTest DownloadScheduler::claimsFor(const QString &key) const
{
    return [this, key](const QString &path) {
        return m_model->fileWrittenByAnother(path, key) || (m_foreignFile && m_foreignFile(path, key));
    };
}

void DownloadScheduler::onRowFinished(RowId id)
{
    // A row that waited for its next try was settled from outside (cancelled): the bytes it kept and its
    // retry go with it, and a list that it leaves finished ends the run.
    if (!m_retryAt.contains(id) && !m_resumeFrom.contains(id))
        return;
    dropRetries(id);
    QTimer::singleShot(0, this, &DownloadScheduler::checkQueueFinished);
}

QString DownloadScheduler::startRow(RowId id)
{
    const DownloadRow *row = m_model->find(id);
    QString newName;
    const QString path = 重命名保存路径(m_options.policy, row->folder, row->name, row->type, &newName,
                                        m_reserved, claimsFor(row->key));
    m_retryAt.remove(id);
    m_walls.started(id, hostOf(addressOf(*row)));
    const bool fresh = !m_landing.contains(id);
    m_model->update(id, [&newName, fresh](DownloadRow &r) {
        if (fresh) {
            // A new start asks for the row's own address again; what pages of it named is learnt anew.
            r.landingPage.clear();
            r.fileAddress.clear();
            r.declared = {};
        }
        r.state = RowState::Downloading;
        r.clearProgress();
        r.reason = {};
        r.name = newName;
    });
    m_reserved.insert(path);
    m_reservedBy.insert(id, path);
    return path;
}

TransferOptions DownloadScheduler::transferOptions(bool single) const
{
    TransferOptions options;
    options.singleConnection = single;
    options.replaceExisting = m_options.policy == DuplicatePolicy::Overwrite;
    options.headerTimeoutMs = m_headerTimeoutMs;
    options.stallWindowMs = m_stallWindowMs;
    options.stallMinBytes = m_stallMinBytes;
    return options;
}

Downloader *DownloadScheduler::makeTransfer(RowId id, bool single)
{
    auto *transfer =
        new Downloader(id, single ? m_singleManager : m_slotManager, transferOptions(single), this);
    connect(transfer, &Downloader::DownloadProgress, this, &DownloadScheduler::onProgress);
    connect(transfer, &Downloader::answered, this, &DownloadScheduler::onAnswered);
    connect(transfer, &Downloader::bodyReceived, this, &DownloadScheduler::onBodyReceived);
    connect(transfer, &Downloader::finished, this, &DownloadScheduler::onFinished);
    connect(transfer, &Downloader::webPageReceived, this, &DownloadScheduler::webPageReceived);
    connect(transfer, &Downloader::connectionStateChanged, this,
            [this](RowId, ConnectionState state, int code, const QString &text) {
                Q_EMIT panelText(StatusPanel::Connection, Downloader::stateText(state, code, text));
            });
    // A resumed transfer counts the kept bytes as received: they are no part of its speed.
    const qint64 kept = m_resumeFrom.contains(id) ? m_resumeFrom.value(id).bytes : 0;
    m_speed.insert(id, Speed{monoNow(), kept, kept});
    if (m_resumeFrom.contains(id))
        transfer->setResume(m_resumeFrom.take(id));
    return transfer;
}

void DownloadScheduler::Inet下载当前文件(RowId id)
{
    // A transfer still under way sends the row back to the queue.
    if (transferExecuting() || m_busy) {
        m_model->update(id, [](DownloadRow &r) {
            r.state = RowState::Waiting;
            r.sizeNote = SizeNote::WaitAgain;
        });
        m_reserved.remove(m_reservedBy.take(id));
        m_walls.answered(id, WallWatch::Answer::Uncounted);
        return;
    }
    m_busy = true;
    applyProxy();
    const DownloadRow *row = m_model->find(id);
    Q_EMIT panelText(StatusPanel::Transfer, QStringLiteral("正在下载:") + row->name);
    Downloader *transfer = makeTransfer(id, true);
    m_single = Slot{transfer, id, monoNow()};
    // The answer's type decides the file's name; the path is reserved for the row until it ends.
    auto resolve = [this, id](const QString &type, QString *newName) {
        return reserveTarget(id, type, newName);
    };
    transfer->Inet下载文件(addressOf(*row), row->name, row->type, resolve);
}

void DownloadScheduler::多线程下载(int k, RowId id, const QString &targetPath)
{
    Downloader *transfer = makeTransfer(id, false);
    m_busy = true;
    Slot &slot = m_slots[static_cast<size_t>(k)];
    slot = Slot{transfer, id, monoNow()};
    // Another program took the name meanwhile: under the rename rule the next free one.
    auto resolveAgain = [this, id](const QString &type, QString *newName) {
        return m_options.policy == DuplicatePolicy::Rename ? reserveTarget(id, type, newName) : QString();
    };
    transfer->BeginDownload(addressOf(*m_model->find(id)), targetPath, resolveAgain);
}

QString DownloadScheduler::reserveTarget(RowId id, const QString &type, QString *newName)
{
    const DownloadRow *row = m_model->find(id);
    if (!row)
        return {};
    m_reserved.remove(m_reservedBy.take(id));
    const QString path = 重命名保存路径(m_options.policy, row->folder, row->name, type, newName, m_reserved,
                                        claimsFor(row->key));
    m_reserved.insert(path);
    m_reservedBy.insert(id, path);
    return path;
}

void DownloadScheduler::onProgress(RowId id, qint64 received, qint64 total)
{
    Speed &speed = m_speed[id];
    const qint64 at = monoNow();
    speed.latest = received;
    qint64 rate = -1;
    if (at - speed.atMs >= 500) {
        rate = (received - speed.bytes) * 1000 / (at - speed.atMs);
        speed = Speed{at, received, received};
    }
    m_model->update(id, [=](DownloadRow &r) {
        if (rate >= 0)
            r.speed = std::max<qint64>(0, rate);
        if (total <= 0 || total < received)
            return;
        r.size = total;
        r.sizeNote = SizeNote::None;
        r.downloaded = received;
        r.percentShown = true;
    });
}

void DownloadScheduler::onAnswered(RowId id, qint64 length, const QString &type, const QString &name)
{
    // The answer's type and name show while it arrives; the row gets them back if the try fails.
    if (const DownloadRow *row = m_model->find(id); row && !m_beforeAnswer.contains(id))
        m_beforeAnswer.insert(id, {row->name, row->type});
    m_model->update(id, [&](DownloadRow &r) {
        r.type = type;
        r.name = name;
        r.size = length > 0 ? length : -1;
        r.sizeNote = length > 0 ? SizeNote::None : SizeNote::Unknown;
    });
}

void DownloadScheduler::onBodyReceived(RowId id)
{
    // A paper came through: settled now, before the slot may take the next row, so that a wall met by a
    // later request is never forgotten when this file reaches the disk.
    settleAnswer(id, WallWatch::Answer::Passed);
    // With no pause between files the slot serves the next row while this file is flushed to the disk.
    constexpr int MaxCommitting = 32;
    auto *transfer = qobject_cast<Downloader *>(sender());
    if (!transfer || m_options.intervalSeconds > 0 || m_committing.size() >= MaxCommitting || !isRunning())
        return;
    m_committing.append(transfer);
    freeSlotOf(transfer);
    QTimer::singleShot(0, this, &DownloadScheduler::startDue);
}

void DownloadScheduler::onFinished(RowId id, const TransferResult &answer)
{
    TransferResult result = answer;
    auto *transfer = qobject_cast<Downloader *>(sender());
    const bool single = transfer ? transfer->isSingleConnection() : method() == DownloadMethod::Single;
    freeSlotOf(transfer);
    m_reserved.remove(m_reservedBy.take(id));
    m_speed.remove(id);
    const auto before = m_beforeAnswer.take(id);
    if (!result.done && !before.second.isEmpty()) {
        // A type learnt from an answer that failed is not the paper's.
        m_model->update(id, [&before](DownloadRow &r) {
            r.name = before.first;
            r.type = before.second;
        });
    }
    const bool follows = !result.done && result.pageRead && followLandingPage(id, &result);
    if (follows) {
        // A page that names its full text is the way to the paper, not a wall in front of it.
        settleAnswer(id, WallWatch::Answer::Uncounted);
    } else if (result.done) {
        settleAnswer(id, WallWatch::Answer::Passed);
        DownloadComplete(id, result, single);
    } else if (scheduleRetry(id, result)) {
        settleAnswer(id, WallWatch::Answer::Uncounted);
    } else {
        DownloadError(id, result);
        if (result.pageRead && result.landing.namesFullText())
            settleAnswer(id, WallWatch::Answer::Uncounted);
        else
            noteWall(id, result);
    }
    // A web page on the way to the paper is no file: the pause between files does not start with it.
    if (result.stamped && !follows)
        stampFinish();
    if (transfer)
        transfer->deleteLater();
    if (const DownloadRow *row = m_model->find(id); row && row->state != RowState::Waiting) {
        m_landing.remove(id);
        Q_EMIT rowEnded(id);
    }
    // The next row starts now, or when the pause after this file has passed.
    if (isRunning()) {
        if (intervalPassed())
            QTimer::singleShot(0, this, &DownloadScheduler::startDue);
        else
            scheduleWake();
    }
    checkQueueFinished();
}

bool DownloadScheduler::scheduleRetry(RowId id, const TransferResult &result)
{
    const DownloadRow *row = m_model->find(id);
    const qint64 nowMs = monoNow();
    const int attempt = row ? row->retry + 1 : 0;
    const qint64 delay =
        retrypolicy::DelayMs(attempt, result.retryAfterMs, m_jitter.generateDouble() * 2 - 1);
    const bool again = row && result.reason.kind != FailureReason::Kind::Stopped &&
                       attempt <= m_options.retries &&
                       retrypolicy::IsTransient(result.reason, result.retryAfterMs);
    // The host is left alone for as long as its latest answer asked, and only while a retry is to follow.
    if (again && retrypolicy::HoldsBackHost(result.reason))
        m_hostHold.insert(hostOf(addressOf(*row)), nowMs + delay);
    if (!again) {
        dropRetries(id);
        if (result.resume.isValid())
            PartFile::removeKept(result.resume.folder, result.resume.temporaryName);
        return false;
    }
    m_retryAt.insert(id, nowMs + delay);
    if (result.resume.isValid())
        m_resumeFrom.insert(id, result.resume);
    const int limit = m_options.retries;
    m_model->update(id, [&](DownloadRow &r) {
        r.state = RowState::Waiting;
        r.clearProgress();
        r.sizeNote = SizeNote::RetryWait;
        r.retry = attempt;
        r.retryLimit = limit;
        r.reason = result.reason;
    });
    Q_EMIT retryScheduled(id, attempt, limit, delay);
    return true;
}

namespace {

// One form of an address for telling whether it was asked for already.
QString fetchedForm(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments | QUrl::RemoveUserInfo)
        .toString(QUrl::FullyEncoded);
}

} // namespace

// The answer was a web page: when it is a paper's own page that names its full text, the row goes on to
// that address as a transfer of its own (true). Otherwise the reason says why the row ends here.
bool DownloadScheduler::followLandingPage(RowId id, TransferResult *result)
{
    const DownloadRow *row = m_model->find(id);
    if (!row)
        return false;
    LandingTrail &trail = m_landing[id];
    if (trail.pages == 0)
        trail.fetched.insert(fetchedForm(QUrl(row->key)));
    for (const QUrl &url : std::as_const(result->requested))
        trail.fetched.insert(fetchedForm(url));
    const LandingPage &page = result->landing;
    if (!page.metadata.title.isEmpty() || !page.metadata.cells.isEmpty()) {
        m_model->update(id,
                        [&page](DownloadRow &r) { r.declared = MergedMetadata(r.declared, page.metadata); });
    }
    if (!page.namesFullText()) {
        // The full text a page named came as a page again.
        if (trail.pages > 0)
            result->reason =
                FailureReason::of(Kind::WebPage, 0, QStringLiteral("the full text is a web page"));
        return false;
    }
    if (trail.fetched.contains(fetchedForm(page.fullText))) {
        result->reason =
            FailureReason::of(Kind::LandingWithoutFullText, 0,
                              QStringLiteral("its full text leads back to a page already fetched"));
        return false;
    }
    if (trail.pages >= MaxLandingPages) {
        result->reason = FailureReason::of(
            Kind::WebPage, 0, QStringLiteral("more than %1 landing pages in a row").arg(MaxLandingPages));
        return false;
    }
    ++trail.pages;
    trail.next = page.fullText.toString(QUrl::FullyEncoded);
    const QString landing =
        (result->finalUrl.isValid() ? result->finalUrl : QUrl(addressOf(*row))).toString(QUrl::FullyEncoded);
    const QString next = trail.next;
    m_model->update(id, [&landing, &next](DownloadRow &r) {
        r.state = RowState::Waiting;
        r.clearProgress();
        r.reason = {};
        r.landingPage = landing;
        r.fileAddress = next;
    });
    return true;
}

void DownloadScheduler::dropRetries(RowId id)
{
    m_retryAt.remove(id);
    const ResumePoint kept = m_resumeFrom.take(id);
    if (kept.isValid())
        PartFile::removeKept(kept.folder, kept.temporaryName);
}

void DownloadScheduler::noteWall(RowId id, const TransferResult &result)
{
    using Answer = WallWatch::Answer;
    const bool wall = retrypolicy::LooksLikeAWall(result.reason, result.retryAfterMs);
    if (wall && result.loginPage)
        m_loginWalls.insert(id);
    else
        m_loginWalls.remove(id);
    // A row that meets the page while the queue waits for it goes back with the others on 继续.
    if (wall && m_paused && !m_pausedRows.contains(id))
        m_pausedRows.append(id);
    Answer answer = wall ? Answer::Wall : Answer::Passed;
    // While a login runs, the page may be the lapsed login itself: it gets its try first. A transfer that
    // was stopped or removed brought no answer of the site at all.
    if ((wall && m_loginPending &&
         (result.reason.kind == Kind::WebPage || result.reason.kind == Kind::LandingWithoutFullText)) ||
        result.reason.kind == FailureReason::Kind::Stopped)
        answer = Answer::Uncounted;
    settleAnswer(id, answer, result.finalUrl);
}

void DownloadScheduler::settleAnswer(RowId id, WallWatch::Answer answer, const QUrl &page)
{
    if (!m_walls.answered(id, answer, page) || m_paused)
        return;
    m_paused = true;
    m_pausedRows = m_walls.wallRows();
    m_pausePage = m_walls.page();
    // A login page among the pages met asks for a login; otherwise the site asks for its check.
    m_pauseKind = PauseKind::Verification;
    for (RowId row : std::as_const(m_pausedRows)) {
        if (m_loginWalls.contains(row))
            m_pauseKind = PauseKind::Login;
    }
    Q_EMIT verificationNeeded(m_walls.host(), m_pausePage, m_pauseKind);
}

void DownloadScheduler::resumeAfterVerification()
{
    if (!m_paused)
        return;
    m_paused = false;
    for (RowId id : std::as_const(m_pausedRows)) {
        const DownloadRow *row = m_model->find(id);
        if (!row || row->state != RowState::Failed)
            continue;
        m_model->update(id, [](DownloadRow &r) {
            r.state = RowState::Waiting;
            r.clearProgress();
            r.reason = {};
            r.retry = 0;
        });
    }
    m_pausedRows.clear();
    m_walls.clear();
    m_loginWalls.clear();
    start();
}

void DownloadScheduler::freeSlotOf(Downloader *transfer)
{
    if (!transfer)
        return;
    m_committing.removeAll(transfer);
    if (m_single.transfer == transfer) {
        m_single = Slot{};
        m_busy = false;
        return;
    }
    for (Slot &slot : m_slots) {
        if (slot.transfer == transfer)
            slot = Slot{};
    }
}

void DownloadScheduler::stampFinish()
{
    m_lastFinishTime = now();
    m_lastFinishMono = monoNow();
}

void DownloadScheduler::DownloadComplete(RowId id, const TransferResult &result, bool single)
{
    m_model->update(id, [&](DownloadRow &r) {
        r.state = RowState::Done;
        r.reason = {};
        r.speed = -1;
        r.name = result.name;
        r.type = result.type;
        r.owned = OwnedFile{rowFilePath(r), result.identity};
        r.sizeNote = SizeNote::None;
        r.downloaded = result.received;
        if (result.total > 0) {
            r.size = result.total;
            r.percentShown = true;
        } else {
            // An answer without a stated length is complete now: its total is what arrived.
            r.size = result.received;
            r.percentShown = !single;
            r.percentNote = single ? PercentNote::Full : PercentNote::None;
        }
    });
    if (const DownloadRow *row = m_model->find(id); row && result.stamped)
        Q_EMIT panelText(StatusPanel::Transfer, QStringLiteral("完成下载:") + row->name);
}

void DownloadScheduler::DownloadError(RowId id, const TransferResult &result)
{
    m_model->update(id, [&](DownloadRow &r) {
        r.state = RowState::Failed;
        r.reason = result.reason;
        r.speed = -1;
        if (result.sizeNote != SizeNote::None)
            r.sizeNote = result.sizeNote;
        if (result.clearPercent) {
            r.percentShown = false;
            r.percentNote = PercentNote::None;
        }
    });
    // A failed row is never named as finished.
    if (const DownloadRow *row = m_model->find(id); row && result.stamped && result.answered)
        Q_EMIT panelText(StatusPanel::Transfer, QStringLiteral("下载失败:") + row->name);
}

void DownloadScheduler::onRowsDropped(const QList<RowId> &ids)
{
    // A row that leaves the list takes its transfer with it: stopped, its file discarded.
    const QSet<RowId> gone(ids.cbegin(), ids.cend());
    for (RowId id : ids) {
        dropRetries(id);
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
        // A slot that has body bytes is watched by its own stall limit; this catches the ones that never
        // got under way.
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
    // A transfer whose bytes stopped coming reports nothing: its speed falls with the time it stays quiet.
    const qint64 at = monoNow();
    for (auto it = m_speed.begin(); it != m_speed.end(); ++it) {
        Speed &speed = it.value();
        if (at - speed.atMs < 1000)
            continue;
        const qint64 rate = std::max<qint64>(0, (speed.latest - speed.bytes) * 1000 / (at - speed.atMs));
        speed = Speed{at, speed.latest, speed.latest};
        m_model->update(it.key(), [rate](DownloadRow &r) {
            if (r.state == RowState::Downloading)
                r.speed = rate;
        });
    }
}

void DownloadScheduler::checkQueueFinished()
{
    // The run is over when its last transfer has ended and nothing is left to do, or it was stopped.
    if (!m_runOpen || anyTransferLive() || m_paused || (isRunning() && !m_model->检测是否下载列表完毕()))
        return;
    m_runOpen = false;
    setRunning(false);
    Q_EMIT queueFinished();
}

void DownloadScheduler::UpdateStatusSummary()
{
    Q_EMIT panelText(StatusPanel::Totals, m_model->totalsText());
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
