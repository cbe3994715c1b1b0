#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class PaperLibrary;
class QThread;

// A connection of its own to the paper library on a thread of its own: the work handed to it runs there
// in the order it was handed over, so that the event loop's thread never waits on the disk or on another
// program's write, and each answer comes back as an event.
class LibraryThread
{
public:
    struct Answer
    {
        bool ok = false;
        QString error;     // the library's words, for the user
        bool busy = false; // another program kept writing
    };

    LibraryThread(QString path, int busyTimeoutMs);
    ~LibraryThread(); // the work handed over is done first
    LibraryThread(const LibraryThread &) = delete;
    LibraryThread &operator=(const LibraryThread &) = delete;

    // Runs work on the thread with the library open; done gets the answer on the receiver's thread. An
    // answer whose receiver is gone by then is dropped, also where the receiver goes before this object
    // does (a window deletes the views that read through it first).
    void run(std::function<bool(PaperLibrary &)> work, QObject *receiver, std::function<void(Answer)> done);
    // Runs work on the thread as run() does, after the work handed over before it, and waits for its
    // answer (for the end of a window, when no event comes any more).
    Answer runAndWait(std::function<bool(PaperLibrary &)> work);
    // Waits until the work handed over so far is done.
    void wait();

private:
    struct Worker;
    void startThread();
    // On the thread: the library opened when it is not yet, and work run on it.
    static Answer perform(Worker &worker, const QString &path, int busyMs,
                          const std::function<bool(PaperLibrary &)> &work);
    QString m_path;
    int m_busyTimeoutMs;
    QThread *m_thread = nullptr;
    std::shared_ptr<Worker> m_worker;
    // Lives where this object was made and takes the answers there: it goes only after the thread has
    // ended, so an answer on its way never reaches a receiver that has gone.
    QObject m_relay;
};
