#pragma once

#include "core/library/paperexport.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>

class PaperLibrary;
class PdfChecker;

// What a check of the held files found wrong with one file.
struct FileProblem
{
    enum class Kind {
        Missing,    // no plain file at the recorded path any more (a link counts as none)
        Changed,    // there, but its size or content is not what was downloaded
        Damaged,    // the PDF check found it damaged
        NotChecked, // the PDF check came to no verdict (time, memory): not counted as damaged
    };
    Kind kind = Kind::Missing;
    QString filePath;
    QStringList addresses; // the papers held in it
    QString title;         // of the first of them
    QString detail;        // the PDF check's cause, for a damaged or unchecked file
};

struct LibraryCheckReport
{
    int files = 0;   // held files on record
    int checked = 0; // of them checked before the end (all unless stopped)
    bool stopped = false;
    // False when what was found could not be written; error says why.
    bool written = true;
    QString error;
    QList<FileProblem> problems;

    // Every file checked is there and whole (a file not checked by the PDF check does not count).
    bool allWhole() const;
};
Q_DECLARE_METATYPE(LibraryCheckReport)

// Checks every held file: present as a plain file, the same size and SHA-256 as downloaded, and for a PDF
// whole by the structure check (none without a checker). Records what it found: a missing or changed
// file, the PDF verdicts, the states. Reads the files, so it runs off the GUI thread, on the library's
// own thread; progress is told after each file, and a raised stop flag ends it after the file at hand
// (what was found so far is recorded).
LibraryCheckReport checkLibraryFiles(PaperLibrary &library, PdfChecker *checker, const std::atomic_bool *stop,
                                     const std::function<void(int done, int total)> &progress = {});

// Why a file was not deleted with its papers.
enum class KeptFile {
    Shared,    // another paper that stays holds the same file
    Link,      // the path, or a folder on it, is a symbolic link
    NotOurs,   // not the file the program wrote: missing, no plain file, or its content changed since
    NotDeleted // the system refused (permissions)
};

struct RemovalReport
{
    int removed = 0;
    QStringList deleted;
    QList<std::pair<QString, KeptFile>> kept; // files that were to be deleted and stayed
};

// Removes the papers from the library (their rows, pages and history). Their files stay unless
// deleteFiles; then only a file the program wrote is deleted: the recorded one, unchanged, not reached
// through a symbolic link, and held by no paper that stays. Nullopt when the library could not be written
// (nothing was deleted then).
std::optional<RemovalReport> removePapers(PaperLibrary &library, const QStringList &addresses,
                                          bool deleteFiles);

// Deletes the file at path when it is the plain file with this content (SHA-256, lower-case hex) and no
// symbolic link is on its way; nullopt when it was deleted.
std::optional<KeptFile> deleteWrittenFile(const QString &path, const QString &sha256);

// Points the other papers at the kept paper's file (its size, SHA-256 and PDF verdict with it): papers
// held twice then share one file. Returns the files no paper holds any more (the caller may delete them
// with deleteWrittenFile); nullopt when the kept paper holds no file or the library could not be written.
std::optional<QStringList> keepOneFile(PaperLibrary &library, const QString &keptAddress,
                                       const QStringList &others);

// The papers' records in a reference manager's format, in the order given; nullopt on a failed read.
std::optional<QByteArray> exportPapers(PaperLibrary &library, const QStringList &addresses,
                                       ExportFormat format);
