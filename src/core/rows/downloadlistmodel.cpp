#include "core/rows/downloadlistmodel.h"

#include "core/common/clock.h"
#include "core/common/safetext.h"

#include <QSet>
#include <algorithm>
#include <vector>

QString DownloadRow::sizeText() const
{
    switch (sizeNote) {
    case SizeNote::WaitAgain:
        return rowtext::WaitAgain;
    case SizeNote::Cancelled:
        return rowtext::Cancelled;
    case SizeNote::NotFound:
        return rowtext::NotFound;
    case SizeNote::Unknown:
        return rowtext::UnknownSize;
    case SizeNote::RetryWait:
        return rowtext::retryWait(retry, retryLimit);
    case SizeNote::None:
        break;
    }
    return size >= 0 ? QString::number(size) : QString();
}

QString DownloadRow::downloadedText() const
{
    return downloaded >= 0 ? QString::number(downloaded) : QString();
}

QString rowtext::pdfNote(const PdfVerdict &verdict)
{
    using State = PdfVerdict::State;
    const QString pages = verdict.pages >= 0 ? QStringLiteral("，共 %1 页").arg(verdict.pages) : QString();
    switch (verdict.state) {
    case State::Whole:
        return QStringLiteral("PDF完好") + pages;
    case State::Repaired:
        return QStringLiteral("PDF已修复（交叉引用表已重建）") + pages;
    case State::Encrypted:
        return QStringLiteral("PDF已加密") + pages;
    case State::Damaged:
        return QStringLiteral("PDF已损坏：") + pdfVerdictCause(verdict);
    case State::NotChecked:
        break;
    }
    const QString cause = pdfVerdictCause(verdict);
    return cause.isEmpty() ? QString() : QStringLiteral("PDF未检查：") + cause;
}

QString percentNoteText(PercentNote note)
{
    switch (note) {
    case PercentNote::Full:
        return rowtext::Full;
    case PercentNote::Skipped:
        return rowtext::Skipped;
    case PercentNote::Held:
        return rowtext::Held;
    case PercentNote::None:
        break;
    }
    return {};
}

namespace {

// The whole percent the row's cell shows (100 for the finished note), -1 when it shows none.
qint64 shownPercent(const DownloadRow &row)
{
    if (row.percentNote == PercentNote::Full)
        return 100;
    if (row.percentNote != PercentNote::None || !row.percentShown || row.size <= 0 || row.downloaded < 0)
        return -1;
    // The whole part of the share, in integers so that large files are exact.
    return row.downloaded / row.size * 100 + row.downloaded % row.size * 100 / row.size;
}

} // namespace

QString DownloadRow::percentText() const
{
    if (percentNote != PercentNote::None)
        return percentNoteText(percentNote);
    const qint64 share = shownPercent(*this);
    return share < 0 ? QString() : QString::number(share) + u'%';
}

bool DownloadRow::progressEmpty() const
{
    return sizeText().isEmpty() && downloaded < 0 && percentText().isEmpty();
}

void DownloadRow::clearProgress()
{
    size = -1;
    sizeNote = SizeNote::None;
    downloaded = -1;
    percentShown = false;
    percentNote = PercentNote::None;
    speed = -1;
}

DownloadListModel::DownloadListModel(QObject *parent) : QAbstractTableModel(parent)
{
    qRegisterMetaType<RowId>();
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
        QStringLiteral("已下载数"), QStringLiteral("百分比"), QStringLiteral("保存路径"),
        QStringLiteral("速度")};
    return (column >= 0 && column < ColumnCount) ? headers.at(static_cast<size_t>(column)) : QString();
}

QString DownloadListModel::speedText(qint64 bytesPerSecond)
{
    if (bytesPerSecond < 0)
        return {};
    if (bytesPerSecond < 1024)
        return QStringLiteral("%1 B/s").arg(bytesPerSecond);
    if (bytesPerSecond < 1024 * 1024)
        return QStringLiteral("%1 KB/s").arg(bytesPerSecond / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MB/s").arg(bytesPerSecond / (1024.0 * 1024.0), 0, 'f', 1);
}

QString DownloadListModel::cellText(const DownloadRow &r, Column column)
{
    switch (column) {
    case ColName:
        return r.name;
    case ColType:
        return r.type;
    case ColSize:
        return r.sizeNote == SizeNote::RetryWait ? rowtext::retryWaitShort(r.retry, r.retryLimit)
                                                 : r.sizeText();
    // A failed row keeps no bytes (what a failed try wrote is gone, or kept only while a retry waits):
    // it shows none, and no share that would draw as a finished bar, whatever its last try reached.
    case ColDownloaded:
        return r.state == RowState::Failed ? QString() : r.downloadedText();
    case ColPercent:
        // A failed row says so, with its short reason, where a bar would be; one held by a pause waits.
        if (r.heldByPause())
            return rowtext::heldShort(r.wallHold);
        return r.state == RowState::Failed &&
                       (r.percentNote == PercentNote::None || r.percentNote == PercentNote::Full)
                   ? rowtext::failedShort(r.reason)
                   : r.percentText();
    case ColFolder:
        return r.folder;
    case ColSpeed:
        return r.state == RowState::Downloading ? speedText(r.speed) : QString();
    case ColumnCount:
        break;
    }
    return {};
}

int CellSortKey::compare(const CellSortKey &other) const
{
    if (numeric && other.numeric)
        return number < other.number ? -1 : (number > other.number ? 1 : 0);
    if (!numeric && !other.numeric)
        return QString::compare(folded, other.folded, Qt::CaseSensitive);
    // One number, one text: an empty cell sorts before the number, any other text after it.
    const int textAfter = (numeric ? other : *this).folded.isEmpty() ? -1 : 1;
    return numeric ? -textAfter : textAfter;
}

CellSortKey DownloadListModel::sortKey(const DownloadRow &r, Column column)
{
    switch (column) {
    case ColSize:
        if (r.sizeNote == SizeNote::None && r.size >= 0)
            return CellSortKey::ofNumber(r.size);
        break;
    case ColDownloaded:
        if (r.downloaded >= 0)
            return CellSortKey::ofNumber(r.downloaded);
        break;
    case ColPercent:
        if (const qint64 share = shownPercent(r); share >= 0)
            return CellSortKey::ofNumber(share);
        break;
    case ColSpeed:
        if (r.state == RowState::Downloading && r.speed >= 0)
            return CellSortKey::ofNumber(r.speed);
        break;
    default:
        break;
    }
    return CellSortKey::ofText(cellText(r, column));
}

QString DownloadListModel::cellText(int position, Column column) const
{
    return isValidRow(position) ? cellText(m_rows.at(position), column) : QString();
}

namespace {

// Why the row failed, or why it waits for another try; and the paper's page it went through.
QVariant toolTipOf(const DownloadRow &r)
{
    QStringList lines;
    if (r.heldByPause()) {
        lines.append(rowtext::heldWhy(r.wallHold));
    } else if (r.state == RowState::Waiting && r.sizeNote == SizeNote::RetryWait && !r.reason.isNone() &&
               r.retryDueMs >= 0) {
        // Whole seconds, rounded up: a wait that has not ended never reads 0.
        const qint64 leftMs = std::max<qint64>(0, r.retryDueMs - Clock::current().monotonicMs());
        const qint64 seconds = (leftMs + 999) / 1000;
        const double endsAt = Clock::current().secondsSinceMidnight() + static_cast<double>(seconds);
        lines.append(rowtext::retryIn(seconds, endsAt,
                                      r.retryWaitsForHost ? rowtext::SiteHold : waitReasonText(r.reason)));
    } else if ((r.state == RowState::Failed || r.sizeNote == SizeNote::RetryWait) && !r.reason.isNone()) {
        lines.append(reasonTextForWindow(r.reason));
    }
    if (r.state == RowState::Failed && !r.owned.isNone())
        lines.append(rowtext::earlierCopyKept(ShowableText(r.owned.path)));
    if (r.state == RowState::Done) {
        if (const QString note = rowtext::pdfNote(r.pdf); !note.isEmpty())
            lines.append(note);
    }
    if (!r.landingPage.isEmpty()) {
        lines.append(QStringLiteral("文献页面：") + ShowableText(WithoutCredentials(r.landingPage)));
        lines.append(QStringLiteral("全文地址：") + ShowableText(WithoutCredentials(r.fileAddress)));
    }
    return lines.isEmpty() ? QVariant() : QVariant(lines.join(u'\n'));
}

// The cell's value for sorting: numbers where the column holds one, else its text.
QVariant underlyingValueOf(const DownloadRow &r, DownloadListModel::Column column)
{
    switch (column) {
    case DownloadListModel::ColSize:
        if (r.sizeNote == SizeNote::None && r.size >= 0)
            return r.size;
        break;
    case DownloadListModel::ColDownloaded:
        if (r.downloaded >= 0)
            return r.downloaded;
        break;
    case DownloadListModel::ColPercent:
        // No bar for a failed row, whatever share its last try reached.
        if (const qint64 share = shownPercent(r); share >= 0 && r.state != RowState::Failed)
            return static_cast<double>(share);
        break;
    case DownloadListModel::ColSpeed:
        return r.speed;
    default:
        break;
    }
    return DownloadListModel::cellText(r, column);
}

} // namespace

QVariant DownloadListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count() || index.column() >= ColumnCount)
        return {};
    const DownloadRow &r = m_rows.at(index.row());
    const auto column = static_cast<Column>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(r, column);
    case Qt::DecorationRole:
        if (column == ColName) {
            const int s = static_cast<int>(r.shownState()) - 1;
            if (s >= 0 && s < 4)
                return m_decorations.at(static_cast<size_t>(s));
        }
        return {};
    case Qt::ToolTipRole:
        return toolTipOf(r);
    case StateRole:
        return static_cast<int>(r.state);
    case KeyRole:
        return r.key;
    case TagRole:
        return r.tag;
    case IdRole:
        return QVariant::fromValue(r.id);
    case ReasonRole:
        return QVariant::fromValue(r.reason);
    case UnderlyingDataRole:
        return underlyingValueOf(r, column);
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

const DownloadRow *DownloadListModel::find(RowId id) const
{
    const int position = positionOf(id);
    return position >= 0 ? &m_rows.at(position) : nullptr;
}

int DownloadListModel::positionOf(RowId id) const
{
    return m_positions.value(id, -1);
}

QList<RowId> DownloadListModel::idsAt(const QList<int> &positions) const
{
    QList<RowId> ids;
    ids.reserve(positions.size());
    for (int position : positions) {
        if (isValidRow(position))
            ids.append(m_rows.at(position).id);
    }
    return ids;
}

bool DownloadListModel::fileWrittenByAnother(const QString &path, const QString &key,
                                             const FileIdentity &seen) const
{
    if (!seen.isValid())
        return false;
    if (const DownloadRow *owner = find(m_owners.value(path, RowId::None)))
        return owner->key != key && !owner->owned.isNone() && owner->owned.identity == seen;
    const auto retired = m_retired.constFind(path);
    return retired != m_retired.cend() && retired->key != key && seen == retired->identity;
}

void DownloadListModel::markDirty(int position)
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

int DownloadListModel::统计未下载项数目() const
{
    return static_cast<int>(std::count_if(m_rows.cbegin(), m_rows.cend(),
                                          [](const DownloadRow &r) { return r.progressEmpty(); }));
}

bool DownloadListModel::检测是否下载列表完毕() const
{
    return std::all_of(m_rows.cbegin(), m_rows.cend(), [](const DownloadRow &r) {
        return r.state == RowState::Done || r.state == RowState::Failed;
    });
}

DownloadListModel::Totals DownloadListModel::totals() const
{
    Totals t;
    t.all = count();
    for (const DownloadRow &r : m_rows) {
        switch (r.shownState()) {
        case RowState::Waiting:
            ++t.waiting;
            break;
        case RowState::Downloading:
            ++t.downloading;
            break;
        case RowState::Done:
            ++t.done;
            break;
        case RowState::Failed:
            ++t.failed;
            break;
        }
    }
    return t;
}

QString DownloadListModel::totalsText(const Totals &t)
{
    return QStringLiteral("总数：%1|正在下载：%2|等待：%3|已完成：%4|失败：%5")
        .arg(t.all)
        .arg(t.downloading)
        .arg(t.waiting)
        .arg(t.done)
        .arg(t.failed);
}

QString DownloadListModel::totalsText() const
{
    return totalsText(totals());
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
