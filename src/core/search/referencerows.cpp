#include "core/search/referencerows.h"

#include "core/library/landingpage.h"
#include "core/references/identifiers.h"

namespace {

QString arxivOf(const ReferenceEntry &entry)
{
    return entry.has(ReferenceEntry::Field::Arxiv) ? entry.arxiv() : ArxivIdOfDoi(entry.doi());
}

// Most distinct texts shared: beyond them a list's texts are mostly unlike one another.
constexpr qsizetype MaxSharedTexts = 20000;

// The text takes the buffer of an equal one the row holds already.
void shareIfEqual(QString &text, const QString &held)
{
    if (text == held)
        text = held;
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
    // The identifier, the sources' copy of the entry and the DOI the duplicate check knows share one
    // text: the entry's identifiers alone.
    const ReferenceEntry kept = entry.waysOnly();
    RowSources::Source first;
    if (!m_sources.add(kept, &first)) {
        ++m_alreadyListed;
        return std::nullopt;
    }
    noteEntry(kept);
    m_made.insert(first.address);
    DownloadRow row = rowFor(entry, first.address, EntryIdentifier(kept));
    row.origin = first.origin;
    return row;
}

DownloadRow ReferenceRowMaker::rowFor(const ReferenceEntry &entry, const QString &address,
                                      const QString &identifier)
{
    PaperMetadata paper = EntryMetadata(entry);
    paper.title = EntryTitle(entry, address);
    // A hundred thousand rows are held at once: the DOI cell that is the identifier, the name that is the
    // title and a journal or year that other rows name take no text of their own.
    for (PaperCell &cell : paper.cells) {
        if (cell.header == landingcell::Doi)
            shareIfEqual(cell.text, identifier);
    }
    shareTexts(paper.cells);
    DownloadRow row = HandOverRow(address, paper, QStringLiteral("pdf"), m_options.defaultFolder,
                                  entry.sourcePage(), m_options);
    shareIfEqual(row.name, row.naming.given.title);
    row.identifier = identifier;
    return row;
}

QList<DownloadRow> ReferenceRowMaker::takeRows(QList<ReferenceEntry> &entries, qsizetype from, qsizetype to)
{
    QList<DownloadRow> rows;
    rows.reserve(std::max<qsizetype>(0, to - from));
    for (qsizetype i = from; i < to; ++i) {
        if (std::optional<DownloadRow> row = rowOf(entries.at(i)))
            rows.append(std::move(*row));
        entries[i] = ReferenceEntry();
    }
    return rows;
}

void ReferenceRowMaker::shareTexts(PaperCells &cells)
{
    for (PaperCell &cell : cells) {
        if (cell.header != landingcell::Date && cell.header != landingcell::Source)
            continue;
        if (const auto known = m_shared.constFind(cell.text); known != m_shared.cend())
            cell.text = *known;
        else if (m_shared.size() < MaxSharedTexts)
            m_shared.insert(cell.text);
    }
}
