#pragma once

#include "batch/batchoptions.h"
#include "core/library/librarytypes.h"
#include "core/library/linkimport.h"
#include "core/queue/exportrecords.h"
#include "core/rows/downloadlistmodel.h"
#include "core/search/candidatelistmodel.h"
#include "core/search/handover.h"
#include "core/search/referenceimporting.h"
#include "core/sites/sitepoliteness.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class AddAllWalk;
class BatchPage;
class BatchProgress;
class DownloadQueue;
class DownloadScheduler;
class DownloadSession;
class ManifestKeeper;
class PaperLibrary;
class PdfChecker;
class SeenRecorder;
class QThread;

// One unattended run: loads the start page in the given page, takes its papers (and those of the pages
// after it), hands them over to a download list and lets the scheduler fetch them, then writes the
// manifest and the totals. Ends with finished(exit status). A run from a list of links or from an earlier
// run's manifest loads no page and needs none (it may be nullptr).
class BatchRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int LoadLimitMs = 30000;
    static constexpr int VerificationProbeMs = 60000; // how often a waiting run asks again

    // The run takes the page (it reads the result pages by its site rules).
    // The site rules are the run's: the result pages are read and the transfers' answers judged by them.
    BatchRun(const BatchOptions &options, const SiteRulesCatalog &siteRules, BatchPage *page,
             QObject *parent = nullptr);
    ~BatchRun() override;

    // The paper library records what the run sees and downloads (and, when asked, which papers are
    // held already). Given before start(); without it the run remembers nothing.
    void setLibrary(PaperLibrary *library);
    // What the site rules ask of each site; the queue keeps to it besides the run's own pause and threads.
    void setSitePoliteness(const SitePoliteness &sites) { m_sites = sites; }
    // Every finished PDF goes through the checker (made for the run, living longer than it).
    void setPdfChecker(PdfChecker *checker);
    void start();
    // Ctrl-C or a termination request: transfers stop, the manifest records what was done.
    void interrupt(int signalNumber);

    const CandidateListModel &candidates() const { return m_candidates; }
    const DownloadListModel &downloads() const;

Q_SIGNALS:
    void finished(int exitStatus);

private:
    enum class Phase { Idle, Loading, Taking, Downloading, Ended };

    void connectQueue();
    // What the run prints when a row is tried again.
    void connectRetries();
    void connectPage();
    void onLoadEnded(const QString &failure);
    void takePages();
    // What a resumed run takes from the manifest, read on a worker: for each row of the file, the row
    // to list again or the line that says why it was passed over.
    struct ManifestTake
    {
        struct Entry
        {
            QString passedOver;
            DownloadRow row;
        };
        QString path;
        QString error; // the manifest could not be read: the run ends with it
        QList<Entry> entries;
        FindersRead finders; // asked again for the rows of a list whose own address gives no file
    };
    static ManifestTake readManifestRows(const QString &manifestPath, const QString &outFolder);
    // Done rows whose manifest did not say where their file came from take it from the library's records.
    static void addWhatTheLibraryKnows(ManifestTake *taken, const QString &libraryPath);

    // A list of papers (links, DOIs, arXiv ids, BibTeX, RIS, CSL-JSON, CSV), read on a worker.
    void takeLinkList();
    // What the worker read: the list, and the finders to ask for its papers.
    struct ListTake
    {
        ReferenceList list;
        FindersRead finders;
    };
    void tookReferenceList(const ListTake &taken);
    void tellFinders();
    // A candidate of the list goes to the queue under its identifier, from its first way to the paper.
    bool handOverListed(int position);
    void tellRejected(const QString &file, const QStringList &fields);
    void takeManifest();
    void tookManifest(const ManifestTake &taken);
    void onPagesTaken();
    void printCandidates();
    void handOver();
    void startDownloads();
    void onQueueFinished(const DownloadListModel::Totals &totals);
    void onVerificationNeeded(const QString &host, const QUrl &page);
    void onDiskPaused(DiskFault fault, const QString &folder);
    void endAfterLiveTransfers();
    void endDownloads(int exitStatus);
    void finishRun(int exitStatus);
    // Writes the manifest and the exports off the event loop's thread, then the totals and what became of
    // the exports, and ends the run.
    void writeManifestAndTotals(int exitStatus);
    void startManifest();
    // The done rows for the exports asked for (none when none is), each with what the run's candidates
    // know of its paper; what the library knows is read with the rows' files where the exports are written.
    QList<ExportItem> exportItems() const;
    void fail(const QString &message);
    void end(int exitStatus);

    BatchOptions m_options;
    BatchPage *m_page;
    CandidateListModel m_candidates;
    HandOverOptions m_handOver;
    DownloadSession *m_session;
    DownloadQueue *m_queue;
    DownloadListModel &m_downloads;
    const DownloadScheduler *m_scheduler;
    AddAllWalk *m_walk;
    ManifestKeeper *m_manifest; // keeps the manifest current from the start of the downloads
    BatchProgress *m_progress = nullptr;
    QTimer m_loadLimit;
    int m_interruptStatus = 0; // the exit status once an interrupt has stopped the transfers
    bool m_pauseStop = false;  // a verification page, or a disk the user has to mend, ended the run
    QTimer m_verificationProbe;
    Phase m_phase = Phase::Idle;
    int m_pagesTaken = 0;
    bool m_ending = false; // the end waits for the library to record the last outcomes
    PaperLibrary *m_library = nullptr;
    SitePoliteness m_sites;
    ReferenceSources m_references; // the ways to the papers of a list given by --input
    SeenRecorder *m_seen = nullptr;
    int m_libraryWaits = 0;                 // writers of the library waiting for another program to free it
    QThread *m_manifestWriter = nullptr;    // the manifest being written at the end
    bool m_recording = false;               // the library is still taking the last outcomes
    std::function<void()> m_afterRecording; // the end, once the manifest is written before the library
};

// A message on stderr, prefixed with the program's name.
void batchMessage(const QString &text);
