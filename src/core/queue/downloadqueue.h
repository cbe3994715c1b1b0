#pragma once

#include "core/queue/downloadlistmodel.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <functional>

class DownloadScheduler;
class HeldRowChecker;
class LibraryRecorder;
class PaperLibrary;
class QueueKeeper;

// The one owner of the download list and its life: the rows, the scheduler that fetches them, the
// paper library's hooks (held rows passed over, every outcome recorded, the list kept across runs) and
// the one more try a row gets after an automatic login. The download window and the batch mode drive it
// and show what it signals; neither wires these pieces itself.
class DownloadQueue : public QObject
{
    Q_OBJECT

public:
    // What the queue asks of whoever can log in: whether automatic login is on, and to begin one (true
    // when a login runs now, false when there is nothing to log in with).
    struct LoginHooks
    {
        std::function<bool()> enabled;
        std::function<bool()> begin;
    };

    explicit DownloadQueue(QObject *parent = nullptr);
    ~DownloadQueue() override; // the library's hooks, then the transfers, then the rows

    DownloadListModel *model() const { return m_model; }
    DownloadScheduler *scheduler() const { return m_scheduler; }

    // The paper library: rows held from earlier downloads are passed over while skipHeld is on, every
    // outcome is recorded, and with keepList the list itself is kept across runs.
    void attachLibrary(PaperLibrary *library, bool skipHeld, bool keepList);
    // Hashing under way is written (or given up) and the list saved; the queue then runs without them.
    void releaseLibrary();
    PaperLibrary *library() const { return m_library; }
    HeldRowChecker *heldRowChecker() const { return m_heldChecker; }
    LibraryRecorder *libraryRecorder() const { return m_recorder; }
    QueueKeeper *queueKeeper() const { return m_keeper; }
    void setSkipHeld(bool on);

    // A run the user starts: every row may have its one more try after a login again.
    void start();
    // The user stops the run: a login that ends later does not start it again.
    void stop();

    void setLoginHooks(LoginHooks hooks) { m_login = std::move(hooks); }
    // The login that the queue waited for has ended: the rows that met a web page try once more.
    void loginFinished();

Q_SIGNALS:
    void rowEnded(RowId id);
    void webPageReceived(RowId id);
    void queueFinished();
    void verificationNeeded(const QString &host, const QUrl &page);
    // The library did not take outcomes or the list; the text is the library's, for the user.
    void libraryFailed(const QString &message);

private:
    void onWebPageReceived(RowId id);
    void retryAfterLogin(const QString &key);

    DownloadListModel *m_model;
    DownloadScheduler *m_scheduler;
    PaperLibrary *m_library = nullptr;
    HeldRowChecker *m_heldChecker = nullptr;
    LibraryRecorder *m_recorder = nullptr;
    QueueKeeper *m_keeper = nullptr;
    LoginHooks m_login;
    QSet<QString> m_loginRetried; // rows given their one more try after a login, this run
    QStringList m_pendingRetries; // rows waiting for the login that runs now
    bool m_userStopped = false;
};
