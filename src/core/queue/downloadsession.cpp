#include "core/queue/downloadsession.h"

#include "core/queue/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"

DownloadSession::DownloadSession(QObject *parent)
    : QObject(parent), m_model(new DownloadListModel(this)), m_scheduler(new DownloadScheduler(m_model, this))
{
}

DownloadSession::~DownloadSession()
{
    delete m_cookieMirrorObject;
    delete m_scheduler;
    delete m_model;
}

QNetworkCookieJar *DownloadSession::cookieJar() const
{
    return m_scheduler->cookieJar();
}

void DownloadSession::setCookieMirror(CookieMirror *mirror, QObject *object)
{
    delete m_cookieMirrorObject;
    m_cookieMirror = mirror;
    m_cookieMirrorObject = object;
}
