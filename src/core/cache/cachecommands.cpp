#include "core/cache/cachecommands.h"

#include "core/cache/cachecleaner.h"

#include <QThread>

CacheCommands::CacheCommands(CacheLocations locations, QObject *parent)
    : QObject(parent), m_locations(std::move(locations))
{
    m_state.counter = QStringLiteral("000");
}

CacheCommands::~CacheCommands()
{
    m_queue.clear();
    if (m_running) {
        m_cancel->store(true);
        m_running->wait();
        delete m_running;
    }
}

void CacheCommands::run(Command command, const QList<bool> &selected)
{
    m_queue.enqueue({command, selected});
    if (!m_running) {
        startNext();
        Q_EMIT busyChanged(true);
    }
}

void CacheCommands::startNext()
{
    if (m_queue.isEmpty())
        return;
    const Pending next = m_queue.dequeue();
    m_runningCommand = next.command;
    m_outcome = std::make_shared<Outcome>();
    m_cancel = std::make_shared<std::atomic_bool>(false);

    // The worker gets copies of everything it reads; the state changes only in finishRunning().
    const CacheLocations locations = m_locations;
    const QList<CacheRow> rows = m_state.rows;
    const QString tag = m_state.tag;
    const DeleteScope scope{m_locations.myCache, m_state.userCacheRoots, m_state.CacheFolders};
    auto work = [command = next.command, selected = next.selected, locations, rows, tag, scope,
                 outcome = m_outcome, cancel = m_cancel]() {
        const std::atomic_bool *stop = cancel.get();
        auto listAgain = [&](const QString &kind) {
            if (kind == kMyCacheTag) {
                outcome->listing = GetCacheURLList(locations.myCache, stop);
                outcome->listed = true;
            } else if (kind == kAllCachesTag) {
                outcome->listing = listAllUsersCaches(locations.homes, locations.relativePath, stop);
                outcome->listed = true;
            }
        };
        switch (command) {
        case Command::ViewMine:
            listAgain(kMyCacheTag);
            break;
        case Command::ViewAll:
            listAgain(kAllCachesTag);
            break;
        case Command::DeleteSelected:
            deleteCacheRows(rows, &selected, scope, stop);
            listAgain(tag);
            break;
        case Command::DeleteAll:
            deleteCacheRows(rows, nullptr, scope, stop);
            listAgain(tag);
            break;
        }
    };
    m_running = QThread::create(std::move(work));
    connect(m_running, &QThread::finished, this, &CacheCommands::finishRunning);
    m_running->start();
}

void CacheCommands::finishRunning()
{
    QThread *done = m_running;
    m_running = nullptr;
    done->deleteLater();
    const Command command = m_runningCommand;
    const std::shared_ptr<Outcome> outcome = std::move(m_outcome);
    if (outcome->listed)
        apply(outcome->listing);
    if (!m_queue.isEmpty())
        startNext();
    if (!m_running)
        Q_EMIT busyChanged(false);
    Q_EMIT commandFinished(command); // last: a receiver may close the viewer
}

void CacheCommands::apply(const CacheListing &listing)
{
    if (listing.tag == kAllCachesTag) {
        m_state = listing;
    } else {
        // The current user's listing leaves the users' folders of the last all-users listing in place.
        m_state.rows = listing.rows;
        m_state.counter = listing.counter;
        m_state.tag = listing.tag;
    }
    Q_EMIT listChanged();
}

QList<qsizetype> CacheCommands::sortByColumn(int column)
{
    m_descending = !m_descending;
    QList<qsizetype> order = sortCacheRows(m_state.rows, column, m_descending);
    Q_EMIT listChanged();
    return order;
}
