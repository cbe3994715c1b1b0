#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/rows/foldernames.h"
#include "core/rows/heldrow.h"
#include "core/rows/rowwriter.h"
#include "core/rows/targetfile.h"
#include "core/transfer/scheduleroptions.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <functional>

class HostPacing;
class RetryBook;

// Which waiting row starts next, and the paths that live transfers are writing: a row whose file would
// meet another's waits, one whose file is there already (or held from an earlier download) ends without
// a request. What stands in the target folders is asked of their listings (FolderNames), never of the
// disk: a row waits until its folder is listed, and under skip and overwrite until its very name was
// looked at again after it came up, so that a file is skipped on or replaced only as it stands then.
class RowPicker
{
public:
    // Rows that end without a transfer are told to `ended`.
    RowPicker(RowWriter rows, const RetryBook &retries, std::function<void(RowId)> ended);

    // Rows whose paper is held from an earlier download end without a request; nullptr (the default)
    // fetches every row. The check is not owned.
    void setHeldRowCheck(HeldRowCheck *check) { m_heldCheck = check; }
    // A file the paper library holds for another address is never skipped on nor replaced; a row waits for
    // the library's answer with its fresh look. nullptr (the default) asks nobody. Not owned.
    void setForeignFileCheck(ForeignFileCheck *check) { m_foreignFile = check; }
    // Rows whose site must not be asked yet wait; nullptr (the default) holds none back. Not owned.
    void setHostPacing(const HostPacing *pacing) { m_hostPacing = pacing; }

    // The next row to fetch, None when no row may start now.
    RowId findRow(DuplicatePolicy policy);
    // Files at a path that are another paper's, for the row of this address.
    ClaimTest claimsFor(const QString &key) const;

    // Paths that count as taken for the row: those live transfers are writing, and those of ended
    // transfers until a look tells what they left there (the row's own excepted).
    ReservedPaths reservedFor(RowId id);
    // The path is the row's until its transfer ends.
    void reserve(RowId id, const QString &path);
    // The target for the row's file of this type, reserved for it until its transfer ends.
    QString reserveTarget(RowId id, DuplicatePolicy policy, const QString &type, QString *newName);
    // The row's whole file is being put in place under its reserved path.
    void committing(RowId id) { m_committing.insert(id); }
    bool isCommitting(RowId id) const { return m_committing.contains(id); }
    // The transfer ended. Had it begun to put its file in place, the path stays taken until a look
    // tells whether the file is there now.
    void release(RowId id);
    bool reserving(RowId id) const { return m_reservedBy.contains(id); }
    // The row's file could not be moved into place under its name: another program took it.
    void nameRefused(RowId id);
    // A row's new copy took the place of the file it wrote before under another name: that file is
    // removed on a worker, while it is still the very file.
    void dropEarlierCopy(const OwnedFile &earlier);

    FolderNames &names() { return m_names; }
    // What stands at a path for the row: the folders' listings, where the file the row wrote before is no
    // obstacle to it (its new copy takes that file's place).
    EntryLook lookFor(const DownloadRow &row) const;

private:
    struct Ask
    {
        QString path;
        quint64 ticket = 0;
        qint64 askedMs = 0;
        quint64 foreignTicket = 0;
    };
    // Whether the waiting row starts now; one whose file is at hand ends here without a transfer.
    bool startsNow(const DownloadRow &row, DuplicatePolicy policy, qint64 nowMs);
    bool passHeldRow(RowId id);
    void failWithoutFolder(RowId id);
    // Whether the path was looked at (and the library asked about its file) since the row asked; asks when
    // it has not.
    // A look older than about a second is no answer: the row may have waited long for a slot.
    // alsoAsk: names the answer may pick instead, asked about in the library with it (not waited for).
    bool lookedAtFor(RowId id, const QString &path, const QStringList &alsoAsk = {});
    void settle();

    RowWriter m_rows;
    const RetryBook &m_retries;
    std::function<void(RowId)> m_ended;
    ReservedPaths m_reserved;
    QHash<RowId, QString> m_reservedBy;
    QHash<QString, std::pair<RowId, quint64>> m_settling; // ended transfers' paths, the ticket of their look
    QHash<RowId, Ask> m_asked;
    QSet<RowId> m_committing;
    FolderNames m_names;
    HeldRowCheck *m_heldCheck = nullptr;
    ForeignFileCheck *m_foreignFile = nullptr;
    const HostPacing *m_hostPacing = nullptr;
};
