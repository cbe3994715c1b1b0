#include "core/librarymodel/librarytablemodel.h"

#include "core/library/librarythread.h"
#include "core/library/paperlibrary.h"

#include <QFileInfo>
#include <QLocale>
#include <memory>

namespace {

struct FirstRead
{
    qint64 count = 0;
    qint64 version = -1;
    QList<LibraryRow> rows;
};

QString sizeText(qint64 bytes)
{
    if (bytes < 0)
        return {};
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

} // namespace

QString paperStateText(PaperState state)
{
    switch (state) {
    case PaperState::Held:
        return QStringLiteral("已下载");
    case PaperState::Missing:
        return QStringLiteral("文件缺失");
    case PaperState::Damaged:
        return QStringLiteral("文件已损坏");
    case PaperState::NotDownloaded:
        return QStringLiteral("未下载");
    case PaperState::NoFullText:
        return QStringLiteral("无全文");
    }
    return {};
}

QString libraryCellText(const LibraryRow &row, LibraryColumn column)
{
    switch (column) {
    case LibraryColumn::Title:
        return row.title;
    case LibraryColumn::Authors:
        return row.authors;
    case LibraryColumn::Year:
        return row.year;
    case LibraryColumn::Source:
        return row.source;
    case LibraryColumn::Doi:
        return row.doi;
    case LibraryColumn::State:
        return paperStateText(row.state);
    case LibraryColumn::File:
        return row.filePath.isEmpty() ? QString() : QFileInfo(row.filePath).fileName();
    case LibraryColumn::Size:
        return sizeText(row.size);
    case LibraryColumn::Pages:
        return row.pages < 0 ? QString() : QString::number(row.pages);
    case LibraryColumn::DownloadedAt:
        return row.downloadedAt.isValid()
                   ? row.downloadedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                   : QString();
    }
    return {};
}

namespace {

QVariant typedValue(const LibraryRow &row, LibraryColumn column)
{
    switch (column) {
    case LibraryColumn::State:
        return static_cast<int>(row.state);
    case LibraryColumn::File:
        return row.filePath;
    case LibraryColumn::Size:
        return row.size;
    case LibraryColumn::Pages:
        return row.pages;
    case LibraryColumn::DownloadedAt:
        return row.downloadedAt;
    default:
        return libraryCellText(row, column);
    }
}

} // namespace

LibraryTableModel::LibraryTableModel(LibraryThread &thread, QObject *parent)
    : QAbstractTableModel(parent), m_thread(thread)
{
}

int LibraryTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_count);
}

int LibraryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kLibraryColumnCount;
}

std::optional<LibraryRow> LibraryTableModel::rowAt(int row) const
{
    if (row < 0 || row >= m_count)
        return std::nullopt;
    const int page = row / kPageRows;
    const auto found = m_pages.constFind(page);
    if (found == m_pages.cend()) {
        requestPage(page);
        return std::nullopt;
    }
    const qsizetype at = row % kPageRows;
    return at < found->size() ? std::optional(found->at(at)) : std::nullopt;
}

QVariant LibraryTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() >= kLibraryColumnCount)
        return {};
    const std::optional<LibraryRow> row = rowAt(index.row());
    if (!row)
        return {};
    const auto column = static_cast<LibraryColumn>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return libraryCellText(*row, column);
    case Qt::ToolTipRole:
        return column == LibraryColumn::File ? row->filePath : QVariant();
    case ValueRole:
        return typedValue(*row, column);
    case AddressRole:
        return row->address;
    default:
        return {};
    }
}

QVariant LibraryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char16_t *const titles[kLibraryColumnCount] = {
        u"标题", u"作者", u"年份", u"来源", u"DOI", u"状态", u"文件", u"大小", u"页数", u"下载时间"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kLibraryColumnCount)
        return {};
    return QString::fromUtf16(titles[section]);
}

void LibraryTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= kLibraryColumnCount)
        return;
    m_query.sortColumn = static_cast<LibraryColumn>(column);
    m_query.descending = order == Qt::DescendingOrder;
    refresh();
}

void LibraryTableModel::setFilter(const QString &text)
{
    if (text == m_query.filter)
        return;
    m_query.filter = text;
    refresh();
}

void LibraryTableModel::refresh()
{
    const int generation = ++m_generation;
    m_loading = true;
    auto read = std::make_shared<FirstRead>();
    m_thread.run(
        [query = m_query, read](PaperLibrary &library) {
            const std::optional<qint64> count = libraryview::count(library, query);
            const auto rows = count ? libraryview::rows(library, query, 0, kPageRows) : std::nullopt;
            const std::optional<qint64> version = rows ? libraryview::dataVersion(library) : std::nullopt;
            if (!version)
                return false;
            *read = FirstRead{*count, *version, *rows};
            return true;
        },
        this,
        [this, generation, read](const LibraryThread::Answer &answer) {
            if (generation != m_generation)
                return; // a newer query is on its way
            m_loading = false;
            if (!answer.ok) {
                emit readFailed(answer.error);
                return;
            }
            beginResetModel();
            m_count = read->count;
            m_dataVersion = read->version;
            m_pages = {{0, read->rows}};
            m_requested.clear();
            endResetModel();
            emit loaded();
        });
}

void LibraryTableModel::refreshIfChanged()
{
    auto version = std::make_shared<qint64>(-1);
    const int generation = m_generation;
    m_thread.run(
        [version](PaperLibrary &library) {
            const std::optional<qint64> read = libraryview::dataVersion(library);
            *version = read.value_or(-1);
            return read.has_value();
        },
        this,
        [this, version, generation](const LibraryThread::Answer &answer) {
            if (answer.ok && generation == m_generation && *version != m_dataVersion)
                refresh();
        });
}

void LibraryTableModel::requestPage(int page) const
{
    if (m_requested.contains(page))
        return;
    forgetFarPages(page);
    m_requested.insert(page);
    auto rows = std::make_shared<QList<LibraryRow>>();
    auto *self = const_cast<LibraryTableModel *>(this);
    m_thread.run(
        [query = m_query, page, rows](PaperLibrary &library) {
            std::optional<QList<LibraryRow>> read =
                libraryview::rows(library, query, qint64(page) * kPageRows, kPageRows);
            if (read)
                *rows = std::move(*read);
            return read.has_value();
        },
        self,
        [self, generation = m_generation, page, rows](const LibraryThread::Answer &answer) {
            if (!answer.ok) {
                if (generation == self->m_generation)
                    self->m_requested.remove(page); // asked again when next shown
                emit self->readFailed(answer.error);
                return;
            }
            self->pageArrived(generation, page, *rows);
        });
}

void LibraryTableModel::pageArrived(int generation, int page, const QList<LibraryRow> &rows)
{
    if (generation != m_generation || !m_requested.contains(page))
        return;
    m_pages.insert(page, rows);
    const int first = page * kPageRows;
    const int last = std::min<qint64>(m_count, qint64(first) + rows.size()) - 1;
    if (last >= first)
        emit dataChanged(index(first, 0), index(last, kLibraryColumnCount - 1));
}

void LibraryTableModel::forgetFarPages(int nearPage) const
{
    while (m_pages.size() >= kKeptPages) {
        int farthest = -1;
        for (auto it = m_pages.cbegin(); it != m_pages.cend(); ++it) {
            if (farthest < 0 || std::abs(it.key() - nearPage) > std::abs(farthest - nearPage))
                farthest = it.key();
        }
        m_pages.remove(farthest);
        m_requested.remove(farthest);
    }
}
