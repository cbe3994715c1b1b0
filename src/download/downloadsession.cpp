#include "download/downloadsession.h"

#include "download/cookiemirror.h"
#include "download/downloadlistmodel.h"
#include "download/downloadscheduler.h"

#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

DownloadSession::DownloadSession(QWebEngineProfile *profile, QObject *parent)
    : QObject(parent), m_model(new DownloadListModel(this)), m_scheduler(new DownloadScheduler(m_model, this))
{
    if (profile)
        m_cookieMirror = new CookieMirror(profile->cookieStore(), m_scheduler->cookieJar(), this);
}

DownloadSession::~DownloadSession()
{
    delete m_cookieMirror;
    delete m_scheduler;
    delete m_model;
}

QNetworkCookieJar *DownloadSession::cookieJar() const
{
    return m_scheduler->cookieJar();
}
