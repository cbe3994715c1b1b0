#pragma once

#include "core/library/librarythread.h"
#include "core/library/librarytypes.h"
#include "core/rows/downloadlistmodel.h"

#include <QObject>
#include <QTimer>
#include <memory>

class PaperLibrary;
class QThread;

// Keeps the download list in the paper library across runs: saved as it changes (at most once a
// second, on a thread and connection of its own) and whenever asked (the window's close, which waits for
// the write). What a saved row keeps: its address, name, type,
// folder, source page and state, the paper's own page it went through with the full text that page named
// and what it declared, and for a finished row the numbers and the note it showed. Progress of
// unfinished rows is not kept: such a row starts afresh when it comes back.
// The saved list is read on a thread of its own (with the checks of the files its rows own), and
// loaded() tells when it is there. Until then nothing is written: a save waits for the read, and a keeper
// detached while reading keeps the saved rows, after those of the list, rather than the list alone.
class QueueKeeper : public QObject
{
    Q_OBJECT

public:
    static constexpr int SaveDelayMs = 1000;

    QueueKeeper(PaperLibrary *library, DownloadListModel *model, QObject *parent = nullptr);
    ~QueueKeeper() override; // a change not yet saved is saved

    bool isLoading() const { return m_loading; }
    // The list the library held when this keeper was made (waiting for the read when it is not done).
    const QList<QueueRow> &savedRows();
    // The saved rows as list rows, unfinished ones waiting and finished ones as they were, with the checks
    // of the files they own made on the reading thread; the queue puts them into the list in one go.
    QList<DownloadRow> takeSavedRows();
    // Saves the list now when it differs from what was saved last; false when the write failed.
    bool saveNow();
    bool hasUnsavedChange() const { return m_changed; }
    // Stops watching the list (saving what is pending first); the window calls it before the list goes.
    void detach();

Q_SIGNALS:
    // The saved list has been read (not emitted when the keeper is detached first).
    void loaded();
    void saved();
    // A write failed; the text is the library's, for the user.
    void failed(const QString &message);
    // Another program holds the library: the list waits to be saved, and was saved.
    void busyChanged(LibraryWait wait);

private:
    struct Loading;

    void onChanged();
    // Takes the rows read (waiting for the reader when it is still at work).
    void finishLoading(bool announce);
    QList<QueueRow> listRows() const;
    // The rows followed by the saved rows whose address they do not hold.
    QList<QueueRow> withSavedRows(QList<QueueRow> rows) const;
    bool write(QList<QueueRow> rows);
    // The save a second after a change: written on the library's thread, the answer coming back later.
    void saveLater();
    void onSavedLater(int generation, const QList<QueueRow> &rows, const LibraryThread::Answer &answer);
    // Waits for a save under way; its answer no longer counts (a save made here follows it).
    void waitForSaveLater();

    PaperLibrary *m_library;
    DownloadListModel *m_model;
    std::shared_ptr<Loading> m_read;
    QThread *m_reader = nullptr;
    bool m_loading = false;
    QList<QueueRow> m_loaded;
    QList<DownloadRow> m_prepared; // m_loaded as rows of the list, until they are restored
    QList<QueueRow> m_saved;
    QTimer m_delay;
    bool m_changed = false;
    std::unique_ptr<LibraryThread> m_writer;
    bool m_writing = false;      // a save is on the library's thread
    int m_generation = 0;        // of the save under way; an answer of an earlier one is not taken
    bool m_savedUnknown = false; // a save was waited for without its answer: m_saved may not be what is saved
    bool m_waitingForBusy = false; // the last save found the library held by another program
};

// A row as it is saved, and as it comes back (a new id is given when it is added).
QueueRow queueRowFrom(const DownloadRow &row);
DownloadRow downloadRowFrom(const QueueRow &row);
// Rows of a saved list that did not end done.
int unfinishedCount(const QList<QueueRow> &rows);
