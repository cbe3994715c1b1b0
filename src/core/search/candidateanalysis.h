#pragma once

#include "core/search/handover.h"

#include <QObject>
#include <QPointer>
#include <functional>

class CandidateListModel;

// Which candidate rows an analysis hands over.
enum class AnalysisCommand { Unanalysed, Failed, Selected, All };

// The outside world an analysis needs; the search window fills these in from its host.
struct AnalysisHooks
{
    // The modal chooser: false when it was cancelled; when confirmed, handOverOptions gives its folder.
    std::function<bool()> chooseSaveLocation;
    // Loads the download window if needed and hands the candidate to its queue; false when no row was
    // added.
    std::function<bool(const CandidateListModel &, int position, const HandOverOptions &,
                       HandOverTally *tally)>
        handOver;
    std::function<void()> showDownloadWindow;     // 显示下载窗口
    std::function<bool(int position)> isSelected; // selection of the candidate list
    // The naming rule and default folder in force, asked for again after the chooser has run.
    std::function<HandOverOptions()> handOverOptions;
    // Whether the folder was asked for when the rows were taken from the pages.
    std::function<bool()> folderAskedWhenTaken;
};

// The analysis loop: hands the rows a command picks over to the download list, one row per turn of
// the event loop, so the stop button and the window's close are seen between rows.
class CandidateAnalysis : public QObject
{
    Q_OBJECT

public:
    CandidateAnalysis(CandidateListModel *candidates, AnalysisHooks hooks, QObject *parent = nullptr);

    // True while no analysis runs (and once a stop has been asked for).
    bool AnalysisStopped() const { return m_stopped; }
    bool isRunning() const { return m_running; }

    void start(AnalysisCommand command);
    // Asks a running analysis to end after the row being handed over.
    void stop() { m_stopped = true; }

    // What the last analysis did with the rows it handed over (kept until the next one starts).
    const HandOverTally &tally() const { return m_tally; }

    static QString rowProgressText(int i, int n, const QString &title);
    static QString resultText(int successCount);

Q_SIGNALS:
    void started();
    void progressTextChanged(const QString &text);
    void finished(int successCount, const QString &resultText);

private:
    void begin();
    void nextRows();
    bool rowMeetsRule(int position) const;
    bool someRowLacksAFolder() const;
    HandOverOptions handOverOptions() const;
    void finish();

    CandidateListModel *m_candidates;
    AnalysisHooks m_hooks;
    AnalysisCommand m_command = AnalysisCommand::All;
    bool m_stopped = true;
    bool m_running = false;
    int m_total = 0;
    int m_next = 0;
    int m_successes = 0;
    HandOverTally m_tally;
};
