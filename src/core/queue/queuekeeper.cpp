#include "core/queue/queuekeeper.h"

#include "core/library/paperlibrary.h"

#include <QSet>
#include <QThread>

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
    saved.landingPage = row.landingPage;
    saved.fileAddress = row.fileAddress;
    saved.declared = row.declared;
    saved.identifier = row.identifier;
    saved.origin = row.origin;
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
    row.landingPage = saved.landingPage;
    row.fileAddress = saved.fileAddress;
    row.declared = saved.declared;
    // The sources find a restored row's other ways through its identifier.
    row.identifier = saved.identifier;
    row.origin = saved.origin;
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

struct QueueKeeper::Loading
{
    std::optional<QList<QueueRow>> saved;
    QList<DownloadRow> rows;
};

QueueKeeper::QueueKeeper(PaperLibrary *library, DownloadListModel *model, QObject *parent)
    : QObject(parent), m_library(library), m_model(model)
{
    if (m_library && m_library->isOpen()) {
        m_loading = true;
        m_read = std::make_shared<Loading>();
        m_reader = QThread::create([read = m_read, path = m_library->path()] {
            read->saved = PaperLibrary::readQueue(path);
            if (!read->saved)
                return;
            read->rows.reserve(read->saved->size());
            for (const QueueRow &saved : std::as_const(*read->saved))
                read->rows.append(downloadRowFrom(saved));
        });
        connect(m_reader, &QThread::finished, this, [this] { finishLoading(true); });
        m_reader->start();
    }
    m_delay.setSingleShot(true);
    m_delay.setInterval(SaveDelayMs);
    connect(&m_delay, &QTimer::timeout, this, &QueueKeeper::saveLater);
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
    if (m_reader) {
        m_reader->wait();
        delete m_reader;
    }
}

void QueueKeeper::finishLoading(bool announce)
{
    if (!m_loading)
        return;
    m_reader->wait();
    m_loading = false;
    if (m_read->saved) {
        m_loaded = std::move(*m_read->saved);
        m_prepared = std::move(m_read->rows);
    } else {
        // Not readable on a connection of its own: the library's connection says why.
        m_loaded = m_library->loadQueue();
    }
    m_read.reset();
    m_saved = m_loaded;
    if (!announce)
        return;
    Q_EMIT loaded();
    // Changes made while the list was read are saved now that the saved list is known.
    if (m_changed && m_model && !m_delay.isActive())
        m_delay.start();
}

const QList<QueueRow> &QueueKeeper::savedRows()
{
    finishLoading(true);
    return m_loaded;
}

void QueueKeeper::detach()
{
    if (!m_model)
        return;
    waitForSaveLater();
    if (m_loading) {
        finishLoading(false);
        // The user has not been asked about the saved rows yet: they stay, after the list's own.
        write(withSavedRows(listRows()));
    } else {
        saveNow();
    }
    m_model->disconnect(this);
    m_delay.stop();
    m_model = nullptr;
}

QList<DownloadRow> QueueKeeper::takeSavedRows()
{
    finishLoading(true);
    QList<DownloadRow> rows = std::move(m_prepared);
    m_prepared.clear();
    if (rows.size() != m_loaded.size()) {
        rows.clear();
        rows.reserve(m_loaded.size());
        for (const QueueRow &saved : std::as_const(m_loaded))
            rows.append(downloadRowFrom(saved));
    }
    return rows;
}

void QueueKeeper::onChanged()
{
    m_changed = true;
    // At most one save a second, however fast the list changes; none before the saved list is in.
    if (!m_loading && !m_delay.isActive())
        m_delay.start();
}

void QueueKeeper::saveLater()
{
    if (m_loading || !m_library || !m_model) {
        saveNow();
        return;
    }
    if (m_writing) {
        // After the save under way, with what the list holds then.
        m_changed = true;
        return;
    }
    QList<QueueRow> rows = listRows();
    m_changed = false;
    if (rows == m_saved && !m_savedUnknown)
        return;
    if (!m_library->isOpen()) {
        write(std::move(rows)); // the library's connection says why it cannot
        return;
    }
    if (!m_writer)
        m_writer = std::make_unique<LibraryThread>(m_library->path(), m_library->busyTimeoutMs());
    m_writing = true;
    const int generation = ++m_generation;
    m_writer->run([rows](PaperLibrary &library) { return library.saveQueue(rows); }, this,
                  [this, generation, rows](const LibraryThread::Answer &answer) {
                      onSavedLater(generation, rows, answer);
                  });
}

void QueueKeeper::onSavedLater(int generation, const QList<QueueRow> &rows,
                               const LibraryThread::Answer &answer)
{
    if (generation != m_generation)
        return;
    m_writing = false;
    if (answer.ok) {
        m_saved = rows;
        m_savedUnknown = false;
        if (std::exchange(m_waitingForBusy, false))
            Q_EMIT busyChanged(LibraryWait::Written);
        Q_EMIT saved();
    } else if (answer.busy) {
        // Another program holds the library: the list is saved again a little later, until it frees.
        m_changed = true;
        if (!std::exchange(m_waitingForBusy, true))
            Q_EMIT busyChanged(LibraryWait::Started);
    } else {
        Q_EMIT failed(answer.error);
    }
    if (m_changed && m_model && !m_delay.isActive())
        m_delay.start();
}

void QueueKeeper::waitForSaveLater()
{
    if (!m_writing)
        return;
    m_writer->wait();
    ++m_generation;
    m_writing = false;
    // Whether it wrote is not known here: the next save writes the list whatever was saved before.
    m_savedUnknown = true;
}

bool QueueKeeper::saveNow()
{
    waitForSaveLater();
    m_delay.stop();
    if (m_loading) {
        // The saved list is still being read: writing now would replace it with what the list holds.
        m_changed = true;
        return true;
    }
    if (!m_library || !m_model) {
        m_changed = false;
        return false;
    }
    return write(listRows());
}

QList<QueueRow> QueueKeeper::listRows() const
{
    QList<QueueRow> rows;
    rows.reserve(m_model->count());
    for (int i = 0; i < m_model->count(); ++i)
        rows.append(queueRowFrom(m_model->row(i)));
    return rows;
}

QList<QueueRow> QueueKeeper::withSavedRows(QList<QueueRow> rows) const
{
    QSet<QString> listed;
    listed.reserve(rows.size());
    for (const QueueRow &row : std::as_const(rows))
        listed.insert(row.address);
    for (const QueueRow &saved : m_loaded) {
        if (!listed.contains(saved.address))
            rows.append(saved);
    }
    return rows;
}

bool QueueKeeper::write(QList<QueueRow> rows)
{
    m_changed = false;
    if (!m_library)
        return false;
    // Progress of running rows is not kept, so a list that only moves its byte counts is not written.
    if (rows == m_saved && !m_savedUnknown)
        return true;
    if (!m_library->saveQueue(rows)) {
        Q_EMIT failed(m_library->lastError());
        return false;
    }
    m_saved = std::move(rows);
    m_savedUnknown = false;
    Q_EMIT saved();
    return true;
}
