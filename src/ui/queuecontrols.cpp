#include "ui/queuecontrols.h"

#include "core/queue/downloadqueue.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "ui/downloadwindow.h"
#include "ui/downloadwindowcommands.h"
#include "ui/loginpanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

QueueControls::QueueControls(fFileDownload &window, DownloadWindowCommands &commands)
    : QObject(&window), m_window(window), m_commands(commands), m_scheduler(window.scheduler())
{
    connect(m_window.queue()->scheduler(), &DownloadScheduler::methodShown, this,
            &QueueControls::onMethodShown);
    connect(m_window.queue()->scheduler()->housekeeping(), &Housekeeping::housekeepingDone, this,
            &QueueControls::onHousekeepingDone);
    m_window.queue()->setLoginHooks(
        {[this] { return m_window.PicWebBK->Check2->isChecked(); },
         [this] { return m_window.PicWebBK->isLoggingIn() || m_window.PicWebBK->PanelLogin(false); }});

    connect(m_window.Combo1, &QComboBox::currentIndexChanged, this, [this](int position) {
        if (position < 0)
            return;
        m_window.queue()->changeOptions([position](SchedulerOptions &options) {
            options.threadPosition = position;
            options.threadCount = position + 1;
        });
    });
    connect(m_window.Combo2, &QComboBox::currentIndexChanged, this, [this](int position) {
        if (position >= 0) {
            const int seconds = m_window.Combo2->itemData(position).toInt();
            m_window.queue()->changeOptions(
                [seconds](SchedulerOptions &options) { options.intervalSeconds = seconds; });
        }
    });
    for (QRadioButton *option : {m_window.Option1, m_window.Option2, m_window.Option3})
        connect(option, &QRadioButton::toggled, this, &QueueControls::syncPolicy);
    connect(m_window.Check3, &QCheckBox::toggled, this, [this](bool on) {
        m_window.queue()->changeOptions([on](SchedulerOptions &options) { options.autoStart = on; });
    });
    connect(m_window.Command26, &QPushButton::clicked, this, [this] {
        m_window.queue()->switchMethod();
        m_window.Command4->setEnabled(true);
    });
    loadWindow();
}

void QueueControls::loadWindow()
{
    m_window.queue()->load();
    OptionStore &stored = m_window.run().options;
    stored.loadRetries();
    m_window.queue()->changeOptions(
        [&stored](SchedulerOptions &options) { options.retries = stored.options().Retries; });
    switch (m_window.queue()->options().policy) {
    case DuplicatePolicy::Skip:
        m_window.Option1->setChecked(true);
        break;
    case DuplicatePolicy::Overwrite:
        m_window.Option2->setChecked(true);
        break;
    case DuplicatePolicy::Rename:
        m_window.Option3->setChecked(true);
        break;
    }
    m_window.Combo2->clear();
    for (int i = 0; i <= 60; ++i)
        m_window.Combo2->addItem(QString::number(i), i);
    m_window.Combo2->setCurrentIndex(0);
    m_window.Check4->setChecked(false);
    m_window.Combo4->setCurrentIndex(0);
}

void QueueControls::onMethodShown(DownloadMethod method, bool threadListEnabled, int threadPosition)
{
    // The user's options follow, unstored, so the options window shows and keeps the method in force.
    m_window.run().options.setMethodInForce(method);
    m_window.Label7->setText(QStringLiteral("下载方式：%1").arg(methodNumber(method)));
    m_window.Combo1->setEnabled(threadListEnabled);
    const QSignalBlocker blocker(m_window.Combo1);
    m_window.Combo1->setCurrentIndex(
        threadPosition >= 0 && threadPosition < m_window.Combo1->count() ? threadPosition : 0);
}

void QueueControls::syncPolicy()
{
    DuplicatePolicy policy = m_window.queue()->options().policy;
    if (m_window.Option1->isChecked())
        policy = DuplicatePolicy::Skip;
    else if (m_window.Option2->isChecked())
        policy = DuplicatePolicy::Overwrite;
    else if (m_window.Option3->isChecked())
        policy = DuplicatePolicy::Rename;
    m_window.queue()->changeOptions([policy](SchedulerOptions &options) { options.policy = policy; });
}

void QueueControls::onHousekeepingDone()
{
    if (!m_window.Check4->isChecked() || m_scheduler->isRunning())
        return;
    // The run goes on once the rows' old files are gone and the rows are back in the queue.
    m_commands.runFrozen([this] {
        m_window.queue()->commands().autoRedownload(
            static_cast<AutoRedownloadChoice>(m_window.Combo4->currentIndex()),
            [queue = QPointer(m_window.queue())] {
                if (queue)
                    queue->continueRun();
            });
    });
}

void QueueControls::takeSharedOptions()
{
    const SharedOptions &shared = m_window.run().options.options();
    const bool methodChanged = m_window.queue()->options().method != shared.DownloadMethod;
    m_window.queue()->changeOptions([&shared, methodChanged](SchedulerOptions &options) {
        options.proxy = {shared.ProxyEnabled, shared.ProxyAddress, shared.proxyPortNumber()};
        options.retries = shared.Retries;
        options.namesFromLinks = shared.UseOriginalFileName;
        // The single connection keeps the parallel method's count for a later 切换; the parallel
        // method chosen here starts with one transfer.
        if (methodChanged)
            options.putMethod(shared.DownloadMethod, shared.DownloadMethod == DownloadMethod::Single
                                                         ? options.parallelThreadPosition()
                                                         : 0);
    });
    const SchedulerOptions &options = m_window.queue()->options();
    if (methodChanged)
        onMethodShown(options.method, options.method != DownloadMethod::Single, options.threadPosition);
}
