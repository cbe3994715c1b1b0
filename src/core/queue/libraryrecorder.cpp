#include "core/queue/libraryrecorder.h"

#include "core/common/backgroundthread.h"
#include "core/common/safetext.h"
#include "core/library/heldcheck.h"
#include "core/library/paperlibrary.h"
#include "core/references/identifiers.h"
#include "core/rows/failurereason.h"
#include "core/rows/targetfile.h"
#include "core/transfer/downloadscheduler.h"

#include <QDateTime>
#include <QFileInfo>

QString DoiKeyOfRow(const DownloadRow &row)
{
    // The DOI the row was listed under, else the one its list or its page gave.
    for (const QString &doi : {row.identifier, row.naming.given.doi(), row.declared.doi()}) {
        if (const DoiRead read = ReadDoi(doi); read.ok())
            return DoiKey(read.doi);
    }
    return QString();
}

std::optional<DownloadResult> downloadResultFor(const DownloadRow &row)
{
    DownloadResult result;
    result.address = row.key;
    result.title = row.name;
    result.finishedAt = QDateTime::currentDateTimeUtc();
    result.declared = row.declared;
    result.fileAddress = row.fileAddress;
    result.landingPage = row.landingPage;
    result.doiKey = DoiKeyOfRow(row);
    if (row.state == RowState::Failed) {
        result.outcome = DownloadOutcome::Failed;
        result.reason = reasonText(row.reason);
        return result;
    }
    if (row.state != RowState::Done || row.percentNote == PercentNote::Skipped ||
        row.percentNote == PercentNote::Held)
        return std::nullopt;
    result.outcome = DownloadOutcome::Done;
    result.filePath = QFileInfo(rowFilePath(row)).absoluteFilePath();
    if (row.pdf.state != PdfVerdict::State::NotChecked || row.pdf.unchecked != PdfVerdict::Unchecked::None)
        result.pdf = pdfStateWord(row.pdf.state);
    result.pdfPages = row.pdf.pages;
    return result;
}

QString unrecordedText(const QList<DownloadResult> &results, const QString &why)
{
    constexpr int Named = 3;
    QStringList addresses;
    for (qsizetype i = 0; i < results.size() && i < Named; ++i)
        addresses.append(WithoutCredentials(results.at(i).address));
    const QString more = results.size() > Named ? QStringLiteral(" 等") : QString();
    return QStringLiteral("%1 篇文献的下载结果没有记入文献资料库（%2）：%3%4")
        .arg(results.size())
        .arg(why, addresses.join(QStringLiteral("、")), more);
}

LibraryRecorder::LibraryRecorder(PaperLibrary *library, DownloadScheduler *scheduler, QObject *parent)
    : QObject(parent), m_library(library), m_model(scheduler->model())
{
    m_pool.setMaxThreadCount(1);
    m_writeSoon.setSingleShot(true);
    connect(&m_writeSoon, &QTimer::timeout, this, &LibraryRecorder::writeUnwritten);
    connect(scheduler, &DownloadScheduler::rowEnded, this, &LibraryRecorder::onRowEnded);
}

LibraryRecorder::~LibraryRecorder()
{
    // A file that has arrived is on record even when the window closes right after it.
    m_pool.waitForDone();
    stopWriter();
    blockSignals(true); // whoever listened may be going too
    m_finishing = true;
    m_finishBusyTries = BusyRetries; // one last try, no waiting for another
    writeUnwritten();
}

void LibraryRecorder::onRowEnded(RowId id)
{
    const DownloadRow *row = m_model->find(id);
    if (!row || !m_library)
        return;
    std::optional<DownloadResult> result = downloadResultFor(*row);
    if (!result)
        return;
    if (result->outcome != DownloadOutcome::Done) {
        m_unwritten.append(*result);
        if (!m_writeSoon.isActive())
            m_writeSoon.start(WriteDelayMs);
        return;
    }
    ++m_hashing;
    m_pool.start([this, done = *result, written = row->owned.identity, digest = row->ownedSha256]() mutable {
        MarkBackgroundThread();
        const KnownFile known = hashFinishedFile(done, written, digest);
        {
            const QMutexLocker lock(&m_hashedLock);
            m_hashed.append(done);
            m_hashedFiles.append(known);
        }
        QMetaObject::invokeMethod(this, &LibraryRecorder::takeHashed, Qt::QueuedConnection);
    });
}

LibraryRecorder::KnownFile
LibraryRecorder::hashFinishedFile(DownloadResult &done, const FileIdentity &written, const QByteArray &digest)
{
    KnownFile known;
    // A plain file, not a link to one.
    known.identity = IdentityOf(done.filePath);
    if (known.identity.isValid() && known.identity == written && digest.size() == 32) {
        // Still the very file the transfer wrote: its content was hashed as it went to the disk.
        done.size = known.identity.size;
        done.sha256 = QString::fromLatin1(digest.toHex());
        known.sha256 = done.sha256;
    } else if (known.identity.isValid()) {
        done.size = known.identity.size;
        done.sha256 = FileSha256(done.filePath);
        // The hash names the file only when it did not change while it was read.
        if (IdentityOf(done.filePath) != known.identity)
            known.identity = {};
        known.sha256 = done.sha256;
    }
    // A file that is gone (or unreadable) is an end without a file, not a download on record.
    if (done.sha256.isEmpty())
        done.filePath.clear();
    return known;
}

void LibraryRecorder::takeHashedLocked()
{
    m_hashing -= static_cast<int>(m_hashed.size());
    if (m_keepHashes) {
        for (qsizetype i = 0; i < m_hashed.size(); ++i) {
            const KnownFile &known = m_hashedFiles.at(i);
            if (known.identity.isValid() && !known.sha256.isEmpty())
                m_known.insert(m_hashed.at(i).filePath, known);
        }
    }
    m_unwritten.append(m_hashed);
    m_hashed.clear();
    m_hashedFiles.clear();
}

QString LibraryRecorder::knownSha256(const QString &path) const
{
    const auto it = m_known.constFind(path);
    if (it == m_known.cend() || IdentityOf(path) != it->identity)
        return {};
    return it->sha256;
}

std::function<QString(const QString &path)> LibraryRecorder::knownSha256Now() const
{
    return [known = m_known](const QString &path) {
        const auto it = known.constFind(path);
        if (it == known.cend() || IdentityOf(path) != it->identity)
            return QString();
        return it->sha256;
    };
}

void LibraryRecorder::takeHashed()
{
    {
        const QMutexLocker lock(&m_hashedLock);
        takeHashedLocked();
    }
    // At the end nothing more comes to gather: the outcomes are written as soon as they are hashed, and
    // those hashed while a write is under way follow it at once.
    if (m_finishing && !waitingForBusyLibrary()) {
        m_writeSoon.stop();
        if (m_writing.isEmpty())
            writeUnwritten();
        return;
    }
    if (!m_writeSoon.isActive())
        m_writeSoon.start(WriteDelayMs);
}

bool LibraryRecorder::waitingForBusyLibrary() const
{
    return m_busyTries > 0 && m_writeSoon.isActive();
}

void LibraryRecorder::finish()
{
    m_finishing = true;
    // Hashing under way, or a busy library waited for, writes when it is done; outcomes gathered for a
    // write go now.
    if (m_hashing != 0 || waitingForBusyLibrary())
        return;
    m_writeSoon.stop();
    writeUnwritten();
}

void LibraryRecorder::hurry()
{
    m_finishBusyTries = BusyRetries;
    if (m_writeSoon.isActive())
        m_writeSoon.stop();
    finish();
}

void LibraryRecorder::writeUnwritten()
{
    {
        // The destructor comes here without the event loop.
        const QMutexLocker lock(&m_hashedLock);
        takeHashedLocked();
    }
    if (!m_writing.isEmpty())
        return; // the writer's answer goes on with the rest
    if (m_unwritten.isEmpty()) {
        busyEnded(LibraryWait::Written);
        if (m_hashing == 0)
            Q_EMIT idle();
        return;
    }
    // The writer's own connection needs the library open; without it (and at the end, when the thread
    // is gone) the write is made here, and fails or opens it again as the library decides.
    if (!m_library->isOpen() || m_writerStopped)
        writeHere();
    else
        writeOnWriterThread();
}

void LibraryRecorder::writeHere()
{
    if (m_library->recordDownloads(m_unwritten))
        onWrittenHere();
    else
        writeFailed(m_library->lastError(), m_library->lastFailureWasBusy());
}

void LibraryRecorder::writeOnWriterThread()
{
    if (!m_writerThread) {
        m_writerThread = new QThread(this);
        m_writerThread->setObjectName(QStringLiteral("library writer"));
        connect(m_writerThread, &QThread::started, [] { MarkBackgroundThread(); });
        m_writer = new QObject;
        m_writer->moveToThread(m_writerThread);
        m_writerThread->start();
    }
    m_writing = std::exchange(m_unwritten, {});
    m_writeOutcome.store(0);
    QMetaObject::invokeMethod(
        m_writer, [this, batch = m_writing, path = m_library->path(), busyMs = m_library->busyTimeoutMs()] {
            QString why;
            bool busy = false;
            if (!m_writerLibrary) {
                m_writerLibrary = std::make_unique<PaperLibrary>(path);
                m_writerLibrary->setBusyTimeoutMs(busyMs);
            }
            bool ok = m_writerLibrary->isOpen() || m_writerLibrary->open().ok;
            if (ok)
                ok = m_writerLibrary->recordDownloads(batch);
            if (!ok) {
                why = m_writerLibrary->lastError();
                busy = m_writerLibrary->lastFailureWasBusy();
            }
            m_writeOutcome.store(ok ? 1 : 2);
            QMetaObject::invokeMethod(
                this, [this, ok, why, busy] { onWritten(ok, why, busy); }, Qt::QueuedConnection);
        });
}

void LibraryRecorder::onWrittenHere()
{
    m_unwritten.clear();
    busyEnded(LibraryWait::Written);
    if (m_hashing == 0)
        Q_EMIT idle();
}

void LibraryRecorder::onWritten(bool ok, const QString &why, bool busy)
{
    if (m_writing.isEmpty())
        return; // taken by stopWriter meanwhile
    if (ok) {
        m_writing.clear();
        busyEnded(LibraryWait::Written);
        // Outcomes that came in meanwhile follow at once at the end, else with the next gathering.
        if (!m_unwritten.isEmpty()) {
            if (m_finishing || !m_writeSoon.isActive())
                writeUnwritten();
            return;
        }
        if (m_hashing == 0)
            Q_EMIT idle();
        return;
    }
    m_unwritten = std::exchange(m_writing, {}) + m_unwritten;
    writeFailed(why, busy);
}

void LibraryRecorder::stopWriter()
{
    m_writerStopped = true;
    if (!m_writerThread)
        return;
    // After the write handed over, the connection is closed on its own thread; only then does it stop.
    QMetaObject::invokeMethod(
        m_writer, [this] { m_writerLibrary.reset(); }, Qt::BlockingQueuedConnection);
    m_writerThread->quit();
    m_writerThread->wait();
    delete std::exchange(m_writer, nullptr);
    delete std::exchange(m_writerThread, nullptr);
    if (!m_writing.isEmpty()) {
        if (m_writeOutcome.load() == 1)
            m_writing.clear();
        else
            m_unwritten = std::exchange(m_writing, {}) + m_unwritten;
    }
}

void LibraryRecorder::writeFailed(const QString &why, bool busy)
{
    // Another program kept writing: a little later, waiting longer each time; once no row will end any
    // more, a few times only.
    if (busy && (!m_finishing || m_finishBusyTries < BusyRetries)) {
        if (m_finishing)
            ++m_finishBusyTries;
        if (!std::exchange(m_waitingForBusy, true))
            Q_EMIT busyChanged(LibraryWait::Started);
        m_writeSoon.start(std::min(LongestRetryMs, FirstRetryMs << std::min(m_busyTries++, 8)));
        return;
    }
    if (busy || m_finishing)
        return giveUp(why);
    // The library cannot be written now: kept for the next outcome, or the end; said once.
    if (std::exchange(m_lastTold, why) != why)
        Q_EMIT failed(why);
}

void LibraryRecorder::giveUp(const QString &why)
{
    Q_EMIT failed(unrecordedText(m_unwritten, why));
    m_unwritten.clear();
    busyEnded(LibraryWait::GivenUp);
    if (m_hashing == 0)
        Q_EMIT idle();
}

void LibraryRecorder::busyEnded(LibraryWait end)
{
    m_busyTries = 0;
    if (std::exchange(m_waitingForBusy, false))
        Q_EMIT busyChanged(end);
}
