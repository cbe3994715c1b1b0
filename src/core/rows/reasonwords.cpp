// The words the window uses for why a row failed or waits: Chinese only, made from the reason's kind and
// numbers. The English words of reasonText stay in the manifest and the log.
#include "core/rows/downloadlistmodel.h"
#include "core/rows/failurereason.h"

#include <QNetworkReply>
#include <QTime>

namespace {

QString windowHead(FailureReason::Kind kind)
{
    using Kind = FailureReason::Kind;
    static const std::pair<Kind, const char16_t *> heads[] = {
        {Kind::HttpStatus, u"服务器答复错误"},
        {Kind::Network, u"网络错误"},
        {Kind::Timeout, u"服务器没有及时答复"},
        {Kind::Stall, u"下载停滞"},
        {Kind::ShortBody, u"文件不完整"},
        {Kind::Disk, u"磁盘错误"},
        {Kind::WebPage, u"返回的是网页，不是文献"},
        {Kind::Certificate, u"证书不受信任"},
        {Kind::Redirect, u"重定向错误"},
        {Kind::Stopped, u"已停止"},
        {Kind::NoFolder, u"没有选择保存文件夹"},
        {Kind::LandingWithoutFullText, u"文献页面没有给出全文"},
        {Kind::FullTextRefused, u"文献页面给出的全文地址不能下载"},
        {Kind::PdfDamaged, u"PDF文件已损坏"},
    };
    for (const auto &[each, head] : heads) {
        if (each == kind)
            return QString::fromUtf16(head);
    }
    return {};
}

// The network errors a transfer meets most; the rest are told by the head alone.
QString networkWords(int code)
{
    using E = QNetworkReply::NetworkError;
    static const std::pair<E, const char16_t *> words[] = {
        {E::ConnectionRefusedError, u"连接被拒绝"},
        {E::RemoteHostClosedError, u"连接已关闭"},
        {E::HostNotFoundError, u"找不到服务器"},
        {E::TimeoutError, u"连接超时"},
        {E::OperationCanceledError, u"连接已取消"},
        {E::SslHandshakeFailedError, u"安全连接失败"},
        {E::TemporaryNetworkFailureError, u"网络暂时中断"},
        {E::NetworkSessionFailedError, u"网络中断"},
        {E::ProxyConnectionRefusedError, u"代理服务器拒绝连接"},
        {E::ProxyConnectionClosedError, u"代理服务器关闭了连接"},
        {E::ProxyNotFoundError, u"找不到代理服务器"},
        {E::ProxyTimeoutError, u"代理服务器超时"},
        {E::ProxyAuthenticationRequiredError, u"代理服务器要求认证"},
        {E::ProtocolUnknownError, u"不支持的协议"},
    };
    for (const auto &[error, text] : words) {
        if (static_cast<int>(error) == code)
            return QString::fromUtf16(text);
    }
    return {};
}

QString refusalWords(FullTextRefusal refusal)
{
    switch (refusal) {
    case FullTextRefusal::Scheme:
        return QStringLiteral("不是网页地址");
    case FullTextRefusal::PageItself:
        return QStringLiteral("指向页面本身");
    case FullTextRefusal::AskedBefore:
        return QStringLiteral("指回已请求过的地址");
    case FullTextRefusal::WebPage:
        return QStringLiteral("全文是一个网页");
    case FullTextRefusal::TooManyPages:
        return QStringLiteral("文献页面过多");
    }
    return {};
}

// What the window says in brackets after the head; empty when the head says it all.
QString windowDetail(const FailureReason &reason)
{
    using Kind = FailureReason::Kind;
    switch (reason.kind) {
    case Kind::HttpStatus:
        return QStringLiteral("HTTP %1").arg(reason.code);
    case Kind::Network:
        return networkWords(reason.code);
    case Kind::Disk: {
        const DiskFault fault = diskFaultOf(reason);
        return fault == DiskFault::Other ? QString() : diskFaultText(fault);
    }
    case Kind::FullTextRefused:
        return refusalWords(static_cast<FullTextRefusal>(reason.code));
    default:
        return {};
    }
}

bool asksToWait(const FailureReason &reason)
{
    return reason.kind == FailureReason::Kind::HttpStatus && (reason.code == 429 || reason.code == 503);
}

} // namespace

QString diskFaultText(DiskFault fault)
{
    switch (fault) {
    case DiskFault::NoSpace:
        return QStringLiteral("磁盘空间不足");
    case DiskFault::ReadOnly:
        return QStringLiteral("磁盘只读");
    case DiskFault::NoPermission:
        return QStringLiteral("没有写入权限");
    case DiskFault::Quota:
        return QStringLiteral("超出磁盘配额");
    case DiskFault::None:
    case DiskFault::Other:
        break;
    }
    return QStringLiteral("磁盘错误");
}

QString reasonTextForWindow(const FailureReason &reason)
{
    if (reason.isNone())
        return {};
    const QString detail = windowDetail(reason);
    const QString head = windowHead(reason.kind);
    return detail.isEmpty() ? head : head + QStringLiteral("（") + detail + QStringLiteral("）");
}

QString waitReasonText(const FailureReason &reason)
{
    if (asksToWait(reason))
        return rowtext::SiteHold + QStringLiteral("（HTTP %1）").arg(reason.code);
    return reasonTextForWindow(reason);
}

QString shortReasonText(const FailureReason &reason)
{
    if (reason.kind == FailureReason::Kind::HttpStatus)
        return reason.code == 404 || reason.code == 410 ? rowtext::NotFound
                                                        : QStringLiteral("HTTP %1").arg(reason.code);
    if (reason.kind == FailureReason::Kind::Disk)
        return diskFaultText(diskFaultOf(reason));
    return windowHead(reason.kind);
}

QString rowtext::failedShort(const FailureReason &reason)
{
    const QString why = shortReasonText(reason);
    return why.isEmpty() ? QStringLiteral("失败") : QStringLiteral("失败：") + why;
}

QString rowtext::heldShort(WallHold hold)
{
    return hold == WallHold::Login ? QStringLiteral("等待登录") : QStringLiteral("等待验证");
}

QString rowtext::heldWhy(WallHold hold)
{
    return hold == WallHold::Login ? QStringLiteral("等待登录：站点要求登录，登录后点击继续即重新下载")
                                   : QStringLiteral("等待验证：站点需要验证，完成验证后点击继续即重新下载");
}

QString rowtext::retryIn(qint64 seconds, double endsAt, const QString &why)
{
    const int dayMs = 24 * 3600 * 1000;
    const int ms = static_cast<int>(static_cast<qint64>(endsAt * 1000) % dayMs);
    const QString end = QTime::fromMSecsSinceStartOfDay(ms).toString(QStringLiteral("HH:mm:ss"));
    const QString text = QStringLiteral("将在 %1 秒后（%2）重试").arg(seconds).arg(end);
    return why.isEmpty() ? text : text + QStringLiteral("：") + why;
}
