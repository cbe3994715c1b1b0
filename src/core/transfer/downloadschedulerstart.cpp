#include "core/common/clock.h"
#include "core/common/filenames.h"
#include "core/settings/settingsstore.h"
#include "core/transfer/downloader.h"
#include "core/transfer/downloadscheduler.h"
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

// Choosing the next row and starting its transfer.

using Kind = FailureReason::Kind;
using schedulertime::monoNow;

void DownloadScheduler::startWaitingRows(bool tick)
{
    // A tick looks for work as such; the other starts belong to a running queue.
    if (m_starting || (!tick && !isRunning()) || m_pause.isPausedForVerification())
        return;
    m_starting = true;
    if (method() == DownloadMethod::Single) {
        if (!m_busy && !m_transfers.transferExecuting()) {
            const RowId id = findRow();
            if (id != RowId::None) {
                startRow(id);
                Inet下载当前文件(id);
            }
        }
    } else {
        for (int k = 1; k <= m_options.threadCount && k <= MaxSlots; ++k) {
            if (m_transfers.slotAlive(k))
                continue;
            const RowId id = findRow();
            if (id == RowId::None)
                break;
            const QString target = startRow(id);
            m_transfers.at(k).row = id;
            多线程下载(k, id, target);
        }
    }
    m_starting = false;
    if (m_retries.anyPending())
        scheduleWake();
    checkQueueFinished();
}

RowId DownloadScheduler::findRow()
{
    const qint64 nowMs = monoNow();
    for (int i = 0; i < m_model->count(); ++i) {
        const DownloadRow &row = m_model->row(i);
        if (row.state != RowState::Waiting || m_retries.heldBack(row, nowMs))
            continue;
        const RowId id = row.id;
        if (m_heldCheck && passHeldRow(id))
            continue;
        if (TrimSpaces(row.folder).isEmpty()) {
            failWithoutFolder(id);
            continue;
        }
        // The name as it may stand on disk; a name that fits is never cut again.
        // Every start begins from the name the row was handed over with: a name it
        // had on a try that wrote nothing is no claim.
        QString name = CleanFileName(row.givenName.isEmpty() ? row.name : row.givenName);
        const QString type = IsSafeFileType(row.type) ? row.type : QStringLiteral("pdf");
        name = FitNameForDisk(name, type, 0);
        const QString folder = withTrailingSlash(row.folder);
        if (name != row.name || folder != row.folder || type != row.type)
            m_rows.update(id, [&](DownloadRow &r) {
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
            m_rows.update(id, [&answer](DownloadRow &r) {
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

// True when the row is passed over: its answer is pending, or it ended done on
// the file it already has.
bool DownloadScheduler::passHeldRow(RowId id)
{
    const HeldAnswer held = m_heldCheck->check(*m_model->find(id));
    if (held.kind == HeldAnswer::Kind::NotHeld)
        return false;
    if (held.kind == HeldAnswer::Kind::Held) {
        m_rows.update(id, [&held](DownloadRow &r) {
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
    m_rows.update(id, [](DownloadRow &r) {
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
    // A row that waited for its next try was settled from outside (cancelled):
    // the bytes it kept and its retry go with it, and a list that it leaves
    // finished ends the run.
    if (!m_retries.waits(id) && !m_retries.keeps(id))
        return;
    m_retries.drop(id);
    QTimer::singleShot(0, this, &DownloadScheduler::checkQueueFinished);
}

QString DownloadScheduler::startRow(RowId id)
{
    const DownloadRow *row = m_model->find(id);
    QString newName;
    const QString path = 重命名保存路径(m_options.policy, row->folder, row->name, row->type, &newName,
                                        m_reserved, claimsFor(row->key));
    m_retries.started(id);
    m_pause.started(id, RetryBook::hostOf(m_landing.addressOf(*row)));
    const bool fresh = !m_landing.onTrail(id);
    m_rows.update(id, [&newName, fresh](DownloadRow &r) {
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
                Q_EMIT connectionStateChanged(state, code, text);
            });
    const bool resumes = m_retries.keeps(id);
    const qint64 kept = resumes ? m_retries.keptBytes(id) : 0;
    m_transfers.startSpeed(id, kept);
    if (resumes)
        transfer->setResume(m_retries.takeResume(id));
    return transfer;
}

void DownloadScheduler::Inet下载当前文件(RowId id)
{
    // A transfer still under way sends the row back to the queue.
    if (m_transfers.transferExecuting() || m_busy) {
        m_rows.update(id, [](DownloadRow &r) {
            r.state = RowState::Waiting;
            r.sizeNote = SizeNote::WaitAgain;
        });
        m_reserved.remove(m_reservedBy.take(id));
        m_pause.withdrawn(id);
        return;
    }
    m_busy = true;
    applyProxy();
    const DownloadRow *row = m_model->find(id);
    Q_EMIT transferNoted(TransferNote::Started, row->name);
    Downloader *transfer = makeTransfer(id, true);
    m_transfers.single() = TransferSlots::Slot{transfer, id, monoNow()};
    // The answer's type decides the file's name; the path is reserved for the row
    // until it ends.
    auto resolve = [this, id](const QString &type, QString *newName) {
        return reserveTarget(id, type, newName);
    };
    transfer->Inet下载文件(m_landing.addressOf(*row), row->name, row->type, resolve);
}

void DownloadScheduler::多线程下载(int k, RowId id, const QString &targetPath)
{
    Downloader *transfer = makeTransfer(id, false);
    m_busy = true;
    m_transfers.at(k) = TransferSlots::Slot{transfer, id, monoNow()};
    // Another program took the name meanwhile: under the rename rule the next
    // free one.
    auto resolveAgain = [this, id](const QString &type, QString *newName) {
        return m_options.policy == DuplicatePolicy::Rename ? reserveTarget(id, type, newName) : QString();
    };
    transfer->BeginDownload(m_landing.addressOf(*m_model->find(id)), targetPath, resolveAgain);
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
