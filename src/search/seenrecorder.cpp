#include "search/seenrecorder.h"

#include "library/paperlibrary.h"
#include "search/candidatelistmodel.h"

#include <QTimer>

SeenRecorder::SeenRecorder(PaperLibrary *library, CandidateListModel *candidates, QObject *parent)
    : QObject(parent), m_library(library), m_candidates(candidates)
{
    connect(candidates, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { onRowsInserted(first, last); });
}

SeenRecorder::~SeenRecorder()
{
    blockSignals(true);
    flush();
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
    if (m_waiting.isEmpty())
        return;
    const QList<SeenPaper> papers = std::exchange(m_waiting, {});
    if (!m_library->recordSeen(papers))
        Q_EMIT failed(m_library->lastError());
}
