#include "batch/batchmanifest.h"

#include "core/common/csv.h"
#include "core/common/regularfile.h"
#include "core/common/safetext.h"
#include "core/common/sha256.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/ownedfile.h"
#include "core/rows/targetfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace batchmanifest {

namespace {
QString stateName(RowState state)
{
    switch (state) {
    case RowState::Waiting:
        return QStringLiteral("NotAttempted"); // a run that ends leaves waiting rows untried
    case RowState::Downloading:
        return QStringLiteral("Downloading");
    case RowState::Done:
        return QStringLiteral("Done");
    case RowState::Failed:
        return QStringLiteral("Failed");
    }
    return QString();
}

// The check's verdict on the row's file: its pages and its word ("whole", "repaired", "encrypted",
// "damaged", "not checked"); both empty for a file that is no PDF, or a row with none.
QStringList pdfFields(const DownloadRow &row)
{
    const PdfVerdict &pdf = row.pdf;
    const bool said =
        pdf.state != PdfVerdict::State::NotChecked || pdf.unchecked != PdfVerdict::Unchecked::None;
    if (!said || (row.state != RowState::Done && row.state != RowState::Failed))
        return {QString(), QString()};
    return {pdf.pages >= 0 ? QString::number(pdf.pages) : QString(), pdfStateWord(pdf.state)};
}
} // namespace

QStringList header()
{
    return {QStringLiteral("address"),      QStringLiteral("name"),    QStringLiteral("type"),
            QStringLiteral("state"),        QStringLiteral("size"),    QStringLiteral("path"),
            QStringLiteral("source"),       QStringLiteral("sha256"),  QStringLiteral("reason"),
            QStringLiteral("file_address"), QStringLiteral("pages"),   QStringLiteral("pdf"),
            QStringLiteral("identifier"),   QStringLiteral("found_by")};
}

QString foundBy(const DownloadRow &row)
{
    if (row.origin.isEmpty())
        return QString();
    if (row.state != RowState::Done)
        return NoneFoundIt;
    return row.landingPage.isEmpty() ? row.origin : row.origin + LandingPageMark;
}

QString originOfFoundBy(const QString &foundBy)
{
    if (foundBy == NoneFoundIt)
        return QString();
    return foundBy.endsWith(LandingPageMark) ? foundBy.chopped(LandingPageMark.size()) : foundBy;
}

QStringList fields(const DownloadListModel &model, int position, const KnownHash &known)
{
    return fields(model.row(position), known);
}

QStringList fields(const DownloadRow &row, const KnownHash &known)
{
    QString size;
    QString path;
    QString hash;
    if (row.state == RowState::Done) {
        const QString filePath = QFileInfo(rowFilePath(row.folder, row.name, row.type)).absoluteFilePath();
        // A link is never the paper: its target, wherever it is, is neither measured nor hashed. One look
        // at the path tells both and the size.
        if (const FileIdentity file = IdentityOf(filePath); file.isValid()) {
            path = filePath;
            size = QString::number(file.size);
            hash = known ? known(path) : QString();
            if (hash.isEmpty())
                hash = fileSha256(path);
        }
    }
    QString reason;
    if (row.state == RowState::Failed || row.state == RowState::Waiting)
        reason = reasonText(row.reason);
    if (row.state == RowState::Done && row.percentNote == PercentNote::Skipped)
        reason = QStringLiteral("already there, skipped");
    if (row.state == RowState::Done && row.percentNote == PercentNote::Held)
        reason = QStringLiteral("downloaded before");
    QStringList result{row.key, row.name, row.type, stateName(row.state), size, path,
                       row.tag, hash,     reason,   row.fileAddress};
    result += pdfFields(row);
    result += {row.identifier, foundBy(row)};
    // Addresses and names come from the site: no control character of theirs reaches the record, and no
    // password that an address carried.
    for (QString &field : result)
        field = ShowableText(WithoutCredentials(field));
    return result;
}

QString csvField(const QString &text)
{
    return csv::field(text);
}

QString csvLine(const QStringList &fields)
{
    return csv::line(fields);
}

QString fileSha256(const QString &path)
{
    return Sha256OfFile(path);
}

namespace {

// The manifest's text, or false with the reason it cannot be had.
bool readText(const QString &path, QString *text, QString *error)
{
    const RegularFileRead file = ReadRegularFile(path, MaxReadBytes);
    switch (file.failure) {
    case RegularFileRead::Failure::None:
        *text = QString::fromUtf8(file.bytes);
        return true;
    case RegularFileRead::Failure::CannotOpen:
        *error = file.systemError;
        return false;
    case RegularFileRead::Failure::NotRegular:
        *error = QStringLiteral("it is not a regular file (a folder, a pipe or a device)");
        return false;
    case RegularFileRead::Failure::TooLarge:
        *error = QStringLiteral("it is larger than %1 MiB").arg(MaxReadBytes >> 20);
        return false;
    }
    return false;
}

// How many columns a manifest's header line names: all of them, or as many as older manifests had
// (before the identifier and the way that found the file, the PDF check's columns, the file address and the
// reason came); 0 for a line that is no header.
qsizetype headerWidth(const QStringList &cells)
{
    const QStringList fields = header();
    for (const qsizetype width :
         {fields.size(), fields.size() - 2, fields.size() - 4, fields.size() - 5, fields.size() - 6}) {
        if (cells == fields.mid(0, width))
            return width;
    }
    return 0;
}

} // namespace

bool read(const QString &path, QList<Row> *rows, QString *error)
{
    QString text;
    if (!readText(path, &text, error))
        return false;
    csv::ParseError broken;
    QList<csv::Record> all = csv::parse(text, &broken);
    if (broken) {
        *error = broken.text();
        return false;
    }
    const qsizetype width = all.isEmpty() ? 0 : headerWidth(all.first().cells);
    if (width == 0) {
        *error = QStringLiteral("it does not start with the manifest's header line");
        return false;
    }
    all.removeFirst();
    rows->clear();
    for (const csv::Record &record : std::as_const(all)) {
        // A row cut short or run together with the next one cannot be trusted, nor can what follows it.
        if (record.cells.size() != width) {
            *error = QStringLiteral("line %1: %2 fields where the header has %3")
                         .arg(record.line)
                         .arg(record.cells.size())
                         .arg(width);
            return false;
        }
        Row row{record.line, {}};
        for (const QString &cell : record.cells)
            row.fields.append(csv::restored(cell));
        while (row.fields.size() < header().size())
            row.fields.append(QString());
        rows->append(row);
    }
    return true;
}

bool write(const QString &path, const DownloadListModel &model, QString *error, const KnownHash &known)
{
    QList<DownloadRow> rows;
    rows.reserve(model.count());
    for (int i = 0; i < model.count(); ++i)
        rows.append(model.row(i));
    return write(path, rows, error, known);
}

QByteArray text(const QList<DownloadRow> &rows, const KnownHash &known)
{
    QByteArray bytes = csvLine(header()).toUtf8();
    for (const DownloadRow &row : rows)
        bytes += csvLine(fields(row, known)).toUtf8();
    return bytes;
}

namespace {
QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// All of the bytes to the descriptor, then to the disk; the system's reason when it refuses.
bool writeAndSync(int fd, const QByteArray &bytes, QString *error)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = systemError(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += n;
    }
    if (::fsync(fd) != 0) {
        *error = systemError(errno);
        return false;
    }
    return true;
}
} // namespace

bool writeBytes(const QString &path, const QByteArray &bytes, QString *error)
{
    // A fresh file beside the target (created exclusively, so no link planted there is followed),
    // then rename(2), which replaces whatever entry holds the name, a link included, and never writes
    // through it. Until the rename the manifest written before stays as it was: a disk that fills or
    // turns read-only keeps the last good one.
    const QFileInfo target(path);
    QByteArray temporary = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") +
                                             target.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = systemError(errno);
        return false;
    }
    ::fchmod(fd, 0644);
    bool ok = writeAndSync(fd, bytes, error);
    if (::close(fd) != 0 && ok) {
        *error = systemError(errno);
        ok = false;
    }
    if (ok && ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        *error = systemError(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temporary.constData());
    return ok;
}

bool write(const QString &path, const QList<DownloadRow> &rows, QString *error, const KnownHash &known)
{
    return writeBytes(path, text(rows, known), error);
}

QString fallbackPath()
{
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/manifests");
    QDir().mkpath(folder);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString candidate = folder + QStringLiteral("/manifest-%1.csv").arg(stamp);
    for (int n = 2; QFileInfo(candidate).exists() || QFileInfo(candidate).isSymLink(); ++n)
        candidate = folder + QStringLiteral("/manifest-%1-%2.csv").arg(stamp).arg(n);
    return candidate;
}

} // namespace batchmanifest
