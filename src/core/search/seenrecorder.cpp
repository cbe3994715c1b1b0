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

void SeenRecorder::flush()
{
    if (m_waiting.isEmpty() || (m_retry.isActive() && !m_finishing))
        return;
    m_retry.stop();
    if (m_library->recordSeen(m_waiting)) {
        m_waiting.clear();
        m_busyTries = 0;
        return;
    }
    // Another program kept writing: a little later, waiting longer each time.
    if (m_library->lastFailureWasBusy() && !m_finishing && m_busyTries < BusyRetries) {
        m_retry.start(FirstRetryMs << m_busyTries++);
        return;
    }
    Q_EMIT failed(QStringLiteral("%1 篇文献没有记入文献资料库（%2）")
                      .arg(m_waiting.size())
                      .arg(m_library->lastError()));
    m_waiting.clear();
    m_busyTries = 0;
}

void SeenRecorder::finish()
{
    m_finishing = true;
    flush();
}
