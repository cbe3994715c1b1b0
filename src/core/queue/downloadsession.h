#pragma once

#include <QObject>

class CookieMirror;
class DownloadListModel;
class DownloadQueue;
class DownloadScheduler;
class PdfChecker;
class QNetworkCookieJar;
class SiteRulesCatalog;

// One download queue with everything it needs: the queue (its rows, the scheduler with its transfers)
// and the cookie jar they send from. Where a browser is around, a mirror that fills the jar from the
// browser's cookies is handed to the session, which keeps it for as long as the jar lives. The download
// window and the batch mode each make one, with the site rules the run was given: the transfers judge
// their answers by them.
class DownloadSession : public QObject
{
    Q_OBJECT

public:
    explicit DownloadSession(const SiteRulesCatalog &siteRules, QObject *parent = nullptr);
    ~DownloadSession() override; // the cookie mirror goes before the queue and its jar

    DownloadQueue *queue() const { return m_queue; }
    DownloadListModel *model() const;
    const DownloadScheduler *scheduler() const;
    QNetworkCookieJar *cookieJar() const;

    // The mirror goes before the jar it writes to. `object` is the mirror itself, as a QObject.
    void setCookieMirror(CookieMirror *mirror, QObject *object);
    CookieMirror *cookieMirror() const { return m_cookieMirror; }

    // The checker every finished PDF of this queue goes through (none: no check); it outlives the session.
    void setPdfChecker(PdfChecker *checker);
    PdfChecker *pdfChecker() const;

private:
    DownloadQueue *m_queue;
    CookieMirror *m_cookieMirror = nullptr;
    QObject *m_cookieMirrorObject = nullptr;
};
