#include "download/downloader.h"

#include "download/replyhelpers.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
constexpr qint64 kPiece = 64 * 1024;
} // namespace

Downloader::Downloader(QNetworkAccessManager *manager, QObject *parent) : QObject(parent), m_manager(manager)
{
    m_headerTimer.setSingleShot(true);
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(60000);
    connect(&m_headerTimer, &QTimer::timeout, this, &Downloader::onTimeout);
    connect(&m_stallTimer, &QTimer::timeout, this, &Downloader::onTimeout);
}

Downloader::~Downloader()
{
    CancelAsyncRead();
}

void Downloader::setTimeouts(int headerMs, int stallMs)
{
    m_headerMs = headerMs;
    m_stallTimer.setInterval(stallMs);
}

QString Downloader::GetUrlBase(const QString &addressIn, bool folderMode)
{
    QString address = addressIn;
    if (!address.contains(QStringLiteral("://")))
        address.prepend(QStringLiteral("http://"));
    const qsizetype rest = address.indexOf(QStringLiteral("://")) + 3;
    if (address.indexOf(u'/', rest) < 0)
        address.append(u'/');
    if (!folderMode)
        return address.left(address.indexOf(u'/', rest) + 1);
    const qsizetype query = address.indexOf(u'?');
    if (query >= 0)
        address.truncate(query);
    return address.left(address.lastIndexOf(u'/') + 1);
}

void Downloader::BeginDownload(const QString &address, const QString &saveFile)
{
    m_address = address;
    m_saveFile = saveFile;
    // The mark reserves the name for the rows that follow; an existing file (overwrite) is left whole
    // until the new one is complete.
    m_ownsPlaceholder = createPlaceholder(saveFile);
    startRead(false);
}

void Downloader::startRead(bool fallback)
{
    m_fallback = fallback;
    m_headersSeen = false;
    m_total = 0;
    if (!m_part.open(m_saveFile)) {
        finishError();
        return;
    }
    QNetworkReply *reply =
        startFreshGet(m_manager, QUrl(m_address), fallback ? GetUrlBase(m_address, false).toUtf8() : QByteArray());
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &Downloader::onHeaders);
    connect(reply, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Downloader::onFinished);
    m_headerTimer.start(fallback ? 60000 : m_headerMs);
}

void Downloader::onHeaders()
{
    if (!m_reply || m_headersSeen)
        return;
    const int code = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (code == 0)
        return;
    if (isFollowedRedirect(m_reply, code))
        return;
    m_headersSeen = true;
    m_headerTimer.stop();
    // Only a successful answer is a file; an error page sent with an error status never becomes one.
    if (code < 200 || code >= 300 || code == 206) {
        finishError();
        return;
    }
    if (m_reply->header(QNetworkRequest::ContentTypeHeader).toString().startsWith(u"text/html", Qt::CaseInsensitive))
        Q_EMIT webPageReceived();
    bool numeric = false;
    const qint64 length = m_reply->rawHeader("Content-Length").trimmed().toLongLong(&numeric);
    m_total = numeric && length > 0 ? length : 0;
    m_stallTimer.start();
}

void Downloader::onReadyRead()
{
    if (!m_reply || !m_headersSeen)
        return;
    bool wrote = false;
    while (m_reply && m_reply->bytesAvailable() > 0) {
        if (!m_part.write(m_reply->read(kPiece))) {
            finishError();
            return;
        }
        wrote = true;
    }
    if (!wrote)
        return;
    m_stallTimer.start();
    if (m_total > 0)
        Q_EMIT DownloadProgress(m_part.size(), m_total, m_saveFile);
}

void Downloader::onFinished()
{
    if (!m_reply)
        return;
    if (!m_headersSeen)
        onHeaders();
    if (!m_reply)
        return;
    onReadyRead();
    if (!m_reply)
        return;
    const bool error = m_reply->error() != QNetworkReply::NoError || !m_headersSeen;
    dropReply();
    const qint64 received = m_part.size();
    if (error || (m_total > 0 && received < m_total)) {
        finishError();
        return;
    }
    if (received == 0) {
        // Nothing arrived although the answer was fine: ask once more on a connection of our own, naming
        // the site as referrer.
        if (!m_fallback) {
            m_part.discard();
            startRead(true);
            return;
        }
        finishError();
        return;
    }
    // An answer without a stated length is complete now: its total is what arrived.
    if (m_total == 0)
        Q_EMIT DownloadProgress(received, received, m_saveFile);
    if (!m_part.commit()) {
        finishError();
        return;
    }
    m_ownsPlaceholder = false;
    Q_EMIT DownloadComplete(received, m_saveFile);
}

void Downloader::onTimeout()
{
    if (m_reply)
        finishError();
}

void Downloader::finishError()
{
    if (m_failed)
        return;
    m_failed = true;
    cleanUp();
    Q_EMIT DownloadError(m_saveFile);
}

void Downloader::dropReply()
{
    m_headerTimer.stop();
    m_stallTimer.stop();
    releaseReply(m_reply, this);
}

void Downloader::cleanUp()
{
    dropReply();
    m_part.discard();
    if (m_ownsPlaceholder) {
        removePlaceholder(m_saveFile);
        m_ownsPlaceholder = false;
    }
}

void Downloader::CancelAsyncRead()
{
    cleanUp();
}
