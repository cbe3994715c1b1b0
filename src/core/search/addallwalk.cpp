#include "core/search/addallwalk.h"

#include "core/common/clock.h"
#include "core/search/resultpage.h"
#include "core/sites/siterules.h"

#include <QPointer>
#include <QUrl>
#include <cstdlib>
#include <utility>

AddAllWalk::AddAllWalk(ResultPageBrowser *browser, CandidateListModel *list, QObject *parent)
    : QObject(parent), m_browser(browser), m_list(list)
{
    m_poll.setInterval(50);
    connect(&m_poll, &QTimer::timeout, this, &AddAllWalk::poll);
}

void AddAllWalk::setWaitLimits(qint64 loadLimitMs, qint64 settleMs)
{
    m_loadLimitMs = loadLimitMs;
    m_settleMs = settleMs;
}

qint64 AddAllWalk::elapsedMs() const
{
    return std::llabs(Clock::current().monotonicMs() - m_startMs);
}

namespace {
// Two addresses of one document (they differ only in the fragment) are one page.
QString pageKey(const QString &address)
{
    return QUrl(address).adjusted(QUrl::RemoveFragment).toString();
}
} // namespace

void AddAllWalk::start()
{
    if (m_walking)
        return;
    m_walking = true;
    m_stopAddAll = false;
    m_visited.clear();
    m_pagesTaken = 0;
    m_lastAddress.clear();
    m_end = End::LastPage;
    // A turn of the event loop before each page, so a stop click made meanwhile is seen.
    QTimer::singleShot(0, this, &AddAllWalk::walkStep);
}

void AddAllWalk::walkStep()
{
    下一页([this](bool followed) { onStepDone(followed); });
}

void AddAllWalk::onStepDone(bool followed)
{
    if (m_stopAddAll)
        return endWalk(End::Stopped);
    if (!followed)
        return endWalk(m_end);
    QTimer::singleShot(0, this, [this] {
        if (m_stopAddAll)
            endWalk(End::Stopped);
        else
            walkStep();
    });
}

void AddAllWalk::endWalk(End reason)
{
    m_end = reason;
    m_walking = false;
    Q_EMIT finished();
}

void AddAllWalk::下一页(std::function<void(bool)> done)
{
    m_done = std::move(done);
    m_phase = Phase::Reading;
    m_browser->readPage(this, [this](const PageSnapshot &page) {
        if (m_phase != Phase::Reading)
            return;
        if (!page.valid)
            return endStep(false, End::Unreadable);
        m_rejected = page.rejected;
        m_rejectingFile = pageRules(page).file;
        if (m_walking) {
            const QString key = pageKey(page.documentAddress);
            if (m_visited.contains(key))
                return endStep(false, End::Revisited);
            m_visited.insert(key);
            ++m_pagesTaken;
            m_lastAddress = page.documentAddress;
        }
        Q_EMIT pageExtracted(ExtractResultPage(page, *m_list, m_saveFolder));
        const int next = nextPageAnchor(page);
        if (next < 0)
            return endStep(false, End::LastPage);
        if (m_walking && m_pagesTaken >= m_pageLimit)
            return endStep(false, End::PageLimit);
        m_startMs = Clock::current().monotonicMs();
        m_pageLoading = true;
        m_browser->clickAnchor(next);
        m_phase = Phase::LoadWait;
        m_poll.start();
    });
}

void AddAllWalk::poll()
{
    if (m_phase == Phase::LoadWait) {
        const bool loaded = !m_browser->isBusy() && !m_pageLoading;
        if (!loaded && !m_stopAddAll) {
            if (elapsedMs() > m_loadLimitMs)
                endStep(false, End::LoadTimedOut);
            return;
        }
        m_startMs = Clock::current().monotonicMs();
        m_phase = Phase::SettleWait;
    }
    if (m_phase == Phase::SettleWait && (m_stopAddAll || elapsedMs() >= m_settleMs))
        endStep(true);
}

void AddAllWalk::endStep(bool result, End reason)
{
    m_poll.stop();
    m_phase = Phase::Idle;
    if (!result)
        m_end = reason;
    if (auto done = std::exchange(m_done, {}))
        done(result);
}
