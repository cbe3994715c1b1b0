#pragma once

#include <QString>

// The identifiers a reference list names a paper by, read from the many spellings people write them in.

// Why a text is not a DOI.
enum class DoiFault {
    None,
    Empty,
    NoPrefix,         // does not start with "10." and a registrant code of digits, then "/"
    NoSuffix,         // nothing after the "/"
    WhiteSpace,       // a DOI holds no spaces, tabs or line breaks
    ControlCharacter, // nor control characters
    BadEncoding,      // a percent-encoded byte sequence that is not UTF-8
};

struct DoiRead
{
    QString doi; // "10.1000/ABC": without a "doi:" or resolver before it, percent-encoding undone
    DoiFault fault = DoiFault::None;

    bool ok() const { return fault == DoiFault::None; }
};

// A DOI in any of its spellings: bare "10.1000/x", "doi:10.1000/x" (any letter case, spaces after the
// colon), "info:doi/…", "urn:doi:…", an address on doi.org, dx.doi.org or www.doi.org (with or without
// http(s)://; its query and fragment are not part of the DOI), percent-encoded or not. Spaces around
// the text are ignored.
DoiRead ReadDoi(const QString &text);

// True when the text says it is a DOI (a "doi:" prefix, a resolver address, or "10." at the start),
// whether or not it is a valid one: such a text is refused as a DOI rather than taken for something else.
bool ClaimsToBeDoi(const QString &text);

// DOIs are the same whatever the letter case: this is the form to compare them in.
QString DoiKey(const QString &doi);

// An arXiv identifier: new style "2101.00001" or "2101.00001v2" (four or five digits after the point),
// old style "hep-th/9901001" or "math.AG/0601001v3", with or without "arXiv:" before it, or an arxiv.org
// "abs" or "pdf" address. Empty when the text is none of these; the identifier otherwise, as written
// (version included).
QString ReadArxivId(const QString &text);

// True when the text says it is an arXiv identifier ("arXiv:" or an arxiv.org abs/pdf address).
bool ClaimsToBeArxivId(const QString &text);

// arXiv identifiers are the same paper whatever the version and letter case of the archive.
QString ArxivKey(const QString &id);

// The arXiv identifier inside a DOI that arXiv registered (10.48550/arXiv.2101.00001); empty otherwise.
QString ArxivIdOfDoi(const QString &doi);

// English words for a fault, e.g. "does not start with 10. and a registrant code".
QString DoiFaultText(DoiFault fault);
