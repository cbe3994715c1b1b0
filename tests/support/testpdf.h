#pragma once

#include <QByteArray>

namespace fntest {

// PDF files written by the tests, whole or broken in the ways real downloads break.
struct TestPdf
{
    int pages = 1;
    int contentBytes = 2000;     // of each page's content stream, before compression
    bool compressed = true;      // content streams as FlateDecode
    int xrefShift = 0;           // added to every offset of the cross-reference table (objects stay whole)
    bool missingContent = false; // the first page's content refers to an object the file lacks
    bool missingPage = false;    // the page tree names a page the file lacks
    bool pageLoop = false;       // the page tree names itself among its pages
    bool badStream = false;      // the first content stream's compressed bytes are garbled
    bool endMarker = true;       // "%%EOF" at the end
    QByteArray content;          // each page's content as given, instead of lines of text
    int contentRepeats = 1;      // how many times each page's contents array names its stream

    QByteArray bytes() const;
};

// A whole one-page PDF of about the given size (its content stream padded).
QByteArray wholePdf(int bytes = 4000);

} // namespace fntest

#include "core/pdf/pdfverdictkinds.h"

#include <QList>

namespace fntest {

// The test PDF encrypted by the PDF library with the given user password (empty: a reader opens it
// without asking).
QByteArray encryptedPdf(const char *userPassword = "");

// A file as servers and disks break it, with the verdict the check must come to.
struct PdfCase
{
    const char *name;
    QByteArray bytes;
    pdfverdict::State state;
};
// A whole PDF; the same cut inside a page's stream, before its cross-reference table and before its
// end-of-file marker; zeros after the header; wrong cross-reference offsets over whole objects
// (repaired); encrypted; a page tree that names itself.
QList<PdfCase> pdfCases();

} // namespace fntest
