#include "download/downloadlistmodel.h"

#include "common/filenames.h"

#include <algorithm>

DownloadListModel::DownloadListModel(QObject *parent) : QAbstractTableModel(parent)
{
    // Six live transfers write progress many times a second; views repaint at most 10 times a second.
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(100);
    connect(&m_flushTimer, &QTimer::timeout, this, &DownloadListModel::flushChanges);
}

int DownloadListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int DownloadListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString DownloadListModel::headerText(int column)
{
    static const std::array<QString, ColumnCount> headers{
        QStringLiteral("名称"),     QStringLiteral("类型"),   QStringLiteral("文件大小"),
        QStringLiteral("已下载数"), QStringLiteral("百分比"), QStringLiteral("保存路径")};
    return (column >= 0 && column < ColumnCount) ? headers.at(static_cast<size_t>(column)) : QString();
}

QString DownloadListModel::cell(int position, Column column) const
{
    if (column == ColumnCount)
        return {};
    return const_cast<DownloadListModel *>(this)->cellRef(const_cast<DownloadRow &>(m_rows.at(position)), column);
}

QString &DownloadListModel::cellRef(DownloadRow &r, Column column)
{
    switch (column) {
    case ColName:
        return r.name;
    case ColType:
        return r.type;
    case ColSize:
        return r.size;
    case ColDownloaded:
        return r.downloaded;
    case ColPercent:
        return r.percent;
    case ColFolder:
    case ColumnCount:
        break;
    }
    return r.folder;
}

QVariant DownloadListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count() || index.column() >= ColumnCount)
        return {};
    const DownloadRow &r = m_rows.at(index.row());
    const auto column = static_cast<Column>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return cell(index.row(), column);
    case Qt::DecorationRole:
        if (column == ColName) {
            const int s = static_cast<int>(r.state) - 1;
            if (s >= 0 && s < 4)
                return m_decorations.at(static_cast<size_t>(s));
        }
        return {};
    case StateRole:
        return static_cast<int>(r.state);
    case KeyRole:
        return r.key;
    case TagRole:
        return r.tag;
    case UnderlyingDataRole: {
        const QString text = cell(index.row(), column);
        if (column == ColSize || column == ColDownloaded || column == ColPercent) {
            double value = 0;
            QString digits = text;
            if (column == ColPercent)
                digits.remove(u'%');
            if (!digits.isEmpty() && LooksNumeric(digits, &value))
                return value;
        }
        return text;
    }
    default:
        return {};
    }
}

QVariant DownloadListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return headerText(section);
    return {};
}

Qt::ItemFlags DownloadListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

int DownloadListModel::positionOfKey(const QString &key) const
{
    if (!m_keys.contains(key))
        return -1;
    for (int i = 0; i < count(); ++i) {
        if (m_rows.at(i).key == key)
            return i;
    }
    return -1;
}

bool DownloadListModel::addRow(const DownloadRow &newRow)
{
    if (m_keys.contains(newRow.key))
        return false;
    flushChanges();
    beginInsertRows({}, count(), count());
    m_rows.append(newRow);
    m_keys.insert(newRow.key, 1);
    endInsertRows();
    Q_EMIT rowsChanged();
    return true;
}

void DownloadListModel::removeRowAt(int position)
{
    if (!isValidRow(position))
        return;
    flushChanges();
    beginRemoveRows({}, position, position);
    m_keys.remove(m_rows.at(position).key);
    m_rows.removeAt(position);
    endRemoveRows();
    Q_EMIT rowsChanged();
}

int DownloadListModel::removeRowsIf(const std::function<bool(const DownloadRow &)> &match)
{
    flushChanges();
    int removed = 0;
    for (int i = 0; i < count();) {
        if (!match(m_rows.at(i))) {
            ++i;
            continue;
        }
        // Remove a whole run of matching rows with one notification.
        int last = i;
        while (last + 1 < count() && match(m_rows.at(last + 1)))
            ++last;
        beginRemoveRows({}, i, last);
        for (int k = i; k <= last; ++k)
            m_keys.remove(m_rows.at(k).key);
        m_rows.remove(i, last - i + 1);
        endRemoveRows();
        removed += last - i + 1;
    }
    if (removed > 0)
        Q_EMIT rowsChanged();
    return removed;
}

void DownloadListModel::clear()
{
    flushChanges();
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    m_keys.clear();
    endResetModel();
    Q_EMIT rowsChanged();
}

void DownloadListModel::ResetDownloadList()
{
    clear();
}

void DownloadListModel::setName(int position, const QString &name)
{
    setCell(position, ColName, name);
}

void DownloadListModel::setCell(int position, Column column, const QString &text)
{
    if (!isValidRow(position) || column == ColumnCount)
        return;
    QString &target = cellRef(m_rows[position], column);
    if (target == text)
        return;
    target = text;
    markDirty(position, column, column);
}

void DownloadListModel::setState(int position, RowState state)
{
    if (!isValidRow(position) || m_rows.at(position).state == state)
        return;
    m_rows[position].state = state;
    markDirty(position, ColName, ColName);
}

void DownloadListModel::clearProgress(int position)
{
    setCell(position, ColSize, {});
    setCell(position, ColDownloaded, {});
    setCell(position, ColPercent, {});
}

void DownloadListModel::markDirty(int position, int, int)
{
    m_dirtyFirst = m_dirtyFirst < 0 ? position : std::min(m_dirtyFirst, position);
    m_dirtyLast = std::max(m_dirtyLast, position);
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void DownloadListModel::flushChanges()
{
    m_flushTimer.stop();
    if (m_dirtyFirst < 0)
        return;
    const int first = std::min(m_dirtyFirst, count() - 1);
    const int last = std::min(m_dirtyLast, count() - 1);
    m_dirtyFirst = m_dirtyLast = -1;
    if (first < 0 || last < first)
        return;
    Q_EMIT dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

void DownloadListModel::sortRows(const std::function<bool(const DownloadRow &, const DownloadRow &)> &less)
{
    flushChanges();
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<int> order(count());
    for (int i = 0; i < count(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return less(m_rows.at(a), m_rows.at(b)); });
    QList<int> newPosition(count());
    QList<DownloadRow> sorted;
    sorted.reserve(count());
    for (int i = 0; i < count(); ++i) {
        sorted.append(m_rows.at(order.at(i)));
        newPosition[order.at(i)] = i;
    }
    m_rows = std::move(sorted);
    QModelIndexList after;
    for (const QModelIndex &idx : before)
        after.append(index(newPosition.at(idx.row()), idx.column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void DownloadListModel::replaceRows(QList<DownloadRow> rows)
{
    flushChanges();
    beginResetModel();
    m_rows = std::move(rows);
    m_keys.clear();
    for (const DownloadRow &r : std::as_const(m_rows))
        m_keys.insert(r.key, 1);
    endResetModel();
    Q_EMIT rowsChanged();
}

int DownloadListModel::统计未下载项数目() const
{
    return static_cast<int>(std::count_if(m_rows.cbegin(), m_rows.cend(), [](const DownloadRow &r) {
        return r.size.isEmpty() && r.downloaded.isEmpty() && r.percent.isEmpty();
    }));
}

bool DownloadListModel::检测是否下载列表完毕() const
{
    return std::all_of(m_rows.cbegin(), m_rows.cend(), [](const DownloadRow &r) {
        return r.state == RowState::Done || r.state == RowState::Failed;
    });
}

QString DownloadListModel::totalsText() const
{
    int waiting = 0, downloading = 0, done = 0, failed = 0;
    for (const DownloadRow &r : m_rows) {
        switch (r.state) {
        case RowState::Waiting:
            ++waiting;
            break;
        case RowState::Downloading:
            ++downloading;
            break;
        case RowState::Done:
            ++done;
            break;
        case RowState::Failed:
            ++failed;
            break;
        }
    }
    return QStringLiteral("总数：%1|正在下载：%2|等待：%3|已完成：%4|失败：%5")
        .arg(count())
        .arg(downloading)
        .arg(waiting)
        .arg(done)
        .arg(failed);
}

QString DownloadListModel::recordCountText() const
{
    return QStringLiteral("记录数：%1").arg(count());
}

void DownloadListModel::setStateDecorations(const std::array<QVariant, 4> &decorations)
{
    m_decorations = decorations;
    if (count() > 0)
        Q_EMIT dataChanged(index(0, ColName), index(count() - 1, ColName), {Qt::DecorationRole});
}
