#pragma once

#include "core/references/referenceentry.h"

#include <QList>
#include <QString>

// What reading a reference list gives, whatever its format.

// A later listing of a paper that was listed before (the same DOI in any spelling, the same arXiv id in
// any version, or the same address): merged into the earlier entry, which keeps what it had and takes
// from the later one only what it lacked.
struct MergedEntry
{
    int line = 0;   // of the later listing
    int sameAs = 0; // line of the entry it was merged into
};

// Why a list could not be read at all (its entries are then empty).
enum class ListFailure {
    None,
    CannotOpen,         // missing, not allowed, ...: detail says what the system answered
    NotRegular,         // a folder, a pipe or a device
    TooLarge,           // larger than MaxReferenceListBytes
    ReadError,          // the file broke off while it was read
    NoIdentifierColumn, // a CSV list whose header names no doi, url or arxiv column (detail: the header)
    NotJsonList,        // CSL-JSON that is neither a list of items nor one item
};

// English words for a failure, e.g. "the CSV header names no doi, url or arxiv column".
QString ListFailureText(ListFailure failure);

struct ReferenceList
{
    ReferenceFormat format = ReferenceFormat::Unknown; // the reader that was used
    QList<ReferenceEntry> entries;                     // usable ones, each paper once, in the list's order
    QList<ReferenceEntry> refused;                     // with their problem, in the list's order
    QList<MergedEntry> merged;
    ListFailure failure = ListFailure::None;
    QString failureDetail;

    bool ok() const { return failure == ListFailure::None; }
};

// Largest list read, and most entries taken from one list (what follows is refused as one entry).
constexpr qint64 MaxReferenceListBytes = 1024LL * 1024 * 1024;
constexpr int MaxReferenceEntries = 1000000;
