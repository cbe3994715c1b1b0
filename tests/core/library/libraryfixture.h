#pragma once

#include "core/library/heldcheck.h"
#include "core/library/paperlibrary.h"
#include "testenv.h"

#include <QFileInfo>

namespace fntest {

inline SeenPaper seenPaper(const QString &address, const QString &title, PaperCells cells = {},
                           const QString &page = {})
{
    return SeenPaper{address, PaperMetadata{title, std::move(cells)}, page};
}

inline DownloadResult doneAt(const QString &address, const QString &path, qint64 msecs = 1700000000000)
{
    DownloadResult r;
    r.address = address;
    r.outcome = DownloadOutcome::Done;
    r.filePath = path;
    r.size = QFileInfo(path).size();
    r.sha256 = FileSha256(path);
    r.finishedAt = QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
    return r;
}

inline DownloadResult failedAt(const QString &address, const QString &reason, qint64 msecs = 1700000000000)
{
    DownloadResult r;
    r.address = address;
    r.outcome = DownloadOutcome::Failed;
    r.reason = reason;
    r.finishedAt = QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
    return r;
}

inline PaperCells paperCells(const QString &authors, const QString &year, const QString &source,
                             const QString &doi = {})
{
    PaperCells cells{{"作者", authors}, {"年份", year}, {"来源", source}};
    if (!doi.isEmpty())
        cells.append({"DOI", doi});
    return cells;
}

} // namespace fntest
