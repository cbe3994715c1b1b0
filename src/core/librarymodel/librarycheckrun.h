#pragma once

#include "core/librarymodel/libraryupkeep.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

class PdfChecker;

// The check of every held file (checkLibraryFiles) on a thread of its own with a connection of its own to
// the library, so that neither the event loop's thread nor the library's reads for the window wait for
// it. Progress and the end come as signals on this object's thread; stop() ends it after the file at
// hand, and destroying the object stops it and waits for it.
class LibraryCheckRun : public QObject
{
    Q_OBJECT
public:
    // The checker is shared (it may be called from any thread) and must outlive the run; none checks
    // presence and content only.
    LibraryCheckRun(QString libraryPath, PdfChecker *checker, QObject *parent = nullptr);
    ~LibraryCheckRun() override;

    // Starts the check; false while one runs.
    bool start();
    void stop();
    bool isRunning() const { return m_running; }

signals:
    void progress(int done, int total);
    void finished(const LibraryCheckReport &report);

private:
    void end(const LibraryCheckReport &report);

    const QString m_path;
    PdfChecker *const m_checker;
    std::atomic_bool m_stop{false};
    bool m_running = false;
    std::thread m_thread;
};
