#include "demo/demofaults.h"

#include "core/common/clock.h"
#include "demo/democatalog.h"
#include "demo/democatalogpages.h"
#include "demo/demopages.h"

namespace {

// A paper's own page or file, or the home page: where the verification page leads back to.
QString localReturn(const QString &path)
{
    bool file = false;
    return DemoCatalogPages::paperNumber(path, &file) > 0 ? path : QStringLiteral("/");
}

// A dropped transfer must show: never one whose body only the close would end.
bool mayDrop(int number, const DemoRequest &request)
{
    if (request.method != "GET" || DemoCatalog::status(number) != 200)
        return false;
    switch (DemoCatalog::kindOf(number)) {
    case DemoPaperKind::UnsizedPdf:
        return false;
    case DemoPaperKind::ChunkedPdf:
        return request.version != "HTTP/1.0";
    default:
        return true;
    }
}

} // namespace

void DemoFaults::setPaperLimit(int perMinute)
{
    m_limit.setPerMinute(perMinute);
    m_limit.clear();
}

void DemoFaults::setFlakyPercent(int percent)
{
    m_flaky.setPercent(percent);
    m_flaky.clear();
}

void DemoFaults::setFlakySeed(quint64 seed)
{
    m_flaky.setSeed(seed);
    m_flaky.clear();
}

qint64 DemoFaults::plannedCut(int number, qint64 from) const
{
    DemoRequest get;
    get.method = "GET";
    get.version = "HTTP/1.1";
    if (!mayDrop(number, get))
        return -1;
    return m_flaky.plannedCut(number, from, DemoCatalog::body(number).size());
}

void DemoFaults::setVerifyAfter(int papers)
{
    m_verifyAfter = std::max(-1, papers);
}

QString DemoFaults::verificationCookieName()
{
    return QStringLiteral("FNDEMO_VERIFIED");
}

void DemoFaults::resetVerification()
{
    m_verified.clear();
    m_papersServed = 0;
}

DemoResponse DemoFaults::answerVerification(const DemoRequest &request)
{
    const QByteArray form = request.form();
    const QString back = localReturn(demoFormValue(form, "back").value_or(QString()));
    if (request.method == "HEAD" || !demoFormValue(form, "confirm"))
        return DemoResponse::html(200, DemoPages::verification(back));
    DemoResponse response = DemoResponse::html(200, DemoPages::verified(back));
    m_verified.insert(demoSetSessionCookie(response, verificationCookieName()));
    return response;
}

bool DemoFaults::needsVerification(const DemoRequest &request) const
{
    if (m_verifyAfter < 0 || m_papersServed < m_verifyAfter)
        return false;
    const QByteArray token = request.cookie(verificationCookieName().toLatin1());
    return token.isEmpty() || !m_verified.contains(token);
}

std::optional<DemoResponse> DemoFaults::refusal(const DemoRequest &request)
{
    if (const std::optional<int> wait = m_limit.refuse(Clock::current().monotonicMs())) {
        DemoResponse response = DemoResponse::html(429, DemoPages::tooManyRequests(*wait));
        response.headers.emplaceBack("Retry-After", QByteArray::number(*wait));
        return response;
    }
    if (needsVerification(request))
        return DemoResponse::html(200, DemoPages::verification(request.url.path()));
    return std::nullopt;
}

void DemoFaults::sendPaper(int number, const DemoRequest &request, const DemoSpan &span,
                           DemoResponse &response)
{
    ++m_papersServed;
    qint64 cut = -1;
    if (mayDrop(number, request))
        cut = m_flaky.startTransfer(number, span.from, span.end, span.size);
    if (cut >= 0) {
        response.cutAfter = cut - span.from;
        ++m_droppedTransfers;
    }
    m_paperBytesSent += cut >= 0 ? cut - span.from : span.end - span.from;
}
