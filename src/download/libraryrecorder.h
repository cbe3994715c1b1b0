#pragma once

#include "download/downloadlistmodel.h"
#include "library/librarytypes.h"

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
class LibraryRecorder : public QObject
{
    Q_OBJECT

public:
    LibraryRecorder(PaperLibrary *library, DownloadScheduler *scheduler, QObject *parent = nullptr);
    ~LibraryRecorder() override; // hashing under way is finished and written first

    // No outcome is waiting for its hash or its write.
    bool isIdle() const { return m_pending == 0; }

Q_SIGNALS:
    // The last outcome waiting was written (or could not be).
    void idle();
    // A write failed; the text is the library's, for the user.
    void failed(const QString &message);

private:
    void onRowEnded(RowId id);
    void write(const DownloadResult &result);
    void writeHashed();

    PaperLibrary *m_library;
    DownloadListModel *m_model;
    int m_pending = 0;
    QMutex m_hashedLock;
    QList<DownloadResult> m_hashed; // filled by the worker, written on this object's thread
    QThreadPool m_pool;
    QTimer m_writeSoon; // gathers the files of a busy moment into one write
};

// The outcome of a row that ended, without the file's hash (read from disk by the caller); nullopt for
// a row that is not done or failed, or that ended without a download.
std::optional<DownloadResult> downloadResultFor(const DownloadRow &row);
