#include "ui/downloadwindowpdfcheck.h"

#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/library/paperlibrary.h"
#include "core/pdf/pdfchecker.h"
#include "core/pdf/pdffolder.h"
#include "core/queue/downloadqueue.h"
#include "core/rows/targetfile.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/partfile.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>

namespace {

using State = PdfVerdict::State;

// The status bar follows the check no more often than this.
constexpr int ProgressEveryMs = 100;
// The damaged files outside the list that the end message names; the rest are counted.
constexpr int NamedDamagedFiles = 3;

void countVerdict(const PdfVerdict &verdict, PdfCheckTally *tally)
{
    switch (verdict.state) {
    case State::Whole:
        ++tally->whole;
        break;
    case State::Repaired:
        ++tally->repaired;
        break;
    case State::Encrypted:
        ++tally->encrypted;
        break;
    case State::Damaged:
        ++tally->damaged;
        break;
    case State::NotChecked:
        ++tally->notChecked;
        break;
    }
}

// A check that could not be made tells nothing new of the file: the library keeps what it knew.
void addRecord(QList<PdfCheckRecord> &records, const QString &path, const PdfVerdict &verdict,
               const QDateTime &when)
{
    if (verdict.state != State::NotChecked)
        records.append(PdfCheckRecord{path, pdfStateWord(verdict.state), verdict.pages, when});
}

// The folders of the list's rows, each once.
QStringList foldersOf(const DownloadListModel &model)
{
    QStringList folders;
    for (int i = 0; i < model.count(); ++i) {
        if (const QString folder = QDir::cleanPath(model.row(i).folder);
            !model.row(i).folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    }
    return folders;
}

} // namespace

DownloadWindowPdfCheck::DownloadWindowPdfCheck(DownloadQueue *queue, QObject *parent)
    : QObject(parent), m_queue(queue)
{
}

DownloadWindowPdfCheck::~DownloadWindowPdfCheck()
{
    stop();
}

bool DownloadWindowPdfCheck::start()
{
    if (m_running || !m_queue)
        return false;
    m_running = true;
    const DownloadListModel &model = *m_queue->model();
    PdfChecker *checker = m_queue->options().pdfChecker;
    auto work = std::make_shared<Work>();
    work->rows = PdfCheckCandidates(model);
    // The rows' own files are checked as the rows' (each row takes its verdict); every other PDF of their
    // folders as a file.
    QStringList folders;
    QStringList rowFiles;
    for (const PdfCheckItem &item : std::as_const(work->rows))
        rowFiles << QDir::cleanPath(item.owned.path);
    // Without a checker the command only renames the rows' files, as it always did.
    if (checker)
        folders = foldersOf(model);
    // One worker of the checks' pool: the checks of files arriving meanwhile keep the others. The pool's
    // threads are waited for at the end of the program, before its checker goes.
    diskwork::checkPool(checker ? checker->limits().processes : 1)
        .start([this, self = QPointer<QObject>(this), work, folders, rowFiles, checker, stop = m_stop] {
            listOthers(*work, folders, rowFiles);
            const int total = int(work->rows.size() + work->others.size());
            QElapsedTimer sinceTold;
            sinceTold.start();
            perform(*work, checker, [&](int done) {
                if (stop->load())
                    return false;
                if (done == 0 || done == total || sinceTold.elapsed() >= ProgressEveryMs) {
                    sinceTold.restart();
                    diskwork::postToReceiver(self, [this, done, total] { Q_EMIT progressed(done, total); });
                }
                return true;
            });
            if (!stop->load())
                diskwork::postToReceiver(self, [this, work] { takeResult(*work); });
        });
    return true;
}

void DownloadWindowPdfCheck::listOthers(Work &work, const QStringList &folders, const QStringList &rowFiles)
{
    QSet<QString> taken(rowFiles.cbegin(), rowFiles.cend());
    QSet<QString> listedFolders;
    for (const QString &folder : folders) {
        // One folder under two names (through a link) is listed once.
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (canonical.isEmpty() || listedFolders.contains(canonical))
            continue;
        listedFolders.insert(canonical);
        for (const QString &path :
             PdfFilesIn(folder, FolderDepth::ThisFolder, QLatin1String(PartFile::Prefix))) {
            if (!taken.contains(path)) {
                taken.insert(path);
                work.others.append(path);
            }
        }
    }
}

void DownloadWindowPdfCheck::perform(Work &work, PdfChecker *checker,
                                     const std::function<bool(int done)> &step)
{
    int done = 0;
    for (PdfCheckItem &item : work.rows) {
        if (!step(done))
            return;
        CheckPdfFileOnDisk(item, checker);
        ++done;
    }
    for (const QString &path : work.others) {
        if (!step(done))
            return;
        work.otherVerdicts.append(checker->checkFile(path));
        ++done;
    }
    step(done);
}

void DownloadWindowPdfCheck::takeResult(const Work &work)
{
    FolderPdfCheck found;
    QList<PdfCheckRecord> records;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // The rows follow only while they still name the files that were looked at; the verdict is the file's
    // all the same.
    if (m_queue)
        found.tally = m_queue->commands().applyPdfCheck(work.rows);
    for (const PdfCheckItem &item : work.rows) {
        if (item.checked)
            addRecord(records, item.owned.path, item.verdict, now);
    }
    for (qsizetype i = 0; i < work.otherVerdicts.size(); ++i) {
        const PdfVerdict &verdict = work.otherVerdicts.at(i);
        countVerdict(verdict, &found.tally);
        if (verdict.state == State::Damaged)
            found.otherDamaged << work.others.at(i);
        addRecord(records, work.others.at(i), verdict, now);
    }
    record(records, std::move(found));
}

void DownloadWindowPdfCheck::record(const QList<PdfCheckRecord> &records, FolderPdfCheck found)
{
    PaperLibrary *library = m_queue ? m_queue->library() : nullptr;
    if (records.isEmpty() || !library || !library->isOpen()) {
        m_running = false;
        Q_EMIT finished(found);
        return;
    }
    if (!m_writer)
        m_writer = std::make_unique<LibraryThread>(library->path(), library->busyTimeoutMs());
    m_writer->run([records](PaperLibrary &writer) { return writer.recordPdfChecks(records); }, this,
                  [this, found](const LibraryThread::Answer &answer) mutable {
                      found.libraryWritten = answer.ok;
                      found.libraryError = answer.error;
                      m_running = false;
                      Q_EMIT finished(found);
                  });
}

QString PdfCheckResultText(const PdfCheckTally &tally, int otherDamaged)
{
    QString text = QStringLiteral("检查PDF文件完成：重命名了 %1 个文件").arg(tally.renamed);
    if (tally.whole + tally.repaired + tally.encrypted + tally.damaged + tally.notChecked == 0)
        return text;
    text += QStringLiteral("；完好 %1 个，已修复 %2 个，已加密 %3 个，已损坏 %4 个")
                .arg(tally.whole)
                .arg(tally.repaired)
                .arg(tally.encrypted)
                .arg(tally.damaged);
    if (tally.notChecked > 0)
        text += QStringLiteral("，未能检查 %1 个").arg(tally.notChecked);
    if (tally.damaged > otherDamaged)
        text += QStringLiteral("（损坏的文件可用“重新下载 → PDF文件损坏项”再次下载）");
    return text;
}

QString FolderPdfCheckText(const FolderPdfCheck &found)
{
    const QStringList &outside = found.otherDamaged;
    QString text = PdfCheckResultText(found.tally, int(outside.size()));
    if (!outside.isEmpty()) {
        QStringList names;
        for (qsizetype i = 0; i < outside.size() && i < NamedDamagedFiles; ++i)
            names << ShowableText(FileNameFromPath(outside.at(i), false));
        text += QStringLiteral("；其他损坏文件：%1").arg(names.join(QStringLiteral("、")));
        if (outside.size() > NamedDamagedFiles)
            text += QStringLiteral(" 等 %1 个").arg(outside.size());
    }
    if (!found.libraryWritten)
        text += QStringLiteral("；检查结果未能记入文献资料库：%1").arg(found.libraryError);
    return text;
}
