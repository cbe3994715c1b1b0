#pragma once

#include <QString>

// BibTeX values are LaTeX: accents are commands ("\'{e}", "{\"U}", "\v c"), some letters are commands of
// their own ("\ss", "\o", "{\AA}"), braces only group, "--" is a dash. These turn such a value into the
// plain Unicode text a file name or an export wants: accents composed onto their letters (NFC), braces
// and the names of unknown commands dropped (their arguments kept: "\emph{DNA}" gives "DNA"), "$" of
// inline mathematics dropped with Greek letters written out, white space collapsed.
QString LatexToUnicode(const QString &latex);

// For values that are addresses or identifiers (url, doi, eprint): only braces and the backslash before
// "_", "%", "&", "#", "$", "~" and "{" / "}" go; nothing else is touched.
QString LatexUnescapeAddress(const QString &latex);
