#include "core/rows/failurereason.h"

#include "core/common/safetext.h"

#include <cerrno>
#include <utility>

namespace {

// The system's words may quote the address, password and all.
QString withDetail(const QString &head, const QString &detail, const QString &separator)
{
    return detail.isEmpty() ? head : head + separator + WithoutCredentials(detail);
}

// Why the row did not take the full text its page named.
QString refusalText(const FailureReason &reason)
{
    switch (static_cast<FullTextRefusal>(reason.code)) {
    case FullTextRefusal::Scheme:
        return reason.detail.isEmpty() ? QStringLiteral("not a web address")
                                       : QStringLiteral("a %1: address").arg(reason.detail);
    case FullTextRefusal::PageItself:
        return QStringLiteral("it is the page itself");
    case FullTextRefusal::AskedBefore:
        return QStringLiteral("it leads back to an address already asked for");
    case FullTextRefusal::WebPage:
        return QStringLiteral("the full text is a web page");
    case FullTextRefusal::TooManyPages:
        return QStringLiteral("more than %1 landing pages in a row").arg(reason.detail);
    }
    return QStringLiteral("not taken");
}

} // namespace

DiskFault diskFaultOf(const FailureReason &reason)
{
    if (reason.kind != FailureReason::Kind::Disk)
        return DiskFault::None;
    switch (reason.code) {
    case ENOSPC:
        return DiskFault::NoSpace;
    case EROFS:
        return DiskFault::ReadOnly;
    case EACCES:
    case EPERM:
        return DiskFault::NoPermission;
    case EDQUOT:
        return DiskFault::Quota;
    default:
        return DiskFault::Other;
    }
}

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
        return withDetail(QStringLiteral("no full text offered"), reason.detail, QStringLiteral(": "));
    case Kind::FullTextRefused:
        return QStringLiteral("full text refused: ") + refusalText(reason);
    case Kind::PdfDamaged:
        return withDetail(QStringLiteral("PDF damaged"), reason.detail, QStringLiteral(": "));
    }
    return {};
}

namespace {

// The reason phrases of the statuses a server refuses a file with, as HTTP names them.
constexpr std::pair<int, const char *> StatusPhrases[] = {
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Content Too Large"},
    {414, "URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {421, "Misdirected Request"},
    {422, "Unprocessable Content"},
    {425, "Too Early"},
    {426, "Upgrade Required"},
    {428, "Precondition Required"},
    {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"},
    {451, "Unavailable For Legal Reasons"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
    {507, "Insufficient Storage"},
    {511, "Network Authentication Required"},
};

} // namespace

QString httpStatusPhrase(int status)
{
    for (const auto &[code, phrase] : StatusPhrases) {
        if (code == status)
            return QString::fromLatin1(phrase);
    }
    return {};
}
