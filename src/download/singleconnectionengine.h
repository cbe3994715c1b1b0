#pragma once

#include "download/partfile.h"
#include "settings/sharedoptions.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>

class DownloadListModel;
class QNetworkReply;

// Downloads one row at a time over one connection: GET with a Referer naming the file's site, only a
// " 200 OK" answer is taken, the media type decides the extension, the body streams to disk with live
// progress in the row, and a file whose type was not stated is named after its content.
class SingleConnectionEngine : public QObject
{
    Q_OBJECT

public:
    SingleConnectionEngine(DownloadListModel *model, QNetworkAccessManager *manager, QObject *parent = nullptr);
    ~SingleConnectionEngine() override;

    // Proxy from the shared values (named proxy when enabled, else the default connection).
    void applyProxy();
    // Starts the transfer of the row (Inet下载文件 with the site root as Referer).
    void Inet下载文件(int position, const QString &address, DuplicatePolicy policy);
    bool isExecuting() const { return !m_reply.isNull(); }
    // Ends a running body as "下载取消": partial data deleted, row failed, no time stamp.
    void cancelBody();
    // Drops any request without touching rows (the connection is left idle).
    void cancelRequest();
    void setTimeouts(int headerMs, int stallMs);

    // The text of the status line the engine judges, e.g. "HTTP/1.1 200 OK".
    static bool acceptsStatusLine(const QString &statusLine);
    static QString stateText(int state, int code = 0, const QString &text = QString());

Q_SIGNALS:
    void panelText(int panel, const QString &text);
    // The transfer of the row ended; stamped when the finish time is to be taken.
    void finished(int position, bool done, bool stamped);
    void webPageReceived(int position);

private:
    void onHeaders();
    void onReadyRead();
    void onFinished();
    void onHeaderTimeout();
    void onStall();
    void fail(const QString &sizeText, bool stamped);
    void finishStep(bool done);
    void repairType(QString *path);
    void endReply();
    void setState(int state);

    DownloadListModel *m_model;
    QNetworkAccessManager *m_manager;
    QPointer<QNetworkReply> m_reply;
    PartFile m_part;
    int m_position = -1;
    DuplicatePolicy m_policy = DuplicatePolicy::Rename;
    QString m_extension;
    QString m_path;
    qint64 m_length = 0;
    bool m_headersSeen = false;
    bool m_accepted = false;
    QTimer m_headerTimer;
    QTimer m_stallTimer;
};
