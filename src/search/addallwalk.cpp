#include "search/addallwalk.h"

#include "common/clock.h"
#include "search/resultpage.h"
#include "settings/sharedoptions.h"

#include <QPointer>

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

void AddAllWalk::start()
{
    if (m_walking)
        return;
    m_walking = true;
    m_stopAddAll = false;
    // A turn of the event loop before each page, so a stop click made meanwhile is seen.
    QTimer::singleShot(0, this, &AddAllWalk::walkStep);
}

void AddAllWalk::walkStep()
{
    下一页([this](bool followed) { onStepDone(followed); });
}

void AddAllWalk::onStepDone(bool followed)
{
    if (!followed || m_stopAddAll) {
        m_walking = false;
        Q_EMIT finished();
        return;
    }
    QTimer::singleShot(0, this, [this] {
        if (m_stopAddAll) {
            m_walking = false;
            Q_EMIT finished();
        } else {
            walkStep();
        }
    });
}

void AddAllWalk::下一页(std::function<void(bool)> done)
{
    m_done = std::move(done);
    m_phase = Phase::Reading;
    m_browser->readPage(this, [this](const PageSnapshot &page) {
        if (m_phase != Phase::Reading)
            return;
        if (!page.valid)
            return endStep(false);
        Q_EMIT pageExtracted(ExtractResultPage(page, *m_list, sharedOptions().DefaultSaveFolder));
        const int next = findNextPageLink(page.anchorTexts);
        if (next < 0)
            return endStep(false);
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
                endStep(false);
            return;
        }
        m_startMs = Clock::current().monotonicMs();
        m_phase = Phase::SettleWait;
    }
    if (m_phase == Phase::SettleWait && (m_stopAddAll || elapsedMs() >= m_settleMs))
        endStep(true);
}

void AddAllWalk::endStep(bool result)
{
    m_poll.stop();
    m_phase = Phase::Idle;
    if (auto done = std::exchange(m_done, {}))
        done(result);
}
