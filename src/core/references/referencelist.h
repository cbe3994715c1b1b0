#pragma once

#include "core/references/referenceentry.h"
#include "core/references/referenceresult.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

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
