#pragma once

#include "core/cache/anchoredpath.h"
#include "core/cache/cachelisting.h"

#include <QList>
#include <QObject>
#include <QQueue>
#include <atomic>
#include <memory>

// Where the caches are: the current user's cache folder, the users' home folders and the cache folder
// below each home.
struct CacheLocations
{
    AnchoredPath myCache;
    HomeRoots homes;
    QString relativePath;
};

// The cache viewer's state and commands, apart from its widgets. Each command does its walking and
// deleting on a worker thread and changes the state, on the owner's thread, only when it has finished,
// so the window stays responsive; commands asked for while one runs wait their turn. The owner's thread
// never waits for a worker, not even when the commands go: a listing under way is then stopped, and a
// deletion under way is carried to its end.
class CacheCommands : public QObject
{
    Q_OBJECT

public:
    enum class Command { ViewMine, ViewAll, DeleteSelected, DeleteAll };
    Q_ENUM(Command)

    explicit CacheCommands(CacheLocations locations, QObject *parent = nullptr);
    ~CacheCommands() override;

    // selected: one flag per row, read for DeleteSelected only.
    void run(Command command, const QList<bool> &selected = {});
    bool busy() const { return m_running; }

    // Column click: sorts by that column, the direction alternating with each click. Returns the old
    // index of each row in its new place.
    QList<qsizetype> sortByColumn(int column);

    const QList<CacheRow> &rows() const { return m_state.rows; }
    const QString &counter() const { return m_state.counter; }
    const QString &tag() const { return m_state.tag; }
    const QList<QPair<QString, QString>> &userRows() const { return m_state.userRows; }
    const QStringList &folderRows() const { return m_state.folderRows; }
    const QStringList &UserFolders() const { return m_state.UserFolders; }
    const QStringList &CacheFolders() const { return m_state.CacheFolders; }
    const CacheLocations &locations() const { return m_locations; }

Q_SIGNALS:
    // The file list (and, after an all-users listing, the user and folder lists) changed.
    void listChanged();
    void busyChanged(bool busy);
    void commandFinished(CacheCommands::Command command);

private:
    struct Pending
    {
        Command command;
        QList<bool> selected;
    };
    struct Outcome
    {
        bool listed = false;
        CacheListing listing;
    };

    void startNext();
    void finishRunning(const std::shared_ptr<Outcome> &outcome);
    void apply(const CacheListing &listing);

    CacheLocations m_locations;
    CacheListing m_state;
    QQueue<Pending> m_queue;
    bool m_running = false;
    Command m_runningCommand = Command::ViewMine;
    std::shared_ptr<std::atomic_bool> m_cancel;
    bool m_descending = false;
};
