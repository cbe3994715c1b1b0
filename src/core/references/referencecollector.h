#pragma once

#include "core/references/referenceresult.h"

#include <QHash>

// Where the readers put what they read: refused entries apart, each paper once (a later listing of the
// same paper fills only what the earlier one lacks), at most MaxReferenceEntries entries.
class ReferenceCollector
{
public:
    // The entry as a reader made it: checked that it names something, then kept, merged or refused.
    void add(ReferenceEntry entry);
    void fail(ListFailure failure, const QString &detail);
    // True once the list has given as many entries as are taken; readers may stop.
    bool full() const { return m_full; }

    ReferenceList take(ReferenceFormat format);

private:
    using Index = QMultiHash<size_t, int>; // hash of the key, position of the entry
    using Key = QString (*)(const ReferenceEntry &);

    int earlierListing(const ReferenceEntry &entry) const;
    int find(const Index &index, const QString &key, Key keyOf) const;
    void remember(int position);
    void merge(int position, const ReferenceEntry &later);

    ReferenceList m_list;
    bool m_full = false;
    // By the hash of the key alone, the key itself is the entry's: a hundred thousand entries are not
    // held twice.
    Index m_byDoi;
    Index m_byArxiv;
    Index m_byWebAddress;  // only entries that name neither a DOI nor an arXiv id
    Index m_byFileAddress; // the same
};
