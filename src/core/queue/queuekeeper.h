#pragma once

#include "core/library/librarytypes.h"
#include "core/queue/downloadlistmodel.h"

#include <QObject>
#include <QTimer>

class PaperLibrary;

// Keeps the download list in the paper library across runs: saved as it changes (at most once a
// second) and whenever asked (the window's close). What a saved row keeps: its address, name, type,
// folder, source page and state, and for a finished row the numbers and the note it showed. Progress of
// unfinished rows is not kept: such a row starts afresh when the queue restores it.
class QueueKeeper : public QObject
{
    Q_OBJECT

public:
    static constexpr int SaveDelayMs = 1000;

    QueueKeeper(PaperLibrary *library, DownloadListModel *model, QObject *parent = nullptr);
    ~QueueKeeper() override; // a change not yet saved is saved

    // The list the library held when this keeper was made.
    const QList<QueueRow> &savedRows() const { return m_loaded; }
    // Saves the list now when it differs from what was saved last; false when the write failed.
    bool saveNow();
    bool hasUnsavedChange() const { return m_changed; }
    // Stops watching the list (saving what is pending first); the window calls it before the list goes.
    void detach();

Q_SIGNALS:
    void saved();
    // A write failed; the text is the library's, for the user.
    void failed(const QString &message);

private:
    void onChanged();

    PaperLibrary *m_library;
    DownloadListModel *m_model;
    QList<QueueRow> m_loaded;
    QList<QueueRow> m_saved;
    QTimer m_delay;
    bool m_changed = false;
};

// A row as it is saved, and as it comes back (a new id is given when it is added).
QueueRow queueRowFrom(const DownloadRow &row);
DownloadRow downloadRowFrom(const QueueRow &row);
// Rows of a saved list that did not end done.
int unfinishedCount(const QList<QueueRow> &rows);
