#pragma once

#include <QByteArray>
#include <QPointer>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;
class QUrl;

// A GET that always goes to the network and is never kept in a cache; at most a megabyte of its body
// waits in memory before it is written out. An empty referer sends none.
QNetworkReply *startFreshGet(QNetworkAccessManager *manager, const QUrl &url, const QByteArray &referer);

// The headers belong to a redirect the manager is still following: the file's answer comes next.
bool isFollowedRedirect(QNetworkReply *reply, int statusCode);

// Stops the transfer and lets the reply go without further signals reaching receiver.
void releaseReply(QPointer<QNetworkReply> &reply, QObject *receiver);
