// A flushed temporary file on its way to its name: checked when it is a PDF, moved without replacing
// another file unless asked to, and followed by the part that wrote it.
#include "core/pdf/pdfchecker.h"
#include "core/rows/targetfile.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/partfile_p.h"

#include <QPointer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

using partfiledetail::encoded;
using partfiledetail::systemError;

namespace {

// Whether the file at target in the folder is the one with this identity (not following a link).
bool isFileAt(int dirFd, const QByteArray &target, const FileIdentity &identity)
{
    struct stat st
    {
    };
    return identity.isValid() && ::fstatat(dirFd, target.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           IdentityOfStatus(st) == identity;
}

// Moves temp to target in the folder, replacing a file there only with replace, or while it is the earlier
// copy named (the look and the move are two steps: a file put there between them is replaced, as under
// replace). The identity is taken from the temporary file, which only its own transfer ever held.
PartFile::MoveResult renameInFolder(int dirFd, const QByteArray &temp, const QByteArray &target, bool replace,
                                    const FileIdentity &earlier = {})
{
    PartFile::MoveResult result;
    struct stat st
    {
    };
    if (::fstatat(dirFd, temp.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        result.identity = IdentityOfStatus(st);
    const bool replacing = replace || isFileAt(dirFd, target, earlier);
    int error =
        ::renameat2(dirFd, temp.constData(), dirFd, target.constData(), replacing ? 0 : RENAME_NOREPLACE) == 0
            ? 0
            : errno;
    // File systems without the no-replace move: a hard link fails the same way on a taken name.
    if (error == EINVAL && !replacing) {
        error = ::linkat(dirFd, temp.constData(), dirFd, target.constData(), 0) == 0 ? 0 : errno;
        if (error == 0)
            ::unlinkat(dirFd, temp.constData(), 0);
    }
    result.ok = error == 0;
    result.nameTaken = error == EEXIST && !replacing;
    if (error != 0) {
        result.error = systemError(error);
        result.errorCode = error;
    }
    return result;
}

// The flushed temporary file moved to its name (flushError: how its flush went). Data that gets no name
// is removed here, unless the name was taken: then it waits for another.
PartFile::MoveResult moveFlushed(int dirFd, int flushError, const QByteArray &temp, const QByteArray &target,
                                 bool replace, const FileIdentity &earlier)
{
    PartFile::MoveResult result;
    const int error = flushError != 0 ? flushError : (dirFd < 0 ? EBADF : 0);
    if (error == 0) {
        result = renameInFolder(dirFd, temp, target, replace, earlier);
    } else {
        result.error = systemError(error);
        result.errorCode = error;
    }
    if (!result.ok && !result.nameTaken && dirFd >= 0)
        ::unlinkat(dirFd, temp.constData(), 0);
    return result;
}

// On a worker: the temporary file opened anew for its check when its content starts as a PDF (not
// through a link, so the check reads exactly the bytes that were flushed); -1 when it is no PDF.
int openIfPdf(int dirFd, const QByteArray &temp)
{
    const int fd = dirFd < 0 ? -1 : ::openat(dirFd, temp.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    char head[4] = {};
    ssize_t n = -1;
    do {
        n = ::pread(fd, head, sizeof head, 0);
    } while (n < 0 && errno == EINTR);
    if (n == ssize_t(sizeof head) && std::memcmp(head, "%PDF", sizeof head) == 0)
        return fd;
    ::close(fd);
    return -1;
}

} // namespace

PartFile::MoveResult PartFile::moveTo(const QString &fileName, bool replace)
{
    const int dirFd = m_dir ? m_dir->fd.load() : -1;
    if (dirFd < 0 || m_tempName.isEmpty() || !IsPlainFileName(fileName)) {
        MoveResult result;
        result.error =
            m_tempName.isEmpty() ? QStringLiteral("no data") : QStringLiteral("not a plain file name");
        return result;
    }
    const QByteArray target = encoded(fileName);
    const MoveResult result =
        renameInFolder(dirFd, encoded(m_tempName), target, replace, earlierAt(fileName));
    tookMove(result);
    return result;
}

FileIdentity PartFile::earlierAt(const QString &fileName) const
{
    return fileName == m_earlierName ? m_earlierIdentity : FileIdentity();
}

void PartFile::replaceOnly(const QString &fileName, const FileIdentity &identity)
{
    m_earlierName = fileName;
    m_earlierIdentity = identity;
}

bool PartFile::callOffMove()
{
    return !m_gate || m_gate->callOff();
}

void PartFile::tookMove(const MoveResult &result)
{
    if (result.nameTaken) {
        m_gate.reset(); // the data stays for another name
        m_digest = result.sha256;
        return;
    }
    m_digest.clear();
    if (!result.ok) {
        m_gate.reset();
        discard();
        return;
    }
    // The file has its name: the move can no longer be called off (until this part holds another file).
    m_tempName.clear();
    m_written = 0;
    closeAll(false);
}

std::function<void(int error, const QByteArray &digest, const PartFile::Check &check)>
PartFile::finisher(const QString &fileName, bool replace, QObject *receiver,
                   std::function<void(const MoveResult &result)> done)
{
    QPointer<QObject> guard(receiver);
    std::weak_ptr<bool> alive = m_alive;
    m_gate = std::make_shared<MoveGate>();
    // The worker moves the file in the folder it was made in (the part may let go of it meanwhile).
    const qint64 written = m_written;
    return [this, guard, alive, gate = m_gate, done = std::move(done), folder = m_dir, tempName = m_tempName,
            target = encoded(fileName), replace, earlier = earlierAt(fileName),
            written](int flushError, const QByteArray &digest, const Check &check) {
        // Only bytes that are on the disk ever get the name, and only while the move is not called off.
        const int dirFd = folder->fd.load();
        MoveResult result;
        if (!gate->begin() || check.damaged()) {
            // A damaged file is no paper: its bytes never take the name, and a later copy starts afresh.
            if (dirFd >= 0)
                ::unlinkat(dirFd, encoded(tempName).constData(), 0);
            result.error = check.damaged() ? QStringLiteral("PDF damaged") : QStringLiteral("called off");
        } else {
            result = moveFlushed(dirFd, flushError, encoded(tempName), target, replace, earlier);
        }
        result.pdfChecked = check.checked;
        result.pdf = check.verdict;
        // The digest is of what was written here: a file whose length another program changed meanwhile
        // is not what it names.
        if ((result.ok || result.nameTaken) && result.identity.size == written)
            result.sha256 = digest;
        diskwork::postToReceiver(guard, [this, alive, done, tempName, result] {
            // This object follows the move first, unless it is gone or holds another file by now.
            if (!alive.expired() && m_tempName == tempName)
                tookMove(result);
            done(result);
        });
    };
}

std::function<void(int error, const QByteArray &digest)>
PartFile::mover(const QString &fileName, bool replace, QObject *receiver,
                std::function<void(const MoveResult &result)> done, PdfChecker *checker)
{
    auto finish = finisher(fileName, replace, receiver, std::move(done));
    if (!checker)
        return [finish](int flushError, const QByteArray &digest) { finish(flushError, digest, Check()); };
    // The checker's own threads check the file, so flushes and writes of other files go on meanwhile; the
    // file is moved (or removed) there once its verdict has come.
    return
        [finish, checker, folder = m_dir, tempName = m_tempName](int flushError, const QByteArray &digest) {
            const int fd = flushError != 0 ? -1 : openIfPdf(folder->fd.load(), encoded(tempName));
            if (fd < 0) {
                finish(flushError, digest, Check());
                return;
            }
            diskwork::checksUnderway().add();
            checker->checkLater(fd, [finish, digest](const PdfVerdict &verdict) {
                Check check;
                check.checked = true;
                check.verdict = verdict;
                finish(0, digest, check);
                diskwork::checksUnderway().done();
            });
        };
}

namespace {

// Whether a move may be asked for; the reason in `refused` when not.
bool mayMove(bool ready, const QString &fileName, PartFile::MoveResult *refused)
{
    if (!ready)
        refused->error = QStringLiteral("no data");
    else if (!IsPlainFileName(fileName))
        refused->error = QStringLiteral("not a plain file name");
    return refused->error.isEmpty();
}

} // namespace

void PartFile::flushAndMove(const QString &fileName, bool replace, QObject *receiver,
                            std::function<void(const MoveResult &result)> done, PdfChecker *checker)
{
    MoveResult refused;
    if (!mayMove(m_lane && m_open && m_dir, fileName, &refused)) {
        done(refused);
        return;
    }
    Lane::Op op;
    op.kind = Lane::Op::Flush;
    op.flushed = mover(fileName, replace, receiver, std::move(done), checker);
    m_lane->forgetNotify();
    m_lane->push(std::move(op));
    m_lane.reset();
    m_open = false;
    m_flushed = true;
}

void PartFile::moveLater(const QString &fileName, bool replace, QObject *receiver,
                         std::function<void(const MoveResult &result)> done)
{
    MoveResult refused;
    if (!mayMove(m_dir && !m_tempName.isEmpty(), fileName, &refused)) {
        done(refused);
        return;
    }
    diskwork::writePool().start(
        [move = mover(fileName, replace, receiver, std::move(done)), digest = m_digest] { move(0, digest); });
}
