#include "core/transfer/retrypolicy.h"

#include <QNetworkReply>
#include <algorithm>
#include <cmath>

namespace retrypolicy {

using Kind = FailureReason::Kind;

namespace {

// Statuses that say the server may answer later: a timeout, too many requests, a server fault or
// overload; a refusal only when it says when to come back.
bool isTransientStatus(int status, qint64 retryAfterMs)
{
    switch (status) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    case 403:
        return retryAfterMs >= 0;
    default:
        return false;
    }
}

// Network errors that a later try may not meet: the connection or the proxy failed on the way.
bool isTransientNetworkError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownServerError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::ServiceUnavailableError:
        return true;
    default:
        return false;
    }
}

} // namespace

bool IsTransient(const FailureReason &reason, qint64 retryAfterMs)
{
    switch (reason.kind) {
    case Kind::Timeout:
    case Kind::Stall:
    case Kind::ShortBody:
        return true;
    case Kind::HttpStatus:
        return isTransientStatus(reason.code, retryAfterMs);
    case Kind::Network:
        return isTransientNetworkError(static_cast<QNetworkReply::NetworkError>(reason.code));
    case Kind::None:
    case Kind::Disk:
    case Kind::WebPage:
    case Kind::LandingWithoutFullText:
    case Kind::FullTextRefused:
    case Kind::PdfDamaged: // fetched again once, whole, apart from these retries
    case Kind::Certificate:
    case Kind::Redirect:
    case Kind::Stopped:
    case Kind::NoFolder:
        break;
    }
    return false;
}

qint64 DelayMs(int attempt, qint64 retryAfterMs, double jitter)
{
    if (retryAfterMs >= 0)
        return std::min(retryAfterMs, MaxRetryAfterMs);
    const int doublings = std::clamp(attempt, 1, 30);
    const double base = std::min<double>(std::ldexp(1000.0, doublings), MaxBackoffMs);
    const double spread = 1.0 + 0.2 * std::clamp(jitter, -1.0, 1.0);
    return static_cast<qint64>(std::llround(base * spread));
}

bool HoldsBackHost(const FailureReason &reason)
{
    return reason.kind == Kind::HttpStatus && (reason.code == 429 || reason.code == 503);
}

bool LooksLikeAWall(const FailureReason &reason, qint64 retryAfterMs)
{
    // A paper's own page that offers no full text to take is the site's honest answer, never a wall.
    return reason.kind == Kind::WebPage ||
           (reason.kind == Kind::HttpStatus && reason.code == 403 && retryAfterMs < 0);
}

} // namespace retrypolicy
