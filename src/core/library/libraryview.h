#pragma once

#include "core/library/libraryrows.h"
#include "core/library/librarytypes.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

class PaperLibrary;

// The columns of the library's table, in their order.
enum class LibraryColumn { Title, Authors, Year, Source, Doi, State, File, Size, Pages, DownloadedAt };
inline constexpr int kLibraryColumnCount = 10;

// One paper as the library's table shows it.
struct LibraryRow
{
    QString address;
    QString title;
    QString authors;
    QString year;
    QString source;
    QString doi;
    PaperState state = PaperState::NotDownloaded;
    QString filePath; // empty without a file
    qint64 size = -1;
    int pages = -1;
    QDateTime downloadedAt;
};

// Which papers, in which order: every word of the filter must be found in the title, the authors, the
// DOI or the source (ignoring case); an empty filter takes every paper.
struct LibraryQuery
{
    QString filter;
    LibraryColumn sortColumn = LibraryColumn::Title;
    bool descending = false;
};

struct PaperPage
{
    QString page;
    QDateTime seenAt;
};

struct DownloadEnd
{
    DownloadOutcome outcome = DownloadOutcome::None;
    QString reason;
    QDateTime at;
    QString filePath; // the file a done download wrote
};

// Everything the library knows about one paper.
struct PaperDetails
{
    PaperRecord record;
    PaperState state = PaperState::NotDownloaded;
    QString pdf; // the structure check's word; empty when never checked
    int pages = -1;
    QDateTime checkedAt;
    QList<PaperPage> seenOn;    // latest first
    QList<DownloadEnd> history; // oldest first
};

// Papers held twice: the same DOI in two files, or the same content (SHA-256) in two files.
struct DuplicateGroup
{
    enum class Kind { SameDoi, SameContent };
    Kind kind = Kind::SameDoi;
    QString key; // the DOI or the SHA-256
    QList<LibraryRow> papers;
};

// Reads of the library's rows on the library's connection (on the thread that owns it). Nullopt, or
// false, when the read failed: the library's lastError says why.
namespace libraryview {

std::optional<qint64> count(PaperLibrary &library, const LibraryQuery &query);
// At most limit rows from offset on, in the query's order.
std::optional<QList<LibraryRow>> rows(PaperLibrary &library, const LibraryQuery &query, qint64 offset,
                                      int limit);
// The addresses of every paper the query takes, in its order.
std::optional<QStringList> addresses(PaperLibrary &library, const LibraryQuery &query);
// Nullopt too for an address the library does not know.
std::optional<PaperDetails> details(PaperLibrary &library, const QString &address);
std::optional<QList<DuplicateGroup>> duplicates(PaperLibrary &library);
// A number that changes whenever another connection (another program, or this program's own writer) has
// written the file since the last read on this one.
std::optional<qint64> dataVersion(PaperLibrary &library);

} // namespace libraryview
