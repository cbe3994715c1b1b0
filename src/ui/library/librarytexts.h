#pragma once

#include "core/library/libraryview.h"

#include <QString>

// What the library window shows of a paper, made from the library's typed records. Everything a web page
// wrote reaches the window only through these, as plain text on lines of its own.

// A value written by a page as one line to show: control characters, line breaks and the marks that
// turn the direction of text become spaces, runs of space collapse, and it is cut at maxLength.
QString shownLine(const QString &text, int maxLength = 2000);

// Every field the library holds of the paper, the pages it was seen on and its downloads, one per line.
QString paperDetailsText(const PaperDetails &details);

// A reference to the paper in the form Chinese papers cite (authors. title[J]. source, year, volume
// (issue): pages. DOI: …), on one line; parts the library does not know are left out.
QString citationText(const PaperMetadata &paper);

// How a download ended, in words.
QString downloadOutcomeText(DownloadOutcome outcome);
