#include "core/search/candidateanalysis.h"

#include "core/rows/downloadlistmodel.h"
#include "core/search/candidatelistmodel.h"
#include "core/search/handover.h"

#include <QTimer>

CandidateAnalysis::CandidateAnalysis(CandidateListModel *candidates, AnalysisHooks hooks, QObject *parent)
    : QObject(parent), m_candidates(candidates), m_hooks(std::move(hooks))
{
}

QString CandidateAnalysis::rowProgressText(int i, int n, const QString &title)
{
    return QStringLiteral("正在分析第%1/%2条记录：").arg(i).arg(n) + title;
}

QString CandidateAnalysis::resultText(int successCount)
{
    return QStringLiteral("本次分析成功：%1条").arg(successCount);
}

void CandidateAnalysis::start(AnalysisCommand command)
{
    if (m_running)
        return;
    m_running = true;
    m_command = command;
    m_successes = 0;
    m_tally = {};
    m_total = 0;
    m_next = 0;
    Q_EMIT progressTextChanged(QStringLiteral("正在分析,请稍候..."));
    Q_EMIT started();
    m_stopped = false;
    // The window gets a turn to show the progress panel before the chooser or the first row.
    QTimer::singleShot(0, this, &CandidateAnalysis::begin);
}

void CandidateAnalysis::begin()
{
    if (m_candidates->count() == 0)
        return finish();
    // The folder was asked for when the rows were taken, or it is asked for now. Rows that came in
    // without one (imported links, a fresh profile) are asked for whatever the option says: no row goes
    // to the download list without a folder the user chose.
    const bool askedWhenTaken = m_hooks.folderAskedWhenTaken && m_hooks.folderAskedWhenTaken();
    const bool ask = !askedWhenTaken || someRowLacksAFolder();
    if (ask && !(m_hooks.chooseSaveLocation && m_hooks.chooseSaveLocation()))
        return finish();
    m_total = m_candidates->count();
    nextRows();
}

HandOverOptions CandidateAnalysis::handOverOptions() const
{
    return m_hooks.handOverOptions ? m_hooks.handOverOptions() : HandOverOptions{};
}

bool CandidateAnalysis::someRowLacksAFolder() const
{
    if (!handOverOptions().defaultFolder.trimmed().isEmpty())
        return false; // rows without a folder take the one the chooser confirmed, now or in an earlier run
    for (int position = 0; position < m_candidates->count(); ++position) {
        if (rowMeetsRule(position) && m_candidates->row(position).folder.trimmed().isEmpty())
            return true;
    }
    return false;
}

bool CandidateAnalysis::rowMeetsRule(int position) const
{
    if (!m_candidates->isValidRow(position))
        return true; // an unreadable row is tried, and fails
    const CandidateRow &row = m_candidates->row(position);
    switch (m_command) {
    case AnalysisCommand::Unanalysed:
        return row.status.isEmpty();
    case AnalysisCommand::Failed:
        return row.status == candidatetext::Failed;
    case AnalysisCommand::Selected:
        return m_hooks.isSelected && m_hooks.isSelected(position);
    case AnalysisCommand::All:
        return true;
    }
    return false;
}

// Shows progress for every row, skips the rows the command does not take, hands over the next row that
// it takes, then yields to the event loop before the stop check.
void CandidateAnalysis::nextRows()
{
    while (m_next < m_total) {
        const int position = m_next++;
        const QString title =
            m_candidates->isValidRow(position) ? m_candidates->row(position).title : QString();
        Q_EMIT progressTextChanged(rowProgressText(position + 1, m_total, title));
        if (!rowMeetsRule(position))
            continue;
        if (m_command != AnalysisCommand::Unanalysed)
            m_candidates->setStatus(position, QString());
        if (m_hooks.handOver && m_hooks.handOver(*m_candidates, position, handOverOptions(), &m_tally)) {
            m_candidates->setStatus(position, candidatetext::Succeeded);
            ++m_successes;
        } else {
            m_candidates->setStatus(position, candidatetext::Failed);
        }
        QTimer::singleShot(0, this, [this] {
            if (m_stopped)
                finish();
            else
                nextRows();
        });
        return;
    }
    finish();
}

void CandidateAnalysis::finish()
{
    m_stopped = true;
    m_running = false;
    Q_EMIT finished(m_successes, resultText(m_successes));
    if (m_hooks.showDownloadWindow)
        m_hooks.showDownloadWindow();
}
