#pragma once

#include "core/library/papermetadata.h"
#include "core/references/findertemplate.h"
#include "core/references/referencelist.h"
#include "core/rows/rowsources.h"
#include "core/search/referencefinders.h"

#include <QHash>
#include <QList>
#include <optional>

class CandidateListModel;
class SiteRulesCatalog;

// Which way to a listed paper gave the address a row asks (the manifest names it).
namespace sourceorigin {
inline const QString FileAddress = QStringLiteral("file address"); // the list's own pdf/file/L1 field
inline const QString Arxiv = QStringLiteral("arXiv");
inline const QString Resolver = QStringLiteral("DOI resolver");
inline const QString WebPage = QStringLiteral("web page"); // the page about the paper the list named
// the full text the rules of the landing page's site make of its address
inline const QString SiteRules = QStringLiteral("site rules");
} // namespace sourceorigin

// The ways to an entry's full text, in the order they are tried: its own file address, the finders (in
// their order, those whose template the entry's identifiers fill), the arXiv's PDF of its arXiv id (or of
// the id inside an arXiv DOI), its DOI's landing page through the resolver, and the page about it that
// the list named. Empty for an entry that names none of them.
QList<RowSources::Source> EntrySources(const ReferenceEntry &entry, const QString &resolverTemplate,
                                       const FinderReaders &finders = {});

// The identifier a row of the entry goes under: its DOI, else its arXiv id; empty for a plain address.
QString EntryIdentifier(const ReferenceEntry &entry);

// The title a row of the entry gets: the list's, else the file name in its address (or the address).
QString EntryTitle(const ReferenceEntry &entry, const QString &address);

// What the list says of the paper, as a page of it would (title, and cells under the headers the names,
// the library and the exports know: authors one by one, year, journal, DOI).
PaperMetadata EntryMetadata(const ReferenceEntry &entry);

// The ways to the papers of a reference list, for the queue: a row keyed by its entry's first way asks
// for the next one when a way gives no file. Addresses are filled in only when a row gets there.
class ReferenceSources : public RowSources
{
public:
    explicit ReferenceSources(const QString &resolverTemplate = DefaultDoiResolverTemplate)
        : m_resolver(resolverTemplate)
    {
    }

    // Keeps the entry under the address of its first way, given back through first. False when the
    // entry names no way, or that address is listed already (the entry is then another listing of it).
    bool add(const ReferenceEntry &entry, Source *first);
    // A row of an earlier run listed under the identifier (a DOI or an arXiv id): the ways its
    // identifier gives are tried after the row's own address.
    void addResumed(const QString &key, const QString &identifier);
    // The identifier of the paper listed under a row's address; empty when it came from no list.
    QString identifierOf(const QString &key) const;
    // Which way the address of a listed paper's row is (its first).
    QString originOf(const QString &key) const;
    bool knows(const QString &key) const { return m_entries.contains(key); }
    // The row listed under the address is gone: a later listing of the paper may take the address again.
    void forget(const QString &key) { m_entries.remove(key); }
    // The resolver the DOIs of papers listed from now on are asked through.
    void setResolver(const QString &resolverTemplate) { m_resolver = resolverTemplate; }
    const QString &resolver() const { return m_resolver; }
    // The rules by which a landing page's address gives the full text (none: that way is not tried). The
    // catalog outlives these sources.
    void setSiteRules(const SiteRulesCatalog *rules) { m_siteRules = rules; }
    // The finders asked for every paper from now on.
    void setFinders(const FinderReaders &finders) { m_finders = finders; }
    const FinderReaders &finders() const { return m_finders; }
    int count() const { return static_cast<int>(m_entries.size()); }

    std::optional<Source> sourceAfter(const DownloadRow &row, int tried) override;
    std::shared_ptr<const AnswerReader> readerOf(const DownloadRow &row) override;
    std::optional<Source> fullTextOfPage(const DownloadRow &row, const QUrl &page) override;

private:
    // The entry listed under the row's address, else one of the identifier the row carries (a row of a
    // list restored from the last run); none for a row that came from no list.
    std::optional<ReferenceEntry> entryOf(const DownloadRow &row) const;
    QList<Source> sourcesOf(const ReferenceEntry &entry) const
    {
        return EntrySources(entry, m_resolver, m_finders);
    }

    QString m_resolver;
    FinderReaders m_finders;
    const SiteRulesCatalog *m_siteRules = nullptr;
    QHash<QString, ReferenceEntry> m_entries;
};

// How a reference list went into the candidate list.
struct ReferenceImportOutcome
{
    int added = 0;
    int alreadyListed = 0; // papers the candidate list held before under the same address
};

// Puts the usable entries of the list into the candidate list (type "pdf", the list's metadata in the
// cells, the source page of a link-list line as the tag) and their ways into sources.
ReferenceImportOutcome AddReferenceEntries(const ReferenceList &list, CandidateListModel &candidates,
                                           ReferenceSources &sources, const QString &saveFolder);

// "line 12: names no DOI, arXiv id or web address (foo)": an entry that was not taken, for the user.
QString RefusedEntryText(const ReferenceEntry &entry);
