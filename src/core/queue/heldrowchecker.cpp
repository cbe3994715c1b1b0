#include "core/queue/heldrowchecker.h"

#include "core/common/safetext.h"
#include "core/library/paperlibrary.h"
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
    return answer;
}

bool LibraryHoldsForAnother(PaperLibrary *library, const QString &path, const FileIdentity &file,
                            const QString &address)
{
    if (!library || !file.isValid())
        return false;
    const QList<HeldFile> held = library->heldFilesAt(QFileInfo(path).absoluteFilePath());
    const auto last = std::max_element(held.cbegin(), held.cend(), [](const HeldFile &a, const HeldFile &b) {
        return a.downloadedAt < b.downloadedAt;
    });
    // The library keeps addresses without their credentials.
    return last != held.cend() && last->address != WithoutCredentials(address) && last->size == file.size;
}

void AttachForeignFileTest(DownloadScheduler *scheduler, PaperLibrary *library)
{
    if (!library) {
        scheduler->picker().setForeignFileTest({});
        return;
    }
    scheduler->picker().setForeignFileTest(
        [library](const QString &path, const FileIdentity &seen, const QString &address) {
            return LibraryHoldsForAnother(library, path, seen, address);
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
    const std::optional<HeldFile> held = m_library->heldFile(row.key);
    if (!held || held->sha256.isEmpty()) {
        m_rows.insert(row.id, Entry{{}, row.key});
        return {};
    }
    HeldAnswer pending;
    pending.kind = HeldAnswer::Kind::Pending;
    m_rows.insert(row.id, Entry{pending, row.key});
    ++m_pending;
    const RowId id = row.id;
    const HeldFile file = *held;
    const std::shared_ptr<std::atomic_bool> cancel = m_cancel;
    m_pool.start([this, id, file, cancel] {
        const HeldVerdict verdict = CheckHeldFile(file, cancel.get());
        if (cancel->load())
            return;
        // The destructor waits for this task, so the checker is still there to post to.
        QMetaObject::invokeMethod(
            this, [this, id, file, verdict] { onVerdict(id, file, verdict); }, Qt::QueuedConnection);
    });
    return pending;
}

void HeldRowChecker::onVerdict(RowId id, const HeldFile &held, HeldVerdict verdict)
{
    --m_pending;
    const auto entry = m_rows.find(id);
    if (entry == m_rows.end() || entry->key != held.address)
        return;
    entry->answer = verdict == HeldVerdict::Held ? heldAnswerFor(held) : HeldAnswer{};
    if (m_announcing)
        return;
    m_announcing = true;
    QTimer::singleShot(0, this, [this] {
        m_announcing = false;
        Q_EMIT answered();
    });
}

void HeldRowChecker::forget(const QList<RowId> &ids)
{
    for (RowId id : ids)
        m_rows.remove(id);
}
