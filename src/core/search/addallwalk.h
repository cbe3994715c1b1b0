#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class CandidateListModel;
struct PageSnapshot;

// The browser as the page walk needs it. The search window adapts its QWebEnginePage to this.
class ResultPageBrowser
{
public:
    virtual ~ResultPageBrowser() = default;
    // Reads the document on show; the callback receives an invalid snapshot when nothing could be read.
    virtual void readPage(QObject *context, std::function<void(const PageSnapshot &)> done) = 0;
    virtual void clickAnchor(int anchorIndex) = 0;
    virtual bool isBusy() const = 0;
};

// Takes the page on show into the candidate list, follows its ">" link, waits for the next page and
// repeats until no next page is found, a next page does not load in time, or a stop is asked for.
// A walk also ends when a ">" link leads back to a page it has already taken (the links go round in a
// circle) and after PageLimit pages, so it always ends. Every wait is a timer on the event loop; time
// is read from Clock::current().
class AddAllWalk : public QObject
{
    Q_OBJECT

public:
    static constexpr int PageLimit = 10000;

    // Why the last walk ended.
    enum class End {
        LastPage,     // the page on show has no ">" link
        Stopped,      // a stop was asked for
        LoadTimedOut, // the next page did not load in time
        Unreadable,   // the page on show could not be read
        Revisited,    // the ">" link led to a page the walk had already taken
        PageLimit,    // PageLimit pages were taken
    };
    Q_ENUM(End)

    AddAllWalk(ResultPageBrowser *browser, CandidateListModel *list, QObject *parent = nullptr);

    bool isRunning() const { return m_walking; }
    bool StopAddAll() const { return m_stopAddAll; }
    bool PageLoading() const { return m_pageLoading; }

    void start();
    void stop() { m_stopAddAll = true; }
    // The folder that rows taken by the walk get; set before a walk starts.
    void setSaveFolder(const QString &folder) { m_saveFolder = folder; }

    // Document complete of the browser's own top-level document.
    void documentComplete() { m_pageLoading = false; }

    End endReason() const { return m_end; }
    // Pages taken by the running or the last walk, and the address of the last one.
    int pagesTaken() const { return m_pagesTaken; }
    // Fields of the rules file whose selectors the browser refused on the last page read (none taken).
    QStringList rejectedSelectors() const { return m_rejected; }
    QString rejectingFile() const { return m_rejectingFile; }
    QString lastPageAddress() const { return m_lastAddress; }

    void setWaitLimits(qint64 loadLimitMs, qint64 settleMs);
    void setPageLimit(int pages) { m_pageLimit = pages; }
    void setPollInterval(int ms) { m_poll.setInterval(ms); }

    // One step alone: extract the page on show and follow its next-page link. done(true) when a link
    // was followed and the wait ended (by the page or by a stop), done(false) otherwise.
    void 下一页(std::function<void(bool)> done);

Q_SIGNALS:
    void pageExtracted(int rowsAdded);
    void finished();

private:
    enum class Phase { Idle, Reading, LoadWait, SettleWait };

    void walkStep();
    void onStepDone(bool followed);
    void poll();
    void endStep(bool result, End reason = End::LastPage);
    void endWalk(End reason);
    qint64 elapsedMs() const;

    ResultPageBrowser *m_browser;
    CandidateListModel *m_list;
    QTimer m_poll;
    Phase m_phase = Phase::Idle;
    bool m_walking = false;
    bool m_stopAddAll = false;
    bool m_pageLoading = false;
    qint64 m_startMs = 0;
    qint64 m_loadLimitMs = 30000;
    qint64 m_settleMs = 2000;
    std::function<void(bool)> m_done;
    End m_end = End::LastPage;
    QSet<QString> m_visited;
    QString m_lastAddress;
    QString m_saveFolder;
    QStringList m_rejected;
    QString m_rejectingFile;
    int m_pagesTaken = 0;
    int m_pageLimit = PageLimit;
};
