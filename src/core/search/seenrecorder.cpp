#include "core/search/seenrecorder.h"

#include "core/library/paperlibrary.h"
#include "core/search/candidatelistmodel.h"

SeenRecorder::SeenRecorder(PaperLibrary *library, CandidateListModel *candidates, QObject *parent)
    : QObject(parent), m_library(library), m_candidates(candidates)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &SeenRecorder::flush);
    connect(candidates, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { onRowsInserted(first, last); });
}

SeenRecorder::~SeenRecorder()
{
    blockSignals(true);
    finish();
}

void SeenRecorder::onRowsInserted(int first, int last)
{
    if (!m_library)
        return;
    if (m_waiting.isEmpty())
        QTimer::singleShot(0, this, &SeenRecorder::flush);
    for (int i = first; i <= last && m_candidates->isValidRow(i); ++i) {
        const CandidateRow &row = m_candidates->row(i);
        m_waiting.append(SeenPaper{row.key, row.metadata(), row.tag});
    }
}

LibraryThread &SeenRecorder::writer()
{
    if (!m_writer)
        m_writer = std::make_unique<LibraryThread>(m_library->path(), m_library->busyTimeoutMs());
    return *m_writer;
}

void SeenRecorder::flush()
{
    if (m_waiting.isEmpty() || !m_writing.isEmpty() || (m_retry.isActive() && !m_finishing))
        return;
    m_retry.stop();
    // The writer's own connection needs the library open; without it the library's connection says why it
    // cannot be written (or opens it again).
    if (!m_library->isOpen()) {
        if (m_library->recordSeen(m_waiting)) {
            m_waiting.clear();
            waitEnded(LibraryWait::Written);
            return;
        }
        writeFailed(m_library->lastError(), m_library->lastFailureWasBusy());
        return;
    }
    m_writing = std::exchange(m_waiting, {});
    auto written = std::make_shared<std::atomic<bool>>(false);
    m_written = written;
    const int generation = ++m_generation;
    writer().run(
        [batch = m_writing, written](PaperLibrary &library) {
            const bool ok = library.recordSeen(batch);
            written->store(ok);
            return ok;
        },
        this, [this, generation](const LibraryThread::Answer &answer) { onWritten(generation, answer); });
}

void SeenRecorder::onWritten(int generation, const LibraryThread::Answer &answer)
{
    if (generation != m_generation)
        return;
    if (answer.ok) {
        m_writing.clear();
        waitEnded(LibraryWait::Written);
        flush(); // what came meanwhile
        return;
    }
    m_waiting = std::exchange(m_writing, {}) + m_waiting;
    writeFailed(answer.error, answer.busy);
}

void SeenRecorder::writeFailed(const QString &why, bool busy)
{
    // Another program kept writing: a little later, waiting longer each time, until it frees.
    if (busy && !m_finishing) {
        if (!std::exchange(m_waitingForBusy, true))
            Q_EMIT busyChanged(LibraryWait::Started);
        m_retry.start(std::min(LongestRetryMs, FirstRetryMs << std::min(m_busyTries++, 8)));
        return;
    }
    Q_EMIT failed(QStringLiteral("%1 篇文献没有记入文献资料库（%2）").arg(m_waiting.size()).arg(why));
    m_waiting.clear();
    waitEnded(LibraryWait::GivenUp);
}

void SeenRecorder::waitEnded(LibraryWait end)
{
    m_busyTries = 0;
    if (std::exchange(m_waitingForBusy, false))
        Q_EMIT busyChanged(end);
}

void SeenRecorder::finish()
{
    m_finishing = true;
    m_retry.stop();
    if (!m_writing.isEmpty()) {
        // No answer comes any more: the write under way is waited for and its outcome taken here.
        m_writer->wait();
        ++m_generation;
        if (!m_written->load())
            m_waiting = m_writing + m_waiting;
        m_writing.clear();
    }
    if (m_waiting.isEmpty())
        return;
    if (!m_library->isOpen()) {
        flush();
        return;
    }
    const LibraryThread::Answer answer =
        writer().runAndWait([batch = m_waiting](PaperLibrary &library) { return library.recordSeen(batch); });
    if (!answer.ok) {
        writeFailed(answer.error, answer.busy);
        return;
    }
    m_waiting.clear();
    waitEnded(LibraryWait::Written);
}
