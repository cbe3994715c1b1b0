#include "core/transfer/rowpicker.h"

#include "core/common/filenames.h"
#include "core/common/receiverpost.h"
#include "core/common/safetext.h"
#include "core/transfer/hostpacing.h"
#include "core/transfer/retrybook.h"
#include "core/transfer/schedulertime.h"

#include <QElapsedTimer>

using Kind = FailureReason::Kind;
using schedulertime::monoNow;

namespace {

// The answer names the file's type, and papers come in a few: the row's name with each of the others,
// which the answer may pick instead of the row's own.
QStringList otherPaperNames(const QString &folder, const QString &name, const QString &type)
{
    QStringList paths;
    for (const char *other : {"pdf", "caj", "kdh", "nh", "caa"}) {
        const QString otherType = QString::fromLatin1(other);
        if (otherType.compare(type, Qt::CaseInsensitive) != 0)
            paths.append(rowFilePath(folder, FitNameForDisk(name, otherType, 0), otherType));
    }
    return paths;
}

// The row ends done on a file that is already there, without a transfer.
void endOnFileAtHand(DownloadRow &r, qint64 size, PercentNote note)
{
    r.state = RowState::Done;
    r.size = size;
    r.sizeNote = SizeNote::None;
    r.downloaded = size;
    r.percentShown = false;
    r.percentNote = note;
    r.reason = {};
}

// Every start begins from the name the row was handed over with (a name it had on a try that wrote
// nothing is no claim), as it may stand on disk: a name that fits is never cut again.
void takeGivenName(const RowWriter &rows, const DownloadRow &row)
{
    const QString type = IsSafeFileType(row.type) ? row.type : QStringLiteral("pdf");
    const QString name =
        FitNameForDisk(CleanFileName(row.givenName.isEmpty() ? row.name : row.givenName), type, 0);
    const QString folder = withTrailingSlash(row.folder);
    if (name != row.name || folder != row.folder || type != row.type)
        rows.update(row.id, [&](DownloadRow &r) {
            r.name = name;
            r.folder = folder;
            r.type = type;
        });
}

constexpr qint64 kLookFreshMs = 1000;
constexpr qsizetype kAskedKept = 1024;

const QElapsedTimer &lookClock()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock;
}

} // namespace

RowPicker::RowPicker(RowWriter rows, const RetryBook &retries, std::function<void(RowId)> ended)
    : m_rows(rows), m_retries(retries), m_ended(std::move(ended))
{
}

RowId RowPicker::findRow(DuplicatePolicy policy)
{
    settle();
    m_names.refreshDue();
    const qint64 nowMs = monoNow();
    // Rows before the first that may wait are passed over without a look; so are the leading rows
    // that turn out not to wait now.
    bool waitingSeen = false;
    for (int i = m_rows.waitingFrom(); i < m_rows.list().count(); ++i) {
        const DownloadRow &row = m_rows.list().row(i);
        if (row.state != RowState::Waiting) {
            if (!waitingSeen)
                m_rows.passedNotWaiting(i);
            continue;
        }
        waitingSeen = true;
        if (startsNow(row, policy, nowMs))
            return row.id;
    }
    return RowId::None;
}

bool RowPicker::startsNow(const DownloadRow &row, DuplicatePolicy policy, qint64 nowMs)
{
    if (m_retries.heldBack(row, nowMs) || (m_hostPacing && m_hostPacing->holds(row, nowMs)))
        return false;
    const RowId id = row.id;
    // A row downloaded again is fetched, whatever the library holds: the user asked for a new copy.
    if (m_heldCheck && row.owned.isNone() && passHeldRow(id))
        return false;
    if (TrimSpaces(row.folder).isEmpty()) {
        failWithoutFolder(id);
        return false;
    }
    takeGivenName(m_rows, row);
    const QString folder = row.folder, name = row.name, type = row.type;
    if (!m_names.listed(folder))
        return false;
    const ReservedPaths reserved = reservedFor(id);
    const QString path = rowFilePath(folder, name, type);
    if (policy != DuplicatePolicy::Rename && !reserved.contains(path) &&
        !lookedAtFor(id, path, otherPaperNames(folder, name, type)))
        return false;
    const NeedAnswer answer =
        确定是需要下载(policy, folder, name, type, reserved, claimsFor(row.key), lookFor(row));
    if (answer.need == Need::Skip) {
        m_rows.update(id, [&answer](DownloadRow &r) {
            endOnFileAtHand(r, answer.existingLength, PercentNote::Skipped);
        });
        m_ended(id);
    }
    return answer.need == Need::Fetch;
}

// True when the row is passed over: its answer is pending, or it ended done on
// the file it already has.
bool RowPicker::passHeldRow(RowId id)
{
    const HeldAnswer held = m_heldCheck->check(*m_rows.list().find(id));
    if (held.kind == HeldAnswer::Kind::NotHeld)
        return false;
    if (held.kind == HeldAnswer::Kind::Held) {
        m_rows.update(id, [&held](DownloadRow &r) {
            r.folder = held.folder;
            r.name = held.name;
            r.type = held.type;
            // The file came from where the paper's page led when it was downloaded.
            r.landingPage = held.landingPage;
            r.fileAddress = held.fileAddress;
            r.declared = held.declared;
            endOnFileAtHand(r, held.size, PercentNote::Held);
        });
        m_ended(id);
    }
    return true;
}

void RowPicker::failWithoutFolder(RowId id)
{
    // An empty folder is no folder: it never becomes the root of the file system.
    m_rows.update(id, [](DownloadRow &r) {
        r.state = RowState::Failed;
        r.reason = FailureReason::of(Kind::NoFolder);
    });
    m_ended(id);
}

ClaimTest RowPicker::claimsFor(const QString &key) const
{
    return [this, key](const QString &path, const FileIdentity &seen) {
        return m_rows.list().fileWrittenByAnother(path, key, seen) ||
               (m_foreignFile && m_foreignFile->holdsForAnother(path, seen, key));
    };
}

bool RowPicker::lookedAtFor(RowId id, const QString &path, const QStringList &alsoAsk)
{
    const qint64 nowMs = lookClock().elapsed();
    const auto ask = m_asked.find(id);
    if (ask != m_asked.end() && ask->path == path && nowMs - ask->askedMs <= kLookFreshMs) {
        if (!m_names.answeredSince(path, ask->ticket) ||
            (m_foreignFile && !m_foreignFile->answeredSince(path, ask->foreignTicket)))
            return false;
        m_asked.erase(ask);
        return true;
    }
    if (m_asked.size() > kAskedKept) {
        // Rows removed or settled meanwhile ask for nothing.
        m_asked.removeIf([this](const QHash<RowId, Ask>::iterator it) {
            const DownloadRow *row = m_rows.list().find(it.key());
            return !row || row->state != RowState::Waiting;
        });
    }
    m_asked.insert(id, Ask{path, m_names.recheck(path), nowMs, m_foreignFile ? m_foreignFile->ask(path) : 0});
    if (m_foreignFile) {
        for (const QString &other : alsoAsk)
            m_foreignFile->ask(other);
    }
    return false;
}

void RowPicker::settle()
{
    for (auto it = m_settling.begin(); it != m_settling.end();) {
        if (m_names.answeredSince(it.key(), it->second))
            it = m_settling.erase(it);
        else
            ++it;
    }
}

ReservedPaths RowPicker::reservedFor(RowId id)
{
    if (m_settling.isEmpty())
        return m_reserved;
    ReservedPaths reserved = m_reserved;
    for (auto it = m_settling.cbegin(); it != m_settling.cend(); ++it) {
        if (it->first != id)
            reserved.insert(it.key());
    }
    return reserved;
}

void RowPicker::reserve(RowId id, const QString &path)
{
    m_reserved.insert(path);
    m_reservedBy.insert(id, path);
}

void RowPicker::release(RowId id)
{
    const QString path = m_reservedBy.take(id);
    const bool committed = m_committing.remove(id);
    if (path.isEmpty())
        return;
    m_reserved.remove(path);
    if (committed)
        m_settling.insert(path, {id, m_names.recheck(path)});
}

void RowPicker::nameRefused(RowId id)
{
    if (const QString path = m_reservedBy.value(id); !path.isEmpty())
        m_names.markTaken(path);
}

QString RowPicker::reserveTarget(RowId id, DuplicatePolicy policy, const QString &type, QString *newName)
{
    const DownloadRow *row = m_rows.list().find(id);
    if (!row)
        return {};
    settle();
    m_reserved.remove(m_reservedBy.take(id));
    const QString path = 重命名保存路径(policy, row->folder, row->name, type, newName, reservedFor(id),
                                        claimsFor(row->key), lookFor(*row));
    m_reserved.insert(path);
    m_reservedBy.insert(id, path);
    return path;
}

EntryLook RowPicker::lookFor(const DownloadRow &row) const
{
    EntryLook look = m_names.looker();
    if (row.owned.isNone())
        return look;
    return [look, earlier = row.owned](const QString &path) {
        const SeenEntry seen = look(path);
        // Only while the listing shows that very file: one put in its place is another's.
        if (path == earlier.path && seen.entry == PathEntry::File &&
            (!seen.identity.isValid() || seen.identity == earlier.identity))
            return SeenEntry{};
        return seen;
    };
}

void RowPicker::dropEarlierCopy(const OwnedFile &earlier)
{
    if (earlier.isNone())
        return;
    diskwork::workThenPost(
        &m_names, [earlier] { return RemoveOwnedFile(earlier); },
        [names = &m_names, path = earlier.path](bool removed) {
            if (removed)
                names->markGone(path);
        });
}
