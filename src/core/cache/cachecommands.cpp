#include "core/cache/cachecommands.h"

#include "core/cache/cachecleaner.h"
#include "core/common/receiverpost.h"

#include <QThreadPool>
#include <optional>

CacheCommands::CacheCommands(CacheLocations locations, QObject *parent)
    : QObject(parent), m_locations(std::move(locations))
{
    m_state.counter = QStringLiteral("000");
}

CacheCommands::~CacheCommands()
{
    // Nothing is waited for: a listing under way stops at its next step, a deletion goes on to its end on
    // the worker (what was asked for is done on the disk), and neither's answer is taken.
    m_queue.clear();
    if (m_cancel)
        m_cancel->store(true);
}

void CacheCommands::run(Command command, const QList<bool> &selected)
{
    m_queue.enqueue({command, selected});
    if (!m_running) {
        startNext();
        Q_EMIT busyChanged(true);
    }
}

namespace {

// The listing of this kind made again (the tag of the list shown); none once stopped, or for a list of
// no kind.
std::optional<CacheListing> listAgain(const QString &kind, const CacheLocations &locations,
                                      const std::atomic_bool *stop)
{
    if (stop->load())
        return std::nullopt;
    if (kind == kMyCacheTag)
        return GetCacheURLList(locations.myCache, stop);
    if (kind == kAllCachesTag)
        return listAllUsersCaches(locations.homes, locations.relativePath, stop);
    return std::nullopt;
}

// What a command does on the worker, from copies of all it reads: the deletion asked for, then the
// listing again.
std::optional<CacheListing> perform(CacheCommands::Command command, const QList<bool> &selected,
                                    const CacheLocations &locations, const QList<CacheRow> &rows,
                                    const QString &tag, const DeleteScope &scope,
                                    const std::atomic_bool *stop)
{
    switch (command) {
    case CacheCommands::Command::ViewMine:
        return listAgain(kMyCacheTag, locations, stop);
    case CacheCommands::Command::ViewAll:
        return listAgain(kAllCachesTag, locations, stop);
    // A deletion is not stopped when its window goes: the user asked for it.
    case CacheCommands::Command::DeleteSelected:
        deleteCacheRows(rows, &selected, scope);
        return listAgain(tag, locations, stop);
    case CacheCommands::Command::DeleteAll:
        deleteCacheRows(rows, nullptr, scope);
        return listAgain(tag, locations, stop);
    }
    return std::nullopt;
}

} // namespace

void CacheCommands::startNext()
{
    if (m_queue.isEmpty())
        return;
    const Pending next = m_queue.dequeue();
    m_runningCommand = next.command;
    m_cancel = std::make_shared<std::atomic_bool>(false);

    // The worker gets copies of everything it reads; the state changes only in finishRunning().
    const CacheLocations locations = m_locations;
    const QList<CacheRow> rows = m_state.rows;
    const QString tag = m_state.tag;
    const DeleteScope scope{m_locations.myCache, m_state.userCacheRoots, m_state.CacheFolders};
    auto work = [command = next.command, selected = next.selected, locations, rows, tag, scope,
                 cancel = m_cancel, receiver = QPointer<QObject>(this), this]() {
        auto outcome = std::make_shared<Outcome>();
        if (std::optional<CacheListing> listing =
                perform(command, selected, locations, rows, tag, scope, cancel.get())) {
            outcome->listing = std::move(*listing);
            outcome->listed = true;
        }
        diskwork::postToReceiver(receiver, [this, outcome] { finishRunning(outcome); });
    };
    m_running = true;
    QThreadPool::globalInstance()->start(std::move(work));
}

void CacheCommands::finishRunning(const std::shared_ptr<Outcome> &outcome)
{
    m_running = false;
    const Command command = m_runningCommand;
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
