#pragma once

#include "download/partfile.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;

// One parallel transfer slot: reads an address into a save file and reports progress, error or
// completion. The save file is reserved by a small mark while the slot runs; the body goes to a
// temporary file beside it and replaces the mark only when complete.
class Downloader : public QObject
{
    Q_OBJECT

public:
    explicit Downloader(QNetworkAccessManager *manager, QObject *parent = nullptr);
    ~Downloader() override; // a destroyed slot cancels its transfer and cleans up after itself

    void BeginDownload(const QString &address, const QString &saveFile);
    void CancelAsyncRead();
    void setTimeouts(int headerMs, int stallMs);
    QString saveFile() const { return m_saveFile; }

    // scheme://host/ of an address (folder mode false), or the address up to its last "/" before any
    // query (folder mode true).
    static QString GetUrlBase(const QString &address, bool folderMode);

Q_SIGNALS:
    void DownloadProgress(qint64 soFar, qint64 total, const QString &saveFile);
    void DownloadError(const QString &saveFile);
    void DownloadComplete(qint64 size, const QString &saveFile);
    void webPageReceived();

private:
    void startRead(bool fallback);
    void onHeaders();
    void onReadyRead();
    void onFinished();
    void onTimeout();
    void finishError();
    void cleanUp();
    void dropReply();

    QNetworkAccessManager *m_manager;
    QPointer<QNetworkReply> m_reply;
    PartFile m_part;
    QString m_address;
    QString m_saveFile;
    bool m_ownsPlaceholder = false;
    bool m_fallback = false;
    bool m_headersSeen = false;
    bool m_failed = false;
    qint64 m_total = 0;
    QTimer m_headerTimer;
    QTimer m_stallTimer;
    int m_headerMs = 30000;
};
