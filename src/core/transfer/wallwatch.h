#pragma once

#include "core/rows/downloadlistmodel.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>

// Tells when a site answers papers with a wall (a verification or login page, a 403) two requests in a
// row. Answers are weighed in the order their requests went out, not in the order they arrive: a paper
// asked for earlier that reaches the disk late does not hide two walls met after it, and a request still
// under way keeps two walls on either side of it apart until its answer is known.
class WallWatch
{
public:
    enum class Answer { Wall, Passed, Uncounted };

    // A request for the row went out to the host.
    void started(RowId id, const QString &host);
    // The row's answer. True when it completes two walls in a row for its host: wallRows() and page() then
    // name every row of that host that met the wall and the page that came back.
    bool answered(RowId id, Answer answer, const QUrl &page = {});
    QString host() const { return m_host; }
    QList<RowId> wallRows() const { return m_rows; }
    QUrl page() const { return m_page; }
    // Forgets every answer (a new run, or the wall was solved).
    void clear();

private:
    enum class State { Pending, Wall, Passed };
    struct Entry
    {
        RowId id = RowId::None;
        State state = State::Pending;
        QUrl page;
    };
    bool findPair(const QString &host);

    quint64 m_count = 0;
    QHash<RowId, QPair<QString, quint64>> m_requests; // host and order of each request under way
    QHash<QString, QMap<quint64, Entry>> m_byHost;    // answers not yet behind a paper, by order
    QString m_host;
    QList<RowId> m_rows;
    QUrl m_page;
};
