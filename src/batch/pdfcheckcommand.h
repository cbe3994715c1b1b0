#pragma once

#include "core/pdf/pdfverdict.h"

#include <QList>
#include <QString>
#include <QStringList>

class PdfChecker;

// "folionexus --check-pdf [DIR]": the structure of every PDF in a folder (and its subfolders), or of
// every file the paper library holds when no folder is named, checked without a window.
namespace pdfcheckcommand {

struct Checked
{
    QString path;
    PdfVerdict verdict;
};

// The files of the folder to check: those named .pdf and those that start as a PDF, in the folder and
// below it, in the order of their paths. Links are neither checked nor followed, and the temporary files
// of downloads (under way or kept to be resumed) are left out.
QStringList pdfFilesIn(const QString &folder);
// Every file checked, threads as many as the checker has processes; in the order given.
QList<Checked> checkAll(PdfChecker &checker, const QStringList &paths);
// "damaged   PATH  (cut short: no end-of-file marker)" or "repaired  PATH"; empty for any other verdict.
QString lineFor(const Checked &checked);
// "12 PDF files checked: 9 whole, 1 repaired, 1 encrypted, 1 damaged"
QString summary(const QList<Checked> &checked);

// The command: prints a line for each damaged or repaired file on standard output and the summary on
// standard error; 0 when no file is damaged, 2 when one is, 1 when the folder or the library cannot be
// read. The library's own files get their verdicts recorded in it.
int run(const QStringList &arguments);

} // namespace pdfcheckcommand
