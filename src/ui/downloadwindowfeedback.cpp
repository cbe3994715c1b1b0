#include "ui/downloadwindowfeedback.h"

#include "core/common/filenames.h"
#include "core/queue/downloadcommands.h"
#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "desktop/desktopnotifier.h"
#include "ui/downloadwindowparts.h"
#include "ui/feedbackboard.h"
#include "ui/loginpanel.h"
#include "ui/messagebar.h"
#include "ui/statuspanellabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>

// The window's side of the queue: what the scheduler, the progress and the login panel report is shown
// here.

namespace {
const QString kSlogan = QStringLiteral("墨枢软件：文献资料，一键到手");
const QString kMakerSite = QStringLiteral("https://www.folionexus.com/");
} // namespace

DownloadWindowFeedback::DownloadWindowFeedback(const DownloadWindowParts &parts)
    : QObject(&parts.window), m_parts(parts), m_queue(parts.queue), m_model(parts.queue->model()),
      m_scheduler(parts.queue->scheduler()), m_progress(parts.queue->model())
{
    m_notifier = new DesktopNotifier(this);
    m_messageBar = new MessageBar(parts.window.centralWidget());
    parts.controls.cmdContinue = m_messageBar->actionButton();
    parts.controls.cmdContinue->setObjectName(QStringLiteral("cmdContinue"));
    buildStatusBar();
    m_board = new FeedbackBoard(panel(StatusPanel::Connection), m_messageBar, this);
    connectScheduler();
}

void DownloadWindowFeedback::buildStatusBar()
{
    m_parts.window.statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    // Each panel is as wide as what it holds, and a panel with nothing to say takes none. The third takes
    // the room left over and is the first to give way: what it says at length (a pause, the end of a run)
    // the message bar shows whole, while the second holds what the user clicked for.
    for (size_t i = 0; i < m_panels.size(); ++i) {
        auto *label = new StatusPanelLabel(80, m_parts.window.statusBar());
        label->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        if (i == 0)
            label->setMinimumWidth(120);
        if (i == 3) // the totals line is read whole: it keeps room for five numbers
            label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral(
                                       "总数：0000|正在下载：0|等待：0000|已完成：0000|失败：0000")) +
                                   12);
        label->installEventFilter(this);
        m_panels[i] = label;
        m_parts.window.statusBar()->addWidget(label, i == 2 ? 1 : 0);
    }
    panel(StatusPanel::Slogan)->setText(kSlogan);
    panel(StatusPanel::Slogan)->setCursor(Qt::PointingHandCursor);
    panel(StatusPanel::Slogan)->setToolTip(kMakerSite);

    // Beside the connection panel, the speed with the time left; the totals line keeps its panel to itself.
    // Room for a usual reading, so that it is not the one panel squeezed while a run is on.
    const int usualReading =
        m_parts.window.fontMetrics().horizontalAdvance(QStringLiteral("总速度 999.9 KB/s，剩余 59分59秒")) +
        12;
    m_speedPanel = new StatusPanelLabel(usualReading, m_parts.window.statusBar());
    m_speedPanel->setObjectName(QStringLiteral("PanelSpeed"));
    m_speedPanel->setMinimumWidth(usualReading);
    m_speedPanel->hide(); // shown while a run is on
    m_parts.window.statusBar()->insertWidget(3, m_speedPanel);
}

void DownloadWindowFeedback::tellResult(const QString &text)
{
    m_board->show(FeedbackBoard::Place::Both, FeedbackNote::withText(FeedbackNote::Topic::Result, text));
}

void DownloadWindowFeedback::tellNews(const QString &text)
{
    m_board->show(FeedbackBoard::Place::Panel, FeedbackNote::withText(FeedbackNote::Topic::News, text));
}

void DownloadWindowFeedback::tellRowText(const QString &text)
{
    m_rowText = text;
    panel(StatusPanel::Transfer)->setText(text);
    followRowText();
}

void DownloadWindowFeedback::followRowText()
{
    // Only while the panel still holds the click's text: a transfer's name that is cut has its tooltip,
    // and the list its row.
    const auto *label = static_cast<const StatusPanelLabel *>(panel(StatusPanel::Transfer));
    if (!m_rowText.isEmpty() && label->text() == m_rowText && label->isCut())
        m_board->showDetail(m_rowText);
    else
        m_board->dropDetail();
}

bool DownloadWindowFeedback::eventFilter(QObject *watched, QEvent *event)
{
    // The user closed the panel the pause opened: the list has its room back.
    if (watched == m_parts.controls.PicWebBK && event->type() == QEvent::Hide && m_loginBeside) {
        m_loginBeside = m_panelOpenedByPause = false;
        Q_EMIT placementChanged();
    }
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    const ShellHooks &shell = m_parts.shell;
    if (watched == panel(StatusPanel::Slogan)) {
        if (shell.openWebPage)
            shell.openWebPage(kMakerSite);
    } else if (watched == panel(StatusPanel::Transfer)) {
        // The panel shows a file path after a row click; other texts (the transfer's name) open nothing.
        // Whether the text names a file is asked off the GUI thread.
        const QString text = panel(StatusPanel::Transfer)->text();
        if (!text.isEmpty() && shell.openFile)
            m_queue->commands().lookAtFile(text, [self = QPointer(this), text](bool exists) {
                if (self && exists && self->m_parts.shell.openFile)
                    self->m_parts.shell.openFile(text);
            });
    }
    return false;
}

namespace {
QString transferNoteText(TransferNote note)
{
    switch (note) {
    case TransferNote::Started:
        return QStringLiteral("正在下载:");
    case TransferNote::Ended:
        return QStringLiteral("完成下载:");
    case TransferNote::Failed:
        return QStringLiteral("下载失败:");
    }
    return {};
}
} // namespace

void DownloadWindowFeedback::connectScheduler()
{
    connectPanels();
    connect(m_queue, &DownloadQueue::queueFinished, this, &DownloadWindowFeedback::onQueueFinished);
    connect(m_queue, &DownloadQueue::verificationNeeded, this, &DownloadWindowFeedback::onVerificationNeeded);
    connect(m_queue->scheduler(), &DownloadScheduler::rowEnded, this,
            &DownloadWindowFeedback::refreshTotalsSoon);
    connect(m_queue, &DownloadQueue::diskPaused, this, &DownloadWindowFeedback::onDiskPaused);
    connect(m_model, &DownloadListModel::rowFinished, this, [this](RowId id) {
        m_progress.noteEnded(id);
        // "完成下载:" of an earlier run's row would read as this run's success when its rows fail.
        const DownloadRow *row = m_model->find(id);
        if (m_transferTextStale && row && row->state == RowState::Failed) {
            m_transferTextStale = false;
            m_panels[1]->clear();
        }
        refreshTotalsSoon();
    });
    connect(m_parts.controls.cmdContinue, &QPushButton::clicked, this,
            &DownloadWindowFeedback::continueAfterVerification);
    m_progressTick.setInterval(1000);
    connect(&m_progressTick, &QTimer::timeout, this, &DownloadWindowFeedback::refreshProgress);
    m_totalsSoon.setSingleShot(true);
    m_totalsSoon.setInterval(DownloadWindowTexts::TotalsDelayMs);
    connect(&m_totalsSoon, &QTimer::timeout, this, &DownloadWindowFeedback::refreshProgress);
    connect(m_queue->scheduler(), &DownloadScheduler::runningChanged, this,
            &DownloadWindowFeedback::onRunningChanged);
    connect(m_parts.controls.PicWebBK, &LoginPanel::loginFinished, this,
            &DownloadWindowFeedback::onLoginFinished);
    m_parts.controls.PicWebBK->installEventFilter(this);
}

void DownloadWindowFeedback::connectPanels()
{
    // Queued: the panel is told while it is laid out or drawn, and may be laid out again at once.
    connect(static_cast<StatusPanelLabel *>(panel(StatusPanel::Transfer)), &StatusPanelLabel::cutChanged,
            this, &DownloadWindowFeedback::followRowText, Qt::QueuedConnection);
    connect(m_queue->scheduler(), &DownloadScheduler::transferNoted, this,
            [this](TransferNote note, const QString &name) {
                m_transferTextStale = false;
                panel(StatusPanel::Transfer)->setText(transferNoteText(note) + name);
            });
    connect(m_queue->scheduler()->reports(), &TransferReports::connectionStateChanged, this,
            [this](ConnectionState state, int code, const QString &text) {
                // While the queue waits for a verification, the connection panel keeps saying so.
                if (m_scheduler->pause().isPausedForVerification())
                    return;
                FeedbackNote note = FeedbackNote::withText(FeedbackNote::Topic::Connection, text);
                note.state = state;
                note.code = code;
                m_board->show(FeedbackBoard::Place::Panel, note);
            });
    connect(m_queue->scheduler()->housekeeping(), &Housekeeping::totalsChanged, this,
            [this] { panel(StatusPanel::Totals)->setText(m_model->totalsText()); });
    connect(m_parts.controls.PicWebBK, &LoginPanel::titleShown, this, [this](const QString &title) {
        if (!m_scheduler->pause().isPausedForVerification())
            tellNews(title);
    });
}

void DownloadWindowFeedback::onRunningChanged(bool running)
{
    m_parts.controls.Shape1->setVisible(running);
    if (running && !m_progress.running())
        beginRun();
    if (!m_scheduler->pause().isPausedForVerification())
        clearPauseMessage();
}

void DownloadWindowFeedback::clearPauseMessage()
{
    if (!m_board->barNote().isPause())
        return;
    if (std::exchange(m_loginBeside, false)) {
        if (std::exchange(m_panelOpenedByPause, false))
            m_parts.controls.PicWebBK->hide();
        Q_EMIT placementChanged();
    }
    // The connection panel told of the pause too; a stop that ends nothing leaves no word of it behind.
    m_board->show(m_board->panelNote().isPause() ? FeedbackBoard::Place::Both : FeedbackBoard::Place::Bar,
                  {});
}

void DownloadWindowFeedback::beginRun()
{
    m_runStopped = false;
    m_transferTextStale = true;
    m_messageStale = true;
    m_progress.begin();
    m_progressTick.start();
    // Shown a moment later: a run that ends at once (an automatic start with nothing to do, every second
    // while automatic re-download is ticked) leaves the status bar and the title as they were.
    refreshTotalsSoon();
}

void DownloadWindowFeedback::refreshTotalsSoon()
{
    if (!m_totalsSoon.isActive())
        m_totalsSoon.start();
}

void DownloadWindowFeedback::refreshProgress()
{
    m_totalsSoon.stop();
    m_queue->refreshTotals();
    if (!m_progress.running())
        return;
    // The run goes on: an earlier run's end or a command's result is over (a pause stays).
    if (std::exchange(m_messageStale, false) && !m_board->barNote().isPause())
        m_board->show(FeedbackBoard::Place::Bar, {});
    const QueueProgress::Snapshot snapshot = m_progress.measure();
    // A queue that only waits out busy hosts says for how long, not that it moves at 0 B/s.
    const qint64 hostWait = m_scheduler->retries().hostWaitMs();
    m_speedPanel->setText(hostWait >= 0 ? progresstext::hostWait(hostWait)
                                        : progresstext::statusLine(snapshot));
    m_speedPanel->setVisible(!m_scheduler->pause().isPausedForVerification());
    m_parts.window.setWindowTitle(snapshot.total > 0
                                      ? progresstext::fraction(snapshot) + QStringLiteral(" － ") +
                                            DownloadWindowTexts::Caption
                                      : DownloadWindowTexts::Caption);
}

QString DownloadWindowFeedback::speedText() const
{
    return m_speedPanel->text();
}

bool DownloadWindowFeedback::autoRedownloadGoesOn() const
{
    // With automatic re-download the queue starts again at once with such rows: not the end yet.
    return m_parts.controls.Check4->isChecked() &&
           AutoRedownloadFindsRows(
               *m_model, static_cast<AutoRedownloadChoice>(m_parts.controls.Combo4->currentIndex()));
}

void DownloadWindowFeedback::onQueueFinished()
{
    clearPauseMessage();
    m_progressTick.stop();
    const bool wasOn = m_progress.running();
    const QueueProgress::Summary summary = m_progress.finish();
    m_speedPanel->clear();
    m_speedPanel->hide();
    m_parts.window.setWindowTitle(DownloadWindowTexts::Caption);
    m_queue->refreshTotals();
    // A run that ended nothing (an automatic start that found no work) is not worth a word.
    if (!wasOn || !summary.any() || m_closing)
        return;
    m_board->show(FeedbackBoard::Place::Both, FeedbackNote::runEnd(summary, m_runStopped));
    if (!autoRedownloadGoesOn())
        m_notifier->notify(progresstext::summaryHead(m_runStopped), progresstext::summaryBody(summary));
}

void DownloadWindowFeedback::rowsSentBack()
{
    m_board->withdraw(FeedbackNote::Topic::RunEnd);
}

void DownloadWindowFeedback::onVerificationNeeded()
{
    // The login panel goes below the list, whose waiting rows stay in view; it goes again with the pause
    // unless the user had it open before.
    m_panelOpenedByPause = !m_parts.controls.PicWebBK->isVisible();
    m_loginBeside = true;
    // The panel may be too narrow for the whole request; the speed, nothing while paused, makes room.
    m_board->show(FeedbackBoard::Place::Both, FeedbackNote::pause(m_scheduler->pause().pauseKind(), {}));
    m_speedPanel->hide();
    m_parts.controls.PicWebBK->show();
    m_parts.controls.PicWebBK->raise();
    Q_EMIT placementChanged();
    // A login that has the browser keeps it until it ends; the page follows then.
    m_wallAfterLogin = m_parts.controls.PicWebBK->isLoggingIn();
    if (!m_wallAfterLogin)
        m_parts.controls.PicWebBK->openAddress(m_scheduler->pause().verificationPage().toString());
}

QString DownloadWindowTexts::diskPauseText(DiskFault fault)
{
    return QStringLiteral("下载已暂停：%1，处理后点击继续").arg(diskFaultText(fault));
}

void DownloadWindowFeedback::onDiskPaused()
{
    // Shown where a verification's request is; 继续 tries again, and a disk still not mended pauses again.
    m_board->show(FeedbackBoard::Place::Both,
                  FeedbackNote::pause(PauseKind::Disk, m_scheduler->pause().pauseDiskFault()));
    m_speedPanel->hide();
}

void DownloadWindowFeedback::continueAfterVerification()
{
    clearPauseMessage();
    m_board->show(FeedbackBoard::Place::Panel, {});
    m_speedPanel->setVisible(m_progress.running());
    m_queue->resume();
}

void DownloadWindowFeedback::onLoginFinished()
{
    m_queue->loginFinished();
    // A wall met while the login had the browser is shown now.
    if (std::exchange(m_wallAfterLogin, false) && m_scheduler->pause().isPausedForVerification())
        m_parts.controls.PicWebBK->openAddress(m_scheduler->pause().verificationPage().toString());
}
