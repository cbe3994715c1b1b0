#include "core/queue/failurereason.h"

#include "core/common/safetext.h"

namespace {

// The system's words may quote the address, password and all.
QString withDetail(const QString &head, const QString &detail, const QString &separator)
{
    return detail.isEmpty() ? head : head + separator + WithoutCredentials(detail);
}

} // namespace

QString reasonText(const FailureReason &reason)
{
    using Kind = FailureReason::Kind;
    switch (reason.kind) {
    case Kind::None:
        return {};
    case Kind::HttpStatus:
        return withDetail(QStringLiteral("HTTP %1").arg(reason.code), reason.detail, QStringLiteral(" "));
    case Kind::Network:
        return withDetail(QStringLiteral("network error"), reason.detail, QStringLiteral(": "));
    case Kind::Timeout:
        return withDetail(QStringLiteral("no answer in time"), reason.detail, QStringLiteral(": "));
    case Kind::Stall:
        return withDetail(QStringLiteral("stalled"), reason.detail, QStringLiteral(": "));
    case Kind::ShortBody:
        return withDetail(QStringLiteral("short body"), reason.detail, QStringLiteral(": "));
    case Kind::Disk:
        return withDetail(QStringLiteral("disk error"), reason.detail, QStringLiteral(": "));
    case Kind::WebPage:
        return withDetail(QStringLiteral("web page instead of a paper"), reason.detail, QStringLiteral(": "));
    case Kind::Certificate:
        return withDetail(QStringLiteral("untrusted certificate"), reason.detail, QStringLiteral(": "));
    case Kind::Redirect:
        return withDetail(QStringLiteral("bad redirect"), reason.detail, QStringLiteral(": "));
    case Kind::Stopped:
        return QStringLiteral("stopped");
    case Kind::NoFolder:
        return QStringLiteral("no save folder was chosen");
    case Kind::LandingWithoutFullText:
        return withDetail(QStringLiteral("landing page without full text"), reason.detail,
                          QStringLiteral(": "));
    }
    return {};
}

QString reasonTextForWindow(const FailureReason &reason)
{
    using Kind = FailureReason::Kind;
    QString head;
    switch (reason.kind) {
    case Kind::None:
        return {};
    case Kind::HttpStatus:
        head = QStringLiteral("服务器答复错误");
        break;
    case Kind::Network:
        head = QStringLiteral("网络错误");
        break;
    case Kind::Timeout:
        head = QStringLiteral("服务器没有及时答复");
        break;
    case Kind::Stall:
        head = QStringLiteral("下载停滞");
        break;
    case Kind::ShortBody:
        head = QStringLiteral("文件不完整");
        break;
    case Kind::Disk:
        head = QStringLiteral("磁盘错误");
        break;
    case Kind::WebPage:
        head = QStringLiteral("返回的是网页，不是文献");
        break;
    case Kind::Certificate:
        head = QStringLiteral("证书不受信任");
        break;
    case Kind::Redirect:
        head = QStringLiteral("重定向错误");
        break;
    case Kind::Stopped:
        head = QStringLiteral("已停止");
        break;
    case Kind::NoFolder:
        head = QStringLiteral("没有选择保存文件夹");
        break;
    case Kind::LandingWithoutFullText:
        head = QStringLiteral("文献页面没有给出全文");
        break;
    }
    return head + QStringLiteral("（") + reasonText(reason) + QStringLiteral("）");
}
