#include "core/references/referencecollector.h"

#include "core/references/entryfields.h"
#include "core/references/identifiers.h"

namespace {

using Field = ReferenceEntry::Field;

QString doiKeyOf(const ReferenceEntry &entry)
{
    return DoiKey(entry.doi());
}

QString arxivKeyOf(const ReferenceEntry &entry)
{
    return ArxivKey(entry.arxiv());
}

QString webAddressOf(const ReferenceEntry &entry)
{
    return entry.webAddress();
}

QString fileAddressOf(const ReferenceEntry &entry)
{
    return entry.fileAddress();
}

} // namespace

void ReferenceCollector::add(ReferenceEntry entry)
{
    if (m_full)
        return;
    if (m_list.entries.size() + m_list.refused.size() >= MaxReferenceEntries) {
        m_full = true;
        ReferenceEntry rest;
        rest.setLine(entry.line());
        Refuse(rest, EntryProblem::TooManyEntries, QString::number(MaxReferenceEntries));
        m_list.refused.append(rest);
        return;
    }
    FinishEntry(entry);
    entry.squeeze();
    if (!entry.usable()) {
        m_list.refused.append(std::move(entry));
        return;
    }
    if (const int earlier = earlierListing(entry); earlier >= 0) {
        m_list.merged.append({entry.line(), m_list.entries.at(earlier).line()});
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
    list.entries.squeeze();
    list.refused.squeeze();
    m_list = ReferenceList();
    m_byDoi.clear();
    m_byArxiv.clear();
    m_byWebAddress.clear();
    m_byFileAddress.clear();
    m_full = false;
    return list;
}

int ReferenceCollector::find(const Index &index, const QString &key, Key keyOf) const
{
    const auto [from, to] = index.equal_range(qHash(key));
    for (auto it = from; it != to; ++it) {
        if (keyOf(m_list.entries.at(*it)) == key)
            return *it;
    }
    return -1;
}

// The same DOI is the same paper; so is the same arXiv id unless the two name different DOIs. Entries
// that name only addresses are the same when an address is; an address alone never joins an entry that
// has a DOI (a journal's home page is named by many papers).
int ReferenceCollector::earlierListing(const ReferenceEntry &entry) const
{
    if (entry.has(Field::Doi)) {
        if (const int position = find(m_byDoi, doiKeyOf(entry), doiKeyOf); position >= 0)
            return position;
    }
    if (entry.has(Field::Arxiv)) {
        const int position = find(m_byArxiv, arxivKeyOf(entry), arxivKeyOf);
        if (position >= 0 && (!entry.has(Field::Doi) || !m_list.entries.at(position).has(Field::Doi)))
            return position;
    }
    if (entry.has(Field::Doi) || entry.has(Field::Arxiv))
        return -1;
    if (const int position =
            entry.has(Field::WebAddress) ? find(m_byWebAddress, entry.webAddress(), webAddressOf) : -1;
        position >= 0)
        return position;
    return entry.has(Field::FileAddress) ? find(m_byFileAddress, entry.fileAddress(), fileAddressOf) : -1;
}

void ReferenceCollector::remember(int position)
{
    const ReferenceEntry &entry = m_list.entries.at(position);
    const auto note = [&](Index &index, Field field, Key keyOf) {
        if (entry.has(field) && find(index, keyOf(entry), keyOf) < 0)
            index.insert(qHash(keyOf(entry)), position);
    };
    note(m_byDoi, Field::Doi, doiKeyOf);
    note(m_byArxiv, Field::Arxiv, arxivKeyOf);
    if (entry.has(Field::Doi) || entry.has(Field::Arxiv))
        return;
    note(m_byWebAddress, Field::WebAddress, webAddressOf);
    note(m_byFileAddress, Field::FileAddress, fileAddressOf);
}

void ReferenceCollector::merge(int position, const ReferenceEntry &later)
{
    ReferenceEntry &kept = m_list.entries[position];
    for (int i = 0; i < ReferenceEntry::FieldCount; ++i) {
        const Field field = Field(i);
        if (field != Field::Detail && !kept.has(field) && later.has(field))
            kept.setValue(field, later.value(field));
    }
    kept.squeeze();
    remember(position);
}
