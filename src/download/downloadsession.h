#pragma once

#include <QObject>

class CookieMirror;
class DownloadListModel;
class DownloadScheduler;
class QNetworkCookieJar;
class QWebEngineProfile;

// One download queue with everything it needs: the list, the scheduler with its transfers, the cookie
// jar they send from and, when a browser profile is given, the mirror that fills the jar from the
// browser's cookies. The download window and the batch mode each make one.
class DownloadSession : public QObject
{
    Q_OBJECT

public:
    explicit DownloadSession(QWebEngineProfile *profile = nullptr, QObject *parent = nullptr);
    ~DownloadSession() override; // the transfers go before the list they write to

    DownloadListModel *model() const { return m_model; }
    DownloadScheduler *scheduler() const { return m_scheduler; }
    QNetworkCookieJar *cookieJar() const;
    CookieMirror *cookieMirror() const { return m_cookieMirror; }

private:
    DownloadListModel *m_model;
    DownloadScheduler *m_scheduler;
    CookieMirror *m_cookieMirror = nullptr;
};
