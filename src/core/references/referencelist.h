#pragma once

#include "core/references/referenceentry.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

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

// The format of a list from its first bytes (a UTF-8 byte-order mark may stand before them):
// CSL-JSON when it starts with "[" or "{", CSV when its first line is a header naming a doi, url or
// arxiv column, RIS when a line starts with "TY  - ", BibTeX when a line starts with "@type{" or
// "@type(". Otherwise CSV or CSL-JSON when the hint (from the file's extension) says so, so that the
// list is refused as a whole with the reason; plain lines else, each line it cannot use named.
ReferenceFormat GuessReferenceFormat(QByteArrayView head, ReferenceFormat hint = ReferenceFormat::Unknown);
// The format a file name's extension suggests (.bib, .ris, .json, .csv); Unknown for others.
ReferenceFormat FormatOfFileName(const QString &path);

// A list given as bytes (pasted text, say): UTF-8 with or without a byte-order mark, UTF-16 with one;
// text that is not UTF-8 is read as GBK. `format` Unknown: guessed from the content.
ReferenceList ReadReferences(const QByteArray &bytes, ReferenceFormat format = ReferenceFormat::Unknown);
// A list in a file: only a regular file is read; it is read as it goes, not held whole. The format is
// guessed from the content, the extension deciding only where the content does not.
ReferenceList ReadReferenceFile(const QString &path, ReferenceFormat format = ReferenceFormat::Unknown);
