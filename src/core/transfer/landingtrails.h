#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/rows/rowsources.h"
#include "core/rows/rowwriter.h"
#include "core/transfer/downloader.h"

#include <QHash>
#include <QSet>
#include <QString>

// Rows on their way from a paper's web page to its full text: the address each asks for next and the
// pages gone through.
class LandingTrails
{
public:
    // A row goes through at most this many of a paper's own web pages on the way to its full text.
    static constexpr int MaxLandingPages = 2;

    explicit LandingTrails(RowWriter rows) : m_rows(rows) {}

    // The address the row's next transfer asks for: its own, or the full text a page of it named.
    QString addressOf(const DownloadRow &row) const;
    // The row is on a trail (its next start goes on from a page, not from its own address).
    bool onTrail(RowId id) const { return m_trails.contains(id); }
    // The row's next transfer asks where its paper is (a finder): its answer is read, not saved. A row
    // that starts at its own address learns from the sources whether that is such a way.
    bool readsAnswer(const DownloadRow &row, RowSources *sources);
    void remove(RowId id) { m_trails.remove(id); }
    // The row's address gave no file for a reason another way may not meet (no wall, no stop, no disk):
    // the row goes on to the next way the sources know to its paper, a fresh start with no page of the
    // earlier way behind it that waits for its turn as any row does (true). False when none is left.
    bool goOnToNextSource(RowId id, const TransferResult &result, RowSources *sources);

    // The answer was a web page: when it is a paper's own page that names its full text, the row goes
    // on to that address as a transfer of its own (true). Otherwise the reason says why the row ends
    // here. What the page declares joins what is known of the paper, and the row's name follows it
    // (namesFromLinks: how rows that were not handed over are named).
    // A page that names none goes on to the full text its site's rules make of its address, when the
    // sources give one.
    bool follow(RowId id, TransferResult *result, bool namesFromLinks, RowSources *sources = nullptr);

private:
    // What the page declares goes to the row, and the row's name follows all that is known of the paper.
    void takeDeclared(RowId id, const PaperMetadata &declared, bool namesFromLinks);

    struct Trail
    {
        QString next;                               // the full-text address the next transfer asks for
        int pages = 0;                              // web pages gone through
        QSet<QString> fetched;                      // every address asked for so far
        int sources = 0;                            // other ways to the paper taken so far
        std::shared_ptr<const AnswerReader> reader; // the next answer says where the paper is
    };

    // Why the row does not go on from the page that came from `asked`; none when it follows the full text.
    static FailureReason refusal(const Trail &trail, const TransferResult &result, const QUrl &asked);
    // A finder's answer read for the full text's address, as if a landing page had named it; the row's
    // next transfer fetches that address as any other.
    static void readAnswer(Trail &trail, TransferResult *result, const QUrl &asked);
    // The way the sources make of a paper's page that named no full text, put in as if the page had
    // named it; its origin, or empty when there is none.
    static QString pointByRules(const DownloadRow &row, const Trail &trail, TransferResult *result,
                                const QUrl &page, RowSources *sources);

    RowWriter m_rows;
    QHash<RowId, Trail> m_trails;
};
