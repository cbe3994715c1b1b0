#pragma once

#include "core/pdf/pdfverdictkinds.h"

#include <string>

// The structure check itself, with QPDF: opens the file (first strictly, then, if that fails, with the
// library's repair), reads its trailer and cross-reference data, walks the page tree and decodes every
// page's content streams. Runs in the checking process, which has limits on its memory and time.
struct PdfInspection
{
    pdfverdict::State state = pdfverdict::State::NotChecked;
    pdfverdict::Damage damage = pdfverdict::Damage::None;
    pdfverdict::Unchecked unchecked = pdfverdict::Unchecked::None;
    int pages = -1;     // -1 when not known
    std::string detail; // the library's own words for what it found, for logs
};

// Checks the file open on fd (read from offset 0 with pread; the descriptor's offset is left alone).
PdfInspection InspectPdf(int fd);
