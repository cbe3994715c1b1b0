#include "download/singleconnectionengine.h"

#include "common/classify.h"
#include "common/filenames.h"
#include "download/downloadlistmodel.h"
#include "download/replyhelpers.h"
#include "download/targetfile.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
constexpr qint64 kPiece = 64 * 1024;
} // namespace

SingleConnectionEngine::SingleConnectionEngine(DownloadListModel *model, QNetworkAccessManager *manager,
                                               QObject *parent)
    : QObject(parent), m_model(model), m_manager(manager)
{
    m_headerTimer.setSingleShot(true);
    m_headerTimer.setInterval(30000);
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(60000);
    connect(&m_headerTimer, &QTimer::timeout, this, &SingleConnectionEngine::onHeaderTimeout);
    connect(&m_stallTimer, &QTimer::timeout, this, &SingleConnectionEngine::onStall);
}

SingleConnectionEngine::~SingleConnectionEngine()
{
    cancelRequest();
}

void SingleConnectionEngine::setTimeouts(int headerMs, int stallMs)
{
    m_headerTimer.setInterval(headerMs);
    m_stallTimer.setInterval(stallMs);
}

void SingleConnectionEngine::applyProxy()
{
    const SharedOptions &o = sharedOptions();
    if (o.ProxyEnabled == 1) {
        bool ok = false;
        const int port = TrimSpaces(o.ProxyPort).toInt(&ok);
        m_manager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, o.ProxyAddress, ok ? quint16(port) : 80));
    } else {
        m_manager->setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
    }
}

QString SingleConnectionEngine::stateText(int state, int code, const QString &text)
{
    switch (state) {
    case 0: return QStringLiteral("0 无状态可报告。");
    case 1: return QStringLiteral("1 正在查询所指定的主机的 IP 地址...");
    case 2: return QStringLiteral("2 已成功地找到所指定的主机的 IP 地址。");
    case 3: return QStringLiteral("3 正在与主机连接...");
    case 4: return QStringLiteral("4 已与主机连接成功。");
    case 5: return QStringLiteral("5 正在向主机发送请求...");
    case 6: return QStringLiteral("6 发送请求已成功。");
    case 7: return QStringLiteral("7 正在接收主机的响应...");
    case 8: return QStringLiteral("8 已成功地接收到主机的响应。");
    case 9: return QStringLiteral("9 正在解除与主机的连接...");
    case 10: return QStringLiteral("10 已成功地与主机解除了连接。");
    case 11: return QStringLiteral("11 与主机通讯时出现了错误:%1:%2").arg(code).arg(text);
    case 12: return QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。");
    default: return QStringLiteral("%1:%2").arg(code).arg(text);
    }
}

void SingleConnectionEngine::setState(int state)
{
    int code = 0;
    QString text;
    if (m_reply) {
        code = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        text = m_reply->errorString();
    }
    Q_EMIT panelText(3, stateText(state, code, text));
}

bool SingleConnectionEngine::acceptsStatusLine(const QString &statusLine)
{
    return statusLine.right(7).toUpper() == u" 200 OK";
}

void SingleConnectionEngine::Inet下载文件(int position, const QString &address, DuplicatePolicy policy)
{
    cancelRequest();
    applyProxy();
    m_position = position;
    m_policy = policy;
    m_headersSeen = m_accepted = false;
    m_length = 0;
    m_extension.clear();
    m_path.clear();
    Q_EMIT panelText(2, QStringLiteral("正在下载:") + m_model->row(position).name);

    QNetworkReply *reply = startFreshGet(m_manager, QUrl(address), SiteRootOf(address).toUtf8());
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &SingleConnectionEngine::onHeaders);
    connect(reply, &QNetworkReply::readyRead, this, &SingleConnectionEngine::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &SingleConnectionEngine::onFinished);
    connect(reply, &QNetworkReply::encrypted, this, [this] { setState(4); });
    connect(reply, &QNetworkReply::uploadProgress, this, [this] { setState(6); });
    setState(1);
    setState(3);
    setState(5);
    m_headerTimer.start();
}

void SingleConnectionEngine::onHeaders()
{
    if (!m_reply || m_headersSeen)
        return;
    const int code = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (code == 0)
        return;
    if (isFollowedRedirect(m_reply, code))
        return; // the manager follows the redirect; the final answer's headers come next
    m_headersSeen = true;
    m_headerTimer.stop();
    setState(7);

    const QByteArray lengthHeader = m_reply->rawHeader("content-length").trimmed();
    bool numeric = false;
    const qint64 length = lengthHeader.toLongLong(&numeric);
    m_length = numeric && length > 0 ? length : 0;
    QString mediaType = QString::fromLatin1(m_reply->rawHeader("Content-Type"));
    mediaType = mediaType.left(mediaType.indexOf(u';')).trimmed();
    m_extension = MediaTypeToExtension(mediaType);

    // HTTP/2 answers carry no reason phrase; their 200 is as good as "200 OK".
    const bool http2 = m_reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
    const QString reason = m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    const QString statusLine = QStringLiteral("HTTP/1.1 %1 %2").arg(code).arg(http2 && code == 200 ? QStringLiteral("OK") : reason);
    if (!acceptsStatusLine(statusLine)) {
        fail(rowtext::NotFound, true);
        return;
    }
    m_accepted = true;
    if (!m_extension.isEmpty())
        m_model->setCell(m_position, DownloadListModel::ColType, m_extension);
    m_model->setCell(m_position, DownloadListModel::ColSize, QString::number(m_length));
    const DownloadRow &row = m_model->row(m_position);
    m_path = 重命名保存路径(m_policy, row.folder, row.name, row.type, nullptr);
    if (m_length == 0)
        m_model->setCell(m_position, DownloadListModel::ColSize, rowtext::UnknownSize);
    if (!m_part.open(m_path)) {
        fail(QString(), true);
        return;
    }
    m_stallTimer.start();
    onReadyRead();
}

void SingleConnectionEngine::onReadyRead()
{
    if (!m_reply || !m_accepted)
        return;
    bool wrote = false;
    while (m_reply && m_reply->bytesAvailable() > 0) {
        const QByteArray piece = m_reply->read(kPiece);
        if (!m_part.write(piece)) {
            fail(QString(), true);
            return;
        }
        wrote = true;
    }
    if (!wrote)
        return;
    m_stallTimer.start();
    if (m_length > 0) {
        const qint64 done = m_part.size();
        m_model->setCell(m_position, DownloadListModel::ColDownloaded, QString::number(done));
        const float percent = static_cast<float>(done) / static_cast<float>(m_length) * 100.0f;
        m_model->setCell(m_position, DownloadListModel::ColPercent,
                         QString::number(static_cast<qint64>(percent)) + u'%');
    }
}

void SingleConnectionEngine::onFinished()
{
    if (!m_reply)
        return;
    if (!m_headersSeen)
        onHeaders();
    if (!m_reply)
        return; // already failed on the headers
    onReadyRead();
    if (!m_reply)
        return;
    m_headerTimer.stop();
    m_stallTimer.stop();
    const bool error = m_reply->error() != QNetworkReply::NoError;
    if (!m_headersSeen || !m_accepted) {
        // No answer at all (refused connection, TLS failure, ...): the row fails with a time stamp.
        setState(11);
        fail(QString(), true);
        return;
    }
    const qint64 received = m_part.size();
    if (error || (m_length > 0 && received < m_length)) {
        setState(11);
        fail(QString(), true);
        return;
    }
    setState(12);
    if (m_length == 0) {
        m_model->setCell(m_position, DownloadListModel::ColSize, QString::number(received));
        m_model->setCell(m_position, DownloadListModel::ColDownloaded, QString::number(received));
        m_model->setCell(m_position, DownloadListModel::ColPercent, rowtext::Full);
        if (received == 0) {
            fail(QString(), true);
            return;
        }
    }
    if (!m_part.commit()) {
        fail(QString(), true);
        return;
    }
    endReply();
    m_model->setState(m_position, RowState::Done);
    QString path = m_path;
    if (m_extension.isEmpty())
        repairType(&path);
    const QString type = m_model->row(m_position).type;
    if (type.compare(u"htm", Qt::CaseInsensitive) == 0 || type.compare(u"html", Qt::CaseInsensitive) == 0)
        Q_EMIT webPageReceived(m_position);
    finishStep(true);
}

void SingleConnectionEngine::repairType(QString *path)
{
    const QString sniffed = SniffFileType(*path);
    if (sniffed.isEmpty())
        return;
    const RenameResult renamed = RenameWithExtension(*path, sniffed);
    if (renamed.ok)
        *path = renamed.path;
    // Names differ in letter case on this file system: when the file kept an extension that differs from
    // the sniffed type only in case (paper.pdf for "PDF"), the row names that extension so it finds its file.
    QString type = sniffed;
    if (!renamed.moved) {
        QString base;
        const QString kept = SplitFileName(*path, &base);
        if (kept.compare(sniffed, Qt::CaseInsensitive) == 0)
            type = kept;
    }
    m_model->setCell(m_position, DownloadListModel::ColType, type);
    m_model->setName(m_position, FileNameFromPath(*path, true));
}

void SingleConnectionEngine::onHeaderTimeout()
{
    if (m_reply && !m_headersSeen)
        fail(QString(), true);
}

void SingleConnectionEngine::onStall()
{
    if (m_reply)
        fail(QString(), true);
}

void SingleConnectionEngine::fail(const QString &sizeText, bool stamped)
{
    const int position = m_position;
    endReply();
    m_part.discard();
    if (m_model->isValidRow(position)) {
        if (!sizeText.isNull())
            m_model->setCell(position, DownloadListModel::ColSize, sizeText);
        m_model->setState(position, RowState::Failed);
    }
    if (stamped)
        finishStep(false);
    else
        Q_EMIT finished(position, false, false);
}

void SingleConnectionEngine::finishStep(bool done)
{
    if (m_model->isValidRow(m_position))
        Q_EMIT panelText(2, QStringLiteral("完成下载:") + m_model->row(m_position).name);
    Q_EMIT finished(m_position, done, true);
}

void SingleConnectionEngine::endReply()
{
    m_headerTimer.stop();
    m_stallTimer.stop();
    releaseReply(m_reply, this);
}

void SingleConnectionEngine::cancelBody()
{
    if (!m_reply)
        return;
    if (!m_accepted) {
        cancelRequest();
        m_model->setState(m_position, RowState::Failed);
        Q_EMIT finished(m_position, false, false);
        return;
    }
    fail(rowtext::Cancelled, false);
}

void SingleConnectionEngine::cancelRequest()
{
    endReply();
    m_part.discard();
}
