#pragma once

#include "core/library/libraryview.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <optional>

class LibraryThread;

// The paper library as a table: one row per paper, the columns of LibraryColumn. It never holds the whole
// table: the number of rows and a page of them at a time are read on the library's thread (LibraryThread)
// and arrive as events, so the event loop's thread never waits for the disk; a row whose page is on its
// way shows empty until it comes. Sorting and the filter are the library's (SQL) work; a new order or
// filter reads afresh. refreshIfChanged() reads afresh when the file was written since the last read
// (by another program, or by this one's own writer).
class LibraryTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Role {
        ValueRole = Qt::UserRole, // the typed value: PaperState as int, size as qint64, QDateTime, ...
        AddressRole,              // the paper's address, in every column
    };
    static constexpr int kPageRows = 200;
    static constexpr int kKeptPages = 40; // pages kept read; those farthest from the last one asked go

    explicit LibraryTableModel(LibraryThread &thread, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    void setFilter(const QString &text);
    LibraryQuery query() const { return m_query; }
    void refresh();
    void refreshIfChanged();
    // The row when its page has been read.
    std::optional<LibraryRow> rowAt(int row) const;
    // A read of the current query's rows is on its way.
    bool isLoading() const { return m_loading; }

signals:
    // The number of rows and the first page of the current query have been read.
    void loaded();
    void readFailed(const QString &message);

private:
    void requestPage(int page) const;
    void pageArrived(int generation, int page, const QList<LibraryRow> &rows);
    void forgetFarPages(int nearPage) const;

    LibraryThread &m_thread;
    LibraryQuery m_query;
    int m_generation = 0;
    bool m_loading = false;
    qint64 m_count = 0;
    qint64 m_dataVersion = -1;
    mutable QHash<int, QList<LibraryRow>> m_pages;
    mutable QSet<int> m_requested;
};

// The state as the table shows it.
QString paperStateText(PaperState state);
// A column's value of a row as the table shows it (plain text).
QString libraryCellText(const LibraryRow &row, LibraryColumn column);
