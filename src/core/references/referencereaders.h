#pragma once

#include "core/references/referencecollector.h"
#include "core/references/referencetext.h"

// One reader per format; each puts every entry it meets into the collector, refused ones with their
// problem and line, and goes on after a broken entry.

// Lines: an address, a DOI or an arXiv id, or "title<TAB>address" and "title<TAB>address<TAB>source
// page" as the link lists have them (the address may be a DOI or an arXiv id too). Blank lines and
// lines starting with "#" are passed over.
void ReadLineList(ReferenceText &text, ReferenceCollector &into);

// BibTeX through btparse: @string macros, "#" concatenation, nested braces; LaTeX turned into Unicode.
void ReadBibTeX(ReferenceText &text, ReferenceCollector &into);

// RIS: records from "TY  - " to "ER  - "; lines without a tag go on the value before them.
void ReadRis(ReferenceText &text, ReferenceCollector &into);

// CSL-JSON: a list of items (or one item). Each item is parsed on its own, so a broken one is refused
// with its line and the rest are read.
void ReadCslJson(ReferenceText &text, ReferenceCollector &into);

// CSV with a header row naming at least one of the doi, url or arxiv columns.
void ReadCsv(ReferenceText &text, ReferenceCollector &into);
// True when the line, read as a CSV header, names one of those columns.
bool IsCsvReferenceHeader(const QByteArray &line);
