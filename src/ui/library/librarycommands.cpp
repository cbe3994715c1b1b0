#include "ui/library/librarycommands.h"

#include "core/library/librarythread.h"
#include "core/library/paperlibrary.h"
#include "core/queue/downloadqueue.h"
#include "desktop/shellhelpers.h"
#include "ui/library/librarytexts.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QUrl>
#include <limits>

namespace {

struct HeldLook
{
    QString path; // empty: no plain file there
};

struct ExportDone
{
    int papers = 0;
    bool written = false;
};

struct KeptDone
{
    int freed = 0;
    int deleted = 0;
};

// The file a download of the paper wrote last, held or not.
QString lastFileOf(const PaperDetails &paper)
{
    if (!paper.record.held.filePath.isEmpty())
        return paper.record.held.filePath;
    for (auto it = paper.history.crbegin(); it != paper.history.crend(); ++it) {
        if (!it->filePath.isEmpty())
            return it->filePath;
    }
    return {};
}

QString typeOf(const PaperDetails &paper, const QString &lastFile)
{
    QString suffix = QFileInfo(lastFile).suffix();
    if (suffix.isEmpty())
        suffix = QFileInfo(QUrl(paper.record.address).path()).suffix();
    const bool plain =
        !suffix.isEmpty() && suffix.size() <= 5 &&
        std::all_of(suffix.cbegin(), suffix.cend(), [](QChar c) { return c.isLetterOrNumber(); });
    return plain ? suffix.toLower() : QStringLiteral("pdf");
}

std::optional<QList<PaperDetails>> detailsOf(PaperLibrary &library, const QStringList &addresses)
{
    QList<PaperDetails> out;
    for (const QString &address : addresses) {
        std::optional<PaperDetails> details = libraryview::details(library, address);
        if (details)
            out.append(std::move(*details));
        else if (!library.lastError().isEmpty())
            return std::nullopt;
    }
    return out;
}

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

namespace {

std::optional<QStringList> brokenPapers(PaperLibrary &library)
{
    const std::optional<QList<LibraryRow>> rows =
        libraryview::rows(library, LibraryQuery{}, 0, std::numeric_limits<int>::max());
    if (!rows)
        return std::nullopt;
    QStringList out;
    for (const LibraryRow &row : *rows) {
        if (row.state == PaperState::Missing || row.state == PaperState::Damaged)
            out.append(row.address);
    }
    return out;
}

} // namespace

std::optional<QStringList> selectedAddresses(PaperLibrary &library, const LibrarySelection &selection)
{
    if (selection.everyBrokenPaper)
        return brokenPapers(library);
    const bool allKnown = selection.known.size() == selection.rows.size() &&
                          std::none_of(selection.known.cbegin(), selection.known.cend(),
                                       [](const QString &a) { return a.isEmpty(); });
    if (allKnown)
        return selection.known;
    const std::optional<QStringList> all = libraryview::addresses(library, selection.query);
    if (!all)
        return std::nullopt;
    QStringList out;
    for (const int row : selection.rows) {
        if (row >= 0 && row < all->size())
            out.append(all->at(row));
    }
    return out;
}

LibraryCommands::LibraryCommands(LibraryThread &thread, Hooks hooks, QObject *parent)
    : QObject(parent), m_thread(thread), m_hooks(std::move(hooks))
{
}

template <typename Result>
void LibraryCommands::readThen(std::function<bool(PaperLibrary &, Result &)> work,
                               std::function<void(const Result &)> then)
{
    auto result = std::make_shared<Result>();
    m_thread.run([work = std::move(work), result](PaperLibrary &library) { return work(library, *result); },
                 this,
                 [this, result, then = std::move(then)](const LibraryThread::Answer &answer) {
                     if (!answer.ok)
                         emit failed(answer.error);
                     else
                         then(*result);
                 });
}

void LibraryCommands::heldFileThen(const LibrarySelection &selection,
                                   std::function<void(const QString &)> act)
{
    readThen<HeldLook>(
        [selection](PaperLibrary &library, HeldLook &look) {
            const std::optional<QStringList> addresses = selectedAddresses(library, selection);
            if (!addresses)
                return false;
            const std::optional<PaperDetails> paper =
                addresses->isEmpty() ? std::nullopt : libraryview::details(library, addresses->first());
            const QString path = paper ? paper->record.held.filePath : QString();
            // Looked at here, off the window's thread; the desktop is not asked to open a file that is gone.
            if (!path.isEmpty() && QFileInfo(path).isFile())
                look.path = path;
            return paper.has_value() || library.lastError().isEmpty();
        },
        [this, act = std::move(act)](const HeldLook &look) {
            if (look.path.isEmpty())
                emit fileMissing();
            else
                act(look.path);
        });
}

void LibraryCommands::openFile(const LibrarySelection &selection)
{
    heldFileThen(selection, [](const QString &path) { OpenFoundFile(path); });
}

void LibraryCommands::showInFolder(const LibrarySelection &selection)
{
    heldFileThen(selection, [this](const QString &path) {
        if (!ShowFoundFileInFolder(path))
            emit fileMissing();
    });
}

void LibraryCommands::copyDois(const LibrarySelection &selection)
{
    copyRecords(selection, false);
}

void LibraryCommands::copyCitations(const LibrarySelection &selection)
{
    copyRecords(selection, true);
}

void LibraryCommands::copyRecords(const LibrarySelection &selection, bool citations)
{
    readThen<QStringList>(
        [selection, citations](PaperLibrary &library, QStringList &lines) {
            const std::optional<QStringList> addresses = selectedAddresses(library, selection);
            if (!addresses)
                return false;
            for (const PaperRecord &record : library.records(*addresses)) {
                const QString line = citations ? citationText(record.metadata) : record.metadata.doi();
                if (!line.isEmpty())
                    lines.append(line);
            }
            return true;
        },
        [this](const QStringList &lines) {
            if (!lines.isEmpty())
                QGuiApplication::clipboard()->setText(lines.join(u'\n'));
            emit copied(int(lines.size()));
        });
}

void LibraryCommands::downloadAgain(const LibrarySelection &selection)
{
    readThen<QList<PaperDetails>>(
        [selection](PaperLibrary &library, QList<PaperDetails> &papers) {
            const std::optional<QStringList> addresses = selectedAddresses(library, selection);
            std::optional<QList<PaperDetails>> read =
                addresses ? detailsOf(library, *addresses) : std::nullopt;
            if (read)
                papers = std::move(*read);
            return read.has_value();
        },
        [this](const QList<PaperDetails> &papers) { enqueueAgain(papers); });
}

void LibraryCommands::enqueueAgain(const QList<PaperDetails> &papers)
{
    AgainTally tally;
    DownloadQueue *queue = nullptr;
    const HandOverOptions options = m_hooks.handOver ? m_hooks.handOver() : HandOverOptions{};
    for (const PaperDetails &paper : papers) {
        if (paper.state == PaperState::Held) {
            ++tally.held;
            continue;
        }
        const QString lastFile = lastFileOf(paper);
        const QString folder =
            lastFile.isEmpty() ? options.defaultFolder : QFileInfo(lastFile).absolutePath() + u'/';
        if (folder.trimmed().isEmpty()) {
            ++tally.noFolder;
            continue;
        }
        if (!queue && !(queue = m_hooks.downloadList ? m_hooks.downloadList() : nullptr))
            return;
        const QString &address = paper.record.address;
        if (queue->enqueue(HandOverRow(address, paper.record.metadata, typeOf(paper, lastFile), folder,
                                       paper.record.sourcePage, options)) != RowId::None)
            ++tally.added;
        else
            tally.reset += queue->commands().redownloadSelected({queue->model()->idOfKey(address)}) > 0;
    }
    if ((tally.added || tally.reset) && m_hooks.showDownloadList)
        m_hooks.showDownloadList();
    emit downloadsAdded(tally);
}

void LibraryCommands::remove(const LibrarySelection &selection, bool deleteFiles)
{
    readThen<RemovalReport>(
        [selection, deleteFiles](PaperLibrary &library, RemovalReport &report) {
            const std::optional<QStringList> addresses = selectedAddresses(library, selection);
            std::optional<RemovalReport> done =
                addresses ? removePapers(library, *addresses, deleteFiles) : std::nullopt;
            if (done)
                report = std::move(*done);
            return done.has_value();
        },
        [this](const RemovalReport &report) {
            emit removed(report);
            emit libraryChanged();
        });
}

void LibraryCommands::exportTo(const LibrarySelection &selection, ExportFormat format, const QString &path)
{
    readThen<ExportDone>(
        [selection, format, path](PaperLibrary &library, ExportDone &done) {
            const std::optional<QStringList> addresses = selectedAddresses(library, selection);
            const std::optional<QByteArray> bytes =
                addresses ? exportPapers(library, *addresses, format) : std::nullopt;
            if (!bytes)
                return false;
            done.papers = int(addresses->size());
            done.written = writeWhole(path, *bytes);
            return true;
        },
        [this, path](const ExportDone &done) {
            if (done.written)
                emit exported(done.papers, path);
            else
                emit exportNotWritten(path);
        });
}

void LibraryCommands::keepOneFile(const QString &kept, const QStringList &others, bool deleteFreed)
{
    readThen<KeptDone>(
        [kept, others, deleteFreed](PaperLibrary &library, KeptDone &done) {
            // The content each file was recorded with, read before the others point elsewhere.
            const QList<PaperRecord> before = library.records(others);
            const std::optional<QStringList> freed = ::keepOneFile(library, kept, others);
            if (!freed)
                return library.lastError().isEmpty(); // a kept paper without a file changes nothing
            done.freed = int(freed->size());
            for (const QString &path : deleteFreed ? *freed : QStringList()) {
                const auto record = std::find_if(before.cbegin(), before.cend(), [&](const PaperRecord &r) {
                    return r.held.filePath == path;
                });
                if (record != before.cend() && !deleteWrittenFile(path, record->held.sha256))
                    ++done.deleted;
            }
            return true;
        },
        [this](const KeptDone &done) {
            emit keptOne(done.freed, done.deleted);
            emit libraryChanged();
        });
}
