#include "demo/demolargefile.h"

#include "demo/demopages.h"
#include "demo/minipdf.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStringList>

QString DemoLargeFile::path()
{
    return QStringLiteral("/files/large.pdf");
}

void DemoLargeFile::setFile(const QString &path)
{
    m_pdf.reset();
    m_path = path;
}

void DemoLargeFile::setSize(qint64 bytes)
{
    m_path.clear();
    m_pdf =
        std::make_shared<const MiniPdf>(QStringList{QStringLiteral("Folionexus Demo Library - large file"),
                                                    QStringLiteral("%1 bytes").arg(bytes)},
                                        bytes);
}

qint64 DemoLargeFile::size() const
{
    if (m_pdf)
        return m_pdf->size();
    if (!m_path.isEmpty() && QFileInfo(m_path).isFile())
        return QFileInfo(m_path).size();
    return -1;
}

QByteArray DemoLargeFile::bytes(qint64 offset, qint64 length) const
{
    const std::optional<DemoBody> whole = body();
    return whole ? whole->read(offset, length) : QByteArray();
}

std::optional<DemoBody> DemoLargeFile::body() const
{
    if (m_pdf)
        return DemoBody::fromGenerated(m_pdf);
    if (!m_path.isEmpty())
        return DemoBody::fromFile(m_path);
    return std::nullopt;
}

DemoResponse DemoLargeFile::answer(const DemoRequest &request) const
{
    const std::optional<DemoBody> whole = body();
    if (!whole)
        return DemoResponse::html(404, DemoPages::notFound());
    DemoResponse response;
    response.contentType = "application/pdf";
    response.body = *whole;
    QByteArray etag = "\"large-" + QByteArray::number(whole->size(), 16);
    if (!m_pdf)
        etag += '-' + QByteArray::number(QFileInfo(m_path).lastModified().toMSecsSinceEpoch(), 16);
    answerByteRange(response, request, etag + '"');
    return response;
}
