#pragma once

#include "core/library/papermetadata.h"
#include "core/settings/settingkeys.h"

#include <QList>
#include <QString>

enum class RowId : quint64;

class CandidateListModel;
struct SharedOptions;
class RowWriter;
struct DownloadRow;

// How the hand-over names and places the rows it adds: the window takes these from the user's options
// and the save-location chooser, the batch mode from its command line.
struct HandOverOptions
{
    bool namesFromLinks = false; // the file name in the link rather than the title
    // Names made from the paper's metadata ("{年份}-{作者}-{标题}"); blank stands for the default.
    QString nameTemplate = settingdefaults::FileNameTemplate;
    QString defaultFolder; // where rows taken without a folder of their own go
};

// The hand-over as the user's options and the chooser set it.
HandOverOptions handOverOptionsOf(const SharedOptions &options);

// File name (without folder and extension) that a candidate gets in the download list, by the naming
// rule the save-location chooser set (PaperFileName). The row keeps the rule, and what a page of the
// paper declares later decides its name again.
QString DownloadNameFor(const QString &address, const QString &title, const QString &type,
                        const HandOverOptions &options, const PaperCells &cells = {});

// A row that was already listed under another folder than the hand-over chose for it, and may go there.
struct MovableRow
{
    RowId id;
    QString folder; // the folder the hand-over chose
};

// What a hand-over did with the candidates it was given.
struct HandOverTally
{
    int added = 0;        // new rows
    int alreadyThere = 0; // candidates whose address was listed already; their rows were left as they are
    // Of those, the rows that have not finished (waiting without a kept retry, or failed) and stand in
    // another folder than the one chosen now.
    QList<MovableRow> movable;
};

// Moves the rows to the folders the hand-over chose for them. A row that has finished or started in the
// meantime stays where it is: its file is, or is being, written in its own folder. The number moved.
int MoveToChosenFolders(const RowWriter &downloads, const QList<MovableRow> &rows);

// Adds a waiting download row for a candidate; a row already listed under the address stays as it is.
// An empty save folder takes the options' default folder; false, and no row, when that is empty too.
bool 加入下载列表(const RowWriter &downloads, const QString &address, const QString &title,
                  const QString &type, const QString &saveFolder, const QString &sourcePage,
                  const HandOverOptions &options, const PaperCells &cells = {},
                  HandOverTally *tally = nullptr);

// The waiting row the hand-over lists for a paper at an address, named by the options, in the folder.
DownloadRow HandOverRow(const QString &address, const PaperMetadata &paper, const QString &type,
                        const QString &folder, const QString &sourcePage, const HandOverOptions &options);

// The per-row step of an analysis: false when the candidate row cannot be read or has no folder to go to.
// The tally, when given, counts what became of the row.
bool HandOverCandidate(const CandidateListModel &candidates, int position, const RowWriter &downloads,
                       const HandOverOptions &options, HandOverTally *tally = nullptr);
