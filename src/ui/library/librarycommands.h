#pragma once

#include "core/library/libraryview.h"
#include "core/librarymodel/libraryupkeep.h"
#include "core/search/handover.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

class DownloadQueue;
class LibraryThread;
class PaperLibrary;

// Papers the user chose in the table: the rows, and the addresses of those whose page had been read when
// they were chosen (the others are looked up in the same order, on the library's thread).
struct LibrarySelection
{
    LibraryQuery query;
    QList<int> rows;
    QStringList known; // one per row; empty where the row's page had not been read
    // Instead of the rows: every paper of the library whose file is missing or damaged.
    bool everyBrokenPaper = false;
};

// The addresses of the chosen papers, in the table's order; nullopt when the library could not be read.
std::optional<QStringList> selectedAddresses(PaperLibrary &library, const LibrarySelection &selection);

// What "重新下载" did with the chosen papers.
struct AgainTally
{
    int added = 0;    // new rows of the download list
    int reset = 0;    // rows of the list already there, set to download again
    int held = 0;     // papers whose file is there and whole: left as they are
    int noFolder = 0; // papers with no folder of their own and no default folder chosen
};

// The commands of the library window on a selection of papers. Each reads and writes the library on its
// thread (the one the window's table reads on) and comes back as a signal; the window turns what they
// report into words. Opening and showing a file go through the desktop's services.
class LibraryCommands : public QObject
{
    Q_OBJECT

public:
    struct Hooks
    {
        // The download list the papers go to again (the download window loaded when needed), and how the
        // hand-over names and places them; the list is shown once they are in it.
        std::function<DownloadQueue *()> downloadList;
        std::function<HandOverOptions()> handOver;
        std::function<void()> showDownloadList;
    };

    LibraryCommands(LibraryThread &thread, Hooks hooks, QObject *parent = nullptr);

    // The held file of the first paper, opened by the desktop's viewer or shown in its folder;
    // "文件不存在！" when no plain file is there.
    void openFile(const LibrarySelection &selection);
    void showInFolder(const LibrarySelection &selection);
    // The DOIs (one a line, papers without one left out), or a citation of each, to the clipboard.
    void copyDois(const LibrarySelection &selection);
    void copyCitations(const LibrarySelection &selection);
    // Papers whose file is missing or damaged, or that were never downloaded, into the download list with
    // their metadata, in their earlier folder; a paper whose file is there and whole stays as it is.
    void downloadAgain(const LibrarySelection &selection);
    // Out of the library; their files stay unless deleteFiles (then only files the program wrote go).
    void remove(const LibrarySelection &selection, bool deleteFiles);
    void exportTo(const LibrarySelection &selection, ExportFormat format, const QString &path);
    // The others point at the kept paper's file; with deleteFreed, the files no paper holds any more are
    // deleted when they are still the files the program wrote.
    void keepOneFile(const QString &kept, const QStringList &others, bool deleteFreed);

signals:
    void failed(const QString &message); // the library's own words
    void fileMissing();
    void copied(int papers);
    void downloadsAdded(const AgainTally &tally);
    void removed(const RemovalReport &report);
    void exported(int papers, const QString &path);
    void exportNotWritten(const QString &path);
    void keptOne(int freed, int deleted);
    // The library was written: the table reads afresh.
    void libraryChanged();

private:
    template <typename Result>
    void readThen(std::function<bool(PaperLibrary &, Result &)> work,
                  std::function<void(const Result &)> then);
    void heldFileThen(const LibrarySelection &selection, std::function<void(const QString &path)> act);
    void copyRecords(const LibrarySelection &selection, bool citations);
    void enqueueAgain(const QList<PaperDetails> &papers);

    LibraryThread &m_thread;
    Hooks m_hooks;
};
