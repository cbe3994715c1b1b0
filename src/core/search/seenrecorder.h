#pragma once

#include "core/library/librarythread.h"
#include "core/library/librarytypes.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

class CandidateListModel;
class PaperLibrary;

// Keeps every paper the candidate list takes in the paper library: its address, title, the other
// cells of its row on the result page and the page it came from. The rows of one page are written
// together, at the next turn of the event loop, through a connection of their own on a thread of their
// own, so that the event loop's thread never waits on the disk or on another program's write; the
// answer comes back as an event. While another program writes to the library they are tried again a
// little later, until it frees (busyChanged() tells when the wait starts and how it ends); papers that cannot
// be written are counted in failed().
class SeenRecorder : public QObject
{
    Q_OBJECT

public:
    SeenRecorder(PaperLibrary *library, CandidateListModel *candidates, QObject *parent = nullptr);
    ~SeenRecorder() override; // writes what is waiting

    static constexpr int FirstRetryMs = 250; // doubled with each retry, up to LongestRetryMs
    static constexpr int LongestRetryMs = 4000;

    // Hands what is waiting to the writer now (unless a retry is due later, or a write is under way:
    // what is waiting then follows it).
    void flush();
    // Writes what is waiting now, once, and waits for it; what the library does not take is given up
    // (saying so). For the end of a window or a run.
    void finish();

Q_SIGNALS:
    // A write failed; the text is the library's, for the user.
    void failed(const QString &message);
    // Another program holds the library: papers wait for it, and were written or given up.
    void busyChanged(LibraryWait wait);

private:
    void onRowsInserted(int first, int last);
    // The writer's answer for m_writing, unless finish() took it (generation is stale then).
    void onWritten(int generation, const LibraryThread::Answer &answer);
    // After m_waiting was not written for why (busy: another program kept writing).
    void writeFailed(const QString &why, bool busy);
    LibraryThread &writer();
    // What waited was written (or given up): the tries start afresh.
    void waitEnded(LibraryWait end);

    PaperLibrary *m_library;
    CandidateListModel *m_candidates;
    QList<SeenPaper> m_waiting;
    QList<SeenPaper> m_writing;                   // handed to the writer and not answered yet
    std::shared_ptr<std::atomic<bool>> m_written; // of m_writing: set by the writer when it went in
    int m_generation = 0;
    std::unique_ptr<LibraryThread> m_writer; // the library opened and used on its own thread
    QTimer m_retry;
    int m_busyTries = 0;
    bool m_waitingForBusy = false;
    bool m_finishing = false;
};
