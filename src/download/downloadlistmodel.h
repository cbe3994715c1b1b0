#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QTimer>

#include <array>
#include <functional>

// State of a download row, shown as the row's icon (1 waiting, 2 downloading, 3 done, 4 failed).
enum class RowState { Waiting = 1, Downloading = 2, Done = 3, Failed = 4 };

struct DownloadRow
{
    QString key; // the file's address, unique in the list
    QString name; // file name without folder and extension
    QString type; // extension without dot
    QString size;
    QString downloaded;
    QString percent;
    QString folder; // ends in "/" once the scheduler has seen the row
    QString tag; // result page the link came from
    RowState state = RowState::Waiting;
};

// Texts the engines and the scheduler write into the cells.
namespace rowtext {
inline const QString WaitAgain = QStringLiteral("等待重新下载");
inline const QString Cancelled = QStringLiteral("下载取消");
inline const QString NotFound = QStringLiteral("文件不存在");
inline const QString UnknownSize = QStringLiteral("未知");
inline const QString Full = QStringLiteral("100%");
inline const QString Skipped = QStringLiteral("已存在，跳过");
} // namespace rowtext

// The download list: the single store of the download queue. Rows are addressed by position (0-based).
class DownloadListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ColName, ColType, ColSize, ColDownloaded, ColPercent, ColFolder, ColumnCount };
    enum Role { StateRole = Qt::UserRole + 1, KeyRole, TagRole, UnderlyingDataRole };

    explicit DownloadListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    int count() const { return static_cast<int>(m_rows.size()); }
    const DownloadRow &row(int position) const { return m_rows.at(position); }
    bool isValidRow(int position) const { return position >= 0 && position < count(); }
    bool containsKey(const QString &key) const { return m_keys.contains(key); }
    int positionOfKey(const QString &key) const; // -1 when absent (linear)

    // Appends a row; false (and nothing changes) when a row with the same key exists.
    bool addRow(const DownloadRow &row);
    void removeRowAt(int position);
    // Removes every row for which the predicate holds, walking from the first row.
    int removeRowsIf(const std::function<bool(const DownloadRow &)> &match);
    void clear();

    void setName(int position, const QString &name);
    void setCell(int position, Column column, const QString &text);
    void setState(int position, RowState state);
    // Empties size, downloaded and percent.
    void clearProgress(int position);
    QString cell(int position, Column column) const;

    // Rows reordered by a stable sort on the comparison (one layout change).
    void sortRows(const std::function<bool(const DownloadRow &, const DownloadRow &)> &less);
    // Replaces every row in one go (used by commands that reorder the whole list).
    void replaceRows(QList<DownloadRow> rows);

    // Rows whose size, downloaded and percent cells are all empty, whatever their state.
    int 统计未下载项数目() const;
    // True when every row is done or failed (also for an empty list).
    bool 检测是否下载列表完毕() const;
    // "总数：N|正在下载：d|等待：w|已完成：c|失败：f"
    QString totalsText() const;
    // "记录数：N"
    QString recordCountText() const;
    // Empties the list (window load).
    void ResetDownloadList();

    // Pictures for the four states, installed by the window (the model itself stays free of Gui).
    void setStateDecorations(const std::array<QVariant, 4> &decorations);

    // Sends pending cell changes to the views now.
    void flushChanges();

    static QString headerText(int column);

Q_SIGNALS:
    void rowsChanged(); // count changed (record-count label)

private:
    QString &cellRef(DownloadRow &row, Column column);
    void markDirty(int position, int firstColumn, int lastColumn);

    QList<DownloadRow> m_rows;
    QHash<QString, int> m_keys; // key -> number of rows holding it (always 1)
    std::array<QVariant, 4> m_decorations;
    int m_dirtyFirst = -1;
    int m_dirtyLast = -1;
    QTimer m_flushTimer;
};
