#include "core/references/referencetext.h"

#include "core/common/gbk.h"

#include <QStringDecoder>

namespace {

constexpr qint64 BlockBytes = 1024 * 1024;
constexpr qint64 HeadBytes = 64 * 1024;

bool startsWithBom(QIODevice &device)
{
    return device.peek(3) == QByteArrayLiteral("\xEF\xBB\xBF");
}

} // namespace

ReferenceText::ReferenceText(QIODevice &device) : m_device(device)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    while (!m_device.atEnd() && !utf8.hasError()) {
        const QByteArray block = m_device.read(BlockBytes);
        if (block.isEmpty()) {
            m_failed = true;
            break;
        }
        // Decoded only to learn whether it decodes; the text is dropped at once.
        (void)QString(utf8.decode(block));
    }
    m_gbk = utf8.hasError();
    m_failed = m_failed || !m_device.seek(0);
    if (!m_gbk && startsWithBom(m_device))
        m_device.read(3);
}

QByteArray ReferenceText::head() const
{
    const QByteArray bytes = m_device.peek(HeadBytes);
    if (!m_gbk)
        return bytes;
    // A GBK character cut at the end of the head decodes as a replacement character: harmless here.
    return gbk::decode(bytes).toUtf8();
}

bool ReferenceText::readLine(QByteArray *line)
{
    if (m_failed || m_device.atEnd())
        return false;
    *line = m_device.readLine();
    if (line->isEmpty() && !m_device.atEnd()) {
        m_failed = true;
        return false;
    }
    ++m_line;
    if (line->endsWith('\n'))
        line->chop(1);
    if (line->endsWith('\r'))
        line->chop(1);
    if (m_gbk)
        *line = gbk::decode(*line).toUtf8();
    return true;
}

QByteArray ReferenceText::readBlock(qint64 maxBytes)
{
    if (m_failed || m_device.atEnd())
        return QByteArray();
    const QByteArray block = m_device.read(maxBytes);
    if (block.isEmpty())
        m_failed = true;
    return block;
}
