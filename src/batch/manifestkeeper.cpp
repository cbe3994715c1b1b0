#include "batch/manifestkeeper.h"

#include "core/common/backgroundthread.h"
#include "core/common/sha256.h"
#include "core/rows/ownedfile.h"
#include "core/rows/targetfile.h"

#include <QFileInfo>

ManifestKeeper::ManifestKeeper(const DownloadListModel *model, QString path, QObject *parent)
    : QObject(parent), m_model(model), m_path(std::move(path))
{
    m_pool.setMaxThreadCount(1);
    m_delay.setSingleShot(true);
    m_delay.setInterval(RewriteMs);
    connect(&m_delay, &QTimer::timeout, this, &ManifestKeeper::rewrite);
    connect(model, &QAbstractItemModel::rowsInserted, this, &ManifestKeeper::onChanged);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ManifestKeeper::onChanged);
    connect(model, &QAbstractItemModel::rowsMoved, this, &ManifestKeeper::onChanged);
    connect(model, &QAbstractItemModel::dataChanged, this, &ManifestKeeper::onChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &ManifestKeeper::onChanged);
}

ManifestKeeper::~ManifestKeeper()
{
    m_pool.waitForDone();
}

void ManifestKeeper::start()
{
    m_running = true;
    rewrite();
}

void ManifestKeeper::stop()
{
    m_running = false;
    m_delay.stop();
}

void ManifestKeeper::onChanged()
{
    if (!m_running)
        return;
    m_changed = true;
    if (!m_writing && !m_delay.isActive())
        m_delay.start();
}

batchmanifest::KnownHash ManifestKeeper::knownFor(const QList<DownloadRow> &rows,
                                                  batchmanifest::KnownHash known,
                                                  std::shared_ptr<Hashes> hashes)
{
    // What each transfer hashed as it wrote its file, taken here while the rows are at hand.
    QHash<QString, std::pair<FileIdentity, QString>> written;
    for (const DownloadRow &row : rows) {
        if (row.state == RowState::Done && !row.owned.isNone() && row.ownedSha256.size() == 32)
            written.insert(QFileInfo(row.owned.path).absoluteFilePath(),
                           {row.owned.identity, QString::fromLatin1(row.ownedSha256.toHex())});
    }
    return [known = std::move(known), hashes = std::move(hashes), written](const QString &path) {
        if (QString sha = known ? known(path) : QString(); !sha.isEmpty())
            return sha;
        const FileIdentity now = IdentityOf(path);
        if (const auto it = written.constFind(path); it != written.cend() && it->first == now)
            return it->second;
        const QMutexLocker lock(&hashes->lock);
        if (const auto it = hashes->byPath.constFind(path); it != hashes->byPath.cend() && it->first == now)
            return it->second;
        const QString sha = Sha256OfFile(path);
        // Kept only when the file did not change while it was read.
        if (!sha.isEmpty() && IdentityOf(path) == now)
            hashes->byPath.insert(path, {now, sha});
        return sha;
    };
}

void ManifestKeeper::rewrite()
{
    if (!m_running || m_writing)
        return;
    m_changed = false;
    m_writing = true;
    QList<DownloadRow> rows;
    rows.reserve(m_model->count());
    for (int i = 0; i < m_model->count(); ++i)
        rows.append(m_model->row(i));
    batchmanifest::KnownHash known = knownFor(rows, m_knownSource ? m_knownSource() : nullptr, m_hashes);
    m_pool.start([this, rows = std::move(rows), known = std::move(known), last = m_lastWritten] {
        MarkBackgroundThread();
        const QByteArray text = batchmanifest::text(rows, known);
        QString error;
        // Only what changed goes to the disk: progress alone leaves the manifest as it is.
        const bool ok = text == *last || batchmanifest::writeBytes(m_path, text, &error);
        if (ok)
            *last = text;
        QMetaObject::invokeMethod(
            this, [this, ok, error] { onRewritten(ok, error); }, Qt::QueuedConnection);
    });
}

void ManifestKeeper::onRewritten(bool ok, const QString &error)
{
    m_writing = false;
    if (!ok && std::exchange(m_lastError, error) != error)
        Q_EMIT rewriteFailed(m_path, error, m_written);
    if (ok) {
        m_lastError.clear();
        m_written = true;
    }
    if (m_running && m_changed && !m_delay.isActive())
        m_delay.start();
}

ManifestKeeper::Outcome ManifestKeeper::writeLast(const QList<DownloadRow> &rows,
                                                  const batchmanifest::KnownHash &known)
{
    m_pool.waitForDone();
    Outcome outcome;
    const QByteArray text = batchmanifest::text(rows, knownFor(rows, known, m_hashes));
    outcome.written = batchmanifest::writeBytes(m_path, text, &outcome.error);
    if (outcome.written)
        return outcome;
    const QString fallback = batchmanifest::fallbackPath();
    if (batchmanifest::writeBytes(fallback, text, &outcome.fallbackError))
        outcome.fallbackPath = fallback;
    return outcome;
}
