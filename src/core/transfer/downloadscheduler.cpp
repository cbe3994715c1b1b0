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

namespace {

void cleanDeadPartFiles(const DownloadListModel &model)
{
    // Temporary files of runs that ended without cleaning up (killed, crashed,
    // power cut).
    const qint64 runStart = QDateTime::currentSecsSinceEpoch();
    QSet<QString> folders;
    for (int i = 0; i < model.count(); ++i) {
        if (model.row(i).state == RowState::Waiting)
            folders.insert(withTrailingSlash(model.row(i).folder));
    }
    for (const QString &folder : std::as_const(folders))
        RemoveDeadPartFilesLater(folder, runStart);
}

} // namespace

struct DownloadScheduler::Wiring
{
    // The run that the housekeeping drives: whether it runs, its start and end, and the busy mark.
    static Housekeeping::Run housekeepingRun(DownloadScheduler *s)
    {
        Housekeeping::Run run;
        run.running = [s] { return s->isRunning(); };
        run.announce = [s] { Q_EMIT s->runningChanged(s->isRunning()); };
        run.end = [s] {
            s->setRunning(false);
            s->checkQueueFinished();
        };
        run.setBusy = [s](bool busy) { s->m_busy = busy; };
        run.start = [s] { s->start(); };
        return run;
    }

    // Rows that leave the list or are settled from outside take their transfers and retries with them.
    static void followList(DownloadScheduler *s)
    {
        connect(s->m_model, &DownloadListModel::rowsDropped, s, [s](const QList<RowId> &ids) {
            // A row that leaves the list takes its transfer with it: stopped, its file discarded.
            for (RowId id : ids) {
                s->m_retries.drop(id);
                s->m_reports->forget(id);
                s->m_landing.remove(id);
            }
            s->m_transfers.abortRows(
                ids, FailureReason::of(Kind::Stopped, 0, QStringLiteral("removed from the list")));
            s->checkQueueFinished();
        });
        connect(s->m_model, &DownloadListModel::rowFinished, s, [s](RowId id) {
            // A row that waited for its next try was settled from outside (cancelled): the bytes it kept
            // and its retry go with it, and a list that it leaves finished ends the run.
            if (!s->m_retries.waits(id) && !s->m_retries.keeps(id))
                return;
            s->m_retries.drop(id);
            QTimer::singleShot(0, s, &DownloadScheduler::checkQueueFinished);
        });
    }
};

DownloadScheduler::DownloadScheduler(RowWriter rows, QObject *parent)
    : QObject(parent), m_rows(rows), m_model(rows.model()), m_network(m_options, this), m_transfers(rows),
      m_landing(rows), m_retries(rows, m_landing), m_hostPacing(m_options, m_transfers, m_landing, rows),
      m_pause(rows, m_retries), m_picker(rows, m_retries, [this](RowId id) { Q_EMIT rowEnded(id); }),
      m_pacing(m_options, m_retries, [this] { startDue(); }),
      m_reports(new TransferReports(
          rows, m_transfers, m_retries, m_options,
          [this](TransferNote note, const QString &name) { Q_EMIT transferNoted(note, name); }, this))
{
    m_picker.setHostPacing(&m_hostPacing);
    Timer_Down.setInterval(1000);
    connect(&Timer_Down, &QTimer::timeout, this, &DownloadScheduler::tickScheduler);
    m_housekeeping = new Housekeeping(m_model, m_transfers, m_options, Wiring::housekeepingRun(this), this);
    // A folder's names came in from the disk: rows passed over for want of them may start now.
    connect(&m_picker.names(), &FolderNames::arrived, this, [this] {
        if (isRunning())
            QTimer::singleShot(0, this, &DownloadScheduler::startDue);
    });
    Wiring::followList(this);
    m_retries.setQueueBusy(
        [this] { return m_pause.isPausedForVerification() || m_transfers.anyTransferLive(); });
}

DownloadScheduler::~DownloadScheduler()
{
    // Transfers wind down without reporting to a list that may be going too.
    m_transfers.dropAll({this, m_reports});
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

void DownloadScheduler::start()
{
    if (m_options.jitterSeed != 0)
        m_retries.seed(m_options.jitterSeed);
    if (!isRunning()) {
        cleanDeadPartFiles(*m_model);
        m_retries.dropIdleHolds();
    }
    setRunning(true);
    m_runOpen = true;
    // The first rows start now, not at the first tick.
    QTimer::singleShot(0, this, &DownloadScheduler::startDue);
}

void DownloadScheduler::windowLoaded()
{
    using namespace settingkeys;
    m_pacing.stampFinish();
    m_rows.ResetDownloadList();
    int number = 0;
    ::DownloadMethod loaded = method();
    if (ReadSettingNumber(settingkeys::DownloadMethod, &number))
        loaded = methodFromNumber(number);
    int position = 0;
    if (loaded == DownloadMethod::Single || !ReadSettingNumber(Threads, &position) || position < 0 ||
        position >= MaxSlots)
        position = 0;
    m_options.putMethod(loaded, position);
    Q_EMIT methodShown(method(), method() != DownloadMethod::Single, m_options.threadPosition);
    m_options.policy = policyFromText(TrimSpaces(ReadSetting(DuplicateName)));
    m_network.loadProxy();
    m_network.applyProxy();
    m_options.intervalSeconds = 0;
    m_housekeeping->setOn(true);
}

void DownloadScheduler::switchMethod()
{
    m_options.putMethod(method() == DownloadMethod::Single ? DownloadMethod::Parallel
                                                           : DownloadMethod::Single,
                        m_options.parallelThreadPosition());
    Q_EMIT methodShown(method(), method() != DownloadMethod::Single, m_options.threadPosition);
    setRunning(false);
}

bool DownloadScheduler::closeNeedsConfirmation() const
{
    return m_transfers.transferExecuting() || m_transfers.CountTransferSlots() > 1 ||
           !m_model->检测是否下载列表完毕() || isRunning();
}

void DownloadScheduler::windowClosing()
{
    m_housekeeping->setOn(false);
    setRunning(false);
    StopDownloads();
    // The parallel method's count, also while 切换 has the single connection in force for this run.
    WriteSetting(settingkeys::Threads, QString::number(m_options.parallelThreadPosition()));
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
    // The store is written when the policy changed, not on every tick: each write is a file write and a
    // flush, made on a worker while transfers keep the disk busy.
    if (m_options.storePolicy && m_storedPolicy != m_options.policy) {
        WriteSettingSoon(settingkeys::DuplicateName, policyCaption(m_options.policy));
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
        m_pacing.scheduleWake(m_hostPacing.nextEndAfter(monoNow()));
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
