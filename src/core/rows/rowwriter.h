#pragma once

#include "core/rows/downloadlistmodel.h"

#include <QList>
#include <functional>

class DownloadQueue;
struct TestRows;

// The only way to change the rows of a download list. The queue makes one for its list and hands it to
// what it owns (the scheduler, the list commands, the hand-over); everyone else reads the list through
// the model. A writer is a handle: copies write the same list.
class RowWriter
{
public:
    DownloadListModel *model() const { return m_model; }
    const DownloadListModel &list() const { return *m_model; }

    // Appends a row under a new id; None (and nothing changes) when a row with the same key exists.
    RowId addRow(DownloadRow row) const;
    // Appends rows as addRow does, with one notification for all of them; the ids of those added.
    QList<RowId> addRows(QList<DownloadRow> rows) const;
    // Changes the row with this id; false when it is gone. Views hear of it in the next batch.
    bool update(RowId id, const std::function<void(DownloadRow &)> &change) const;
    bool setState(RowId id, RowState state) const;
    bool setName(RowId id, const QString &name) const;
    bool setType(RowId id, const QString &type) const;
    bool setFolder(RowId id, const QString &folder) const;
    bool clearProgress(RowId id) const;

    bool removeRow(RowId id) const;
    // Removes every row for which the predicate holds; the ids removed.
    QList<RowId> removeRowsIf(const std::function<bool(const DownloadRow &)> &match) const;
    void clear() const;
    // Empties the list (window load).
    void ResetDownloadList() const { clear(); }
    // Rows reordered by a stable sort on the comparison (one layout change).
    void sortRows(const std::function<bool(const DownloadRow &, const DownloadRow &)> &less) const;
    // Rows reordered by a stable sort on a text taken once from each row, compared without regard to case.
    void sortRowsByText(const std::function<QString(const DownloadRow &)> &key, bool ascending) const;
    // Rows reordered by a stable sort on a key taken once from each row.
    void sortRowsByKey(const std::function<CellSortKey(const DownloadRow &)> &key, bool ascending) const;
    // The same rows (same ids) in a new order; rows not among them are removed.
    void reorderRows(const QList<RowId> &order) const;

    // No row before this position is waiting: a search for the next row to fetch starts there.
    int waitingFrom() const { return m_model->m_waitingFrom; }
    // The row at this position, the first that may wait, was seen not waiting; the search passes it
    // from now on (unless a row before it has begun to wait meanwhile).
    void passedNotWaiting(int position) const
    {
        if (m_model->m_waitingFrom == position)
            m_model->m_waitingFrom = position + 1;
    }

private:
    friend class DownloadQueue;
    friend struct TestRows;
    explicit RowWriter(DownloadListModel &model) : m_model(&model) {}

    // Appends the row, within an insertion begun, under a new id with the name and folder it was given.
    RowId appendRow(DownloadRow row) const;
    void reindex() const;
    // Puts the rows in this order of their present positions (one layout change).
    void applyOrder(const QList<int> &order) const;
    void noteOwner(RowId id, const QString &before) const;
    // Rows that leave the list keep their claim on the files they wrote.
    void retire(const DownloadRow &row) const;
    // A failed row that owns a file names that file.
    static void nameOwnedFile(DownloadRow &r);

    DownloadListModel *m_model;
};
