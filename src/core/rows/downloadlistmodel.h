#pragma once

#include "core/library/papermetadata.h"
#include "core/pdf/pdfverdict.h"
#include "core/rows/failurereason.h"
#include "core/rows/ownedfile.h"
#include "core/rows/rownaming.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QTimer>
#include <array>
#include <functional>

// A row's identity: given when the row is added, never reused, kept through sorting and shuffling.
enum class RowId : quint64 { None = 0 };
inline size_t qHash(RowId id, size_t seed = 0)
{
    return ::qHash(static_cast<quint64>(id), seed);
}
Q_DECLARE_METATYPE(RowId)

// State of a download row, shown as the row's icon (1 waiting, 2 downloading, 3 done, 4 failed).
enum class RowState { Waiting = 1, Downloading = 2, Done = 3, Failed = 4 };

// A failed row the queue holds while it pauses for the user: it met the site's wall and goes back to
// waiting on 继续, so it counts as waiting, not as failed, until the pause ends.
enum class WallHold { None, Verification, Login };

// A text that stands in the size cell instead of a byte count.
enum class SizeNote { None, WaitAgain, Cancelled, NotFound, Unknown, RetryWait };
// A text that stands in the percent cell instead of the share downloaded.
enum class PercentNote { None, Full, Skipped, Held };

// Texts of the cells, made only where the list is shown or printed.
namespace rowtext {
inline const QString WaitAgain = QStringLiteral("等待重新下载");
inline const QString Cancelled = QStringLiteral("下载取消");
inline const QString NotFound = QStringLiteral("文件不存在");
inline const QString UnknownSize = QStringLiteral("未知");
inline const QString Full = QStringLiteral("100%");
inline const QString Skipped = QStringLiteral("已存在，跳过");
inline const QString Held = QStringLiteral("已下载过");
// What a retry waits out when the site holds its host back.
inline const QString SiteHold = QStringLiteral("站点要求等待");
// A new copy failed and the file downloaded before is still there: "原文件已保留：/papers/x.pdf".
inline QString earlierCopyKept(const QString &path)
{
    return QStringLiteral("原文件已保留：") + path;
}
// "等待重试 (1/3)": the row waits for its first of three automatic retries.
inline QString retryWait(int retry, int limit)
{
    return QStringLiteral("等待重试 (%1/%2)").arg(retry).arg(limit);
}
// "重试 1/3": the same in the list's size cell, which is too narrow for the whole note.
inline QString retryWaitShort(int retry, int limit)
{
    return QStringLiteral("重试 %1/%2").arg(retry).arg(limit);
}
// "将在 42 秒后（12:00:42）重试：站点要求等待（HTTP 429）": how long a waiting row waits, when the wait
// ends (seconds since midnight) and what it waits out.
QString retryIn(qint64 seconds, double endsAt, const QString &why);
// A failed row's percent cell: "失败：文件不存在", "失败：网络错误", "失败" without a reason.
QString failedShort(const FailureReason &reason);
// A row held by the queue's pause: "等待验证" or "等待登录" in its percent cell, and why in its tooltip.
QString heldShort(WallHold hold);
QString heldWhy(WallHold hold);
// What the structure check found in a finished PDF: "PDF完好，共 12 页", "PDF已修复，共 3 页", ...; empty
// for a file that is no PDF or was not checked without a cause.
QString pdfNote(const PdfVerdict &verdict);
} // namespace rowtext

// The text of a percent note ("100%", "已存在，跳过", "已下载过"); empty for none.
QString percentNoteText(PercentNote note);

struct DownloadRow
{
    RowId id = RowId::None; // set by the list when the row is added
    QString key;            // the file's address, unique in the list
    QString name;           // file name without folder and extension
    QString type;           // extension without dot
    QString folder;         // ends in "/" once the scheduler has seen the row
    QString tag;            // result page the link came from
    RowState state = RowState::Waiting;
    qint64 size = -1; // bytes; -1 leaves the cell empty
    SizeNote sizeNote = SizeNote::None;
    qint64 downloaded = -1;    // bytes written; -1 leaves the cell empty
    bool percentShown = false; // the percent cell shows downloaded ÷ size
    PercentNote percentNote = PercentNote::None;
    FailureReason reason; // why the last attempt failed
    qint64 speed = -1;    // bytes a second while downloading; -1 unknown
    int retry = 0;        // automatic retries used on this attempt (0: none yet)
    int retryLimit = 0;   // automatic retries allowed; shown while the row waits for one
    // The row's file came damaged once and is fetched again whole; a second damaged copy fails the row.
    bool refetchedWhole = false;
    WallHold wallHold = WallHold::None; // counts only while the row is failed
    // The structure check's verdict on the row's last file (NotChecked without a cause: none, or no PDF).
    PdfVerdict pdf;
    // The file this row wrote itself in this list (none until it has). While the row is downloaded again
    // it is the earlier copy, kept until the new one takes its place; a row whose new copy failed still
    // owns it, and names it.
    OwnedFile owned;
    // The SHA-256 (32 bytes) of the owned file's content as the transfer wrote it; empty when not known.
    // It names the file only while the file is still owned.identity.
    QByteArray ownedSha256;
    // When the retry the row waits for may start (monotonic ms on the program's clock); -1 unknown.
    qint64 retryDueMs = -1;
    // The retry waits out the site's hold on its host (longer than the row's own wait would be).
    bool retryWaitsForHost = false;
    // The name and folder the row was handed over with: every fresh start takes its name from them.
    QString givenName;
    QString givenFolder;
    // The paper's own web page the row went through and the full-text address it named (both empty
    // while the address answered with the file itself), and what such pages declared about the paper.
    QString landingPage;
    QString fileAddress;
    PaperMetadata declared;
    // How the name follows what is known of the paper (none for rows that were not handed over).
    RowNaming naming;
    // A row from a reference list: the DOI or arXiv id it is listed under, and which of its sources gave
    // the address asked now (its own file address, a finder, the arXiv, the DOI's resolver, ...).
    QString identifier;
    QString origin;

    // The size cell's text in full (the list itself shows a waiting row's note short: cellText).
    QString sizeText() const;
    QString downloadedText() const;
    QString percentText() const;
    // Failed, but held by the queue's pause: it waits for 继续.
    bool heldByPause() const { return state == RowState::Failed && wallHold != WallHold::None; }
    // The state the row is counted and shown in: a row held by the pause waits.
    RowState shownState() const { return heldByPause() ? RowState::Waiting : state; }
    // Size, downloaded and percent cells all empty.
    bool progressEmpty() const;
    // Empties size, downloaded and percent (and what goes with them).
    void clearProgress();
};
// Its parts are Qt's implicitly shared values and plain numbers, none pointing into the row itself: a
// long list grows in place (realloc) instead of holding every row twice while it is copied.
Q_DECLARE_TYPEINFO(DownloadRow, Q_RELOCATABLE_TYPE);

// What a cell sorts by: the number under it where the cell shows one (bytes, the share, the speed), else
// its text without regard to case. Numbers sort after an empty cell and before any text.
struct CellSortKey
{
    bool numeric = false;
    qint64 number = 0;
    QString folded; // the text, case-folded once

    static CellSortKey ofNumber(qint64 value) { return {true, value, {}}; }
    static CellSortKey ofText(const QString &text) { return {false, 0, text.toCaseFolded()}; }
    // Below, at or above zero as this key sorts before, with or after the other.
    int compare(const CellSortKey &other) const;
};

// The download list: the single store of the download queue. Rows are found by id; positions
// (0-based) exist only for the views and for commands taken from them. The model only shows the rows;
// they change through the RowWriter that the queue holds.
class DownloadListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { ColName, ColType, ColSize, ColDownloaded, ColPercent, ColFolder, ColSpeed, ColumnCount };
    enum Role { StateRole = Qt::UserRole + 1, KeyRole, TagRole, UnderlyingDataRole, IdRole, ReasonRole };

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
    RowId idOfKey(const QString &key) const { return m_keys.value(key, RowId::None); }
    int positionOfKey(const QString &key) const { return positionOf(idOfKey(key)); }

    // By identity: nullptr / -1 / None when the row is gone.
    const DownloadRow *find(RowId id) const;
    int positionOf(RowId id) const;
    RowId idAt(int position) const { return isValidRow(position) ? m_rows.at(position).id : RowId::None; }
    QList<RowId> idsAt(const QList<int> &positions) const;

    // Whether the file at path, as a look saw it, is one that another row of this list wrote (a row since
    // removed counts, a row of the same address does not), still as it was written.
    bool fileWrittenByAnother(const QString &path, const QString &key, const FileIdentity &seen) const;

    // The text of a cell as the list shows it.
    QString cellText(int position, Column column) const;
    static QString cellText(const DownloadRow &row, Column column);
    // What the cell sorts by when its header is clicked.
    static CellSortKey sortKey(const DownloadRow &row, Column column);

    // Rows whose size, downloaded and percent cells are all empty, whatever their state.
    int 统计未下载项数目() const;
    // True when every row is done or failed (also for an empty list).
    bool 检测是否下载列表完毕() const;
    struct Totals
    {
        int all = 0, waiting = 0, downloading = 0, done = 0, failed = 0;
    };
    Totals totals() const;
    // "总数：N|正在下载：d|等待：w|已完成：c|失败：f"
    QString totalsText() const;
    static QString totalsText(const Totals &totals);
    // "记录数：N"
    QString recordCountText() const;

    // Pictures for the four states, installed by the window (the model itself stays free of Gui).
    void setStateDecorations(const std::array<QVariant, 4> &decorations);

    // Sends pending cell changes to the views now.
    void flushChanges();

    static QString headerText(int column);
    static QString speedText(qint64 bytesPerSecond);

Q_SIGNALS:
    void rowsChanged(); // count changed (record-count label)
    // Rows left the list (removed or cleared); whoever serves them lets them go.
    void rowsDropped(const QList<RowId> &ids);
    // A row reached Done or Failed.
    void rowFinished(RowId id);

private:
    friend class RowWriter; // the rows' one writer
    void markDirty(int position);

    QList<DownloadRow> m_rows;
    QHash<QString, RowId> m_keys;
    QHash<RowId, int> m_positions;
    QHash<QString, RowId> m_owners; // path of an owned file -> the row that wrote it
    struct Retired
    {
        FileIdentity identity;
        QString key;
    };
    QHash<QString, Retired> m_retired; // files written by rows no longer listed
    quint64 m_nextId = 1;
    std::array<QVariant, 4> m_decorations;
    int m_dirtyFirst = -1;
    int m_dirtyLast = -1;
    int m_waitingFrom = 0; // no row before this position is waiting
    QTimer m_flushTimer;
};
