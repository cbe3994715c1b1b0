#include "core/library/libraryopening.h"

#include "core/common/backgroundthread.h"
#include "core/library/libraryconnection.h"

#include <QObject>
#include <QThread>

bool openLibraryTelling(PaperLibrary &library,
                        const std::function<void(bool usable, const QString &message)> &tell)
{
    const PaperLibrary::OpenResult result = library.open();
    if (!result.message.isEmpty() && tell)
        tell(result.ok, result.message);
    return result.ok;
}

LibraryOpener::LibraryOpener(PaperLibrary &library, QObject *receiver, Done done)
{
    QThread *const home = receiver->thread();
    m_thread = QThread::create([&library, home, receiver, done = std::move(done)] {
        MarkBackgroundThread();
        PaperLibrary::OpenResult result = library.open();
        // A connection that could not be handed over is opened again where it is used.
        const bool handedOver = !result.ok || LibraryConnection::moveToThread(library, home);
        if (!handedOver)
            library.close();
        QMetaObject::invokeMethod(
            receiver, [&library, done, result, handedOver] { done(handedOver ? result : library.open()); },
            Qt::QueuedConnection);
    });
    m_thread->setObjectName(QStringLiteral("library opening"));
    m_thread->start();
}

LibraryOpener::~LibraryOpener()
{
    m_thread->wait();
    delete m_thread;
}
