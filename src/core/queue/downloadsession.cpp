#include "core/queue/downloadsession.h"

#include "core/queue/downloadqueue.h"
#include "core/transfer/downloadscheduler.h"

DownloadSession::DownloadSession(const SiteRulesCatalog &siteRules, QObject *parent)
    : QObject(parent), m_queue(new DownloadQueue(this))
{
    m_queue->changeOptions([&siteRules](SchedulerOptions &options) { options.siteRules = &siteRules; });
}

DownloadSession::~DownloadSession()
{
    delete m_cookieMirrorObject;
    delete m_queue;
}

DownloadListModel *DownloadSession::model() const
{
    return m_queue->model();
}

const DownloadScheduler *DownloadSession::scheduler() const
{
    return m_queue->scheduler();
}

QNetworkCookieJar *DownloadSession::cookieJar() const
{
    return m_queue->scheduler()->network().cookieJar();
}

void DownloadSession::setPdfChecker(PdfChecker *checker)
{
    m_queue->changeOptions([checker](SchedulerOptions &options) { options.pdfChecker = checker; });
}

PdfChecker *DownloadSession::pdfChecker() const
{
    return m_queue->options().pdfChecker;
}

void DownloadSession::setCookieMirror(CookieMirror *mirror, QObject *object)
{
    delete m_cookieMirrorObject;
    m_cookieMirror = mirror;
    m_cookieMirrorObject = object;
}
