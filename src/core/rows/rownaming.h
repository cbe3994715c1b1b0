#pragma once

#include "core/library/papermetadata.h"

#include <QString>

// How a row's file is named, kept with the row from its hand-over: after the file in its link, or by a
// name template from what is known of the paper. What the result page gave is kept here; what the
// paper's own pages declare comes later (the row's declared metadata), and the name is decided again
// from both. Rows that were not handed over from a result page or a list of links (a list restored from
// the last run, a resumed manifest) have no rule and keep the names they came with.
struct RowNaming
{
    bool fromLink = false;
    QString nameTemplate; // with !fromLink: the template ("{标题}" names the file after the title)
    PaperMetadata given;  // the title and cells the result page gave (a list of links: its title)

    bool isSet() const { return fromLink || !nameTemplate.isEmpty(); }
};

// File name (without folder and extension) for a paper. Control characters never reach it, and it never
// starts with a dot: when the chosen source cleans down to nothing (or to dots and spaces), the other
// source is used, so no file is named ".pdf" or hidden. Names from titles follow the template, filled
// from the title and the cells; the default template names the file after the title alone.
QString PaperFileName(const QString &address, const QString &title, const QString &type, bool fromLink,
                      const QString &nameTemplate, const PaperCells &cells = {});

// Whether a title only repeats the file name in the paper's address (or cleans down to nothing): a list
// of links gives such a title to a paper known by its address alone.
bool IsLinkTitle(const QString &title, const QString &address);
