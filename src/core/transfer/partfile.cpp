#include "core/transfer/partfile.h"

#include "core/common/backgroundthread.h"
#include "core/common/sha256.h"
#include "core/pdf/pdfchecker.h"
#include "core/rows/targetfile.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/partfile_p.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <stdio.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using partfiledetail::encoded;
using partfiledetail::openFolder;
using partfiledetail::systemError;

bool IsPlainFileName(const QString &name)
{
    if (name.isEmpty() || name == u"." || name == u".." || name.contains(u'/') || name.contains(QChar(0)))
        return false;
    return name.toUtf8().size() <= 255;
}

PartFile::~PartFile()
{
    discard();
}

void PartFile::closeAll(bool removeTemporary)
{
    // The name goes on the worker right after the write under way (writes still queued for it are
    // dropped), so the event loop's thread never waits on the folder; a kill before that leaves only a
    // temporary file, which the next run removes.
    if (m_lane) {
        m_lane->forgetNotify();
        if (removeTemporary)
            m_lane->dropWrites();
        Lane::Op close;
        close.kind = Lane::Op::Close;
        if (removeTemporary)
            close.name = encoded(m_tempName);
        m_lane->push(std::move(close));
        m_lane.reset();
    } else if (removeTemporary && m_dir && !m_tempName.isEmpty()) {
        // A flushed file that did not get its name.
        diskwork::writePool().start([folder = m_dir, name = encoded(m_tempName)] {
            if (const int dirFd = folder->fd.load(); dirFd >= 0)
                ::unlinkat(dirFd, name.constData(), 0);
        });
    }
    m_dir.reset();
    m_open = false;
}

bool PartFile::open(const QString &folder)
{
    discard();
    m_folder = folder;
    // The folder is opened and the file made on the worker, before the first write: looking up the path
    // and creating the file wait on the disk and the file system's journal, which the event loop's thread
    // must not. A failure of either shows in the next write or the flush.
    m_dir = std::make_shared<Folder>(encoded(folder));
    const QString name = QStringLiteral("%1%2-%3")
                             .arg(QLatin1String(Prefix))
                             .arg(::getpid())
                             .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0'));
    m_lane = std::make_shared<Lane>(m_dir, -1, 0);
    Lane::Op create;
    create.kind = Lane::Op::Create;
    create.name = encoded(name);
    m_lane->push(std::move(create));
    m_open = true;
    m_tempName = name;
    m_written = 0;
    m_flushed = false;
    return true;
}

bool PartFile::reopen(const QString &folder, const QString &temporaryName, qint64 size, qint64 headBytes,
                      QObject *receiver, std::function<void(bool ok, const QByteArray &head)> done)
{
    discard();
    if (!temporaryName.startsWith(QLatin1String(Prefix)) || !IsPlainFileName(temporaryName) || size < 0)
        return false;
    m_folder = folder;
    // Opening the folder and the file and reading wait on the disk: the worker does them all, before any
    // write that follows; a folder that cannot be opened is a file that is gone.
    m_dir = std::make_shared<Folder>(encoded(folder));
    QPointer<QObject> guard(receiver);
    m_lane = std::make_shared<Lane>(m_dir, -1, size);
    Lane::Op op;
    op.kind = Lane::Op::Reopen;
    op.name = encoded(temporaryName);
    op.size = size;
    op.headBytes = headBytes;
    op.reopened = [guard, done = std::move(done)](int error, const QByteArray &head) {
        diskwork::postToReceiver(guard, [done, error, head] { done(error == 0, head); });
    };
    m_lane->push(std::move(op));
    m_open = true;
    m_tempName = temporaryName;
    m_written = size;
    m_flushed = false;
    return true;
}

bool PartFile::write(const char *data, qint64 length)
{
    return write(QByteArray(data, static_cast<qsizetype>(length)));
}

bool PartFile::write(const QByteArray &data)
{
    if (!m_lane || !m_open)
        return false;
    if (const int error = m_lane->lastError(); error != 0) {
        setError(error);
        return false;
    }
    if (data.isEmpty())
        return true;
    Lane::Op op;
    op.data = data;
    m_lane->push(std::move(op));
    m_written += data.size();
    return true;
}

QByteArray PartFile::buffer(qsizetype size)
{
    return diskwork::spareBuffers().take(size);
}

qint64 PartFile::backlog() const
{
    return m_lane ? m_lane->backlog() : 0;
}

void PartFile::whenBacklogBelow(qint64 bytes, QObject *receiver, std::function<void()> notify)
{
    if (m_lane)
        m_lane->notifyBelow(bytes, receiver, std::move(notify));
    else
        QMetaObject::invokeMethod(receiver, std::move(notify), Qt::QueuedConnection);
}

void PartFile::setError(int error)
{
    m_errorCode = error;
    m_error = systemError(error);
}

int PartFile::errorCode() const
{
    if (m_lane) {
        if (const int error = m_lane->lastError(); error != 0)
            return error;
    }
    return m_errorCode;
}

QString PartFile::errorText() const
{
    if (m_lane) {
        if (const int error = m_lane->lastError(); error != 0)
            return systemError(error);
    }
    return m_error;
}

void PartFile::removeKept(const QString &folder, const QString &temporaryName)
{
    if (!temporaryName.startsWith(QLatin1String(Prefix)) || !IsPlainFileName(temporaryName))
        return;
    // On a worker, as every removal: the folder's journal is not waited for here.
    diskwork::writePool().start([folder = encoded(folder), name = encoded(temporaryName)] {
        const int dirFd = openFolder(folder);
        if (dirFd < 0)
            return;
        struct stat st
        {
        };
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dirFd, name.constData(), 0);
        ::close(dirFd);
    });
}

bool PartFile::truncate()
{
    if (!m_lane || !m_open)
        return false;
    Lane::Op op;
    op.kind = Lane::Op::Truncate;
    m_lane->push(std::move(op));
    m_written = 0;
    return true;
}

void PartFile::flush(QObject *receiver, std::function<void(bool ok, const QString &error)> done)
{
    if (!m_lane || !m_open) {
        done(false, QStringLiteral("no data"));
        return;
    }
    // After the last write the flush takes the file's descriptor; the folder stays with this object.
    QPointer<QObject> guard(receiver);
    Lane::Op op;
    op.kind = Lane::Op::Flush;
    op.flushed = [guard, done](int error, const QByteArray &) {
        const QString text = error == 0 ? QString() : systemError(error);
        diskwork::postToReceiver(guard, [done, error, text] { done(error == 0, text); });
    };
    m_lane->forgetNotify();
    m_lane->push(std::move(op));
    m_lane.reset();
    m_open = false;
    m_flushed = true;
}

qint64 PartFile::flushCount()
{
    return diskwork::flushesMade.load();
}

bool PartFile::waitForDiskWork(int msecs)
{
    QDeadlineTimer deadline(msecs);
    // A flush may hand a removal to the writers and a writer a flush to the flushers: both until quiet.
    for (;;) {
        const bool writes = diskwork::writePool().waitForDone(static_cast<int>(deadline.remainingTime()));
        const bool flushes = diskwork::flushPool().waitForDone(static_cast<int>(deadline.remainingTime()));
        const bool checks =
            diskwork::checkPool(1).waitForDone(static_cast<int>(deadline.remainingTime())) &&
            diskwork::checksUnderway().waitForNone(static_cast<int>(deadline.remainingTime()));
        if (!writes || !flushes || !checks)
            return false;
        // A flush that began after the checks were waited for may have handed its file to the checker.
        if (diskwork::writePool().activeThreadCount() == 0 &&
            diskwork::flushPool().activeThreadCount() == 0 &&
            diskwork::checkPool(1).activeThreadCount() == 0 && diskwork::checksUnderway().waitForNone(0))
            return true;
    }
}

void PartFile::setGroupWindow(int milliseconds)
{
    diskwork::groupWindowMs.store(std::max(0, milliseconds));
}

void PartFile::flushSoon()
{
    diskwork::flushGroups().hurry();
}

void PartFile::discard()
{
    m_flushed = false;
    m_digest.clear();
    // A file already on its way to its name is the worker's now: it is not removed under it.
    const bool calledOff = callOffMove();
    m_gate.reset();
    closeAll(calledOff);
    m_tempName.clear();
    m_written = 0;
}

void PartFile::keep()
{
    m_flushed = false;
    m_digest.clear();
    m_gate.reset();
    closeAll(false);
    m_tempName.clear();
    m_written = 0;
}
