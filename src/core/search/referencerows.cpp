#include "core/search/referencerows.h"

#include "core/references/identifiers.h"

namespace {

QString arxivOf(const ReferenceEntry &entry)
{
    return entry.has(ReferenceEntry::Field::Arxiv) ? entry.arxiv() : ArxivIdOfDoi(entry.doi());
}

} // namespace

ReferenceRowMaker::ReferenceRowMaker(const DownloadListModel &listed, ReferenceSources &sources,
                                     HandOverOptions options)
    : m_listed(listed), m_sources(sources), m_options(std::move(options))
{
    for (int i = 0; i < listed.count(); ++i)
        noteRow(listed.row(i));
}

void ReferenceRowMaker::noteRow(const DownloadRow &row)
{
    // A row handed over from a result page may still name its paper's DOI: in its address (a resolver's),
    // in the cells it came with, or in what its landing page declared.
    for (const QString &text : {row.identifier, row.key, row.naming.given.doi(), row.declared.doi()}) {
        if (text.isEmpty())
            continue;
        if (const DoiRead doi = ReadDoi(text); doi.ok()) {
            m_dois.insert(DoiKey(doi.doi));
            if (const QString arxiv = ArxivIdOfDoi(doi.doi); !arxiv.isEmpty())
                m_arxivs.insert(ArxivKey(arxiv));
        } else if (const QString arxiv = ReadArxivId(text); !arxiv.isEmpty()) {
            m_arxivs.insert(ArxivKey(arxiv));
        }
    }
}

bool ReferenceRowMaker::listedBefore(const ReferenceEntry &entry) const
{
    if (entry.has(ReferenceEntry::Field::Doi) && m_dois.contains(DoiKey(entry.doi())))
        return true;
    const QString arxiv = arxivOf(entry);
    return !arxiv.isEmpty() && m_arxivs.contains(ArxivKey(arxiv));
}

void ReferenceRowMaker::noteEntry(const ReferenceEntry &entry)
{
    if (entry.has(ReferenceEntry::Field::Doi))
        m_dois.insert(DoiKey(entry.doi()));
    if (const QString arxiv = arxivOf(entry); !arxiv.isEmpty())
        m_arxivs.insert(ArxivKey(arxiv));
}

std::optional<DownloadRow> ReferenceRowMaker::rowOf(const ReferenceEntry &entry)
{
    if (listedBefore(entry)) {
        ++m_alreadyListed;
        return std::nullopt;
    }
    const QList<RowSources::Source> ways = EntrySources(entry, m_sources.resolver(), m_sources.finders());
    if (ways.isEmpty()) {
        ++m_withoutWay;
        return std::nullopt;
    }
    // The sources still know a paper whose row has left the list: its address is free again.
    const QString &firstAddress = ways.first().address;
    if (!m_listed.containsKey(firstAddress) && !m_made.contains(firstAddress))
        m_sources.forget(firstAddress);
    RowSources::Source first;
    if (!m_sources.add(entry, &first)) {
        ++m_alreadyListed;
        return std::nullopt;
    }
    noteEntry(entry);
    m_made.insert(first.address);
    const PaperMetadata paper{EntryTitle(entry, first.address), EntryMetadata(entry).cells};
    DownloadRow row = HandOverRow(first.address, paper, QStringLiteral("pdf"), m_options.defaultFolder,
                                  entry.sourcePage(), m_options);
    row.identifier = EntryIdentifier(entry);
    row.origin = first.origin;
    return row;
}
