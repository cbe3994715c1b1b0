#include "demo/democatalogpages.h"

#include "demo/democatalog.h"
#include "demo/demopages.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QUrl>

void DemoCatalogPages::setPageSize(int size)
{
    m_pageSize = std::max(1, size);
}

void DemoCatalogPages::setPaperCount(int count)
{
    m_paperCount = std::max(0, count);
}

int DemoCatalogPages::pageCount() const
{
    return std::max(1, (m_paperCount + m_pageSize - 1) / m_pageSize);
}

QString DemoCatalogPages::paperMediaType(int number) const
{
    return DemoCatalog::mediaType(number);
}

bool DemoCatalogPages::paperHasContentLength(int number) const
{
    const DemoPaperKind kind = DemoCatalog::kindOf(number);
    return kind != DemoPaperKind::ChunkedPdf && kind != DemoPaperKind::UnsizedPdf;
}

QByteArray DemoCatalogPages::paperETag(int number) const
{
    if (DemoCatalog::status(number) != 200)
        return QByteArray();
    // Files of another size are other files.
    const QByteArray sized = m_paperSize > 0 ? QByteArray::number(m_paperSize) : QByteArray();
    const QByteArray digest =
        QCryptographicHash::hash(DemoCatalog::body(number) + sized, QCryptographicHash::Sha1);
    return '"' + digest.toHex().left(20) + '"';
}

QList<int> DemoCatalogPages::papersOfKind(DemoPaperKind kind) const
{
    QList<int> numbers;
    for (int n = 1; n <= m_paperCount; ++n) {
        if (DemoCatalog::kindOf(n) == kind)
            numbers.append(n);
    }
    return numbers;
}

int DemoCatalogPages::paperNumber(const QString &path, bool *file)
{
    static const QRegularExpression pattern(QStringLiteral("^/paper/([1-9][0-9]{0,8})(\\.pdf)?$"));
    const QRegularExpressionMatch match = pattern.match(path);
    if (!match.hasMatch())
        return 0;
    *file = match.hasCaptured(2);
    return match.captured(1).toInt();
}

QString DemoCatalogPages::landingFilePath(int number)
{
    if (number == 5)
        return {};
    return number % 5 == 4 ? QStringLiteral("/fulltext/%1/download").arg(number)
                           : QStringLiteral("/fulltext/%1.pdf").arg(number);
}

int DemoCatalogPages::fullTextNumber(const QString &path) const
{
    if (!m_landingPages)
        return 0;
    static const QRegularExpression fullText(
        QStringLiteral("^/fulltext/([1-9][0-9]{0,8})(?:\\.pdf|/download)$"));
    const QRegularExpressionMatch match = fullText.match(path);
    const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
    return number >= 1 && number <= m_paperCount && landingFilePath(number) == path ? number : 0;
}

bool DemoCatalogPages::isResultPath(const QString &path)
{
    return path == QLatin1String("/search") || path == QLatin1String("/cards/search") ||
           path == QLatin1String("/defs/search");
}

DemoResponse DemoCatalogPages::resultPage(const QUrl &url) const
{
    const QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
    const QString words = demoFormValue(query, "q").value_or(QString());
    bool ok = false;
    const int asked = demoFormValue(query, "page").value_or(QString()).toInt(&ok);
    const int page = std::clamp(ok ? asked : 1, 1, pageCount());
    QList<DemoPaper> papers;
    const int first = (page - 1) * m_pageSize + 1;
    for (int n = first; n < first + m_pageSize && n <= m_paperCount; ++n)
        papers.append(DemoCatalog::paper(n));
    if (url.path().startsWith(QLatin1String("/defs/")))
        return DemoResponse::html(200,
                                  DemoPages::defsResults(words, page, pageCount(), m_paperCount, papers));
    if (url.path().startsWith(QLatin1String("/cards/")))
        return DemoResponse::html(200,
                                  DemoPages::cardResults(words, page, pageCount(), m_paperCount, papers));
    return DemoResponse::html(200, DemoPages::results(words, page, pageCount(), m_paperCount, papers));
}

namespace {

// Where paper N's place in its round of 25 is one of the paywalled ones: what its page names instead of
// a full text that can be taken.
QString paywallTags(int number)
{
    const QString n = QString::number(number);
    const auto pointer = [](const QString &address) {
        return QStringLiteral("<meta name=\"citation_pdf_url\" content=\"%1\">\n").arg(address);
    };
    switch ((number - 1) % 25 + 1) {
    case 7:
        return pointer(QStringLiteral("javascript:void(0)"));
    case 8:
        return pointer(QStringLiteral("data:application/pdf;base64,JVBERi0xLjQK"));
    case 9:
        return pointer(QStringLiteral("file:///papers/%1.pdf").arg(n));
    case 10:
        return pointer(QStringLiteral("/paper/%1.pdf").arg(n));
    case 11:
        return pointer(QStringLiteral("/paper/%1").arg(n));
    case 12:
        return pointer(QStringLiteral("ftp://127.0.0.1/papers/%1.pdf").arg(n));
    default:
        return {};
    }
}

bool paywalledPlace(int number)
{
    const int place = (number - 1) % 25 + 1;
    return place >= 6 && place <= 12;
}

} // namespace

bool DemoCatalogPages::offersNoFullText(int number) const
{
    return number == 5 || (m_paywall && paywalledPlace(number));
}

DemoResponse DemoCatalogPages::landingPage(int number, const QUrl &fileUrl) const
{
    if (m_paywall && paywalledPlace(number))
        return DemoResponse::html(200,
                                  DemoPages::landingPage(DemoCatalog::paper(number), paywallTags(number)));
    // The ways publishers name the full text, in turn.
    const QString n = QString::number(number);
    QString tags;
    switch (number % 5) {
    case 1:
        tags = QStringLiteral("<meta name=\"citation_pdf_url\" content=\"%1\">\n").arg(fileUrl.toString());
        break;
    case 2:
        tags = QStringLiteral("<link rel=\"alternate\" type=\"application/pdf\" href=\"/fulltext/%1.pdf\">\n")
                   .arg(n);
        break;
    case 3:
        tags = QStringLiteral("<meta content=\"../fulltext/%1.pdf\" property=\"citation_pdf_url\">\n").arg(n);
        break;
    case 4:
        tags = QStringLiteral("<META NAME=citation_pdf_url CONTENT=/fulltext/%1/download>\n").arg(n);
        break;
    default:
        if (number != 5)
            tags = QStringLiteral("<meta name='citation_pdf_url' content='/fulltext/%1.pdf'>\n").arg(n);
        break;
    }
    return DemoResponse::html(200, DemoPages::landingPage(DemoCatalog::paper(number), tags));
}

DemoResponse DemoCatalogPages::paperFile(int number, const DemoRequest &request,
                                         std::optional<DemoSpan> *sent) const
{
    *sent = std::nullopt;
    DemoResponse response;
    response.status = DemoCatalog::status(number);
    const QString mediaType = paperMediaType(number);
    response.contentType = mediaType == QLatin1String("text/html") ? QByteArray("text/html; charset=utf-8")
                                                                   : mediaType.toLatin1();
    response.body = DemoCatalog::sizedBody(number, m_paperSize);
    response.bytesPerSecond = m_paperRate;
    switch (DemoCatalog::kindOf(number)) {
    case DemoPaperKind::ChunkedPdf:
        response.framing = DemoResponse::Framing::Chunked;
        break;
    case DemoPaperKind::UnsizedPdf:
        response.framing = DemoResponse::Framing::Close;
        break;
    default:
        break;
    }
    if (response.status != 200)
        return response;
    const std::optional<DemoSpan> span = answerByteRange(response, request, paperETag(number));
    if (span && request.method == "GET")
        *sent = span;
    return response;
}

QByteArray DemoCatalogPages::paperBytes(int number) const
{
    const DemoBody body = DemoCatalog::sizedBody(number, m_paperSize);
    return body.read(0, body.size());
}
