#include "demo/demobody.h"

#include "demo/minipdf.h"

#include <QFile>
#include <algorithm>

DemoBody DemoBody::fromBytes(const QByteArray &bytes)
{
    DemoBody body;
    body.m_bytes = bytes;
    return body;
}

DemoBody DemoBody::fromGenerated(std::shared_ptr<const MiniPdf> pdf)
{
    DemoBody body;
    body.m_pdf = std::move(pdf);
    return body;
}

std::optional<DemoBody> DemoBody::fromFile(const QString &path)
{
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::ReadOnly) || file->isSequential())
        return std::nullopt;
    DemoBody body;
    body.m_fileSize = file->size();
    body.m_file = std::move(file);
    return body;
}

DemoBody DemoBody::slice(qint64 offset, qint64 length) const
{
    DemoBody part = *this;
    part.m_start = m_start + std::clamp<qint64>(offset, 0, size());
    part.m_length = std::clamp<qint64>(length, 0, size() - (part.m_start - m_start));
    return part;
}

qint64 DemoBody::size() const
{
    return m_length >= 0 ? m_length : wholeSize() - m_start;
}

QByteArray DemoBody::read(qint64 offset, qint64 maxLength) const
{
    if (offset < 0 || maxLength <= 0 || offset >= size())
        return QByteArray();
    return readWhole(m_start + offset, std::min(maxLength, size() - offset));
}

qint64 DemoBody::wholeSize() const
{
    if (m_pdf)
        return m_pdf->size();
    if (m_file)
        return m_fileSize;
    return m_bytes.size();
}

QByteArray DemoBody::readWhole(qint64 offset, qint64 maxLength) const
{
    if (m_pdf)
        return m_pdf->read(offset, maxLength);
    if (m_file) {
        // The size is the one taken when the answer began: a file that shrinks meanwhile ends the
        // answer early (the connection is then closed) rather than sending bytes that are not there.
        if (!m_file->seek(offset))
            return QByteArray();
        return m_file->read(std::min(maxLength, m_fileSize - offset));
    }
    return m_bytes.mid(offset, maxLength);
}
