#include "core/queue/downloadlistmodel.h"
#include "core/queue/downloadqueue.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "desktop/desktopnotifier.h"
#include "desktop/shellhelpers.h"
#include "ui/downloadwindow.h"
#include "ui/loginpanel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

// The window's side of the queue: what the scheduler, the progress and the login panel report is shown
// here, and the options on the control bar are kept in step with the scheduler.

void fFileDownload::connectScheduler()
{
    connect(m_queue->scheduler(), &DownloadScheduler::transferNoted, this,
            [this](TransferNote note, const QString &name) {
                m_transferTextStale = false;
                QString said;
                switch (note) {
                case TransferNote::Started:
                    said = QStringLiteral("正在下载:");
                    break;
                case TransferNote::Ended:
                    said = QStringLiteral("完成下载:");
                    break;
                case TransferNote::Failed:
                    said = QStringLiteral("下载失败:");
                    break;
                }
                panel(StatusPanel::Transfer)->setText(said + name);
            });
    connect(m_queue->scheduler(), &DownloadScheduler::connectionStateChanged, this,
            [this](ConnectionState state, int code, const QString &text) {
                // While the queue waits for a verification, the connection panel keeps saying so.
                if (!m_scheduler->isPausedForVerification())
                    panel(StatusPanel::Connection)->setText(Downloader::stateText(state, code, text));
            });
    connect(m_queue->scheduler(), &DownloadScheduler::totalsChanged, this,
            [this] { panel(StatusPanel::Totals)->setText(m_model->totalsText()); });
    connect(m_queue, &DownloadQueue::queueFinished, this, &fFileDownload::onQueueFinished);
    connect(m_queue, &DownloadQueue::verificationNeeded, this, &fFileDownload::onVerificationNeeded);
    connect(m_queue->scheduler(), &DownloadScheduler::rowEnded, this, &fFileDownload::refreshTotalsSoon);
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
    connect(cmdContinue, &QPushButton::clicked, this, &fFileDownload::continueAfterVerification);
    m_progressTick.setInterval(1000);
    connect(&m_progressTick, &QTimer::timeout, this, &fFileDownload::refreshProgress);
    m_totalsSoon.setSingleShot(true);
    m_totalsSoon.setInterval(TotalsDelayMs);
    connect(&m_totalsSoon, &QTimer::timeout, this, &fFileDownload::refreshProgress);
    connect(m_queue->scheduler(), &DownloadScheduler::runningChanged, this, &fFileDownload::onRunningChanged);
    connect(m_queue->scheduler(), &DownloadScheduler::startEnabledChanged, this,
            [this](bool enabled) { action(QStringLiteral("actStart"))->setEnabled(enabled); });
    connect(m_queue->scheduler(), &DownloadScheduler::methodShown, this, &fFileDownload::onMethodShown);
    connect(m_queue->scheduler(), &DownloadScheduler::housekeepingDone, this,
            &fFileDownload::onHousekeepingDone);
    m_queue->setLoginHooks({[this] { return PicWebBK->Check2->isChecked(); },
                            [this] { return PicWebBK->isLoggingIn() || PicWebBK->PanelLogin(false); }});

    connect(Combo1, &QComboBox::currentIndexChanged, this, [this](int position) {
        if (position < 0)
            return;
        m_queue->changeOptions([position](SchedulerOptions &options) {
            options.threadPosition = position;
            options.threadCount = position + 1;
        });
    });
    connect(Combo2, &QComboBox::currentIndexChanged, this, [this](int position) {
        if (position >= 0) {
            const int seconds = Combo2->itemData(position).toInt();
            m_queue->changeOptions(
                [seconds](SchedulerOptions &options) { options.intervalSeconds = seconds; });
        }
    });
    for (QRadioButton *option : {Option1, Option2, Option3})
        connect(option, &QRadioButton::toggled, this, &fFileDownload::syncPolicy);
    connect(Check3, &QCheckBox::toggled, this, [this](bool on) {
        m_queue->changeOptions([on](SchedulerOptions &options) { options.autoStart = on; });
    });
    connect(Command4, &QPushButton::clicked, this, &fFileDownload::startDownloads);
    connect(Command31, &QPushButton::clicked, this, &fFileDownload::stopDownloads);
    connect(Command26, &QPushButton::clicked, this, [this] {
        m_queue->switchMethod();
        Command4->setEnabled(true);
    });
    connect(Command1, &QPushButton::clicked, this, &fFileDownload::webLogin);
    connect(PicWebBK, &LoginPanel::titleShown, this, [this](const QString &title) {
        if (!m_scheduler->isPausedForVerification())
            panel(StatusPanel::Connection)->setText(title);
    });
    connect(PicWebBK, &LoginPanel::loginFinished, this, &fFileDownload::onLoginFinished);
}

void fFileDownload::loadWindow()
{
    m_queue->load();
    OptionStore::loadRetries();
    m_queue->changeOptions([](SchedulerOptions &options) { options.retries = sharedOptions().Retries; });
    switch (m_queue->options().policy) {
    case DuplicatePolicy::Skip:
        Option1->setChecked(true);
        break;
    case DuplicatePolicy::Overwrite:
        Option2->setChecked(true);
        break;
    case DuplicatePolicy::Rename:
        Option3->setChecked(true);
        break;
    }
    Combo2->clear();
    for (int i = 0; i <= 60; ++i)
        Combo2->addItem(QString::number(i), i);
    Combo2->setCurrentIndex(0);
    Check4->setChecked(false);
    Combo4->setCurrentIndex(0);
    ApplyRowStripes(ListView3, RowHeight);
    refreshRecordCount();
}

void fFileDownload::onMethodShown(DownloadMethod method, bool threadListEnabled, int threadPosition)
{
    // The user's options follow, unstored, so the options window shows and keeps the method in force.
    OptionStore::setMethodInForce(method);
    Label7->setText(QStringLiteral("下载方式：%1").arg(methodNumber(method)));
    Combo1->setEnabled(threadListEnabled);
    const QSignalBlocker blocker(Combo1);
    Combo1->setCurrentIndex(threadPosition >= 0 && threadPosition < Combo1->count() ? threadPosition : 0);
}

void fFileDownload::syncPolicy()
{
    DuplicatePolicy policy = m_queue->options().policy;
    if (Option1->isChecked())
        policy = DuplicatePolicy::Skip;
    else if (Option2->isChecked())
        policy = DuplicatePolicy::Overwrite;
    else if (Option3->isChecked())
        policy = DuplicatePolicy::Rename;
    m_queue->changeOptions([policy](SchedulerOptions &options) { options.policy = policy; });
}

void fFileDownload::onRunningChanged(bool running)
{
    Shape1->setVisible(running);
    if (running && !m_progress.running())
        beginRun();
    if (!m_scheduler->isPausedForVerification())
        cmdContinue->hide();
}

void fFileDownload::beginRun()
{
    m_runStopped = false;
    m_transferTextStale = true;
    m_progress.begin();
    m_progressTick.start();
    // Shown a moment later: a run that ends at once (an automatic start with nothing to do, every second
    // while automatic re-download is ticked) leaves the status bar and the title as they were.
    refreshTotalsSoon();
}

void fFileDownload::refreshTotalsSoon()
{
    if (!m_totalsSoon.isActive())
        m_totalsSoon.start();
}

void fFileDownload::refreshProgress()
{
    m_totalsSoon.stop();
    m_queue->refreshTotals();
    if (!m_progress.running())
        return;
    const QueueProgress::Snapshot snapshot = m_progress.measure();
    m_speedPanel->setText(progresstext::statusLine(snapshot));
    m_speedPanel->setVisible(!m_scheduler->isPausedForVerification());
    setWindowTitle(snapshot.total > 0 ? progresstext::fraction(snapshot) + QStringLiteral(" － ") + Caption
                                      : Caption);
}

QString fFileDownload::speedText() const
{
    return m_speedPanel->text();
}

bool fFileDownload::autoRedownloadGoesOn() const
{
    // With automatic re-download the queue starts again at once with such rows: not the end yet.
    if (!Check4->isChecked())
        return false;
    const auto choice = static_cast<AutoRedownloadChoice>(Combo4->currentIndex());
    const bool failed = choice != AutoRedownloadChoice::Html;
    const bool html = choice != AutoRedownloadChoice::Failed;
    for (int i = 0; i < m_model->count(); ++i) {
        const DownloadRow &row = m_model->row(i);
        const bool web = row.type.compare(QLatin1String("htm"), Qt::CaseInsensitive) == 0 ||
                         row.type.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0;
        if ((failed && row.state == RowState::Failed) ||
            (html && web && (row.state == RowState::Done || row.state == RowState::Failed)))
            return true;
    }
    return false;
}

void fFileDownload::onQueueFinished()
{
    cmdContinue->hide();
    panel(StatusPanel::Connection)->setToolTip(QString());
    m_progressTick.stop();
    const bool wasOn = m_progress.running();
    const QueueProgress::Summary summary = m_progress.finish();
    m_speedPanel->clear();
    m_speedPanel->hide();
    setWindowTitle(Caption);
    m_queue->refreshTotals();
    // A run that ended nothing (an automatic start that found no work) is not worth a word.
    if (!wasOn || !summary.any() || m_closing)
        return;
    panel(StatusPanel::Connection)->setText(progresstext::summaryLine(summary, m_runStopped));
    panel(StatusPanel::Connection)->setToolTip(panel(StatusPanel::Connection)->text());
    if (!autoRedownloadGoesOn())
        m_notifier->notify(progresstext::summaryHead(m_runStopped), progresstext::summaryBody(summary));
}

void fFileDownload::onVerificationNeeded()
{
    // The panel may be too narrow for the whole request; the speed, nothing while paused, makes room.
    const QString &text = m_scheduler->pauseKind() == PauseKind::Login ? LoginText : VerificationText;
    panel(StatusPanel::Connection)->setText(text);
    panel(StatusPanel::Connection)->setToolTip(text);
    m_speedPanel->hide();
    cmdContinue->show();
    PicWebBK->show();
    PicWebBK->raise();
    // A login that has the browser keeps it until it ends; the page follows then.
    m_wallAfterLogin = PicWebBK->isLoggingIn();
    if (!m_wallAfterLogin)
        PicWebBK->openAddress(m_scheduler->verificationPage().toString());
}

void fFileDownload::continueAfterVerification()
{
    cmdContinue->hide();
    panel(StatusPanel::Connection)->clear();
    panel(StatusPanel::Connection)->setToolTip(QString());
    m_speedPanel->setVisible(m_progress.running());
    m_queue->resume();
}

void fFileDownload::onHousekeepingDone()
{
    if (!Check4->isChecked() || m_scheduler->isRunning())
        return;
    runFrozen([this] {
        m_queue->commands().autoRedownload(static_cast<AutoRedownloadChoice>(Combo4->currentIndex()));
    });
    m_queue->continueRun();
}

void fFileDownload::onLoginFinished()
{
    m_queue->loginFinished();
    // A wall met while the login had the browser is shown now.
    if (std::exchange(m_wallAfterLogin, false) && m_scheduler->isPausedForVerification())
        PicWebBK->openAddress(m_scheduler->verificationPage().toString());
}
