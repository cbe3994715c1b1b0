#pragma once

#include "core/common/onceperturn.h"
#include "core/library/heldcheck.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/heldrow.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <atomic>
#include <memory>
#include <optional>

class DownloadScheduler;
class LibraryThread;
class PaperLibrary;

// Tells the queue which waiting rows the paper library holds: downloaded before, the file still there
// with its recorded size and SHA-256. The library is read on a thread of its own, with a connection of its
// own, for all rows asked about in one turn of the event loop at once; the file is hashed on a worker
// thread; the row is passed over until the answer is in. A row found not held is not asked about again
// while this checker lives.
class HeldRowChecker : public QObject, public HeldRowCheck
{
    Q_OBJECT

public:
    static constexpr qsizetype RowsPerRead = 256;

    explicit HeldRowChecker(PaperLibrary *library, QObject *parent = nullptr);
    ~HeldRowChecker() override; // hashing under way is cancelled and waited for, a read under way waited for

    // Installs the check in the scheduler, which looks for work again with each batch of answers.
    void attach(DownloadScheduler *scheduler);

    // Off: every row is fetched (answers already given stay).
    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }
    // Rows waiting for the library's answer or for their file's hash.
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
    struct Asked
    {
        RowId id;
        QString key;
        QString doiKey; // a file held for the DOI from another address is the paper's too
    };
    void askLibrary();
    void tookHeld(const QList<Asked> &asked, const QList<std::optional<HeldFile>> &found);
    void hash(RowId id, const HeldFile &file);
    void onVerdict(RowId id, const HeldFile &held, HeldVerdict verdict);
    void announce();
    void forget(const QList<RowId> &ids);

    PaperLibrary *m_library;
    bool m_enabled = true;
    int m_pending = 0;
    OncePerTurn m_announce{this, [this] { Q_EMIT answered(); }};
    QHash<RowId, Entry> m_rows;
    QList<Asked> m_asking; // for the next read
    std::shared_ptr<std::atomic_bool> m_cancel;
    QThreadPool m_pool;
    std::unique_ptr<LibraryThread> m_reader;
};

// Where the queue finds a held file: its folder (with "/"), name and type, as a row names them.
HeldAnswer heldAnswerFor(const HeldFile &held);

// Whether the plain file at path is, as far as the library knows, another address's paper: the last
// download recorded at that path is another address's and had the size the file has now. The library
// is read on a thread of its own, for all paths asked about in one turn of the event loop at once.
class ForeignFileLookup : public QObject, public ForeignFileCheck
{
    Q_OBJECT

public:
    explicit ForeignFileLookup(PaperLibrary *library, QObject *parent = nullptr);
    ~ForeignFileLookup() override; // a read under way is waited for

    quint64 ask(const QString &path) override;
    bool answeredSince(const QString &path, quint64 ticket) const override;
    bool holdsForAnother(const QString &path, const FileIdentity &seen,
                         const QString &address) const override;

Q_SIGNALS:
    // Answers came in (sent once per turn of the event loop however many came).
    void answered();

private:
    // What the library said of a path: the last download recorded there, if any.
    struct Known
    {
        quint64 seq = 0; // of the read that said it
        std::optional<HeldFile> last;
    };
    void askLibrary();
    // The answers of read seq for paths (nothing held at a path not found).
    void took(quint64 seq, const QSet<QString> &paths, const QHash<QString, std::optional<HeldFile>> &found);

    PaperLibrary *m_library;
    QSet<QString> m_asking; // for the next read
    quint64 m_seq = 0;      // of the last read handed over
    QHash<QString, Known> m_known;
    OncePerTurn m_announce{this, [this] { Q_EMIT answered(); }};
    std::unique_ptr<LibraryThread> m_reader;
};

// The queue asks the library (with a ForeignFileLookup of the scheduler's) before it skips on a file or
// replaces it; nullptr asks nobody.
void AttachForeignFileTest(DownloadScheduler *scheduler, PaperLibrary *library);
