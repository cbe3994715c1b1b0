#pragma once

#include "library/librarytypes.h"

#include <QList>
#include <QObject>

class CandidateListModel;
class PaperLibrary;

// Keeps every paper the candidate list takes in the paper library: its address, title, the other
// cells of its row on the result page and the page it came from. The rows of one page are written
// together, at the next turn of the event loop.
class SeenRecorder : public QObject
{
    Q_OBJECT

public:
    SeenRecorder(PaperLibrary *library, CandidateListModel *candidates, QObject *parent = nullptr);
    ~SeenRecorder() override; // writes what is waiting

    // Writes what is waiting now.
    void flush();

Q_SIGNALS:
    // A write failed; the text is the library's, for the user.
    void failed(const QString &message);

private:
    void onRowsInserted(int first, int last);

    PaperLibrary *m_library;
    CandidateListModel *m_candidates;
    QList<SeenPaper> m_waiting;
};
