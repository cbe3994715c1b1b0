#pragma once

#include "core/library/heldcheck.h"
#include "core/queue/downloadlistmodel.h"
#include "core/queue/heldrow.h"

#include <QHash>
#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <memory>

class DownloadScheduler;
class PaperLibrary;

// Tells the queue which waiting rows the paper library holds: downloaded before, the file still there
// with its recorded size and SHA-256. The library is asked on the spot; the file is hashed on a worker
// thread, and the row is passed over until the answer is in. A row found not held is not asked about
// again while this checker lives.
class HeldRowChecker : public QObject, public HeldRowCheck
{
    Q_OBJECT

public:
    explicit HeldRowChecker(PaperLibrary *library, QObject *parent = nullptr);
    ~HeldRowChecker() override; // hashing under way is cancelled and waited for

    // Installs the check in the scheduler, which looks for work again with each batch of answers.
    void attach(DownloadScheduler *scheduler);

    // Off: every row is fetched (answers already given stay).
    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }
    int pendingCount() const { return m_pending; }

    HeldAnswer check(const DownloadRow &row) override;

Q_SIGNALS:
    // Answers came in (sent once per turn of the event loop however many came).
    void answered();

private:
    struct Entry
    {
        HeldAnswer answer;
        QString key;
    };
    void onVerdict(RowId id, const HeldFile &held, HeldVerdict verdict);
    void forget(const QList<RowId> &ids);

    PaperLibrary *m_library;
    bool m_enabled = true;
    int m_pending = 0;
    bool m_announcing = false;
    QHash<RowId, Entry> m_rows;
    std::shared_ptr<std::atomic_bool> m_cancel;
    QThreadPool m_pool;
};

// Where the queue finds a held file: its folder (with "/"), name and type, as a row names them.
HeldAnswer heldAnswerFor(const HeldFile &held);

// Whether the plain file at path is, as far as the library knows, another address's paper: the last
// download recorded at that path is another address's and had the size the file has now.
bool LibraryHoldsForAnother(PaperLibrary *library, const QString &path, const FileIdentity &file,
                            const QString &address);
// The queue asks the library before it skips on a file or replaces it.
void AttachForeignFileTest(DownloadScheduler *scheduler, PaperLibrary *library);
