#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class DownloadSession;
class ResultPageBrowser;

// The browser page a run loads its start page into and walks the result pages in. The batch mode itself
// knows no browser engine: a program that has one makes the page; a run from a list of links or from an
// earlier run's manifest needs none.
class BatchPage : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // What reads the page on show and follows its links.
    virtual ResultPageBrowser *reader() = 0;
    virtual void load(const QUrl &address) = 0;
    virtual void stop() = 0;
    // The cookies the pages get reach the session's downloads from now on.
    virtual void shareCookies(DownloadSession *session) = 0;

Q_SIGNALS:
    // A page's loading ended: failure is empty when it loaded, else why it did not ("the server answered
    // HTTP 404", "connection refused (net::ERR_CONNECTION_REFUSED)").
    void loadEnded(const QString &failure);
    // The document on show is complete, or could not be shown.
    void documentComplete();
};
