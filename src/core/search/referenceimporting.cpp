#include "core/search/referenceimporting.h"

#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/library/landingpage.h"
#include "core/library/linkimport.h"
#include "core/references/identifiers.h"
#include "core/rows/downloadlistmodel.h"
#include "core/search/candidatelistmodel.h"
#include "core/sites/pagefulltext.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

QString arxivIdOf(const ReferenceEntry &entry)
{
    return entry.has(ReferenceEntry::Field::Arxiv) ? entry.arxiv() : ArxivIdOfDoi(entry.doi());
}

} // namespace

// A row without a title of its own is titled after its address, as a link is: the title a page of the
// paper declares then names it.
QString EntryTitle(const ReferenceEntry &entry, const QString &address)
{
    if (!entry.title().isEmpty())
        return entry.title();
    const QString shown = WithoutCredentials(address);
    const QString name = TrimSpaces(FileNameFromPath(shown, true));
    return name.isEmpty() ? shown : name;
}

QList<RowSources::Source> EntrySources(const ReferenceEntry &entry, const QString &resolverTemplate,
                                       const FinderReaders &finders)
{
    QList<RowSources::Source> sources;
    const auto add = [&sources](const QString &address, const QString &origin,
                                std::shared_ptr<const AnswerReader> reader = nullptr) {
        if (!IsWebAddress(address))
            return;
        for (const RowSources::Source &known : std::as_const(sources)) {
            if (known.address == address)
                return;
        }
        sources.append({address, origin, std::move(reader)});
    };
    add(entry.fileAddress(), sourceorigin::FileAddress);
    const QString arxiv = arxivIdOf(entry);
    for (const std::shared_ptr<const FinderAnswerReader> &finder : finders)
        add(finder->finder().addressFor(entry.doi(), arxiv), finder->finder().name, finder);
    if (!arxiv.isEmpty())
        add(ArxivPdfAddress(arxiv), sourceorigin::Arxiv);
    if (entry.has(ReferenceEntry::Field::Doi))
        add(DoiResolverAddress(entry.doi(), resolverTemplate), sourceorigin::Resolver);
    add(entry.webAddress(), sourceorigin::WebPage);
    return sources;
}

QString EntryIdentifier(const ReferenceEntry &entry)
{
    if (entry.has(ReferenceEntry::Field::Doi))
        return entry.doi();
    return entry.arxiv();
}

namespace {

// Whether the authors' cell needs its names one by one: a name that holds a separator the joined text
// would be split at (or none at all) is not given back by the text alone.
bool namesNeedValues(const QStringList &names)
{
    static const QRegularExpression separators(QStringLiteral("[;；、，]"));
    return std::any_of(names.cbegin(), names.cend(), [](const QString &name) {
        return name.trimmed().isEmpty() || name.contains(separators);
    });
}

} // namespace

PaperMetadata EntryMetadata(const ReferenceEntry &entry)
{
    PaperMetadata metadata;
    metadata.title = entry.title();
    const QStringList authors = entry.authors();
    const std::pair<QString, QString> cells[] = {{landingcell::Date, entry.year()},
                                                 {landingcell::Source, entry.journal()},
                                                 {landingcell::Doi, entry.doi()}};
    // A long list keeps these for every row: no room beyond the cells, and the names one by one only
    // where the joined text does not give them back.
    metadata.cells.reserve((authors.isEmpty() ? 0 : 1) +
                           std::count_if(std::cbegin(cells), std::cend(cells),
                                         [](const auto &cell) { return !cell.second.isEmpty(); }));
    if (!authors.isEmpty()) {
        QString joined = authors.join(QStringLiteral("; "));
        joined.squeeze();
        metadata.cells.append(
            PaperCell{landingcell::Authors, joined, namesNeedValues(authors) ? authors : QStringList()});
    }
    for (const auto &[header, text] : cells) {
        if (!text.isEmpty())
            metadata.cells.append(PaperCell{header, text});
    }
    return metadata;
}

bool ReferenceSources::add(const ReferenceEntry &entry, Source *first)
{
    const QList<Source> sources = sourcesOf(entry);
    if (sources.isEmpty() || m_entries.contains(sources.first().address))
        return false;
    *first = sources.first();
    // The ways are worked out again from the identifiers and addresses; the list's metadata is the
    // row's, and is not kept twice.
    m_entries.insert(first->address, entry.waysOnly());
    return true;
}

namespace {

// An entry of the identifier alone (a DOI or an arXiv id); none for anything else.
std::optional<ReferenceEntry> entryOfIdentifier(const QString &identifier)
{
    ReferenceEntry entry;
    if (const DoiRead doi = ReadDoi(identifier); doi.ok())
        entry.setValue(ReferenceEntry::Field::Doi, doi.doi);
    else if (const QString arxiv = ReadArxivId(identifier); !arxiv.isEmpty())
        entry.setValue(ReferenceEntry::Field::Arxiv, arxiv);
    else
        return std::nullopt;
    return entry;
}

} // namespace

void ReferenceSources::addResumed(const QString &key, const QString &identifier)
{
    if (std::optional<ReferenceEntry> entry = entryOfIdentifier(identifier))
        m_entries.insert(key, *entry);
}

std::optional<ReferenceEntry> ReferenceSources::entryOf(const DownloadRow &row) const
{
    if (const auto it = m_entries.constFind(row.key); it != m_entries.cend())
        return *it;
    return row.identifier.isEmpty() ? std::nullopt : entryOfIdentifier(row.identifier);
}

QString ReferenceSources::identifierOf(const QString &key) const
{
    const auto it = m_entries.constFind(key);
    return it == m_entries.cend() ? QString() : EntryIdentifier(*it);
}

QString ReferenceSources::originOf(const QString &key) const
{
    const auto it = m_entries.constFind(key);
    if (it == m_entries.cend())
        return QString();
    const QList<Source> sources = sourcesOf(*it);
    return sources.isEmpty() ? QString() : sources.first().origin;
}

std::optional<RowSources::Source> ReferenceSources::sourceAfter(const DownloadRow &row, int tried)
{
    const std::optional<ReferenceEntry> entry = entryOf(row);
    if (!entry)
        return std::nullopt;
    // The row's own address is its first way; the others are worked out again, which costs less than
    // keeping them for every row of a long list.
    QList<Source> sources = sourcesOf(*entry);
    sources.removeIf([&row](const Source &source) { return source.address == row.key; });
    if (tried < 0 || tried >= sources.size())
        return std::nullopt;
    return sources.at(tried);
}

std::shared_ptr<const AnswerReader> ReferenceSources::readerOf(const DownloadRow &row)
{
    const std::optional<ReferenceEntry> entry = entryOf(row);
    if (!entry)
        return nullptr;
    for (const Source &source : sourcesOf(*entry)) {
        if (source.address == row.key)
            return source.reader;
    }
    return nullptr;
}

std::optional<RowSources::Source> ReferenceSources::fullTextOfPage(const DownloadRow &row, const QUrl &page)
{
    if (!m_siteRules || !entryOf(row))
        return std::nullopt;
    const QString address = FullTextByRules(*m_siteRules, page);
    if (address.isEmpty())
        return std::nullopt;
    return Source{address, sourceorigin::SiteRules, nullptr};
}

ReferenceImportOutcome AddReferenceEntries(const ReferenceList &list, CandidateListModel &candidates,
                                           ReferenceSources &sources, const QString &saveFolder)
{
    ReferenceImportOutcome outcome;
    for (const ReferenceEntry &entry : list.entries) {
        RowSources::Source first;
        if (!sources.add(entry, &first)) {
            ++outcome.alreadyListed;
            continue;
        }
        const PaperMetadata metadata = EntryMetadata(entry);
        if (candidates.加入LV1(EntryTitle(entry, first.address), first.address, entry.sourcePage(),
                               QStringLiteral("pdf"), saveFolder, metadata.cells))
            ++outcome.added;
        else
            ++outcome.alreadyListed;
    }
    return outcome;
}

QString RefusedEntryText(const ReferenceEntry &entry)
{
    QString text = QStringLiteral("line %1: %2").arg(entry.line()).arg(EntryProblemText(entry.problem()));
    if (!entry.detail().isEmpty())
        text += QStringLiteral(": ") + ShowableText(entry.detail().left(200));
    return text;
}
