#pragma once

#include "core/library/linkimport.h"

class CandidateListModel;

// How a list of links went into the candidate list.
struct LinkImportOutcome
{
    int added = 0;
    int alreadyListed = 0;         // addresses the list held before
    QList<ImportProblem> problems; // lines not taken
    QString error;                 // the file could not be read at all
};

// Puts the papers of a link list into the candidate list with the given save folder, as a result page
// would: type "pdf", the source page (when the line gave one) as the tag. A line without a title is
// titled after the file in its link.
LinkImportOutcome AddImportedLinks(const LinkImport &import, CandidateListModel &list,
                                   const QString &saveFolder);

// For the user: how many papers were taken, and each line that was not, with its number.
QString linkImportReport(const LinkImportOutcome &outcome);
