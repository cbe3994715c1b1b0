#include "core/search/handover.h"

#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/library/nametemplate.h"
#include "core/queue/rowwriter.h"
#include "core/search/candidatelistmodel.h"
#include "core/settings/sharedoptions.h"

#include <QDir>

namespace {
// A cleaned name may still start with a dot (" .x" cleans to ".x") or be nothing but dots and spaces;
// on disk that is a hidden file such as ".pdf". Such a name loses its leading dots and spaces, and
// what is left of it may be empty, in which case the other source names the file.
QString visibleName(const QString &cleaned)
{
    qsizetype start = 0;
    while (start < cleaned.size() && (cleaned.at(start) == u'.' || cleaned.at(start) == u' '))
        ++start;
    return cleaned.mid(start);
}

QString nameFromLink(const QString &address)
{
    // An address without a path would give its host, and with it a password it carried.
    const QString shown = WithoutCredentials(address);
    return visibleName(CleanFileName(StripUnsafeControls(FileNameFromPath(shown, true))));
}

QString nameFromTitle(const QString &title)
{
    return visibleName(CleanFileName(TrimSpaces(StripLineBreaks(StripUnsafeControls(title)))));
}

bool isDefaultTemplate(const QString &nameTemplate)
{
    return nameTemplate.trimmed().isEmpty() || nameTemplate.trimmed() == settingdefaults::FileNameTemplate;
}

// The template filled from the metadata; the default template gives exactly the name of the title.
QString nameFromTemplate(const QString &nameTemplate, const QString &title, const PaperCells &cells)
{
    if (isDefaultTemplate(nameTemplate))
        return nameFromTitle(title);
    const QString filled = FillNameTemplate(nameTemplate, PaperMetadata{StripUnsafeControls(title), cells});
    const QString name = visibleName(CleanFileName(TrimSpaces(StripUnsafeControls(filled))));
    return name.isEmpty() ? nameFromTitle(title) : name;
}

bool sameFolder(const QString &a, const QString &b)
{
    return QDir::cleanPath(a.trimmed()) == QDir::cleanPath(b.trimmed());
}

// A row that may change its folder: not finished, not under way, and holding no bytes kept for a retry
// (those lie in its present folder).
bool mayMove(const DownloadRow &row)
{
    if (row.state == RowState::Failed)
        return true;
    return row.state == RowState::Waiting && row.sizeNote != SizeNote::RetryWait;
}
} // namespace

QString DownloadNameFor(const QString &address, const QString &title, const QString &type,
                        const HandOverOptions &options, const PaperCells &cells)
{
    const bool fromLink = options.namesFromLinks;
    QString name = fromLink ? nameFromLink(address) : nameFromTemplate(options.nameTemplate, title, cells);
    if (name.isEmpty())
        name = fromLink ? nameFromTitle(title) : nameFromLink(address);
    if (name.isEmpty())
        name = QStringLiteral("未命名");
    return FitNameForDisk(name, type);
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
    DownloadRow row;
    row.key = address;
    row.name = DownloadNameFor(address, title, type, options, cells);
    row.type = type;
    row.folder = folder;
    row.tag = sourcePage;
    row.state = RowState::Waiting;
    downloads.addRow(row);
    if (tally)
        ++tally->added;
    return true;
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
