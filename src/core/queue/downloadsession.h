#pragma once

#include <QObject>

class CookieMirror;
class DownloadListModel;
class DownloadScheduler;
class QNetworkCookieJar;

// One download queue with everything it needs: the list, the scheduler with its transfers and the cookie
// jar they send from. Where a browser is around, a mirror that fills the jar from the browser's cookies
// is handed to the session, which keeps it for as long as the jar lives. The download window and the batch
// mode each make one.
class DownloadSession : public QObject
{
    Q_OBJECT

public:
    explicit DownloadSession(QObject *parent = nullptr);
    ~DownloadSession() override; // the transfers go before the list they write to

    DownloadListModel *model() const { return m_model; }
    DownloadScheduler *scheduler() const { return m_scheduler; }
    QNetworkCookieJar *cookieJar() const;

    // The mirror goes before the jar it writes to. `object` is the mirror itself, as a QObject.
    void setCookieMirror(CookieMirror *mirror, QObject *object);
    CookieMirror *cookieMirror() const { return m_cookieMirror; }

private:
    DownloadListModel *m_model;
    DownloadScheduler *m_scheduler;
    CookieMirror *m_cookieMirror = nullptr;
    QObject *m_cookieMirrorObject = nullptr;
};
