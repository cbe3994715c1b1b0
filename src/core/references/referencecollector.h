#pragma once

#include "core/references/referencelist.h"

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
    int earlierListing(const ReferenceEntry &entry) const;
    void remember(int index);
    void merge(int index, const ReferenceEntry &later);

    ReferenceList m_list;
    bool m_full = false;
    QHash<QString, int> m_byDoi;
    QHash<QString, int> m_byArxiv;
    QHash<QString, int> m_byAddress; // only entries that name neither a DOI nor an arXiv id
};
