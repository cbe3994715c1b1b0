#pragma once

#include "batch/batchmanifest.h"
#include "core/rows/downloadlistmodel.h"

#include <QMutex>
#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <memory>

// Keeps a batch run's manifest current on disk while the run goes on: rewritten in place at most once a
// second while the list changes, on a thread of its own, so that whatever ends the run (a full disk, a
// folder made read-only, a crash) leaves the last good manifest behind. The last write, at the end of
// the run, goes to the per-user data folder when the manifest cannot be written in its place.
class ManifestKeeper : public QObject
{
    Q_OBJECT

public:
    static constexpr int RewriteMs = 1000;

    ManifestKeeper(const DownloadListModel *model, QString path, QObject *parent = nullptr);
    ~ManifestKeeper() override; // the write under way is waited for

    // The hashes known elsewhere (the library's records), taken with each write; optional.
    void setKnownHashes(std::function<batchmanifest::KnownHash()> source)
    {
        m_knownSource = std::move(source);
    }
    // Writes now and then again at most once a second while the list changes.
    void start();
    // No more writes start; the one under way goes on.
    void stop();

    struct Outcome
    {
        bool written = false;  // in its place
        QString error;         // why it could not be written there
        QString fallbackPath;  // where it was written instead (empty when it was not)
        QString fallbackError; // why it could not be written there either
    };
    // The last write, of the rows as the run left them, for a worker thread after stop(): it follows the
    // write under way, in its place, else in the per-user data folder.
    Outcome writeLast(const QList<DownloadRow> &rows, const batchmanifest::KnownHash &known);

Q_SIGNALS:
    // A write during the run failed; once for each reason. kept: a manifest written before stays there.
    void rewriteFailed(const QString &path, const QString &error, bool kept);

private:
    // Files hashed for earlier writes, by path, for any thread.
    struct Hashes
    {
        QMutex lock;
        QHash<QString, std::pair<FileIdentity, QString>> byPath;
    };

    void onChanged();
    void rewrite();
    void onRewritten(bool ok, const QString &error);
    // The hash of a done row's file: known elsewhere, taken by its transfer, hashed for an earlier write,
    // or read now (and kept).
    static batchmanifest::KnownHash knownFor(const QList<DownloadRow> &rows, batchmanifest::KnownHash known,
                                             std::shared_ptr<Hashes> hashes);

    const DownloadListModel *m_model;
    QString m_path;
    std::function<batchmanifest::KnownHash()> m_knownSource;
    std::shared_ptr<Hashes> m_hashes = std::make_shared<Hashes>();
    std::shared_ptr<QByteArray> m_lastWritten = std::make_shared<QByteArray>(); // on the pool's thread only
    QThreadPool m_pool;
    QTimer m_delay;
    bool m_running = false;
    bool m_writing = false;
    bool m_changed = false;
    bool m_written = false; // a write went through
    QString m_lastError;
};
