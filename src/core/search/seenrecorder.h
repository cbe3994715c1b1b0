#pragma once

#include "core/library/librarytypes.h"

#include <QList>
#include <QObject>
#include <QTimer>

class CandidateListModel;
class PaperLibrary;

// Keeps every paper the candidate list takes in the paper library: its address, title, the other
// cells of its row on the result page and the page it came from. The rows of one page are written
// together, at the next turn of the event loop. While another program writes to the library they are
// tried again a little later (a few times); papers that cannot be written are counted in failed().
class SeenRecorder : public QObject
{
    Q_OBJECT

public:
    SeenRecorder(PaperLibrary *library, CandidateListModel *candidates, QObject *parent = nullptr);
    ~SeenRecorder() override; // writes what is waiting

    static constexpr int BusyRetries = 6;
    static constexpr int FirstRetryMs = 250; // doubled with each retry

    // Writes what is waiting now (unless a retry is due later).
    void flush();
    // Writes what is waiting now, once, and gives up (saying so) what the library does not take.
    void finish();

Q_SIGNALS:
    // A write failed; the text is the library's, for the user.
    void failed(const QString &message);

private:
    void onRowsInserted(int first, int last);

    PaperLibrary *m_library;
    CandidateListModel *m_candidates;
    QList<SeenPaper> m_waiting;
    QTimer m_retry;
    int m_busyTries = 0;
    bool m_finishing = false;
};
