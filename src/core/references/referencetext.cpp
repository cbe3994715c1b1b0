#include "core/references/referencetext.h"

#include "core/common/gbk.h"

#include <QByteArrayView>
#include <cstring>

namespace {

// Small enough to come from the heap and be used again rather than mapped and unmapped for each block.
constexpr qint64 BlockBytes = 64 * 1024;
constexpr qint64 HeadBytes = 64 * 1024;

bool startsWithBom(QIODevice &device)
{
    return device.peek(3) == QByteArrayLiteral("\xEF\xBB\xBF");
}

// The bytes of the block up to its last whole UTF-8 character: a character cut by the end of a block
// is looked at with the next one.
qsizetype wholeCharacters(QByteArrayView block)
{
    for (qsizetype back = 1; back <= 3 && back <= block.size(); ++back) {
        const uchar c = uchar(block.at(block.size() - back));
        if ((c & 0xC0) == 0x80)
            continue; // a continuation byte: its lead byte is further back
        const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return length > back ? block.size() - back : block.size();
    }
    return block.size();
}

bool isUtf8Throughout(QIODevice &device, bool *failed)
{
    QByteArray block(BlockBytes + 3, Qt::Uninitialized);
    qsizetype carried = 0;
    while (!device.atEnd()) {
        const qint64 got = device.read(block.data() + carried, BlockBytes);
        if (got <= 0) {
            *failed = true;
            return true;
        }
        const QByteArrayView read(block.constData(), carried + got);
        const qsizetype whole = device.atEnd() ? read.size() : wholeCharacters(read);
        if (!read.first(whole).isValidUtf8())
            return false;
        carried = read.size() - whole;
        std::memmove(block.data(), block.constData() + whole, size_t(carried));
    }
    return true;
}

} // namespace

ReferenceText::ReferenceText(QIODevice &device) : m_device(device)
{
    m_gbk = !isUtf8Throughout(m_device, &m_failed);
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

// Moves what is left unread to the front of the buffer and reads a block after it; false when nothing
// more could be read.
bool ReferenceText::fill()
{
    if (m_failed || m_device.atEnd())
        return false;
    const qsizetype left = m_buffer.size() - m_next;
    std::memmove(m_buffer.data(), m_buffer.constData() + m_next, size_t(left));
    m_buffer.resize(left + BlockBytes);
    const qint64 got = m_device.read(m_buffer.data() + left, BlockBytes);
    m_buffer.resize(left + qMax<qint64>(got, 0));
    m_next = 0;
    m_failed = got <= 0;
    return got > 0;
}

bool ReferenceText::readLine(QByteArray *line)
{
    qsizetype end = m_buffer.indexOf('\n', m_next);
    while (end < 0) {
        const qsizetype searched = m_buffer.size() - m_next;
        if (!fill())
            break;
        end = m_buffer.indexOf('\n', searched);
    }
    if (end < 0 && m_next >= m_buffer.size())
        return false;
    const qsizetype stop = end < 0 ? m_buffer.size() : end;
    qsizetype length = stop - m_next;
    if (length > 0 && m_buffer.at(m_next + length - 1) == '\r')
        --length;
    line->resize(length);
    std::memcpy(line->data(), m_buffer.constData() + m_next, size_t(length));
    m_next = end < 0 ? m_buffer.size() : end + 1;
    ++m_line;
    if (m_gbk)
        *line = gbk::decode(*line).toUtf8();
    return true;
}

bool ReferenceText::readBlock(QByteArray *block)
{
    if (m_next < m_buffer.size()) {
        *block = m_buffer.mid(m_next);
        m_next = m_buffer.size();
        return true;
    }
    if (m_failed || m_device.atEnd())
        return false;
    block->resize(BlockBytes);
    const qint64 got = m_device.read(block->data(), BlockBytes);
    block->resize(qMax<qint64>(got, 0));
    m_failed = got <= 0;
    return got > 0;
}
