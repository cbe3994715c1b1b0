#include "core/search/handover.h"

#include "core/rows/rownaming.h"
#include "core/rows/rowwriter.h"
#include "core/search/candidatelistmodel.h"
#include "core/settings/sharedoptions.h"

#include <QDir>

namespace {

bool sameFolder(const QString &a, const QString &b)
{
    return QDir::cleanPath(a.trimmed()) == QDir::cleanPath(b.trimmed());
}

// A row that may change its folder: not finished, not under way, holding no bytes kept for a retry and
// no file it wrote (those lie in its present folder, and a new copy takes the place of the old one).
bool mayMove(const DownloadRow &row)
{
    if (!row.owned.isNone())
        return false;
    if (row.state == RowState::Failed)
        return true;
    return row.state == RowState::Waiting && row.sizeNote != SizeNote::RetryWait;
}
} // namespace

QString DownloadNameFor(const QString &address, const QString &title, const QString &type,
                        const HandOverOptions &options, const PaperCells &cells)
{
    return PaperFileName(address, title, type, options.namesFromLinks, options.nameTemplate, cells);
}

bool 加入下载列表(const RowWriter &downloads, const QString &address, const QString &title,
                  const QString &type, const QString &saveFolder, const QString &sourcePage,
                  const HandOverOptions &options, const PaperCells &cells, HandOverTally *tally)
{
    const QString folder = saveFolder.trimmed().isEmpty() ? options.defaultFolder : saveFolder;
    // A row without a folder would be written wherever the queue happened to be; the analysis asks for
    // one before it gets here, so this only stops a caller that did not.
    if (folder.trimmed().isEmpty())
        return false;
    if (const DownloadRow *listed = downloads.list().find(downloads.list().idOfKey(address))) {
        if (tally) {
            ++tally->alreadyThere;
            if (mayMove(*listed) && !sameFolder(listed->folder, folder))
                tally->movable.append(MovableRow{listed->id, folder});
        }
        return true;
    }
    downloads.addRow(HandOverRow(address, PaperMetadata{title, cells}, type, folder, sourcePage, options));
    if (tally)
        ++tally->added;
    return true;
}

DownloadRow HandOverRow(const QString &address, const PaperMetadata &paper, const QString &type,
                        const QString &folder, const QString &sourcePage, const HandOverOptions &options)
{
    DownloadRow row;
    row.key = address;
    row.name = DownloadNameFor(address, paper.title, type, options, paper.cells);
    // The name is decided again when the paper's own page declares more of it.
    row.naming.fromLink = options.namesFromLinks;
    row.naming.nameTemplate =
        options.nameTemplate.trimmed().isEmpty() ? settingdefaults::FileNameTemplate : options.nameTemplate;
    row.naming.given = paper;
    row.type = type;
    row.folder = folder;
    row.tag = sourcePage;
    row.state = RowState::Waiting;
    return row;
}

int MoveToChosenFolders(const RowWriter &downloads, const QList<MovableRow> &rows)
{
    int moved = 0;
    for (const MovableRow &m : rows) {
        const DownloadRow *row = downloads.list().find(m.id);
        if (!row || !mayMove(*row) || sameFolder(row->folder, m.folder))
            continue;
        // A fresh start takes its folder from the one the row was handed over with: both change.
        downloads.update(m.id, [&m](DownloadRow &r) {
            r.folder = m.folder;
            r.givenFolder = m.folder;
        });
        ++moved;
    }
    return moved;
}

HandOverOptions handOverOptionsOf(const SharedOptions &options)
{
    return HandOverOptions{options.UseOriginalFileName, options.FileNameTemplate, options.DefaultSaveFolder};
}

bool HandOverCandidate(const CandidateListModel &candidates, int position, const RowWriter &downloads,
                       const HandOverOptions &options, HandOverTally *tally)
{
    if (!candidates.isValidRow(position))
        return false;
    const CandidateRow &c = candidates.row(position);
    return 加入下载列表(downloads, c.key, c.title, c.type, c.folder, c.tag, options, c.cells, tally);
}
