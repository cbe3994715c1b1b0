#pragma once

#include "core/library/papermetadata.h"

#include <QString>

class CandidateListModel;
class DownloadListModel;

// File name (without folder and extension) that a candidate gets in the download list, by the naming
// rule the save-location chooser set. Control characters never reach it, and it never starts with a
// dot: when the chosen source cleans down to nothing (or to dots and spaces), the other source is used,
// so no file is named ".pdf" or hidden. Names from titles follow the file-name template, filled from the
// title and the cells of the paper's row; the default template names the file after the title alone.
QString DownloadNameFor(const QString &address, const QString &title, const QString &type,
                        const PaperCells &cells = {});

// Adds a waiting download row for a candidate; a row already listed under the address stays as it is.
// An empty save folder takes DefaultSaveFolder; false, and no row, when that is empty too.
bool 加入下载列表(DownloadListModel &downloads, const QString &address, const QString &title,
                  const QString &type, const QString &saveFolder, const QString &sourcePage,
                  const PaperCells &cells = {});

// The per-row step of an analysis: false when the candidate row cannot be read or has no folder to go to.
bool HandOverCandidate(const CandidateListModel &candidates, int position, DownloadListModel &downloads);
