#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class DownloadListModel;
struct DownloadRow;

// The record a batch run leaves beside the papers: one CSV line per download row.
namespace batchmanifest {

inline const QString FileName = QStringLiteral("manifest.csv");

QStringList header();
// The fewest columns a manifest has: those of the first ones, up to the SHA-256.
constexpr qsizetype OldestWidth = 8;

// The found_by column: the way to a listed paper that gave its file ("DOI resolver", a finder's name),
// with LandingPageMark after it when the file was named by the paper's own page; NoneFoundIt when no way
// gave one. Empty for rows that came from no list.
inline const QString NoneFoundIt = QStringLiteral("none");
inline const QString LandingPageMark = QStringLiteral(" (landing page)");
QString foundBy(const DownloadRow &row);
// The way a found_by field names, for a row taken again from the manifest; empty for none.
QString originOfFoundBy(const QString &foundBy);
// The SHA-256 of the plain file at an absolute path when it is known already (hashed while the run went
// on, and the very same file still), or empty: the file is then read and hashed.
using KnownHash = std::function<QString(const QString &path)>;
// The fields of one row: address, name, type, state, size in bytes, file path, source page, SHA-256, the
// reason, the file's address, the PDF check's page count and verdict, the identifier and the way that found
// the file. Size, path and hash are filled only for a row that ended done with its file on disk; the reason
// says why a row failed (or was skipped, or was never tried). Addresses go without the user name and
// password a link may carry.
QStringList fields(const DownloadListModel &model, int position, const KnownHash &known = {});
QStringList fields(const DownloadRow &row, const KnownHash &known = {});

// A field quoted when it holds a comma, a quote, a line break or leading/trailing spaces; one that a
// spreadsheet would take for a formula is neutralised (and read back as it was).
QString csvField(const QString &text);
QString csvLine(const QStringList &fields);

// Lower-case hex SHA-256 of a file's content; empty when it cannot be read.
QString fileSha256(const QString &path);

struct Row
{
    int line = 0;       // where it starts in the file
    QStringList fields; // as fields() gave them, fourteen (the later columns empty in older manifests)
};

// The rows of a manifest, read back for a resumed run. Only a regular file is read, and only whole:
// false with a reason (naming the line where it breaks) when it cannot be read, is not a manifest, or a
// row is broken, so that no row after the break is lost without a word.
bool read(const QString &path, QList<Row> *rows, QString *error);
// Largest manifest read back.
constexpr qint64 MaxReadBytes = 256LL * 1024 * 1024;

// The manifest's bytes: UTF-8, CRLF line ends, the header first.
QByteArray text(const QList<DownloadRow> &rows, const KnownHash &known = {});
// Writes the bytes to a temporary file in the same folder and renames it into place: whatever held the
// name before (a symbolic link too) is replaced, never written through, and stays as it was when the
// write fails. False with the system's reason ("No space left on device") on failure.
bool writeBytes(const QString &path, const QByteArray &bytes, QString *error);
// Writes the manifest as writeBytes() does.
bool write(const QString &path, const DownloadListModel &model, QString *error, const KnownHash &known = {});
// The same for the rows of a list taken before (on any thread: nothing but the rows, the files and known
// is read).
bool write(const QString &path, const QList<DownloadRow> &rows, QString *error, const KnownHash &known = {});

// A fresh name for a manifest that cannot be written beside the papers, in the per-user data folder
// (made when missing): manifests/manifest-<date and time>.csv.
QString fallbackPath();

} // namespace batchmanifest
