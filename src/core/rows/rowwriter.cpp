#include "core/rows/rowwriter.h"

#include "core/common/filenames.h"
#include "core/rows/targetfile.h"

#include <QSet>
#include <algorithm>
#include <vector>

namespace {

// Room for `needed` items: none is made while there is, and twice what there was at least when there is
// not, so that a list filled a few thousand rows at a time is not copied and rehashed whole each time.
template <typename Container> void makeRoom(Container &container, qsizetype needed)
{
    if (needed > container.capacity())
        container.reserve(std::max(needed, 2 * container.capacity()));
}

} // namespace

void RowWriter::reindex() const
{
    DownloadListModel &m = *m_model;
    m.m_waitingFrom = 0;
    m.m_positions.clear();
    m.m_positions.reserve(m.m_rows.size());
    m.m_owners.clear();
    for (int i = 0; i < m.count(); ++i) {
        const DownloadRow &r = m.m_rows.at(i);
        m.m_positions.insert(r.id, i);
        if (!r.owned.isNone())
            m.m_owners.insert(r.owned.path, r.id);
    }
}

void RowWriter::noteOwner(RowId id, const QString &before) const
{
    DownloadListModel &m = *m_model;
    if (!before.isEmpty() && m.m_owners.value(before) == id)
        m.m_owners.remove(before);
    const int position = m.positionOf(id);
    const OwnedFile &owned = m.m_rows.at(position).owned;
    if (owned.isNone())
        return;
    // One file, one writer: a row that wrote at this path before holds an older file that is gone.
    const RowId earlier = m.m_owners.value(owned.path, RowId::None);
    if (const int at = m.positionOf(earlier); at >= 0 && earlier != id) {
        m.m_rows[at].owned = {};
        m.markDirty(at);
    }
    m.m_owners.insert(owned.path, id);
    m.m_retired.remove(owned.path);
}

void RowWriter::retire(const DownloadRow &row) const
{
    if (!row.owned.isNone())
        m_model->m_retired.insert(row.owned.path, DownloadListModel::Retired{row.owned.identity, row.key});
}

void RowWriter::nameOwnedFile(DownloadRow &r)
{
    // A row whose new copy failed still owns the file it wrote before: the row names that file again, so
    // that opening it, its folder and a later download find it.
    if (r.owned.isNone() || rowFilePath(r) == r.owned.path)
        return;
    const qsizetype slash = r.owned.path.lastIndexOf(u'/');
    const QString file = r.owned.path.mid(slash + 1);
    r.folder = r.owned.path.left(slash + 1);
    const QString dotType = u'.' + r.type;
    if (!r.type.isEmpty() && file.endsWith(dotType) && file.size() > dotType.size()) {
        r.name = file.chopped(dotType.size());
        return;
    }
    r.type = SplitFileName(file, &r.name);
}

RowId RowWriter::addRow(DownloadRow newRow) const
{
    DownloadListModel &m = *m_model;
    if (m.m_keys.contains(newRow.key))
        return RowId::None;
    m.flushChanges();
    m.beginInsertRows({}, m.count(), m.count());
    m.m_waitingFrom = std::min(m.m_waitingFrom, m.count());
    const RowId id = appendRow(std::move(newRow));
    m.endInsertRows();
    Q_EMIT m.rowsChanged();
    return id;
}

QList<RowId> RowWriter::addRows(QList<DownloadRow> rows) const
{
    DownloadListModel &m = *m_model;
    m.flushChanges();
    QList<RowId> added;
    const int first = m.count();
    int fresh = 0;
    makeRoom(m.m_keys, m.m_keys.size() + rows.size());
    makeRoom(m.m_positions, m.m_positions.size() + rows.size());
    std::vector<bool> taken(rows.size(), false);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!m.m_keys.contains(rows.at(i).key)) {
            m.m_keys.insert(rows.at(i).key, RowId::None); // held: a later row of the same key is left out
            taken[i] = true;
            ++fresh;
        }
    }
    if (fresh == 0)
        return added;
    added.reserve(fresh);
    m.beginInsertRows({}, first, first + fresh - 1);
    m.m_waitingFrom = std::min(m.m_waitingFrom, first);
    // The rows themselves grow in place (they are relocatable): a reserve would copy them all.
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (taken[i])
            added.append(appendRow(std::move(rows[i])));
    }
    m.endInsertRows();
    Q_EMIT m.rowsChanged();
    return added;
}

RowId RowWriter::appendRow(DownloadRow row) const
{
    DownloadListModel &m = *m_model;
    row.id = static_cast<RowId>(m.m_nextId++);
    if (row.givenName.isEmpty())
        row.givenName = row.name;
    if (row.givenFolder.isEmpty())
        row.givenFolder = row.folder;
    const RowId id = row.id;
    const bool owned = !row.owned.isNone();
    m.m_keys.insert(row.key, id);
    m.m_positions.insert(id, m.count());
    m.m_rows.append(std::move(row));
    if (owned)
        noteOwner(id, {});
    return id;
}

bool RowWriter::update(RowId id, const std::function<void(DownloadRow &)> &change) const
{
    DownloadListModel &m = *m_model;
    const int position = m.positionOf(id);
    if (position < 0)
        return false;
    DownloadRow &r = m.m_rows[position];
    const RowState before = r.state;
    const QString key = r.key;
    const OwnedFile owned = r.owned;
    change(r);
    r.id = id;
    r.key = key; // the key is the row's address in the list; it never changes
    m.markDirty(position);
    if (r.state == RowState::Waiting)
        m.m_waitingFrom = std::min(m.m_waitingFrom, position);
    if (!(r.owned == owned))
        noteOwner(id, owned.path);
    if (r.state == RowState::Failed && before != RowState::Failed)
        nameOwnedFile(r);
    const bool finished = r.state == RowState::Done || r.state == RowState::Failed;
    if (finished && r.state != before)
        Q_EMIT m.rowFinished(id);
    return true;
}

bool RowWriter::setState(RowId id, RowState state) const
{
    return update(id, [state](DownloadRow &r) { r.state = state; });
}

bool RowWriter::setName(RowId id, const QString &name) const
{
    return update(id, [&name](DownloadRow &r) { r.name = name; });
}

bool RowWriter::setType(RowId id, const QString &type) const
{
    return update(id, [&type](DownloadRow &r) { r.type = type; });
}

bool RowWriter::setFolder(RowId id, const QString &folder) const
{
    return update(id, [&folder](DownloadRow &r) { r.folder = folder; });
}

bool RowWriter::clearProgress(RowId id) const
{
    return update(id, [](DownloadRow &r) { r.clearProgress(); });
}

bool RowWriter::removeRow(RowId id) const
{
    return !removeRowsIf([id](const DownloadRow &r) { return r.id == id; }).isEmpty();
}

QList<RowId> RowWriter::removeRowsIf(const std::function<bool(const DownloadRow &)> &match) const
{
    DownloadListModel &m = *m_model;
    m.flushChanges();
    QList<RowId> removed;
    for (int i = 0; i < m.count();) {
        if (!match(m.m_rows.at(i))) {
            ++i;
            continue;
        }
        // Remove a whole run of matching rows with one notification.
        int last = i;
        while (last + 1 < m.count() && match(m.m_rows.at(last + 1)))
            ++last;
        m.beginRemoveRows({}, i, last);
        for (int k = i; k <= last; ++k) {
            m.m_keys.remove(m.m_rows.at(k).key);
            removed.append(m.m_rows.at(k).id);
            retire(m.m_rows.at(k));
        }
        m.m_rows.remove(i, last - i + 1);
        m.endRemoveRows();
    }
    if (!removed.isEmpty()) {
        reindex();
        Q_EMIT m.rowsChanged();
        Q_EMIT m.rowsDropped(removed);
    }
    return removed;
}

void RowWriter::clear() const
{
    DownloadListModel &m = *m_model;
    m.flushChanges();
    if (m.m_rows.isEmpty())
        return;
    QList<RowId> removed;
    removed.reserve(m.m_rows.size());
    for (const DownloadRow &r : std::as_const(m.m_rows)) {
        removed.append(r.id);
        retire(r);
    }
    m.beginResetModel();
    m.m_rows.clear();
    m.m_waitingFrom = 0;
    m.m_keys.clear();
    m.m_positions.clear();
    m.m_owners.clear();
    m.endResetModel();
    Q_EMIT m.rowsChanged();
    Q_EMIT m.rowsDropped(removed);
}

void RowWriter::sortRows(const std::function<bool(const DownloadRow &, const DownloadRow &)> &less) const
{
    const DownloadListModel &m = *m_model;
    m_model->flushChanges();
    QList<int> order(m.count());
    for (int i = 0; i < m.count(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return less(m.m_rows.at(a), m.m_rows.at(b)); });
    applyOrder(order);
}

void RowWriter::sortRowsByText(const std::function<QString(const DownloadRow &)> &key, bool ascending) const
{
    sortRowsByKey([&key](const DownloadRow &row) { return CellSortKey::ofText(key(row)); }, ascending);
}

void RowWriter::sortRowsByKey(const std::function<CellSortKey(const DownloadRow &)> &key,
                              bool ascending) const
{
    const DownloadListModel &m = *m_model;
    m_model->flushChanges();
    QList<CellSortKey> keys;
    keys.reserve(m.count());
    QList<int> order(m.count());
    // Taken once here (texts folded), the keys then compare many times faster than the rows would.
    for (int i = 0; i < m.count(); ++i) {
        keys.append(key(m.m_rows.at(i)));
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int compared = keys.at(a).compare(keys.at(b));
        return ascending ? compared < 0 : compared > 0;
    });
    applyOrder(order);
}

void RowWriter::applyOrder(const QList<int> &order) const
{
    DownloadListModel &m = *m_model;
    Q_EMIT m.layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = m.persistentIndexList();
    QList<int> newPosition(m.count());
    QList<DownloadRow> sorted;
    sorted.reserve(m.count());
    for (int i = 0; i < m.count(); ++i) {
        sorted.append(std::move(m.m_rows[order.at(i)]));
        newPosition[order.at(i)] = i;
    }
    m.m_rows = std::move(sorted);
    reindex();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &idx : before)
        after.append(m.index(newPosition.at(idx.row()), idx.column()));
    m.changePersistentIndexList(before, after);
    Q_EMIT m.layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void RowWriter::reorderRows(const QList<RowId> &order) const
{
    DownloadListModel &m = *m_model;
    m.flushChanges();
    QList<DownloadRow> rows;
    rows.reserve(order.size());
    QSet<RowId> kept;
    for (RowId id : order) {
        const int position = m.positionOf(id);
        if (position >= 0 && !kept.contains(id)) {
            rows.append(m.m_rows.at(position));
            kept.insert(id);
        }
    }
    QList<RowId> removed;
    for (const DownloadRow &r : std::as_const(m.m_rows)) {
        if (!kept.contains(r.id)) {
            removed.append(r.id);
            retire(r);
        }
    }
    m.beginResetModel();
    m.m_rows = std::move(rows);
    m.m_keys.clear();
    for (const DownloadRow &r : std::as_const(m.m_rows))
        m.m_keys.insert(r.key, r.id);
    reindex();
    m.endResetModel();
    Q_EMIT m.rowsChanged();
    if (!removed.isEmpty())
        Q_EMIT m.rowsDropped(removed);
}
