#include "core/library/librarythread.h"

#include "core/common/backgroundthread.h"
#include "core/library/paperlibrary.h"

#include <QPointer>
#include <QSemaphore>
#include <QThread>

// Lives on the thread; the library is opened, used and closed there only.
struct LibraryThread::Worker
{
    QObject context;
    std::unique_ptr<PaperLibrary> library;
};

LibraryThread::LibraryThread(QString path, int busyTimeoutMs)
    : m_path(std::move(path)), m_busyTimeoutMs(busyTimeoutMs)
{
}

LibraryThread::~LibraryThread()
{
    if (!m_thread)
        return;
    // After the work handed over, the connection is closed on its own thread; only then does it stop.
    QMetaObject::invokeMethod(
        &m_worker->context, [worker = m_worker] { worker->library.reset(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void LibraryThread::startThread()
{
    if (m_thread)
        return;
    m_worker = std::make_shared<Worker>();
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("library writer"));
    QObject::connect(m_thread, &QThread::started, [] { MarkBackgroundThread(); });
    m_worker->context.moveToThread(m_thread);
    m_thread->start();
}

LibraryThread::Answer LibraryThread::perform(Worker &worker, const QString &path, int busyMs,
                                             const std::function<bool(PaperLibrary &)> &work)
{
    if (!worker.library) {
        worker.library = std::make_unique<PaperLibrary>(path);
        worker.library->setBusyTimeoutMs(busyMs);
    }
    Answer answer;
    answer.ok = worker.library->isOpen() || worker.library->open().ok;
    if (answer.ok)
        answer.ok = work(*worker.library);
    if (!answer.ok) {
        answer.error = worker.library->lastError();
        answer.busy = worker.library->lastFailureWasBusy();
    }
    return answer;
}

void LibraryThread::run(std::function<bool(PaperLibrary &)> work, QObject *receiver,
                        std::function<void(Answer)> done)
{
    startThread();
    // The guard is read only on the receiver's thread; a receiver elsewhere is posted to directly and must
    // outlive its answer.
    QObject *const via = receiver->thread() == m_relay.thread() ? &m_relay : receiver;
    QMetaObject::invokeMethod(&m_worker->context,
                              [worker = m_worker, path = m_path, busyMs = m_busyTimeoutMs,
                               work = std::move(work), via, guard = QPointer<QObject>(receiver),
                               done = std::move(done)] {
                                  const Answer answer = perform(*worker, path, busyMs, work);
                                  QMetaObject::invokeMethod(
                                      via,
                                      [guard, done, answer] {
                                          if (guard)
                                              done(answer);
                                      },
                                      Qt::QueuedConnection);
                              });
}

LibraryThread::Answer LibraryThread::runAndWait(std::function<bool(PaperLibrary &)> work)
{
    startThread();
    Answer answer;
    QMetaObject::invokeMethod(
        &m_worker->context,
        [this, &answer, &work] { answer = perform(*m_worker, m_path, m_busyTimeoutMs, work); },
        Qt::BlockingQueuedConnection);
    return answer;
}

void LibraryThread::wait()
{
    if (!m_thread)
        return;
    QSemaphore reached;
    QMetaObject::invokeMethod(&m_worker->context, [&reached] { reached.release(); });
    reached.acquire();
}
