#include "download/replyhelpers.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
constexpr qint64 kReadBuffer = 1024 * 1024;
}

QNetworkReply *startFreshGet(QNetworkAccessManager *manager, const QUrl &url, const QByteArray &referer)
{
    QNetworkRequest request{url};
    if (!referer.isEmpty())
        request.setRawHeader("Referer", referer);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    QNetworkReply *reply = manager->get(request);
    reply->setReadBufferSize(kReadBuffer);
    return reply;
}

bool isFollowedRedirect(QNetworkReply *reply, int statusCode)
{
    return statusCode >= 300 && statusCode < 400 && reply->hasRawHeader("Location") && !reply->isFinished();
}

void releaseReply(QPointer<QNetworkReply> &reply, QObject *receiver)
{
    if (QNetworkReply *r = reply.data()) {
        reply = nullptr;
        r->disconnect(receiver);
        // Aborted from the event loop, not from inside one of its own signals: the reply may still be
        // reporting an error status, and an abort in the middle of that would report a second error.
        QMetaObject::invokeMethod(
            r,
            [r] {
                r->abort();
                r->deleteLater();
            },
            Qt::QueuedConnection);
    }
}
