#include "core/librarymodel/libraryupkeep.h"

#include "core/common/safetext.h"
#include "core/common/sha256.h"
#include "core/library/heldcheck.h"
#include "core/library/libraryconnection.h"
#include "core/library/libraryrows.h"
#include "core/library/paperexport.h"
#include "core/library/paperlibrary.h"
#include "core/pdf/pdfchecker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QVariant>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files checked between two writes of what was found, so that a long check stopped or cut off keeps most
// of its work.
constexpr int kFilesPerWrite = 200;
// How much of a file's start is read to tell a PDF.
constexpr qint64 kHeaderBytes = 1024;

struct HeldOnRecord
{
    HeldFile held;
    QStringList addresses;
    QString title;
};

// One file's finding, to be written.
struct Finding
{
    QString filePath;
    FileFinding finding = FileFinding::None;
    std::optional<PdfCheckRecord> pdf;
};

std::optional<QList<HeldOnRecord>> heldOnRecord(PaperLibrary &library)
{
    QList<HeldOnRecord> out;
    const bool ok = LibraryConnection::read(library, [&out](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(
                QStringLiteral("SELECT p.file_path, p.file_size, p.sha256, p.address, r.title FROM papers p"
                               " JOIN library_rows r ON r.address = p.address WHERE p.file_path IS NOT NULL"
                               " ORDER BY p.file_path, r.id")))
            return q;
        while (q.next()) {
            if (out.isEmpty() || out.constLast().held.filePath != q.value(0).toString())
                out.append(HeldOnRecord{HeldFile{q.value(3).toString(),
                                                 q.value(0).toString(),
                                                 q.value(1).toLongLong(),
                                                 q.value(2).toString(),
                                                 {}},
                                        {},
                                        q.value(4).toString()});
            out.last().addresses.append(q.value(3).toString());
        }
        if (q.lastError().isValid())
            return q;
        return std::nullopt;
    });
    return ok ? std::optional(out) : std::nullopt;
}

bool looksLikePdf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(kHeaderBytes).contains("%PDF-");
}

// Checks one file: what it found to write, and the problem to tell (none for a good file).
std::optional<FileProblem> checkOne(const HeldOnRecord &file, PdfChecker *checker,
                                    const std::atomic_bool *stop, Finding *finding)
{
    finding->filePath = file.held.filePath;
    FileProblem problem{FileProblem::Kind::Missing, file.held.filePath, file.addresses, file.title, {}};
    const HeldVerdict verdict = CheckHeldFile(file.held, stop);
    const QFileInfo info(file.held.filePath);
    if (verdict == HeldVerdict::Missing || info.isSymLink() || !info.isFile()) {
        finding->finding = FileFinding::Missing;
        return problem;
    }
    if (verdict == HeldVerdict::Changed) {
        finding->finding = FileFinding::Changed;
        problem.kind = FileProblem::Kind::Changed;
        return problem;
    }
    if (!checker || !looksLikePdf(file.held.filePath))
        return std::nullopt;
    const PdfVerdict pdf = checker->checkFile(file.held.filePath);
    finding->pdf = PdfCheckRecord{file.held.filePath, pdfStateWord(pdf.state), pdf.pages, {}};
    if (pdf.state != PdfVerdict::State::Damaged && pdf.state != PdfVerdict::State::NotChecked)
        return std::nullopt;
    problem.kind =
        pdf.state == PdfVerdict::State::Damaged ? FileProblem::Kind::Damaged : FileProblem::Kind::NotChecked;
    problem.detail = pdfVerdictCause(pdf);
    return problem;
}

bool writeFindings(PaperLibrary &library, const QList<Finding> &findings)
{
    QList<PdfCheckRecord> checks;
    QStringList paths;
    for (const Finding &f : findings) {
        paths.append(f.filePath);
        if (f.pdf)
            checks.append(*f.pdf);
    }
    const bool written = LibraryConnection::write(library, [&](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE library_rows SET finding = ? WHERE file_path = ?"));
        for (const Finding &f : findings) {
            q.addBindValue(static_cast<int>(f.finding));
            q.addBindValue(f.filePath);
            if (!q.exec())
                return q;
        }
        return libraryrows::updateAt(db, paths);
    });
    return written && (checks.isEmpty() || library.recordPdfChecks(checks));
}

} // namespace

bool LibraryCheckReport::allWhole() const
{
    return std::all_of(problems.cbegin(), problems.cend(),
                       [](const FileProblem &p) { return p.kind == FileProblem::Kind::NotChecked; });
}

LibraryCheckReport checkLibraryFiles(PaperLibrary &library, PdfChecker *checker, const std::atomic_bool *stop,
                                     const std::function<void(int, int)> &progress)
{
    LibraryCheckReport report;
    const std::optional<QList<HeldOnRecord>> files = heldOnRecord(library);
    if (!files) {
        report.written = false;
        report.error = library.lastError();
        return report;
    }
    report.files = int(files->size());
    QList<Finding> findings;
    const auto flush = [&] {
        if (!findings.isEmpty() && !writeFindings(library, findings) && report.written) {
            report.written = false;
            report.error = library.lastError();
        }
        findings.clear();
    };
    for (const HeldOnRecord &file : *files) {
        Finding finding;
        const std::optional<FileProblem> problem =
            stop && stop->load() ? std::nullopt : checkOne(file, checker, stop, &finding);
        // A file whose reading the stop cut short is not taken for missing.
        if (stop && stop->load()) {
            report.stopped = true;
            break;
        }
        if (problem)
            report.problems.append(*problem);
        findings.append(finding);
        ++report.checked;
        if (progress)
            progress(report.checked, report.files);
        if (findings.size() >= kFilesPerWrite)
            flush();
    }
    flush();
    return report;
}

namespace {

// The files of the papers to remove, with the content each was recorded with; and those that papers
// staying hold too.
struct FilesOfPapers
{
    QList<std::pair<QString, QString>> files; // path, SHA-256
    QStringList shared;
};

std::optional<QSqlQuery> readFilesOf(QSqlDatabase &db, const QStringList &addresses, FilesOfPapers *out)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT file_path, sha256 FROM papers WHERE address = ? AND file_path IS NOT NULL"));
    for (const QString &address : addresses) {
        q.addBindValue(address);
        if (!q.exec())
            return q;
        if (q.next() && !std::any_of(out->files.cbegin(), out->files.cend(),
                                     [&](const auto &f) { return f.first == q.value(0).toString(); }))
            out->files.append({q.value(0).toString(), q.value(1).toString()});
    }
    q.prepare(QStringLiteral("SELECT address FROM papers WHERE file_path = ?"));
    for (const auto &[path, sha] : out->files) {
        q.addBindValue(path);
        if (!q.exec())
            return q;
        while (q.next()) {
            if (!addresses.contains(q.value(0).toString())) {
                out->shared.append(path);
                break;
            }
        }
    }
    return std::nullopt;
}

std::optional<QSqlQuery> deleteRecords(QSqlDatabase &db, const QStringList &addresses, int *removed)
{
    QSqlQuery q(db);
    for (const char *table : {"library_rows", "paper_pages", "download_history"}) {
        q.prepare(QStringLiteral("DELETE FROM %1 WHERE address = ?").arg(QLatin1String(table)));
        for (const QString &address : addresses) {
            q.addBindValue(address);
            if (!q.exec())
                return q;
        }
    }
    q.prepare(QStringLiteral("DELETE FROM papers WHERE address = ?"));
    for (const QString &address : addresses) {
        q.addBindValue(address);
        if (!q.exec())
            return q;
        *removed += q.numRowsAffected();
    }
    return std::nullopt;
}

// True when a folder on the way to the file is a symbolic link (or cannot be resolved).
bool linkOnTheWay(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() || canonical != QDir::cleanPath(folder);
}

QString sha256Of(int fd)
{
    Sha256 sha;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (n < 0)
            return {};
        if (n == 0)
            return sha.hexResult();
        sha.addData(buffer.constData(), n);
    }
}

} // namespace

std::optional<KeptFile> deleteWrittenFile(const QString &path, const QString &sha256)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat link = {};
    if (::lstat(name.constData(), &link) != 0)
        return KeptFile::NotOurs;
    if (S_ISLNK(link.st_mode) || linkOnTheWay(path))
        return KeptFile::Link;
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP ? KeptFile::Link : KeptFile::NotOurs;
    struct stat opened = {};
    const bool same = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == link.st_dev &&
                      opened.st_ino == link.st_ino && !sha256.isEmpty() &&
                      sha256Of(fd).compare(sha256, Qt::CaseInsensitive) == 0;
    ::close(fd);
    if (!same)
        return KeptFile::NotOurs;
    // The name may have been taken by another file meanwhile: it must still be the one read.
    struct stat again = {};
    if (::lstat(name.constData(), &again) != 0 || again.st_dev != opened.st_dev ||
        again.st_ino != opened.st_ino)
        return KeptFile::NotOurs;
    if (::unlink(name.constData()) != 0)
        return KeptFile::NotDeleted;
    return std::nullopt;
}

std::optional<RemovalReport> removePapers(PaperLibrary &library, const QStringList &addresses,
                                          bool deleteFiles)
{
    QStringList keys;
    for (const QString &address : addresses)
        keys.append(WithoutCredentials(address));
    RemovalReport report;
    FilesOfPapers files;
    const bool written = LibraryConnection::write(library, [&](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        files = {};
        report.removed = 0;
        if (std::optional<QSqlQuery> failed = readFilesOf(db, keys, &files))
            return failed;
        return deleteRecords(db, keys, &report.removed);
    });
    if (!written)
        return std::nullopt;
    for (const auto &[path, sha] : deleteFiles ? files.files : QList<std::pair<QString, QString>>()) {
        const std::optional<KeptFile> kept =
            files.shared.contains(path) ? std::optional(KeptFile::Shared) : deleteWrittenFile(path, sha);
        if (kept)
            report.kept.append({path, *kept});
        else
            report.deleted.append(path);
    }
    return report;
}

namespace {

// The file a paper holds (empty: none), or the statement that failed.
std::optional<QSqlQuery> fileOf(QSqlQuery &q, const QString &address, QString *file)
{
    q.prepare(QStringLiteral("SELECT file_path FROM papers WHERE address = ? AND file_path IS NOT NULL"));
    q.addBindValue(address);
    if (!q.exec())
        return q;
    *file = q.next() ? q.value(0).toString() : QString();
    q.finish();
    return std::nullopt;
}

// Points the papers at the kept one's file; freed gets the files they held that no paper holds now.
std::optional<QSqlQuery> pointAt(QSqlDatabase &db, const QString &kept, const QString &keptFile,
                                 const QStringList &papers, QStringList *freed)
{
    QSqlQuery q(db);
    QStringList before;
    for (const QString &address : papers) {
        QString file;
        if (std::optional<QSqlQuery> failed = fileOf(q, address, &file))
            return failed;
        if (!file.isEmpty() && file != keptFile && !before.contains(file))
            before.append(file);
    }
    q.prepare(QStringLiteral(
        "UPDATE papers SET (file_path, file_size, sha256, pages, pdf, checked_at) = (SELECT file_path,"
        " file_size, sha256, pages, pdf, checked_at FROM papers WHERE address = ?) WHERE address = ?"));
    for (const QString &address : papers) {
        q.addBindValue(kept);
        q.addBindValue(address);
        if (!q.exec())
            return q;
    }
    if (std::optional<QSqlQuery> failed = libraryrows::update(db, papers, true))
        return failed;
    q.prepare(QStringLiteral("SELECT 1 FROM papers WHERE file_path = ?"));
    for (const QString &path : before) {
        q.addBindValue(path);
        if (!q.exec())
            return q;
        if (!q.next())
            freed->append(path);
    }
    return std::nullopt;
}

} // namespace

std::optional<QStringList> keepOneFile(PaperLibrary &library, const QString &keptAddress,
                                       const QStringList &others)
{
    const QString kept = WithoutCredentials(keptAddress);
    QStringList papers;
    for (const QString &address : others) {
        if (WithoutCredentials(address) != kept)
            papers.append(WithoutCredentials(address));
    }
    QStringList freed;
    QString keptFile;
    const bool written = LibraryConnection::write(library, [&](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        freed.clear();
        QSqlQuery q(db);
        if (std::optional<QSqlQuery> failed = fileOf(q, kept, &keptFile))
            return failed;
        return keptFile.isEmpty() ? std::nullopt : pointAt(db, kept, keptFile, papers, &freed);
    });
    if (!written || keptFile.isEmpty())
        return std::nullopt;
    return freed;
}

std::optional<QByteArray> exportPapers(PaperLibrary &library, const QStringList &addresses,
                                       ExportFormat format)
{
    QList<PaperRecord> records;
    const bool read = LibraryConnection::read(library, [&](QSqlDatabase &db) -> std::optional<QSqlQuery> {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT %1 FROM papers WHERE address = ?")
                      .arg(LibraryConnection::recordColumns()));
        for (const QString &address : addresses) {
            q.addBindValue(WithoutCredentials(address));
            if (!q.exec())
                return q;
            if (q.next())
                records.append(LibraryConnection::recordFrom(q));
        }
        return std::nullopt;
    });
    if (!read)
        return std::nullopt;
    switch (format) {
    case ExportFormat::Ris:
        return ExportRis(records);
    case ExportFormat::BibTeX:
        return ExportBibTeX(records);
    case ExportFormat::Csv:
        return ExportCsv(records);
    }
    return std::nullopt;
}
