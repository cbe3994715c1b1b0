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
