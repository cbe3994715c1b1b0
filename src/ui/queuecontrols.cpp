#include "ui/queuecontrols.h"

#include "core/queue/downloadqueue.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "ui/downloadwindowcommands.h"
#include "ui/downloadwindowparts.h"
#include "ui/loginpanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

QueueControls::QueueControls(const DownloadWindowParts &parts, DownloadWindowCommands &commands)
    : QObject(&parts.window), m_parts(parts), m_commands(commands), m_scheduler(parts.queue->scheduler())
{
    connect(m_parts.queue->scheduler(), &DownloadScheduler::methodShown, this, &QueueControls::onMethodShown);
    connect(m_parts.queue->scheduler()->housekeeping(), &Housekeeping::housekeepingDone, this,
            &QueueControls::onHousekeepingDone);
    m_parts.queue->setLoginHooks({[this] { return m_parts.controls.PicWebBK->Check2->isChecked(); },
                                  [this] {
                                      return m_parts.controls.PicWebBK->isLoggingIn() ||
                                             m_parts.controls.PicWebBK->PanelLogin(false);
                                  }});

    connect(m_parts.controls.Combo1, &QComboBox::currentIndexChanged, this, [this](int position) {
        if (position < 0)
            return;
        m_parts.queue->changeOptions([position](SchedulerOptions &options) {
            options.threadPosition = position;
            options.threadCount = position + 1;
        });
    });
    connect(m_parts.controls.Combo2, &QComboBox::currentIndexChanged, this, [this](int position) {
        if (position >= 0) {
            const int seconds = m_parts.controls.Combo2->itemData(position).toInt();
            m_parts.queue->changeOptions(
                [seconds](SchedulerOptions &options) { options.intervalSeconds = seconds; });
        }
    });
    for (QRadioButton *option :
         {m_parts.controls.Option1, m_parts.controls.Option2, m_parts.controls.Option3})
        connect(option, &QRadioButton::toggled, this, &QueueControls::syncPolicy);
    connect(m_parts.controls.Check3, &QCheckBox::toggled, this, [this](bool on) {
        m_parts.queue->changeOptions([on](SchedulerOptions &options) { options.autoStart = on; });
    });
    connect(m_parts.controls.Command26, &QPushButton::clicked, this, [this] {
        m_parts.queue->switchMethod();
        m_parts.controls.Command4->setEnabled(true);
    });
    loadWindow();
}

void QueueControls::loadWindow()
{
    m_parts.queue->load();
    OptionStore &stored = m_parts.run.options;
    stored.loadRetries();
    m_parts.queue->changeOptions(
        [&stored](SchedulerOptions &options) { options.retries = stored.options().Retries; });
    switch (m_parts.queue->options().policy) {
    case DuplicatePolicy::Skip:
        m_parts.controls.Option1->setChecked(true);
        break;
    case DuplicatePolicy::Overwrite:
        m_parts.controls.Option2->setChecked(true);
        break;
    case DuplicatePolicy::Rename:
        m_parts.controls.Option3->setChecked(true);
        break;
    }
    m_parts.controls.Combo2->clear();
    for (int i = 0; i <= 60; ++i)
        m_parts.controls.Combo2->addItem(QString::number(i), i);
    m_parts.controls.Combo2->setCurrentIndex(0);
    m_parts.controls.Check4->setChecked(false);
    m_parts.controls.Combo4->setCurrentIndex(0);
}

void QueueControls::onMethodShown(DownloadMethod method, bool threadListEnabled, int threadPosition)
{
    // The user's options follow, unstored, so the options window shows and keeps the method in force.
    m_parts.run.options.setMethodInForce(method);
    m_parts.controls.Label7->setText(QStringLiteral("下载方式：%1").arg(methodNumber(method)));
    m_parts.controls.Combo1->setEnabled(threadListEnabled);
    const QSignalBlocker blocker(m_parts.controls.Combo1);
    m_parts.controls.Combo1->setCurrentIndex(
        threadPosition >= 0 && threadPosition < m_parts.controls.Combo1->count() ? threadPosition : 0);
}

void QueueControls::syncPolicy()
{
    DuplicatePolicy policy = m_parts.queue->options().policy;
    if (m_parts.controls.Option1->isChecked())
        policy = DuplicatePolicy::Skip;
    else if (m_parts.controls.Option2->isChecked())
        policy = DuplicatePolicy::Overwrite;
    else if (m_parts.controls.Option3->isChecked())
        policy = DuplicatePolicy::Rename;
    m_parts.queue->changeOptions([policy](SchedulerOptions &options) { options.policy = policy; });
}

void QueueControls::onHousekeepingDone()
{
    if (!m_parts.controls.Check4->isChecked() || m_scheduler->isRunning())
        return;
    // The run goes on once the rows' old files are gone and the rows are back in the queue.
    m_commands.runFrozen([this] {
        m_parts.queue->commands().autoRedownload(
            static_cast<AutoRedownloadChoice>(m_parts.controls.Combo4->currentIndex()),
            [queue = QPointer(m_parts.queue)] {
                if (queue)
                    queue->continueRun();
            });
    });
}

void QueueControls::takeSharedOptions()
{
    const SharedOptions &shared = m_parts.run.options.options();
    const bool methodChanged = m_parts.queue->options().method != shared.DownloadMethod;
    m_parts.queue->changeOptions([&shared, methodChanged](SchedulerOptions &options) {
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
    const SchedulerOptions &options = m_parts.queue->options();
    if (methodChanged)
        onMethodShown(options.method, options.method != DownloadMethod::Single, options.threadPosition);
}
