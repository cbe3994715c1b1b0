#include "search/handover.h"

#include "common/filenames.h"
#include "download/downloadlistmodel.h"
#include "search/candidatelistmodel.h"
#include "settings/sharedoptions.h"

namespace {
QString nameFromLink(const QString &address)
{
    return CleanFileName(FileNameFromPath(address, true));
}

QString nameFromTitle(const QString &title)
{
    return CleanFileName(TrimSpaces(StripLineBreaks(title)));
}
} // namespace

QString DownloadNameFor(const QString &address, const QString &title, const QString &type)
{
    const bool fromLink = sharedOptions().UseOriginalFileName;
    QString name = fromLink ? nameFromLink(address) : nameFromTitle(title);
    if (name.isEmpty())
        name = fromLink ? nameFromTitle(title) : nameFromLink(address);
    if (name.isEmpty())
        name = QStringLiteral("未命名");
    return FitNameForDisk(name, type);
}

bool 加入下载列表(DownloadListModel &downloads, const QString &address, const QString &title, const QString &type,
                  const QString &saveFolder, const QString &sourcePage)
{
    DownloadRow row;
    row.key = address;
    row.name = DownloadNameFor(address, title, type);
    row.type = type;
    row.folder = saveFolder.isEmpty() ? sharedOptions().DefaultSaveFolder : saveFolder;
    row.tag = sourcePage;
    row.state = RowState::Waiting;
    downloads.addRow(row); // an address already listed keeps its row
    return true;
}

bool HandOverCandidate(const CandidateListModel &candidates, int position, DownloadListModel &downloads)
{
    if (!candidates.isValidRow(position))
        return false;
    const CandidateRow &c = candidates.row(position);
    return 加入下载列表(downloads, c.key, c.title, c.type, c.folder, c.tag);
}
