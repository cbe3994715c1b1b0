#pragma once

#include "core/library/librarytypes.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/ownedfile.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

class DownloadScheduler;
class PaperLibrary;

// Writes how every download ended into the paper library, when the scheduler says a row has ended: a
// finished file with its path, size and SHA-256, a failure with its reason. The SHA-256 is the one its
// transfer took as it wrote the file, while a look on a worker thread finds that very file under the
// name; otherwise the file is read and hashed there.
// The writes go through a connection of their own on a thread of their own, so that the event loop's
// thread never waits on the disk or on another program's write; their answers come back as events.
// Rows that ended on a file already there (the duplicate rule's skip, or a paper held from before) were
// not downloaded and are not recorded.
//
// An outcome the library does not take is kept and written with the next ones: while another program
// writes, it is tried again a little later for as long as rows end (busyChanged() tells when the wait
// starts and how it ends), and a few times more once no row will end any more; while the library cannot be
// written at all, with the next outcome, so nothing is lost if the user mends it meanwhile. Outcomes that
// cannot be written in the end are named in failed(), never dropped without a word.
class LibraryRecorder : public QObject
{
    Q_OBJECT

public:
    static constexpr int BusyRetries = 6;    // once no row will end any more
    static constexpr int FirstRetryMs = 250; // doubled with each busy retry, up to LongestRetryMs
    static constexpr int LongestRetryMs = 4000;

    LibraryRecorder(PaperLibrary *library, DownloadScheduler *scheduler, QObject *parent = nullptr);
    ~LibraryRecorder() override; // hashing under way is finished and written first

    // No outcome is waiting for its hash or its write.
    bool isIdle() const { return m_hashing == 0 && m_unwritten.isEmpty() && m_writing.isEmpty(); }
    // No more rows will end: what is waiting is written now (a busy library is waited for as above) and
    // what cannot be is given up and named. idle() follows.
    void finish();
    // As finish(), but a busy library is not waited for any more: the program is being stopped.
    void hurry();
    // Keeps the hash of every file it records, for knownSha256() (off by default: a long session would
    // keep one for each of its files).
    void setKeepHashes(bool keep) { m_keepHashes = keep; }
    // The SHA-256 of the file at an absolute path as recorded, while the very same file is there; empty
    // when it was not hashed here (or not kept, or is not the same file any more).
    QString knownSha256(const QString &path) const;
    // knownSha256 for any thread, with the hashes known now.
    std::function<QString(const QString &path)> knownSha256Now() const;

Q_SIGNALS:
    // The last outcome waiting was written (or given up).
    void idle();
    // For the user: why the library did not take outcomes, once per reason, and which outcomes were
    // given up.
    void failed(const QString &message);
    // Another program holds the library: outcomes wait for it, and were written once it freed, or were
    // given up (after failed() named them).
    void busyChanged(LibraryWait wait);

private:
    static constexpr int WriteDelayMs = 100;

    void onRowEnded(RowId id);
    // The finished row's file, its size and hash put into its outcome (none when the file is gone).
    struct KnownFile;
    static KnownFile hashFinishedFile(DownloadResult &done, const FileIdentity &written,
                                      const QByteArray &digest);
    void takeHashed();
    // Moves what the worker hashed to m_unwritten (with m_hashedLock held).
    void takeHashedLocked();
    void writeUnwritten();
    // The outcomes waiting written with the recorder's own library, on this thread.
    void writeHere();
    // The outcomes waiting handed to the writer's thread, started the first time.
    void writeOnWriterThread();
    bool waitingForBusyLibrary() const;
    // The writer's answer for m_writing.
    void onWritten(bool ok, const QString &why, bool busy);
    // After m_unwritten was written on this object's thread.
    void onWrittenHere();
    // After a write that failed for why (busy: another program kept writing).
    void writeFailed(const QString &why, bool busy);
    // Ends the writer's thread once its write under way is done; what it did not write is unwritten again.
    void stopWriter();
    void giveUp(const QString &why);
    // The outcomes waiting for a busy library are written or given up.
    void busyEnded(LibraryWait end);

    PaperLibrary *m_library;
    DownloadListModel *m_model;
    int m_hashing = 0;
    QMutex m_hashedLock;
    struct KnownFile
    {
        FileIdentity identity;
        QString sha256;
    };
    QList<DownloadResult> m_hashed;    // filled by the worker, written on this object's thread
    QList<KnownFile> m_hashedFiles;    // with m_hashed: the file each hash is of (invalid when it changed)
    QHash<QString, KnownFile> m_known; // by path, with m_keepHashes
    bool m_keepHashes = false;
    QList<DownloadResult> m_unwritten; // waiting for the library
    int m_busyTries = 0;               // busy answers in a row
    int m_finishBusyTries = 0;         // of those, since finish()
    bool m_waitingForBusy = false;
    bool m_finishing = false;
    QString m_lastTold;
    QThreadPool m_pool;
    QThread *m_writerThread = nullptr;
    QObject *m_writer = nullptr;                   // lives on m_writerThread
    std::unique_ptr<PaperLibrary> m_writerLibrary; // opened and used on m_writerThread only
    QList<DownloadResult> m_writing;               // handed to the writer and not answered yet
    std::atomic<int> m_writeOutcome{0};            // of m_writing: 0 not yet, 1 written, 2 failed
    bool m_writerStopped = false;                  // writes are made on this object's thread from now
    QTimer m_writeSoon;                            // gathers the outcomes of a busy moment into one write
};

// The outcome of a row that ended, without the file's hash (read from disk by the caller); nullopt for
// a row that is not done or failed, or that ended without a download.
std::optional<DownloadResult> downloadResultFor(const DownloadRow &row);
// The DOI a row's paper is known by, as papers are compared (empty: none known): the one it was listed
// under, else the one its list or its page gave.
QString DoiKeyOfRow(const DownloadRow &row);

// "3 篇文献的下载结果没有记入文献资料库（…）：address, …" for outcomes that were given up.
QString unrecordedText(const QList<DownloadResult> &results, const QString &why);
