#include "core/librarymodel/librarycheckrun.h"

#include "core/library/paperlibrary.h"

LibraryCheckRun::LibraryCheckRun(QString libraryPath, PdfChecker *checker, QObject *parent)
    : QObject(parent), m_path(std::move(libraryPath)), m_checker(checker)
{
}

LibraryCheckRun::~LibraryCheckRun()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool LibraryCheckRun::start()
{
    if (m_running)
        return false;
    if (m_thread.joinable())
        m_thread.join(); // the last run has sent its end already
    m_running = true;
    m_stop = false;
    m_thread = std::thread([this] {
        LibraryCheckReport report;
        PaperLibrary library(m_path);
        const PaperLibrary::OpenResult opened = library.open();
        if (!opened.ok) {
            report.written = false;
            report.error = opened.message;
        } else {
            report = checkLibraryFiles(library, m_checker, &m_stop, [this](int done, int total) {
                QMetaObject::invokeMethod(
                    this, [this, done, total] { emit progress(done, total); }, Qt::QueuedConnection);
            });
        }
        QMetaObject::invokeMethod(
            this, [this, report] { end(report); }, Qt::QueuedConnection);
    });
    return true;
}

void LibraryCheckRun::stop()
{
    m_stop = true;
}

void LibraryCheckRun::end(const LibraryCheckReport &report)
{
    m_running = false;
    emit finished(report);
}
