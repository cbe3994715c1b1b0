#include "core/references/referencecollector.h"

#include "core/references/entryfields.h"
#include "core/references/identifiers.h"

void ReferenceCollector::add(ReferenceEntry entry)
{
    if (m_full)
        return;
    if (m_list.entries.size() + m_list.refused.size() >= MaxReferenceEntries) {
        m_full = true;
        ReferenceEntry rest;
        rest.line = entry.line;
        Refuse(rest, EntryProblem::TooManyEntries, QString::number(MaxReferenceEntries));
        m_list.refused.append(rest);
        return;
    }
    FinishEntry(entry);
    if (!entry.usable()) {
        m_list.refused.append(std::move(entry));
        return;
    }
    if (const int earlier = earlierListing(entry); earlier >= 0) {
        m_list.merged.append({entry.line, m_list.entries.at(earlier).line});
        merge(earlier, entry);
        return;
    }
    m_list.entries.append(std::move(entry));
    remember(int(m_list.entries.size() - 1));
}

void ReferenceCollector::fail(ListFailure failure, const QString &detail)
{
    m_list.failure = failure;
    m_list.failureDetail = TidyText(detail, 500);
}

ReferenceList ReferenceCollector::take(ReferenceFormat format)
{
    ReferenceList list = std::move(m_list);
    list.format = format;
    if (!list.ok()) {
        list.entries.clear();
        list.refused.clear();
        list.merged.clear();
    }
    m_list = ReferenceList();
    m_byDoi.clear();
    m_byArxiv.clear();
    m_byAddress.clear();
    m_full = false;
    return list;
}

// The same DOI is the same paper; so is the same arXiv id unless the two name different DOIs. Entries
// that name only addresses are the same when an address is; an address alone never joins an entry that
// has a DOI (a journal's home page is named by many papers).
int ReferenceCollector::earlierListing(const ReferenceEntry &entry) const
{
    if (!entry.doi.isEmpty()) {
        if (const int index = m_byDoi.value(DoiKey(entry.doi), -1); index >= 0)
            return index;
    }
    if (!entry.arxiv.isEmpty()) {
        const int index = m_byArxiv.value(ArxivKey(entry.arxiv), -1);
        if (index >= 0 && (entry.doi.isEmpty() || m_list.entries.at(index).doi.isEmpty()))
            return index;
    }
    if (!entry.doi.isEmpty() || !entry.arxiv.isEmpty())
        return -1;
    for (const QString &address : {entry.webAddress, entry.fileAddress}) {
        if (const int index = address.isEmpty() ? -1 : m_byAddress.value(address, -1); index >= 0)
            return index;
    }
    return -1;
}

void ReferenceCollector::remember(int index)
{
    const ReferenceEntry &entry = m_list.entries.at(index);
    if (!entry.doi.isEmpty())
        m_byDoi.insert(DoiKey(entry.doi), index);
    if (!entry.arxiv.isEmpty() && !m_byArxiv.contains(ArxivKey(entry.arxiv)))
        m_byArxiv.insert(ArxivKey(entry.arxiv), index);
    if (!entry.doi.isEmpty() || !entry.arxiv.isEmpty())
        return;
    for (const QString &address : {entry.webAddress, entry.fileAddress}) {
        if (!address.isEmpty() && !m_byAddress.contains(address))
            m_byAddress.insert(address, index);
    }
}

void ReferenceCollector::merge(int index, const ReferenceEntry &later)
{
    ReferenceEntry &kept = m_list.entries[index];
    const auto fill = [](QString &field, const QString &value) {
        if (field.isEmpty())
            field = value;
    };
    fill(kept.key, later.key);
    fill(kept.doi, later.doi);
    fill(kept.arxiv, later.arxiv);
    fill(kept.webAddress, later.webAddress);
    fill(kept.fileAddress, later.fileAddress);
    fill(kept.sourcePage, later.sourcePage);
    fill(kept.title, later.title);
    fill(kept.year, later.year);
    fill(kept.journal, later.journal);
    if (kept.authors.isEmpty())
        kept.authors = later.authors;
    remember(index);
}
