#pragma once

#include "core/library/librarythread.h"
#include "core/library/librarytypes.h"
#include "core/queue/downloadcommands.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <atomic>
#include <memory>
#include <utility>

class DownloadQueue;
class PdfChecker;

// What "检查PDF文件" found over the list and the folders of its rows.
struct FolderPdfCheck
{
    PdfCheckTally tally;        // the rows' files and the other files of their folders together
    QStringList otherDamaged;   // damaged files checked as files, not as a row's: in the order of their paths
    bool libraryWritten = true; // the verdicts are in the paper library (or there was none to write)
    QString libraryError;       // the library's words when they are not
};

// "检查PDF文件" of the download window. On one worker of the checks (so the checks of arriving files keep
// the others): the done "pdf" rows' files are renamed when their content is another paper format, and
// with the session's checker the structure of every PDF among them is checked, and of every other PDF in
// the folders of the list's rows (not their subfolders; links and downloads' temporary files left alone). The
// rows follow their files and verdicts on the GUI thread; each verdict, its page count and the time of the
// check go to the paper library on the library's own thread, so that a file found damaged no longer counts as
// held. progressed() tells how far it has come; finished() tells what was found, once the library has taken
// it.
class DownloadWindowPdfCheck : public QObject
{
    Q_OBJECT

public:
    explicit DownloadWindowPdfCheck(DownloadQueue *queue, QObject *parent = nullptr);
    ~DownloadWindowPdfCheck() override; // a check under way stops before its next file

    // False while a check is under way (nothing else happens then).
    bool start();
    bool isRunning() const { return m_running; }
    // A check under way stops before its next file (its answer is dropped).
    void stop() { m_stop->store(true); }

Q_SIGNALS:
    void progressed(int checked, int total);
    void finished(const FolderPdfCheck &found);

private:
    // What the worker looks at and what it found.
    struct Work
    {
        QList<PdfCheckItem> rows;
        QStringList others; // the other PDFs of the rows' folders
        QList<PdfVerdict> otherVerdicts;
    };
    static void listOthers(Work &work, const QStringList &folders, const QStringList &rowFiles);
    static void perform(Work &work, PdfChecker *checker, const std::function<bool(int done)> &step);
    void takeResult(const Work &work);
    void record(const QList<PdfCheckRecord> &records, FolderPdfCheck found);

    QPointer<DownloadQueue> m_queue;
    bool m_running = false;
    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<LibraryThread> m_writer; // the verdicts' way into the library
};

// The end message: PdfCheckResultText's, naming the other damaged files and a library that did not take
// the verdicts.
QString FolderPdfCheckText(const FolderPdfCheck &found);

// The end message of 检查PDF文件: "检查PDF文件完成：重命名了 1 个文件；完好 3 个，已修复 1 个，已加密 0 个，
// 已损坏 2 个（…）". The way to fetch damaged files again is named while a row failed for one, that is
// while not every damaged file is one of the otherDamaged files checked as files alone.
QString PdfCheckResultText(const PdfCheckTally &tally, int otherDamaged = 0);
