#pragma once

#include "core/cache/anchoredpath.h"

#include <QHash>
#include <QList>
#include <QString>
#include <atomic>

// The browser's cache of one user as a store of entries: address -> local entry file.
class CacheStore
{
public:
    struct Entry
    {
        QString fileName; // "<16 hex digits>_0" inside the folder
        QString address;
    };

    explicit CacheStore(AnchoredPath folder) : m_folder(std::move(folder)) {}

    // Reads every entry of the folder in name order. A missing folder is an empty store; a folder that
    // cannot be read (or is a link) gives false, keeping the entries read before the failure.
    bool load(const std::atomic_bool *cancel = nullptr);
    const QList<Entry> &entries() const { return m_entries; }
    const AnchoredPath &folder() const { return m_folder; }

    // Full path of the local file of the entry with that address (the first one read), or false.
    bool GetCacheEntryInfo(const QString &address, QString *localFile) const;

    // Length of a file of the folder, or -1 when it is not there as a plain file.
    qint64 fileLength(const QString &fileName) const;

    // Deletes the files of every entry with that address; the number of entries removed.
    int removeEntry(const QString &address);

private:
    AnchoredPath m_folder;
    QList<Entry> m_entries;
    QMultiHash<QString, qsizetype> m_byAddress;
};
