#include "core/transfer/wallwatch.h"

void WallWatch::started(RowId id, const QString &host)
{
    const quint64 order = ++m_count;
    m_requests.insert(id, {host, order});
    m_byHost[host].insert(order, Entry{id, State::Pending, {}});
}

bool WallWatch::answered(RowId id, Answer answer, const QUrl &page)
{
    const auto request = m_requests.take(id);
    const auto host = m_byHost.find(request.first);
    if (host == m_byHost.end() || !host->contains(request.second))
        return false;
    QMap<quint64, Entry> &entries = *host;
    switch (answer) {
    case Answer::Uncounted:
        entries.remove(request.second);
        break;
    case Answer::Passed:
        entries[request.second].state = State::Passed;
        break;
    case Answer::Wall:
        entries[request.second] = Entry{id, State::Wall, page};
        break;
    }
    // What lies before a paper can no longer be next to a wall after it.
    while (!entries.isEmpty()) {
        const auto first = entries.cbegin();
        const auto second = std::next(first);
        const bool behind =
            first->state == State::Passed ||
            (first->state == State::Wall && second != entries.cend() && second->state == State::Passed);
        if (!behind)
            break;
        entries.erase(first);
    }
    const QString name = request.first;
    if (entries.isEmpty())
        m_byHost.remove(name);
    return answer != Answer::Passed && findPair(name);
}

bool WallWatch::findPair(const QString &host)
{
    const QMap<quint64, Entry> entries = m_byHost.value(host);
    const Entry *previous = nullptr;
    for (const Entry &entry : entries) {
        if (previous && previous->state == State::Wall && entry.state == State::Wall) {
            m_host = host;
            m_page = entry.page;
            m_rows.clear();
            for (const Entry &wall : entries) {
                if (wall.state == State::Wall)
                    m_rows.append(wall.id);
            }
            return true;
        }
        previous = &entry;
    }
    return false;
}

void WallWatch::clear()
{
    m_requests.clear();
    m_byHost.clear();
    m_host.clear();
    m_rows.clear();
    m_page.clear();
}
