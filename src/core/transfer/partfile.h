#pragma once

#include "core/pdf/pdfverdict.h"
#include "core/rows/ownedfile.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class PdfChecker;

// The body of a transfer is written under a temporary name in the target's folder and moved into place
// only when complete, so a broken or stopped transfer never leaves a partial file under a paper's name.
// The folder is held open from the start (opened on the file's worker), so the temporary file and the
// finished one are created in exactly that folder whatever its path comes to name meanwhile, and neither
// creation follows a link.
class PartFile
{
public:
    static constexpr const char *Prefix = ".fnpart-";

    PartFile() = default;
    ~PartFile(); // discards whatever was not committed
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    // Opens the folder and creates a fresh temporary file in it, both on a worker: a folder that cannot
    // be opened, like a file that cannot be made, fails the next write or the flush.
    bool open(const QString &folder);
    // Opens an existing temporary file of this program in the folder again, to add to what it holds after
    // its first size bytes. The file is opened and its first headBytes read on a worker; done gets them on
    // the receiver's thread (not when the receiver is gone), ok false when the file is gone or holds
    // another length, or when its folder cannot be opened. Writes may follow at once: they go after the
    // reopening, and fail with it. False at once for a name that is not one of this program's.
    bool reopen(const QString &folder, const QString &temporaryName, qint64 size, qint64 headBytes,
                QObject *receiver, std::function<void(bool ok, const QByteArray &head)> done);
    bool isOpen() const { return m_open; }
    // Writes go to the disk in order on a worker thread; a failure shows in the next write, or in the
    // flush at the end.
    bool write(const char *data, qint64 length);
    bool write(const QByteArray &data);
    // An array of size bytes to read into and hand to write: large ones come from the arrays earlier
    // writes are done with, when any is free.
    static QByteArray buffer(qsizetype size);
    // Bytes handed to write that are not in the file yet.
    qint64 backlog() const;
    // Calls notify on the receiver's thread once the backlog is at most bytes (once; not when the
    // receiver is gone).
    void whenBacklogBelow(qint64 bytes, QObject *receiver, std::function<void()> notify);
    // Empties the file (a transfer that starts over).
    bool truncate();
    // Deletes a kept temporary file of this program in the folder (one that no PartFile holds any more),
    // on a worker (waitForDiskWork waits for it).
    static void removeKept(const QString &folder, const QString &temporaryName);
    qint64 size() const { return m_written; }
    QString folder() const { return m_folder; }
    QString temporaryName() const { return m_tempName; }
    // The system's words for the last failure, and its errno (0 when the system named none).
    QString errorText() const;
    int errorCode() const;

    // Flushes the data to the disk off the event loop's thread and closes the file; done runs on the
    // receiver's thread (not at all when the receiver is gone by then). Files that finish while another
    // flush runs share the next flush of their file system and report together.
    void flush(QObject *receiver, std::function<void(bool ok, const QString &error)> done);
    // Waits (at most msecs) for the disk work handed to the workers: temporary files still being made,
    // written, flushed or removed. For the end of the program, so that it leaves nothing behind.
    static bool waitForDiskWork(int msecs);
    // Flushes made so far by this process (a group counts once).
    static qint64 flushCount();
    // No more files will finish soon (the queue has nothing more under way): files waiting for their
    // group's flush are flushed now.
    static void flushSoon();
    bool isFlushed() const { return m_flushed; }

    struct MoveResult
    {
        bool ok = false;
        bool nameTaken = false; // a file of that name is there (only without replace); the data is kept
        QString error;
        int errorCode = 0;     // the errno of a failure the system reported
        FileIdentity identity; // of the file now under that name
        // The SHA-256 (32 bytes) of the file's content, taken as it was written, when this object wrote
        // all of it (not for a file opened again) and it is not large (8 MiB at most); empty otherwise.
        QByteArray sha256;
        // A file whose content is a PDF was checked on its way to the name (flushAndMove with a checker):
        // the verdict, and for a damaged file no name (ok false, the data removed).
        bool pdfChecked = false;
        PdfVerdict pdf;
        bool pdfDamaged() const { return pdfChecked && pdf.state == PdfVerdict::State::Damaged; }
    };
    // Moves the flushed data to fileName in the folder, replacing a file there only with replace.
    MoveResult moveTo(const QString &fileName, bool replace);
    // As moveTo, on a worker; done runs on the receiver's thread (not when the receiver is gone), after
    // this object has followed the move.
    void moveLater(const QString &fileName, bool replace, QObject *receiver,
                   std::function<void(const MoveResult &result)> done);
    // Flushes as flush does and then moves the file as moveTo does, both off the event loop's thread;
    // done runs on the receiver's thread (not when the receiver is gone). A failed flush or move leaves
    // no file under the name; a taken name keeps the data here for moveTo with another name. With a
    // checker, a file that starts as a PDF is checked between the flush and the move, on a thread of the
    // checks: a damaged one never gets the name and is removed.
    void flushAndMove(const QString &fileName, bool replace, QObject *receiver,
                      std::function<void(const MoveResult &result)> done, PdfChecker *checker = nullptr);
    // A move to fileName replaces the file there while it is still the one with this identity: the
    // earlier copy of the same paper, whose place the new one takes. Any other file there leaves the name
    // taken (as without replace).
    void replaceOnly(const QString &fileName, const FileIdentity &identity);
    // Calls off the move asked for (flushAndMove, moveLater) unless it has begun: nothing gets the name
    // then, and the temporary file is removed. False when the file is on its way to its name already.
    bool callOffMove();
    // Deletes the temporary file (a move asked for and not begun is called off).
    void discard();
    // Lets the temporary file stay on disk (for a later reopen) and forgets it.
    void keep();

private:
    // Tests widen or narrow the group's gathering, through the door in the tests' support.
    friend struct PartFileSeam;
    // How long a group of files that finish together gathers before its flush (a few milliseconds
    // unless set; with 0, only while the flush before it runs).
    static void setGroupWindow(int milliseconds);

    struct Folder;
    struct Lane;
    struct MoveGate;
    // Closes the file and the folder, removing the temporary file with removeTemporary.
    void closeAll(bool removeTemporary = false);
    // Follows a move made of the temporary file.
    void tookMove(const MoveResult &result);
    // The identity replaceOnly gave for the name, if it gave one.
    FileIdentity earlierAt(const QString &fileName) const;

public:
    // What the check found on a file's way to its name.
    struct Check
    {
        bool checked = false; // the file starts as a PDF and went through the checker
        PdfVerdict verdict;
        bool damaged() const { return checked && verdict.state == PdfVerdict::State::Damaged; }
    };

private:
    // What moves the temporary file to fileName in its folder on a worker, given the errno of the flush
    // before (0 when it went well), the digest of the file's content and what the check found, and
    // reports on the receiver's thread.
    std::function<void(int error, const QByteArray &digest, const Check &check)>
    finisher(const QString &fileName, bool replace, QObject *receiver,
             std::function<void(const MoveResult &result)> done);
    // The same after the flush, checking the file first on a thread of the checks when a checker is given.
    std::function<void(int error, const QByteArray &digest)>
    mover(const QString &fileName, bool replace, QObject *receiver,
          std::function<void(const MoveResult &result)> done, PdfChecker *checker = nullptr);
    void setError(int error);

    std::shared_ptr<Folder> m_dir; // from open or reopen until the file is closed
    std::shared_ptr<Lane> m_lane;  // the file's writes, while it is open
    bool m_open = false;
    QString m_folder;
    QString m_tempName;
    qint64 m_written = 0;
    bool m_flushed = false;
    QString m_error;
    int m_errorCode = 0;
    QByteArray m_digest;   // of a flushed file that waits for another name
    QString m_earlierName; // replaceOnly's name and identity
    FileIdentity m_earlierIdentity;
    std::shared_ptr<MoveGate> m_gate; // of the move asked for and not yet followed
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true); // for work that ends after this object
};

// A single component that may name a file in a folder: not empty, no "/", not "." or "..", and at most
// 255 bytes of UTF-8.
bool IsPlainFileName(const QString &name);

// Removes the temporary files that transfers of runs that have ended (crashed, killed, power cut) left
// in the folder: only regular files with this program's prefix whose process is gone and which are
// not younger than notAfterSecs (seconds since the epoch). Links are never followed. The count removed.
int RemoveDeadPartFiles(const QString &folder, qint64 notAfterSecs);
// The same on a worker (PartFile::waitForDiskWork waits for it), for a run that starts.
void RemoveDeadPartFilesLater(const QString &folder, qint64 notAfterSecs);
