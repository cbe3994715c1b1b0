#pragma once

#include "core/library/librarytypes.h"
#include "core/queue/downloadlistmodel.h"

#include <QMutex>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

class DownloadScheduler;
class PaperLibrary;

// Writes how every download ended into the paper library, when the scheduler says a row has ended: a
// finished file with its path, size and SHA-256 (hashed on a worker thread), a failure with its reason.
// Rows that ended on a file already there (the duplicate rule's skip, or a paper held from before) were
// not downloaded and are not recorded.
//
// An outcome the library does not take is kept and written with the next ones: while another program
// writes, it is tried again a little later (a few times); while the library cannot be written at all,
// with the next outcome, so nothing is lost if the user mends it meanwhile. Outcomes that cannot be
// written in the end are named in failed(), never dropped without a word.
class LibraryRecorder : public QObject
{
    Q_OBJECT

public:
    static constexpr int BusyRetries = 6;
    static constexpr int FirstRetryMs = 250; // doubled with each busy retry

    LibraryRecorder(PaperLibrary *library, DownloadScheduler *scheduler, QObject *parent = nullptr);
    ~LibraryRecorder() override; // hashing under way is finished and written first

    // No outcome is waiting for its hash or its write.
    bool isIdle() const { return m_hashing == 0 && m_unwritten.isEmpty(); }
    // No more rows will end: what is waiting is written now (a busy library is waited for as above) and
    // what cannot be is given up and named. idle() follows.
    void finish();
    // As finish(), but a busy library is not waited for any more: the program is being stopped.
    void hurry();

Q_SIGNALS:
    // The last outcome waiting was written (or given up).
    void idle();
    // For the user: why the library did not take outcomes, once per reason, and which outcomes were
    // given up.
    void failed(const QString &message);

private:
    static constexpr int WriteDelayMs = 100;

    void onRowEnded(RowId id);
    void takeHashed();
    void writeUnwritten();
    void giveUp(const QString &why);

    PaperLibrary *m_library;
    DownloadListModel *m_model;
    int m_hashing = 0;
    QMutex m_hashedLock;
    QList<DownloadResult> m_hashed;    // filled by the worker, written on this object's thread
    QList<DownloadResult> m_unwritten; // waiting for the library
    int m_busyTries = 0;
    bool m_finishing = false;
    QString m_lastTold;
    QThreadPool m_pool;
    QTimer m_writeSoon; // gathers the outcomes of a busy moment into one write
};

// The outcome of a row that ended, without the file's hash (read from disk by the caller); nullopt for
// a row that is not done or failed, or that ended without a download.
std::optional<DownloadResult> downloadResultFor(const DownloadRow &row);

// "3 篇文献的下载结果没有记入文献资料库（…）：address, …" for outcomes that were given up.
QString unrecordedText(const QList<DownloadResult> &results, const QString &why);
