#include "batch/batchrun.h"

#include "batch/batchmanifest.h"
#include "batch/batchpage.h"
#include "batch/batchprogress.h"
#include "batch/manifestkeeper.h"
#include "core/common/filenames.h"
#include "core/common/safetext.h"
#include "core/library/heldcheck.h"
#include "core/library/paperlibrary.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/downloadsession.h"
#include "core/queue/exportrecords.h"
#include "core/queue/libraryrecorder.h"
#include "core/rows/targetfile.h"
#include "core/search/addallwalk.h"
#include "core/search/handover.h"
#include "core/search/linkimporting.h"
#include "core/search/resultpage.h"
#include "core/search/seenrecorder.h"
#include "core/sites/siterules.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/downloadscheduler.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>
#include <QThread>
#include <QThreadPool>
#include <cstdio>
#include <unistd.h>

namespace {
void writeStdout(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// A field of a tab-separated line: tabs and line breaks would split the record, so they become spaces,
// and no other control character of a page reaches the terminal, nor a password of an address.
QString tsvField(const QString &text)
{
    return ShowableText(WithoutCredentials(text));
}
// A row of an earlier run's manifest as this run lists it again.
DownloadRow rowFromManifest(const QStringList &fields, const QString &outFolder)
{
    DownloadRow row;
    row.key = fields.at(0);
    row.type = IsSafeFileType(fields.at(2)) ? fields.at(2) : QStringLiteral("pdf");
    // The same name where it can be had: the scheduler numbers it only if a file took it meanwhile. The
    // name is only cleaned, as a title would be.
    row.name = DownloadNameFor(row.key, fields.at(1), row.type, HandOverOptions{});
    row.folder = outFolder;
    row.tag = IsWebAddress(fields.at(6)) ? fields.at(6) : QString();
    row.identifier = fields.at(12);
    row.origin = batchmanifest::originOfFoundBy(fields.at(13));
    // A damaged file is no paper: its row is run again, whatever state it was left in.
    const PdfVerdict::State pdf = pdfStateFromWord(fields.at(11));
    if (fields.at(3) == QStringLiteral("Done") && pdf != PdfVerdict::State::Damaged) {
        row.state = RowState::Done;
        row.pdf.state = pdf;
        row.pdf.pages = fields.at(10).isEmpty() ? -1 : fields.at(10).toInt();
        // Where the file came from goes into this run's manifest again.
        row.fileAddress = IsWebAddress(fields.at(9)) ? fields.at(9) : QString();
        bool known = false;
        const qint64 size = fields.at(4).toLongLong(&known);
        row.size = row.downloaded = known ? size : -1;
        row.percentShown = known && size > 0;
        // The file the first run wrote for the row is still the row's while it is there as recorded.
        const QString path = rowFilePath(row);
        const FileIdentity file = IdentityOf(path);
        if (known && file.size == size && fields.at(8).isEmpty() &&
            QFileInfo(fields.at(5)).absoluteFilePath() == QFileInfo(path).absoluteFilePath())
            row.owned = OwnedFile{path, file};
    }
    return row;
}

} // namespace

BatchRun::ManifestTake BatchRun::readManifestRows(const QString &manifestPath, const QString &outFolder)
{
    ManifestTake taken;
    taken.path = manifestPath;
    const QString &path = taken.path;
    QList<batchmanifest::Row> rows;
    QString error;
    if (!batchmanifest::read(path, &rows, &error)) {
        taken.error = QStringLiteral("the manifest %1 could not be read: %2").arg(path, error);
        return taken;
    }
    QHash<QString, int> lineOf;
    for (const batchmanifest::Row &manifestRow : std::as_const(rows)) {
        // address, name, type, state, size, path, source page, SHA-256, as the first run wrote them
        const QStringList &fields = manifestRow.fields;
        const QString where = QStringLiteral("%1: line %2").arg(path).arg(manifestRow.line);
        ManifestTake::Entry entry;
        if (!IsWebAddress(fields.at(0))) {
            entry.passedOver = QStringLiteral("%1: passed over a row whose address is not a web address: %2")
                                   .arg(where, fields.at(0));
        } else if (lineOf.contains(fields.at(0))) {
            entry.passedOver =
                QStringLiteral("%1: passed over a row whose address is listed on line %2 already")
                    .arg(where)
                    .arg(lineOf.value(fields.at(0)));
        } else {
            lineOf.insert(fields.at(0), manifestRow.line);
            entry.row = rowFromManifest(fields, outFolder);
        }
        taken.entries.append(std::move(entry));
    }
    return taken;
}

void BatchRun::addWhatTheLibraryKnows(ManifestTake *taken, const QString &libraryPath)
{
    if (libraryPath.isEmpty())
        return;
    QStringList addresses;
    for (const ManifestTake::Entry &entry : std::as_const(taken->entries)) {
        if (entry.passedOver.isEmpty() && entry.row.state == RowState::Done &&
            entry.row.fileAddress.isEmpty())
            addresses.append(entry.row.key);
    }
    if (addresses.isEmpty())
        return;
    QHash<QString, PaperRecord> known;
    for (PaperRecord &record : PaperLibrary::readRecords(libraryPath, addresses))
        known.insert(record.address, std::move(record));
    // A manifest that did not name where a done row's file came from (an older one): the library says.
    for (ManifestTake::Entry &entry : taken->entries) {
        const auto record = known.constFind(WithoutCredentials(entry.row.key));
        if (entry.passedOver.isEmpty() && entry.row.state == RowState::Done &&
            entry.row.fileAddress.isEmpty() && record != known.cend()) {
            entry.row.fileAddress = record->fileAddress;
            entry.row.landingPage = record->landingPage;
        }
    }
}

void batchMessage(const QString &text)
{
    const QString line = QStringLiteral("folionexus: ") + ShowableText(WithoutCredentials(text)) + u'\n';
    std::fputs(line.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

BatchRun::BatchRun(const BatchOptions &options, const SiteRulesCatalog &siteRules, BatchPage *page,
                   QObject *parent)
    : QObject(parent), m_options(options), m_page(page), m_session(new DownloadSession(siteRules, this)),
      m_queue(m_session->queue()), m_downloads(*m_session->model()), m_scheduler(m_session->scheduler()),
      m_walk(page ? new AddAllWalk(page->reader(), &m_candidates, this) : nullptr),
      m_manifest(new ManifestKeeper(&m_downloads, m_options.outFolder + batchmanifest::FileName, this)),
      m_references(m_options.doiResolver)
{
    m_references.setSiteRules(&siteRules); // a landing page's site may say where its full text is
    if (m_page) {
        m_page->setParent(nullptr); // deleted after what reads it
        m_page->shareCookies(m_session);
    }
    m_loadLimit.setSingleShot(true);
    m_loadLimit.setInterval(LoadLimitMs);
    connect(&m_loadLimit, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("the start page %1 did not load within %2 seconds")
                 .arg(m_options.startPage.toString())
                 .arg(LoadLimitMs / 1000));
    });
    connectQueue();
    if (m_page)
        connectPage();
}

// What the queue tells the run, and the probe that resumes it once a verification is done.
void BatchRun::connectQueue()
{
    connect(m_queue, &DownloadQueue::queueFinished, this, &BatchRun::onQueueFinished);
    connect(m_queue, &DownloadQueue::webPageReceived, this, [this](RowId id) {
        if (const DownloadRow *row = m_downloads.find(id))
            batchMessage(
                QStringLiteral("the server answered %1 with a web page, not a paper file").arg(row->key));
    });
    connectRetries();
    connect(m_queue, &DownloadQueue::verificationNeeded, this, &BatchRun::onVerificationNeeded);
    connect(m_queue, &DownloadQueue::diskPaused, this, &BatchRun::onDiskPaused);
    m_verificationProbe.setInterval(VerificationProbeMs);
    connect(&m_verificationProbe, &QTimer::timeout, this, [this] {
        if (m_scheduler->pause().isPausedForVerification())
            m_queue->resume();
        else
            m_verificationProbe.stop();
    });
}

// The start page's loading and the walk over its result pages.
void BatchRun::connectPage()
{
    connect(m_page, &BatchPage::loadEnded, this, &BatchRun::onLoadEnded);
    connect(m_page, &BatchPage::documentComplete, m_walk, &AddAllWalk::documentComplete);
    connect(m_walk, &AddAllWalk::pageExtracted, this, [this](int added) {
        ++m_pagesTaken;
        batchMessage(QStringLiteral("page %1: %2 new papers, %3 in all")
                         .arg(m_pagesTaken)
                         .arg(added)
                         .arg(m_candidates.count()));
    });
    connect(m_walk, &AddAllWalk::finished, this, [this] {
        if (m_phase != Phase::Taking)
            return;
        if (!m_walk->rejectedSelectors().isEmpty())
            tellRejected(m_walk->rejectingFile(), m_walk->rejectedSelectors());
        batchMessage(walkEndMessage(m_walk->endReason(), m_walk->pagesTaken(), m_walk->lastPageAddress()));
    });
    connect(m_walk, &AddAllWalk::finished, this, &BatchRun::onPagesTaken);
}

BatchRun::~BatchRun()
{
    if (m_manifestWriter) {
        m_manifestWriter->wait();
        delete m_manifestWriter;
    }
    delete m_manifest;
    // Everything that reads the two lists or the page goes before them.
    delete m_progress;
    delete m_walk;
    delete m_seen;
    delete m_session;
    delete m_page;
}

void BatchRun::connectRetries()
{
    connect(m_queue->scheduler()->reports(), &TransferReports::retryScheduled, this,
            [this](RowId id, int attempt, int limit, qint64 delayMs) {
                const DownloadRow *row = m_downloads.find(id);
                if (!row || !m_progress)
                    return;
                m_progress->printLine(QStringLiteral("Retry   %1  (%2/%3 in %4 s: %5)")
                                          .arg(rowFilePath(*row).section(u'/', -1))
                                          .arg(attempt)
                                          .arg(limit)
                                          .arg((delayMs + 999) / 1000)
                                          .arg(reasonText(row->reason)));
            });
    connect(m_queue->scheduler()->reports(), &TransferReports::fetchedAgainWhole, this,
            [this](RowId id, const FailureReason &reason) {
                if (const DownloadRow *row = m_downloads.find(id); row && m_progress)
                    m_progress->printLine(QStringLiteral("Again   %1  (%2; fetched again whole)")
                                              .arg(rowFilePath(*row).section(u'/', -1))
                                              .arg(reasonText(reason)));
            });
}

void BatchRun::setPdfChecker(PdfChecker *checker)
{
    m_session->setPdfChecker(checker);
}

void BatchRun::setLibrary(PaperLibrary *library)
{
    m_library = library;
    if (!library)
        return;
    m_seen = new SeenRecorder(library, &m_candidates, this);
    // The list of a run is its manifest: the library does not keep it.
    m_queue->attachLibrary(library, m_options.skipHeld, false);
    // The manifest names the hash of each file the library recorded, without reading them all again.
    if (LibraryRecorder *recorder = m_queue->libraryRecorder())
        recorder->setKeepHashes(true);
    const auto tell = [](const QString &message) { batchMessage(message); };
    connect(m_seen, &SeenRecorder::failed, this, tell);
    connect(m_queue, &DownloadQueue::libraryFailed, this, tell);
    // Another program holding the library is said, and so is the end of the wait (what is given up in
    // the end is named as a failure).
    const auto busy = [this](LibraryWait wait) {
        const bool started = wait == LibraryWait::Started;
        m_libraryWaits += started ? 1 : -1;
        if (started && m_libraryWaits == 1)
            batchMessage(
                QStringLiteral("the paper library is busy: another program is writing to it; the run's "
                               "records wait and will be written when it frees"));
        else if (wait == LibraryWait::Written && m_libraryWaits == 0)
            batchMessage(
                QStringLiteral("the paper library is free again; the records that waited are written"));
    };
    connect(m_seen, &SeenRecorder::busyChanged, this, busy);
    connect(m_queue, &DownloadQueue::libraryBusy, this, busy);
}

void BatchRun::start()
{
    // The hand-over follows the command line; the user's stored options are not read. The queue takes its
    // own options when the downloads start.
    m_handOver.namesFromLinks = m_options.namesFromLinks;
    m_handOver.defaultFolder = m_options.outFolder;
    if (!m_options.nameTemplate.isEmpty())
        m_handOver.nameTemplate = m_options.nameTemplate;
    if (m_walk)
        m_walk->setSaveFolder(m_options.outFolder);

    if (!m_options.inputFile.isEmpty())
        return takeLinkList();
    if (!m_options.resumeFolder.isEmpty())
        return takeManifest();
    m_phase = Phase::Loading;
    m_loadLimit.start();
    m_page->load(m_options.startPage);
}

void BatchRun::onLoadEnded(const QString &failure)
{
    if (m_phase != Phase::Loading)
        return;
    m_loadLimit.stop();
    if (!failure.isEmpty())
        return fail(QStringLiteral("the start page %1 could not be loaded: %2")
                        .arg(m_options.startPage.toString(), failure));
    takePages();
}

void BatchRun::takePages()
{
    m_phase = Phase::Taking;
    if (m_options.pages == BatchOptions::Pages::All) {
        m_walk->start();
        return;
    }
    m_page->reader()->readPage(this, [this](const PageSnapshot &page) {
        if (m_phase != Phase::Taking)
            return;
        if (page.valid) {
            ++m_pagesTaken;
            ExtractResultPage(page, m_candidates, m_options.outFolder);
            if (!page.rejected.isEmpty())
                tellRejected(pageRules(page).file, page.rejected);
        }
        onPagesTaken();
    });
}

void BatchRun::tellRejected(const QString &file, const QStringList &fields)
{
    for (const QString &field : fields)
        batchMessage(QStringLiteral("the browser refuses the selector %1 of the site rules %2; no paper was "
                                    "taken by them")
                         .arg(field, file));
}

void BatchRun::takeManifest()
{
    m_phase = Phase::Taking;
    const QString library = m_library && m_library->isOpen() ? m_library->path() : QString();
    diskwork::workThenPost(
        this,
        [path = m_options.resumeManifest.isEmpty() ? m_options.resumeFolder + batchmanifest::FileName
                                                   : m_options.resumeManifest,
         out = m_options.outFolder, library, finders = m_options.findersFile] {
            ManifestTake taken = readManifestRows(path, out);
            addWhatTheLibraryKnows(&taken, library);
            taken.finders = ReadRunFinders(finders);
            return taken;
        },
        [this](const ManifestTake &taken) { tookManifest(taken); });
}

void BatchRun::tookManifest(const ManifestTake &taken)
{
    if (m_phase != Phase::Taking)
        return;
    if (!taken.error.isEmpty())
        return fail(taken.error);
    if (!taken.finders.ok())
        return fail(QStringLiteral("the finders cannot be used: ") + taken.finders.error->text());
    m_references.setFinders(ReadersOf(taken.finders.finders));
    int again = 0;
    for (const ManifestTake::Entry &entry : taken.entries) {
        if (!entry.passedOver.isEmpty()) {
            batchMessage(entry.passedOver);
            continue;
        }
        // A listed paper's row goes on to the other ways to it where its own address gives no file.
        if (!entry.row.identifier.isEmpty())
            m_references.addResumed(entry.row.key, entry.row.identifier);
        if (m_queue->enqueue(entry.row) != RowId::None && entry.row.state != RowState::Done)
            ++again;
    }
    batchMessage(QStringLiteral("%1 of the %2 rows of %3 are not done; downloading them again")
                     .arg(again)
                     .arg(m_downloads.count())
                     .arg(taken.path));
    startDownloads();
}

void BatchRun::onPagesTaken()
{
    if (m_phase != Phase::Taking)
        return;
    if (m_candidates.count() == 0 && !m_options.inputFile.isEmpty())
        batchMessage(QStringLiteral("no papers listed in %1").arg(m_options.inputFile));
    else if (m_candidates.count() == 0)
        batchMessage(QStringLiteral("no papers found on %1 (the page holds no paper list)")
                         .arg(m_options.startPage.toString()));
    if (m_options.listOnly) {
        printCandidates();
        return end(0);
    }
    handOver();
    startDownloads();
}

void BatchRun::printCandidates()
{
    QString text;
    for (int i = 0; i < m_candidates.count(); ++i) {
        const CandidateRow &row = m_candidates.row(i);
        text += tsvField(row.title) + u'\t' + tsvField(row.key) + u'\t' + tsvField(row.tag) + u'\n';
    }
    writeStdout(text);
}

void BatchRun::handOver()
{
    for (int i = 0; i < m_candidates.count(); ++i) {
        const bool handed = m_references.knows(m_candidates.row(i).key)
                                ? handOverListed(i)
                                : m_queue->enqueue(m_candidates, i, m_handOver);
        m_candidates.setStatus(i, handed ? candidatetext::Succeeded : candidatetext::Failed);
    }
}

void BatchRun::startDownloads()
{
    m_phase = Phase::Downloading;
    if (m_downloads.count() == 0)
        return endDownloads(0);
    batchMessage(
        QStringLiteral("%1 papers to download into %2").arg(m_downloads.count()).arg(m_options.outFolder));
    m_queue->changeOptions([this](SchedulerOptions &options) {
        options.method = methodFromNumber(m_options.method);
        options.threadCount = options.method == DownloadMethod::Single ? 1 : m_options.threads;
        options.threadPosition = options.threadCount - 1;
        options.intervalSeconds = m_options.intervalSeconds;
        options.policy = m_options.policy;
        options.proxy = {!m_options.proxyHost.isEmpty(), m_options.proxyHost, m_options.proxyPort};
        options.autoStart = false;
        options.retries = m_options.retries;
        options.storePolicy = false; // a batch run leaves the user's settings as they were
        options.namesFromLinks = m_options.namesFromLinks;
        options.sites = m_sites;
        options.sources = &m_references; // rows of a list given by --input go on way after way
    });
    m_progress = new BatchProgress(&m_downloads, stderr, ::isatty(STDERR_FILENO) == 1, this);
    m_progress->start();
    startManifest();
    m_queue->setHousekeeping(true);
    m_queue->start();
}

void BatchRun::startManifest()
{
    if (LibraryRecorder *recorder = m_queue->libraryRecorder())
        m_manifest->setKnownHashes([recorder] { return recorder->knownSha256Now(); });
    connect(m_manifest, &ManifestKeeper::rewriteFailed, this,
            [](const QString &path, const QString &error, bool kept) {
                batchMessage(QStringLiteral("the manifest %1 could not be brought up to date: %2; %3")
                                 .arg(path, error,
                                      kept ? QStringLiteral("the one written before stays")
                                           : QStringLiteral("it is written at the end, where it can be")));
            });
    m_manifest->start();
}

void BatchRun::onVerificationNeeded(const QString &, const QUrl &page)
{
    if (m_phase != Phase::Downloading)
        return;
    const QString address = ShowableText(page.toString());
    if (m_options.onVerification == BatchOptions::OnVerification::Wait) {
        batchMessage(
            QStringLiteral("the site answers papers with a verification page (%1); solve it in a browser: "
                           "the run tries again every %2 seconds")
                .arg(address)
                .arg(VerificationProbeMs / 1000));
        m_verificationProbe.start();
        return;
    }
    batchMessage(
        QStringLiteral("the site answers papers with a verification page (%1); stopping, the papers not "
                       "tried yet are listed as such in the manifest (--on-verification wait waits)")
            .arg(address));
    m_pauseStop = true;
    m_queue->stop();
    if (!m_scheduler->transfers().anyTransferLive() && m_phase == Phase::Downloading)
        endDownloads(2);
}

void BatchRun::onDiskPaused(DiskFault fault, const QString &folder)
{
    if (m_phase != Phase::Downloading)
        return;
    // Nobody is there to mend the disk and press 继续: the run ends, and the papers not downloaded yet
    // are in the manifest for a later run.
    QString why;
    switch (fault) {
    case DiskFault::NoSpace:
        why = QStringLiteral("the disk is full");
        break;
    case DiskFault::ReadOnly:
        why = QStringLiteral("the file system is read-only");
        break;
    case DiskFault::NoPermission:
        why = QStringLiteral("there is no permission to write there");
        break;
    case DiskFault::Quota:
        why = QStringLiteral("the disk quota is used up");
        break;
    case DiskFault::None:
    case DiskFault::Other:
        why = QStringLiteral("the disk refused the file");
        break;
    }
    batchMessage(
        QStringLiteral("papers cannot be saved in %1: %2; stopping, the papers not downloaded yet are "
                       "listed as such in the manifest")
            .arg(QDir::toNativeSeparators(folder), why));
    m_pauseStop = true;
    endAfterLiveTransfers();
}

void BatchRun::endAfterLiveTransfers()
{
    // Transfers under way end first: each finishes its paper, or meets the disk as well and waits, so no
    // paper is cut off as stopped. Nothing new starts meanwhile.
    if (m_phase != Phase::Downloading)
        return;
    if (m_scheduler->transfers().anyTransferLive()) {
        QTimer::singleShot(50, this, &BatchRun::endAfterLiveTransfers);
        return;
    }
    m_queue->stop();
    endDownloads(2);
}

void BatchRun::onQueueFinished(const DownloadListModel::Totals &totals)
{
    if (m_phase != Phase::Downloading)
        return;
    if (m_interruptStatus != 0)
        return endDownloads(m_interruptStatus);
    if (m_pauseStop)
        return endDownloads(2);
    endDownloads(totals.done < totals.all ? 2 : 0);
}

void BatchRun::endDownloads(int exitStatus)
{
    if (std::exchange(m_ending, true))
        return;
    m_queue->setHousekeeping(false);
    if (m_progress)
        m_progress->stop();
    // The last files are still being hashed for the library, or the library is busy: the run ends once
    // they are on record (or given up, and named). The manifest is written meanwhile, from the rows as
    // they are now, unless the exports add what they know to the library as well.
    LibraryRecorder *recorder = m_queue->libraryRecorder();
    if (recorder && !recorder->isIdle()) {
        m_recording = true;
        connect(
            recorder, &LibraryRecorder::idle, this,
            [this, exitStatus] {
                m_recording = false;
                finishRun(exitStatus);
            },
            Qt::SingleShotConnection);
        recorder->finish(); // may say at once that it is idle, and so have the manifest written
        if (m_recording && !m_manifestWriter && m_options.risFile.isEmpty() && m_options.bibtexFile.isEmpty())
            writeManifestAndTotals(exitStatus);
        return;
    }
    finishRun(exitStatus);
}

void BatchRun::finishRun(int exitStatus)
{
    if (m_phase == Phase::Ended)
        return;
    if (m_interruptStatus != 0)
        exitStatus = m_interruptStatus;
    // The papers seen go to the library once the outcomes have: a library that another program holds is
    // waited for by the outcomes first.
    if (m_seen)
        m_seen->finish();
    if (m_afterRecording)
        std::exchange(m_afterRecording, {})();
    else if (!m_manifestWriter)
        writeManifestAndTotals(exitStatus);
}

QList<ExportItem> BatchRun::exportItems() const
{
    QList<ExportItem> items;
    if (m_options.risFile.isEmpty() && m_options.bibtexFile.isEmpty())
        return items;
    QHash<QString, int> candidateOf;
    for (int i = 0; i < m_candidates.count(); ++i)
        candidateOf.insert(m_candidates.row(i).key, i);
    for (int i = 0; i < m_downloads.count(); ++i) {
        const DownloadRow &row = m_downloads.row(i);
        if (row.state != RowState::Done)
            continue;
        std::optional<PaperRecord> known;
        if (candidateOf.contains(row.key)) {
            const CandidateRow &candidate = m_candidates.row(candidateOf.value(row.key));
            known = PaperRecord{};
            known->metadata = candidate.metadata();
            known->sourcePage = candidate.tag;
        }
        items.append(ExportItem{row, known});
    }
    return items;
}

namespace {

QList<DownloadRow> rowsOf(const DownloadListModel &model)
{
    QList<DownloadRow> rows;
    rows.reserve(model.count());
    for (int i = 0; i < model.count(); ++i)
        rows.append(model.row(i));
    return rows;
}

// What the end of a run wrote, for the messages that follow it.
struct EndFiles
{
    ManifestKeeper::Outcome manifest;
    QStringList exportMessages;
    bool exportFailed = false;
};

// Why the manifest is not where it should be, and where it is instead; empty when it is in its place.
QString manifestEndMessage(const QString &path, const ManifestKeeper::Outcome &written,
                           const QString &outFolder)
{
    if (written.written)
        return QString();
    const QString failed =
        QStringLiteral("the manifest %1 could not be written: %2").arg(path, written.error);
    if (written.fallbackPath.isEmpty())
        return failed + QStringLiteral("; nor in the per-user data folder: %1").arg(written.fallbackError);
    return failed +
           QStringLiteral("; it is written to %1 instead (--resume %1 --out %2 runs again what is not "
                          "done)")
               .arg(written.fallbackPath, outFolder);
}

// Says what the end's files came to, after the totals line, and gives the exit status they leave.
int reportEndFiles(const QString &path, const EndFiles &outcome, const QString &outFolder,
                   const QString &totals, int exitStatus)
{
    if (const QString why = manifestEndMessage(path, outcome.manifest, outFolder); !why.isEmpty()) {
        batchMessage(why);
        if (exitStatus == 0)
            exitStatus = 2;
    }
    writeStdout(totals + u'\n');
    for (const QString &message : std::as_const(outcome.exportMessages))
        batchMessage(message);
    if (outcome.exportFailed && exitStatus == 0)
        exitStatus = 2;
    return exitStatus;
}

// The export files asked for (empty paths are not), with the hash of each file that has none yet.
void writeExportFiles(QList<PaperRecord> records, const QString &risFile, const QString &bibtexFile,
                      EndFiles *outcome)
{
    if (risFile.isEmpty() && bibtexFile.isEmpty())
        return;
    for (PaperRecord &record : records) {
        if (!record.held.filePath.isEmpty() && record.held.sha256.isEmpty())
            record.held.sha256 = FileSha256(record.held.filePath);
    }
    const std::pair<QString, ExportFormat> files[] = {{risFile, ExportFormat::Ris},
                                                      {bibtexFile, ExportFormat::BibTeX}};
    for (const auto &[path, format] : files) {
        if (path.isEmpty())
            continue;
        const QByteArray bytes = exportBytes(format, records);
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
            outcome->exportMessages.append(
                QStringLiteral("%1 papers exported to %2").arg(records.size()).arg(path));
            continue;
        }
        outcome->exportMessages.append(
            QStringLiteral("the export %1 could not be written: %2").arg(path, file.errorString()));
        outcome->exportFailed = true;
    }
}

} // namespace

void BatchRun::writeManifestAndTotals(int exitStatus)
{
    // The files are measured and hashed and the manifest and the exports are written on a thread of
    // their own, from the rows as the run left them; the run ends once they are in place.
    const QString path = m_options.outFolder + batchmanifest::FileName;
    QList<DownloadRow> rows = rowsOf(m_downloads);
    batchmanifest::KnownHash known;
    if (const LibraryRecorder *recorder = m_queue->libraryRecorder())
        known = recorder->knownSha256Now();
    auto outcome = std::make_shared<EndFiles>();
    const QString libraryPath = m_library && m_library->isOpen() ? m_library->path() : QString();
    m_manifest->stop();
    m_manifestWriter = QThread::create([keeper = m_manifest, rows = std::move(rows), known = std::move(known),
                                        outcome, items = exportItems(), libraryPath, ris = m_options.risFile,
                                        bibtex = m_options.bibtexFile]() mutable {
        outcome->manifest = keeper->writeLast(rows, known);
        // What the library knows of a paper goes before what its result page said.
        if (!items.isEmpty() && !libraryPath.isEmpty())
            addLibraryRecords(items, libraryPath);
        writeExportFiles(exportRecords(items), ris, bibtex, outcome.get());
    });
    auto ended = [this, path, outcome, exitStatus, totals = m_downloads.totalsText()] {
        const int status = reportEndFiles(path, *outcome, m_options.outFolder, totals, exitStatus);
        // An interrupt that came while the files were written ends the run as interrupted.
        end(m_interruptStatus != 0 ? m_interruptStatus : status);
    };
    connect(m_manifestWriter, &QThread::finished, this, [this, ended = std::move(ended)]() mutable {
        m_manifestWriter->wait();
        // Written before the library took the last outcomes: the run ends once it has.
        if (m_recording)
            m_afterRecording = std::move(ended);
        else
            ended();
    });
    m_manifestWriter->start();
}

const DownloadListModel &BatchRun::downloads() const
{
    return m_downloads;
}

void BatchRun::interrupt(int signalNumber)
{
    const Phase phase = m_phase;
    if (phase == Phase::Ended)
        return;
    batchMessage(QStringLiteral("interrupted; stopping"));
    const int exitStatus = 128 + signalNumber;
    if (m_ending) {
        // Only the library is still waited for: what it does not take now is named, and the run ends.
        m_interruptStatus = exitStatus;
        if (LibraryRecorder *recorder = m_queue->libraryRecorder())
            recorder->hurry();
        return;
    }
    m_loadLimit.stop();
    if (m_walk)
        m_walk->stop();
    if (phase != Phase::Downloading) {
        if (m_page)
            m_page->stop();
        return end(exitStatus);
    }
    // Stopping cancels the transfers: their temporary files go with them. A file already whole is put in
    // place first; the queue then says it has finished, and the manifest follows.
    m_interruptStatus = exitStatus;
    m_queue->stop();
    if (!m_scheduler->transfers().anyTransferLive() && m_phase == Phase::Downloading)
        endDownloads(exitStatus);
}

void BatchRun::fail(const QString &message)
{
    batchMessage(message);
    end(1);
}

void BatchRun::end(int exitStatus)
{
    m_phase = Phase::Ended;
    Q_EMIT finished(exitStatus);
}
