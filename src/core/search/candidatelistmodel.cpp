#include "core/search/candidatelistmodel.h"

#include "core/common/safetext.h"

#include <array>

CandidateListModel::CandidateListModel(QObject *parent) : QAbstractTableModel(parent) {}

int CandidateListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int CandidateListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString CandidateListModel::headerText(int column)
{
    static const std::array<QString, ColumnCount> headers{
        QStringLiteral("标题"),     QStringLiteral("类型"), QStringLiteral("分析状态"),
        QStringLiteral("保存路径"), QStringLiteral("作者"), QStringLiteral("年份")};
    return (column >= 0 && column < ColumnCount) ? headers.at(static_cast<size_t>(column)) : QString();
}

QVariant CandidateListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !isValidRow(index.row()) || index.column() >= ColumnCount)
        return {};
    const CandidateRow &r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case ColTitle:
            return WithoutCredentials(r.title);
        case ColType:
            return r.type;
        case ColStatus:
            return r.status;
        case ColFolder:
            return r.folder;
        case ColAuthors:
            return r.metadata().authors();
        case ColYear:
            return r.metadata().year();
        }
        return {};
    case KeyRole:
        return r.key;
    case TagRole:
        return r.tag;
    default:
        return {};
    }
}

QVariant CandidateListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return headerText(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags CandidateListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool CandidateListModel::加入LV1(const QString &title, const QString &key, const QString &tag,
                                 const QString &type, const QString &saveFolder, const PaperCells &cells)
{
    if (m_keys.contains(key))
        return false;
    const int position = count();
    beginInsertRows({}, position, position);
    m_rows.append(CandidateRow{key, title, type, QString(), saveFolder, tag, cells});
    m_keys.insert(key, true);
    endInsertRows();
    return true;
}

void CandidateListModel::setStatus(int position, const QString &status)
{
    if (!isValidRow(position) || m_rows[position].status == status)
        return;
    m_rows[position].status = status;
    const QModelIndex cell = index(position, ColStatus);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole});
}

int CandidateListModel::removeRowsIf(const std::function<bool(int, const CandidateRow &)> &match)
{
    int removed = 0;
    int position = 0;
    while (position < count()) {
        if (!match(position, m_rows.at(position))) {
            ++position;
            continue;
        }
        beginRemoveRows({}, position, position);
        m_keys.remove(m_rows.at(position).key);
        m_rows.removeAt(position);
        endRemoveRows();
        ++removed;
    }
    return removed;
}

void CandidateListModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    m_keys.clear();
    endResetModel();
}
