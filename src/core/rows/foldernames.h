#pragma once

#include "core/common/onceperturn.h"
#include "core/rows/targetfile.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <atomic>
#include <memory>

// The names in each target folder, listed on a worker thread, so that choosing a row's file name asks
// memory and not the disk. A folder is listed when first asked about; until its listing is in, it counts
// as not listed and rows bound for it wait. Single names are looked at again on request (before a row
// is skipped on a file or replaces it, after this program wrote or was refused a name), and a folder
// whose modification time changed is listed again, so that what other programs add or remove shows
// within about a second.
//
// Looks are ordered by a sequence taken when each starts on the worker: a request made at ticket t is
// answered by any look whose sequence is above t.
class FolderNames : public QObject
{
    Q_OBJECT

public:
    explicit FolderNames(QObject *parent = nullptr);
    ~FolderNames() override; // looks under way are cancelled and waited for

    // Whether the folder (ending in "/") is listed; asks for its listing when it is not.
    bool listed(const QString &folder);
    // What the listing says stands at the path; nothing when its folder is not listed.
    SeenEntry look(const QString &path) const;
    EntryLook looker() const;

    // Asks for a fresh look at the path; the ticket that answeredSince takes.
    quint64 recheck(const QString &path);
    // A look at the path (by itself or with its whole folder) started after the ticket was given.
    bool answeredSince(const QString &path, quint64 ticket) const;
    // The name is known to be taken now (a move into place was refused there): it counts until a look
    // says otherwise.
    void markTaken(const QString &path);
    // This program removed the file at the path: the name counts as free until a look says otherwise.
    void markGone(const QString &path);

    // Listed folders whose modification time changed are listed again; at most once a second.
    void refreshDue();
    // Whether any listing or look is under way.
    bool busy() const { return m_inFlight > 0 || !m_batch.isEmpty(); }

Q_SIGNALS:
    // Listings or looks came in (sent once per turn of the event loop however many came).
    void arrived();

public:
    struct Listing
    {
        quint64 seq = 0;
        bool exists = false;
        qint64 modifiedNs = 0; // the folder's, when the listing started
        qint64 startedNs = 0;  // the wall clock then
        QHash<QString, SeenEntry> names;
    };

private:
    struct Folder
    {
        Listing listing;
        bool asked = false;
    };
    struct Checked
    {
        quint64 seq = 0;
        SeenEntry entry;
    };

    void list(const QString &folder);
    void sendBatch();
    void tookListing(const QString &folder, Listing listing);
    void tookLooks(quint64 seq, const QHash<QString, SeenEntry> &seen);
    void tookStale(const QStringList &folders);
    void announce();
    template <typename Work> void run(Work work);

    QHash<QString, Folder> m_folders;
    QHash<QString, Checked> m_checked; // paths looked at after their folder's listing
    QSet<QString> m_batch;             // paths to look at with the next batch
    int m_inFlight = 0;
    OncePerTurn m_announce{this, [this] { Q_EMIT arrived(); }};
    bool m_refreshing = false;
    QElapsedTimer m_sinceRefresh;
    std::shared_ptr<std::atomic_bool> m_cancel;
    QThreadPool m_pool;
};

// Lists a folder as it stands now (on a worker thread).
FolderNames::Listing ListFolder(const QString &folder, quint64 seq);
