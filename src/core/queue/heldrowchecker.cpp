#include "core/queue/heldrowchecker.h"

#include "core/common/safetext.h"
#include "core/library/librarythread.h"
#include "core/library/paperlibrary.h"
#include "core/queue/libraryrecorder.h"
#include "core/transfer/downloadscheduler.h"

#include <QFileInfo>
#include <QTimer>
#include <algorithm>

HeldAnswer heldAnswerFor(const HeldFile &held)
{
    const QFileInfo file(held.filePath);
    HeldAnswer answer;
    answer.kind = HeldAnswer::Kind::Held;
    answer.folder = file.absolutePath();
    if (!answer.folder.endsWith(u'/'))
        answer.folder += u'/';
    // "a.b.pdf" is the name "a.b" of type "pdf"; a file without a dot has no type.
    answer.type = file.suffix();
    answer.name = answer.type.isEmpty() ? file.fileName() : file.completeBaseName();
    answer.size = held.size;
    // A download recorded before the library kept the landing page went through the paper's own address.
    answer.landingPage =
        held.landingPage.isEmpty() && !held.fileAddress.isEmpty() ? held.address : held.landingPage;
    answer.fileAddress = held.fileAddress;
    answer.declared = held.declared;
    return answer;
}

namespace {

constexpr qsizetype kKnownKept = 4096; // paths whose answer is kept for the rows that asked

} // namespace

ForeignFileLookup::ForeignFileLookup(PaperLibrary *library, QObject *parent)
    : QObject(parent), m_library(library)
{
}

ForeignFileLookup::~ForeignFileLookup() = default;

quint64 ForeignFileLookup::ask(const QString &path)
{
    if (m_asking.isEmpty())
        QTimer::singleShot(0, this, &ForeignFileLookup::askLibrary);
    m_asking.insert(path);
    return m_seq;
}

bool ForeignFileLookup::answeredSince(const QString &path, quint64 ticket) const
{
    const auto known = m_known.constFind(path);
    return known != m_known.cend() && known->seq > ticket;
}

bool ForeignFileLookup::holdsForAnother(const QString &path, const FileIdentity &seen,
                                        const QString &address) const
{
    if (!seen.isValid())
        return false;
    const auto known = m_known.constFind(path);
    if (known == m_known.cend())
        return true;
    // The library keeps addresses without their credentials.
    return known->last && known->last->address != WithoutCredentials(address) &&
           known->last->size == seen.size;
}

void ForeignFileLookup::askLibrary()
{
    const QSet<QString> paths = std::exchange(m_asking, {});
    if (paths.isEmpty())
        return;
    const quint64 seq = ++m_seq;
    // A library that is not open holds nothing, as its own connection would say.
    if (!m_library->isOpen()) {
        took(seq, paths, {});
        return;
    }
    if (!m_reader)
        m_reader = std::make_unique<LibraryThread>(m_library->path(), m_library->busyTimeoutMs());
    auto found = std::make_shared<QHash<QString, std::optional<HeldFile>>>();
    m_reader->run(
        [paths, found](PaperLibrary &library) {
            for (const QString &path : paths) {
                const QList<HeldFile> held = library.heldFilesAt(QFileInfo(path).absoluteFilePath());
                const auto last =
                    std::max_element(held.cbegin(), held.cend(), [](const HeldFile &a, const HeldFile &b) {
                        return a.downloadedAt < b.downloadedAt;
                    });
                found->insert(path, last == held.cend() ? std::nullopt : std::optional<HeldFile>(*last));
            }
            return true;
        },
        // A failed read is an answer too: nothing known, as a failed read on the spot said.
        this, [this, seq, paths, found](const LibraryThread::Answer &) { took(seq, paths, *found); });
}

void ForeignFileLookup::took(quint64 seq, const QSet<QString> &paths,
                             const QHash<QString, std::optional<HeldFile>> &found)
{
    // Answers for paths no row waits for any more go first, older reads before newer.
    if (m_known.size() + paths.size() > kKnownKept)
        m_known.removeIf([seq](const QHash<QString, Known>::iterator it) { return it->seq + 1 < seq; });
    for (const QString &path : paths) {
        Known &known = m_known[path];
        if (known.seq < seq)
            known = Known{seq, found.value(path)};
    }
    m_announce.request();
}

void AttachForeignFileTest(DownloadScheduler *scheduler, PaperLibrary *library)
{
    scheduler->picker().setForeignFileCheck(nullptr);
    delete scheduler->findChild<ForeignFileLookup *>(QString(), Qt::FindDirectChildrenOnly);
    if (!library)
        return;
    auto *lookup = new ForeignFileLookup(library, scheduler);
    scheduler->picker().setForeignFileCheck(lookup);
    // Rows that waited for the answer may start now.
    QObject::connect(lookup, &ForeignFileLookup::answered, scheduler, [scheduler] {
        if (scheduler->isRunning())
            QTimer::singleShot(0, scheduler, &DownloadScheduler::startDue);
    });
}

HeldRowChecker::HeldRowChecker(PaperLibrary *library, QObject *parent)
    : QObject(parent), m_library(library), m_cancel(std::make_shared<std::atomic_bool>(false))
{
    // Hashing is mostly reading the disk: two files at a time keep it busy without crowding the transfers.
    m_pool.setMaxThreadCount(2);
}

HeldRowChecker::~HeldRowChecker()
{
    m_cancel->store(true);
    m_pool.waitForDone();
}

void HeldRowChecker::attach(DownloadScheduler *scheduler)
{
    scheduler->picker().setHeldRowCheck(this);
    // Rows it passed over may start now.
    connect(this, &HeldRowChecker::answered, scheduler, [scheduler] {
        if (scheduler->isRunning())
            QTimer::singleShot(0, scheduler, &DownloadScheduler::startDue);
    });
    connect(scheduler->model(), &DownloadListModel::rowsDropped, this, &HeldRowChecker::forget);
    connect(this, &QObject::destroyed, scheduler,
            [scheduler] { scheduler->picker().setHeldRowCheck(nullptr); });
}

HeldAnswer HeldRowChecker::check(const DownloadRow &row)
{
    if (!m_enabled || !m_library)
        return {};
    const auto known = m_rows.find(row.id);
    if (known != m_rows.end() && known->key == row.key) {
        const HeldAnswer answer = known->answer;
        // A held answer is used once: should the row come back to the queue, it is asked about afresh.
        if (answer.kind == HeldAnswer::Kind::Held)
            m_rows.erase(known);
        return answer;
    }
    // The rows asked about in this turn of the event loop are read together, at its end. A long list is
    // read a part at a time, so the first rows' answers are not held up by the last ones': the rows after
    // a full read are asked about when its answers bring the scheduler back.
    HeldAnswer pending;
    pending.kind = HeldAnswer::Kind::Pending;
    if (m_asking.size() >= RowsPerRead)
        return pending;
    m_rows.insert(row.id, Entry{pending, row.key});
    ++m_pending;
    if (m_asking.isEmpty())
        QTimer::singleShot(0, this, &HeldRowChecker::askLibrary);
    m_asking.append(Asked{row.id, row.key, DoiKeyOfRow(row)});
    return pending;
}

void HeldRowChecker::askLibrary()
{
    const QList<Asked> asked = std::exchange(m_asking, {});
    if (asked.isEmpty())
        return;
    // A library that is not open holds nothing, as its own connection would say.
    if (!m_library->isOpen()) {
        tookHeld(asked, {});
        return;
    }
    if (!m_reader)
        m_reader = std::make_unique<LibraryThread>(m_library->path(), m_library->busyTimeoutMs());
    auto found = std::make_shared<QList<std::optional<HeldFile>>>();
    m_reader->run(
        [asked, found](PaperLibrary &library) {
            found->reserve(asked.size());
            for (const Asked &row : asked)
                found->append(library.heldFile(row.key, row.doiKey));
            return true;
        },
        // A failed read holds nothing, as a failed read on the spot said.
        this, [this, asked, found](const LibraryThread::Answer &) { tookHeld(asked, *found); });
}

void HeldRowChecker::tookHeld(const QList<Asked> &asked, const QList<std::optional<HeldFile>> &found)
{
    for (qsizetype i = 0; i < asked.size(); ++i) {
        --m_pending;
        const auto entry = m_rows.find(asked.at(i).id);
        // Gone from the list meanwhile, or asked about again for another address.
        if (entry == m_rows.end() || entry->key != asked.at(i).key ||
            entry->answer.kind != HeldAnswer::Kind::Pending)
            continue;
        const std::optional<HeldFile> held = i < found.size() ? found.at(i) : std::nullopt;
        if (!held || held->sha256.isEmpty()) {
            entry->answer = {};
            continue;
        }
        hash(asked.at(i).id, *held);
    }
    announce();
}

void HeldRowChecker::hash(RowId id, const HeldFile &file)
{
    ++m_pending;
    const std::shared_ptr<std::atomic_bool> cancel = m_cancel;
    m_pool.start([this, id, file, cancel] {
        const HeldVerdict verdict = CheckHeldFile(file, cancel.get());
        if (cancel->load())
            return;
        // The destructor waits for this task, so the checker is still there to post to.
        QMetaObject::invokeMethod(
            this, [this, id, file, verdict] { onVerdict(id, file, verdict); }, Qt::QueuedConnection);
    });
}

void HeldRowChecker::onVerdict(RowId id, const HeldFile &held, HeldVerdict verdict)
{
    --m_pending;
    const auto entry = m_rows.find(id);
    if (entry == m_rows.end() || entry->key != held.address)
        return;
    entry->answer = verdict == HeldVerdict::Held ? heldAnswerFor(held) : HeldAnswer{};
    announce();
}

void HeldRowChecker::announce()
{
    m_announce.request();
}

void HeldRowChecker::forget(const QList<RowId> &ids)
{
    for (RowId id : ids)
        m_rows.remove(id);
}
