#include "core/queue/queuekeeper.h"

#include "core/library/paperlibrary.h"

namespace {

bool isFinished(const QueueRow &row)
{
    return row.state == static_cast<int>(RowState::Done);
}

// The note of a finished row: the text its percent cell showed instead of the share.
QString noteOf(const DownloadRow &row)
{
    return percentNoteText(row.percentNote);
}

PercentNote percentNoteFrom(const QString &note)
{
    if (note == rowtext::Full)
        return PercentNote::Full;
    if (note == rowtext::Skipped)
        return PercentNote::Skipped;
    if (note == rowtext::Held)
        return PercentNote::Held;
    return PercentNote::None;
}

} // namespace

QueueRow queueRowFrom(const DownloadRow &row)
{
    QueueRow saved;
    saved.address = row.key;
    saved.name = row.name;
    saved.type = row.type;
    saved.folder = row.folder;
    saved.tag = row.tag;
    saved.state = static_cast<int>(row.state);
    saved.givenName = row.givenName;
    saved.givenFolder = row.givenFolder;
    if (row.state == RowState::Done) {
        saved.totalBytes = row.size;
        saved.receivedBytes = std::max<qint64>(0, row.downloaded);
        saved.note = noteOf(row);
        if (!row.owned.isNone()) {
            saved.filePath = row.owned.path;
            saved.fileDevice = static_cast<qint64>(row.owned.identity.device);
            saved.fileInode = static_cast<qint64>(row.owned.identity.inode);
            saved.fileSize = row.owned.identity.size;
            saved.fileModifiedNs = row.owned.identity.modifiedNs;
        }
    }
    return saved;
}

DownloadRow downloadRowFrom(const QueueRow &saved)
{
    DownloadRow row;
    row.key = saved.address;
    row.name = saved.name;
    row.type = saved.type;
    row.folder = saved.folder;
    row.tag = saved.tag;
    row.givenName = saved.givenName;
    row.givenFolder = saved.givenFolder;
    if (!isFinished(saved))
        return row; // waiting, with empty progress cells
    row.state = RowState::Done;
    row.size = saved.totalBytes;
    row.downloaded = saved.receivedBytes;
    row.percentNote = percentNoteFrom(saved.note);
    row.percentShown = row.percentNote == PercentNote::None && row.size > 0;
    // The row still owns the file it wrote only while that very file is there.
    const OwnedFile owned{saved.filePath,
                          {static_cast<quint64>(saved.fileDevice), static_cast<quint64>(saved.fileInode),
                           saved.fileSize, saved.fileModifiedNs}};
    if (IsStillOwned(owned))
        row.owned = owned;
    return row;
}

int unfinishedCount(const QList<QueueRow> &rows)
{
    return static_cast<int>(
        std::count_if(rows.cbegin(), rows.cend(), [](const QueueRow &r) { return !isFinished(r); }));
}

QueueKeeper::QueueKeeper(PaperLibrary *library, DownloadListModel *model, QObject *parent)
    : QObject(parent), m_library(library), m_model(model)
{
    if (m_library)
        m_loaded = m_saved = m_library->loadQueue();
    m_delay.setSingleShot(true);
    m_delay.setInterval(SaveDelayMs);
    connect(&m_delay, &QTimer::timeout, this, &QueueKeeper::saveNow);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &QueueKeeper::onChanged);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &QueueKeeper::onChanged);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &QueueKeeper::onChanged);
    connect(m_model, &QAbstractItemModel::rowsMoved, this, &QueueKeeper::onChanged);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, &QueueKeeper::onChanged);
    connect(m_model, &QAbstractItemModel::modelReset, this, &QueueKeeper::onChanged);
}

QueueKeeper::~QueueKeeper()
{
    detach();
}

void QueueKeeper::detach()
{
    if (!m_model)
        return;
    saveNow();
    m_model->disconnect(this);
    m_delay.stop();
    m_model = nullptr;
}

void QueueKeeper::onChanged()
{
    m_changed = true;
    // At most one save a second, however fast the list changes.
    if (!m_delay.isActive())
        m_delay.start();
}

bool QueueKeeper::saveNow()
{
    m_delay.stop();
    m_changed = false;
    if (!m_library || !m_model)
        return false;
    QList<QueueRow> rows;
    rows.reserve(m_model->count());
    for (int i = 0; i < m_model->count(); ++i)
        rows.append(queueRowFrom(m_model->row(i)));
    // Progress of running rows is not kept, so a list that only moves its byte counts is not written.
    if (rows == m_saved)
        return true;
    if (!m_library->saveQueue(rows)) {
        Q_EMIT failed(m_library->lastError());
        return false;
    }
    m_saved = std::move(rows);
    Q_EMIT saved();
    return true;
}
