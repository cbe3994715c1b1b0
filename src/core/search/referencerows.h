#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/search/handover.h"
#include "core/search/referenceimporting.h"

#include <QSet>
#include <optional>

// Rows of the download list for the papers of a reference list, made as a batch run lists them: each
// under the address of its first way, named from the list's metadata, with its identifier and the way
// its address came by, and its other ways kept in the sources. A paper gets no second row, whether it
// is listed already under any spelling of its DOI, under its arXiv id in any version, or under the
// address of its first way.
class ReferenceRowMaker
{
public:
    // The rows listed now are those of `listed`; it and the sources outlive the maker.
    ReferenceRowMaker(const DownloadListModel &listed, ReferenceSources &sources, HandOverOptions options);

    // The row for the entry; none when its paper is listed already (counted) or it names no way.
    std::optional<DownloadRow> rowOf(const ReferenceEntry &entry);
    // The rows for the entries from `from` up to `to`, each entry let go once its row is made: a long
    // list and its rows are not held side by side.
    QList<DownloadRow> takeRows(QList<ReferenceEntry> &entries, qsizetype from, qsizetype to);
    int alreadyListed() const { return m_alreadyListed; }
    // Entries none of whose ways makes an address (a resolver that makes none, say).
    int withoutWay() const { return m_withoutWay; }

private:
    // The DOI and arXiv keys of the paper a row is for, as far as the row tells.
    void noteRow(const DownloadRow &row);
    bool listedBefore(const ReferenceEntry &entry) const;
    void noteEntry(const ReferenceEntry &entry);
    DownloadRow rowFor(const ReferenceEntry &entry, const QString &address, const QString &identifier);
    // Texts that thousands of rows repeat (a journal, a year) become one text they all share.
    void shareTexts(PaperCells &cells);

    const DownloadListModel &m_listed;
    ReferenceSources &m_sources;
    HandOverOptions m_options;
    QSet<QString> m_dois;   // DoiKey of every paper listed
    QSet<QString> m_arxivs; // ArxivKey of every paper listed
    QSet<QString> m_made;   // addresses of the rows made here, which may not be in the list yet
    QSet<QString> m_shared; // the texts shareTexts hands out
    int m_alreadyListed = 0;
    int m_withoutWay = 0;
};
