#pragma once

#include "core/queue/downloadlistmodel.h"
#include "core/queue/heldrow.h"
#include "core/queue/rowwriter.h"
#include "core/queue/targetfile.h"
#include "core/transfer/scheduleroptions.h"

#include <QHash>
#include <QString>
#include <functional>

class RetryBook;

// Which waiting row starts next, and the paths that live transfers are writing: a row whose file would
// meet another's waits, one whose file is there already (or held from an earlier download) ends without
// a request.
class RowPicker
{
public:
    // Whether a file on disk is the paper of another address as far as the paper library knows.
    using ForeignFileTest = std::function<bool(const QString &path, const QString &address)>;

    // Rows that end without a transfer are told to `ended`.
    RowPicker(RowWriter rows, const RetryBook &retries, std::function<void(RowId)> ended);

    // Rows whose paper is held from an earlier download end without a request; nullptr (the default)
    // fetches every row. The check is not owned.
    void setHeldRowCheck(HeldRowCheck *check) { m_heldCheck = check; }
    // Such a file is never skipped on nor replaced. Unset (the default) asks nobody.
    void setForeignFileTest(ForeignFileTest test) { m_foreignFile = std::move(test); }

    // The next row to fetch, None when no row may start now.
    RowId findRow(DuplicatePolicy policy);
    // Files at a path that are another paper's, for the row of this address.
    ClaimTest claimsFor(const QString &key) const;

    // Paths that live transfers are writing.
    const ReservedPaths &reservedPaths() const { return m_reserved; }
    // The path is the row's until its transfer ends.
    void reserve(RowId id, const QString &path);
    // The target for the row's file of this type, reserved for it until its transfer ends.
    QString reserveTarget(RowId id, DuplicatePolicy policy, const QString &type, QString *newName);
    void release(RowId id) { m_reserved.remove(m_reservedBy.take(id)); }
    bool reserving(RowId id) const { return m_reservedBy.contains(id); }

private:
    bool passHeldRow(RowId id);
    void failWithoutFolder(RowId id);

    RowWriter m_rows;
    const RetryBook &m_retries;
    std::function<void(RowId)> m_ended;
    ReservedPaths m_reserved;
    QHash<RowId, QString> m_reservedBy;
    HeldRowCheck *m_heldCheck = nullptr;
    ForeignFileTest m_foreignFile;
};
