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
            const RowId id = m_picker.findRow(m_options.policy);
            if (id != RowId::None) {
                startRow(id);
                Inet下载当前文件(id);
            }
        }
    } else {
        for (int k = 1; k <= m_options.threadCount && k <= MaxSlots; ++k) {
            if (m_transfers.slotAlive(k))
                continue;
            const RowId id = m_picker.findRow(m_options.policy);
            if (id == RowId::None)
                break;
            const QString target = startRow(id);
            m_transfers.at(k).row = id;
            多线程下载(k, id, target);
        }
    }
    m_starting = false;
    // Nothing is being received any more: the files on their way to the disk are the last for now and
    // need not wait for others to share their flush.
    if (!m_transfers.anyReceivingBesides(nullptr) && m_transfers.anyTransferLive())
        PartFile::flushSoon();
    if (m_retries.anyPending() || m_hostPacing.nextEndAfter(monoNow()) >= 0)
        scheduleWake();
    checkQueueFinished();
}

QString DownloadScheduler::startRow(RowId id)
{
    const DownloadRow *row = m_model->find(id);
    QString newName;
    const QString path =
        重命名保存路径(m_options.policy, row->folder, row->name, row->type, &newName,
                       m_picker.reservedFor(id), m_picker.claimsFor(row->key), m_picker.lookFor(*row));
    m_retries.started(id);
    m_hostPacing.started(*row, monoNow());
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
    m_picker.reserve(id, path);
    return path;
}

Downloader *DownloadScheduler::makeTransfer(RowId id, bool single, int slot)
{
    TransferOptions options = m_network.transferOptions(single);
    if (const DownloadRow *row = m_model->find(id)) {
        options.earlierCopy = row->owned;
        options.readsAnswer = m_landing.readsAnswer(*row, m_options.sources);
    }
    auto *transfer = new Downloader(id, m_network.manager(single, slot), options, this);
    m_reports->watch(transfer);
    connect(transfer, &Downloader::bodyReceived, this, &DownloadScheduler::onBodyReceived);
    connect(transfer, &Downloader::finished, this, &DownloadScheduler::onFinished);
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
        m_picker.release(id);
        m_pause.withdrawn(id);
        return;
    }
    m_busy = true;
    m_network.applyProxy();
    const DownloadRow *row = m_model->find(id);
    Q_EMIT transferNoted(TransferNote::Started, row->name);
    Downloader *transfer = makeTransfer(id, true);
    m_transfers.single() = TransferSlots::Slot{transfer, id, monoNow()};
    connect(transfer, &Downloader::bodyReceived, this, [this](RowId row) { m_picker.committing(row); });
    // The answer's type decides the file's name; the path is reserved for the row
    // until it ends. Asked again while the file is put in place, the name was
    // refused: another program took it meanwhile.
    auto resolve = [this, id, transfer](const QString &type, QString *newName) {
        if (transfer->isCommitting())
            m_picker.nameRefused(id);
        return m_picker.reserveTarget(id, m_options.policy, type, newName);
    };
    transfer->Inet下载文件(m_landing.addressOf(*row), row->name, row->type, resolve);
}

void DownloadScheduler::多线程下载(int k, RowId id, const QString &targetPath)
{
    Downloader *transfer = makeTransfer(id, false, k);
    m_busy = true;
    m_transfers.at(k) = TransferSlots::Slot{transfer, id, monoNow()};
    connect(transfer, &Downloader::bodyReceived, this, [this](RowId row) { m_picker.committing(row); });
    // Another program took the name meanwhile: under the rename rule the next
    // free one.
    auto resolveAgain = [this, id](const QString &type, QString *newName) {
        m_picker.nameRefused(id);
        return m_options.policy == DuplicatePolicy::Rename
                   ? m_picker.reserveTarget(id, m_options.policy, type, newName)
                   : QString();
    };
    transfer->BeginDownload(m_landing.addressOf(*m_model->find(id)), targetPath, resolveAgain);
}
