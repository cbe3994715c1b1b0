// The download window's use of the paper library: rows held from earlier downloads, the outcome of
// every download, the list kept across runs and the exports of the list menu.
#include "ui/downloadwindowlibrary.h"

#include "core/common/messenger.h"
#include "core/library/paperlibrary.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/queuekeeper.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/downloadscheduler.h"
#include "desktop/filedialogs.h"
#include "ui/downloadwindowcommands.h"
#include "ui/downloadwindowfeedback.h"
#include "ui/downloadwindowparts.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QSaveFile>
#include <QThreadPool>
#include <QTimer>

namespace {
const QString kRestoreQuestion = QStringLiteral("上次还有 %1 个文件未下载完成，是否恢复？");
const QString kNoLibraryTip = QStringLiteral("文献资料库没有打开，无法知道哪些文献已下载过");
const QString kNothingToExport = QStringLiteral("没有可导出的文献：请选中要导出的行，或者先完成下载。");
const QString kExportFailed = QStringLiteral("无法写入文件“%1”：%2");
const QString kExported = QStringLiteral("已导出 %1 篇文献到“%2”。");
const QString kLibraryBusy =
    QStringLiteral("文献资料库正被另一个程序写入，下载记录先保留，等它空闲后再写入资料库。");
const QString kLibraryFreed = QStringLiteral("文献资料库已空闲，等待的下载记录已写入。");
} // namespace

DownloadWindowLibrary::DownloadWindowLibrary(const DownloadWindowParts &parts,
                                             DownloadWindowCommands &commands,
                                             DownloadWindowFeedback &feedback)
    : QObject(&parts.window), m_parts(parts), m_commands(commands), m_feedback(feedback), m_queue(parts.queue)
{
}

void DownloadWindowLibrary::connectLibrary()
{
    OptionStore &options = m_parts.run.options;
    options.loadSkipHeld();
    m_parts.controls.CheckSkipHeld->setChecked(options.options().SkipHeld);
    PaperLibrary *library = m_parts.run.library;
    if (!library) {
        m_parts.controls.CheckSkipHeld->setEnabled(false);
        m_parts.controls.CheckSkipHeld->setToolTip(kNoLibraryTip);
        return;
    }
    m_queue->attachLibrary(library, m_parts.controls.CheckSkipHeld->isChecked(), true);
    connect(m_parts.controls.CheckSkipHeld, &QCheckBox::toggled, this, [this, &options](bool on) {
        options.storeSkipHeld(on);
        m_queue->setSkipHeld(on);
    });
    connect(m_queue, &DownloadQueue::libraryFailed, this, &DownloadWindowLibrary::tellLibraryFailure);
    // What is given up in the end is told as a failure.
    connect(m_queue, &DownloadQueue::libraryBusy, this, [this](LibraryWait wait) {
        if (wait != LibraryWait::GivenUp)
            m_feedback.tellNews(wait == LibraryWait::Started ? kLibraryBusy : kLibraryFreed);
    });
    // The last list is offered once it has been read, which happens beside the window's opening.
    if (QueueKeeper *keeper = m_queue->queueKeeper())
        connect(keeper, &QueueKeeper::loaded, this, &DownloadWindowLibrary::offerLastList);
}

void DownloadWindowLibrary::offerLastList()
{
    const int unfinished = unfinishedCount(m_queue->queueKeeper()->savedRows());
    if (unfinished == 0)
        return;
    if (askYesNo(MessageIcon::Question, kRestoreQuestion.arg(unfinished)))
        m_commands.runFrozen([this] { m_queue->restore(); });
}

void DownloadWindowLibrary::tellLibraryFailure(const QString &message)
{
    m_feedback.tellNews(message);
    if (std::exchange(m_libraryFailureTold, true))
        return;
    // Not from inside the queue's signal: the message box waits for the user.
    QTimer::singleShot(0, this, [message] { showMessage(MessageIcon::Critical, message); });
}

void DownloadWindowLibrary::buildExportMenu(QMenu *list)
{
    QMenu *exportMenu = list->addMenu(QStringLiteral("导出"));
    exportMenu->menuAction()->setObjectName(QStringLiteral("actExport"));
    const std::pair<const char *, ExportFormat> entries[] = {
        {"RIS…", ExportFormat::Ris}, {"BibTeX…", ExportFormat::BibTeX}, {"CSV…", ExportFormat::Csv}};
    const char *names[] = {"actExportRis", "actExportBibTeX", "actExportCsv"};
    int i = 0;
    for (const auto &[text, format] : entries) {
        QAction *item = exportMenu->addAction(QString::fromUtf8(text));
        item->setObjectName(QLatin1String(names[i++]));
        connect(item, &QAction::triggered, this, [this, f = format] { exportRows(f); });
    }
}

void DownloadWindowLibrary::exportRows(ExportFormat format)
{
    // The rows are taken here; what the library knows of them is read with their files on the worker.
    QList<ExportItem> items = exportItems(*m_parts.queue->model(), m_commands.selectedIds(), nullptr);
    const PaperLibrary *library = m_queue->library();
    const QString libraryPath = library && library->isOpen() ? library->path() : QString();
    if (items.isEmpty()) {
        showMessage(MessageIcon::Information, kNothingToExport);
        return;
    }
    filedialogs::Request request;
    request.kind = filedialogs::Request::Kind::Save;
    request.caption = QStringLiteral("导出");
    request.startPath = QDir::homePath() + QStringLiteral("/文献.") + exportSuffix(format);
    request.filter = exportFilter(format);
    request.defaultSuffix = exportSuffix(format);
    const QString path = filedialogs::choose(&m_parts.window, request);
    if (path.isEmpty())
        return;
    // The rows' files are looked at and the export written on a worker; the answer comes back here.
    QThreadPool::globalInstance()->start(
        [items = std::move(items), format, path, libraryPath, self = QPointer<QObject>(this)]() mutable {
            if (!libraryPath.isEmpty())
                addLibraryRecords(items, libraryPath);
            const QList<PaperRecord> records = exportRecords(items);
            const QByteArray bytes = exportBytes(format, records);
            QSaveFile file(path);
            const bool written =
                file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
            const QString error = written ? QString() : file.errorString();
            diskwork::postToReceiver(self, [written, error, path, count = records.size()] {
                if (!written)
                    showMessage(MessageIcon::Critical, kExportFailed.arg(path, error));
                else
                    showMessage(MessageIcon::Information, kExported.arg(count).arg(path));
            });
        });
}
