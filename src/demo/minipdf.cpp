#include "demo/minipdf.h"

#include <QList>
#include <algorithm>
#include <cstring>

namespace {

constexpr int kLineLength = 64;
constexpr int kLineKinds = 26;
constexpr qint64 kPeriod = qint64(kLineLength) * kLineKinds;

// One full period of the padding pattern: 26 comment lines, each filled with one letter.
const QByteArray &paddingPeriod()
{
    static const QByteArray period = [] {
        QByteArray bytes;
        bytes.reserve(kPeriod);
        for (int line = 0; line < kLineKinds; ++line) {
            bytes += "% padding ";
            bytes += QByteArray(kLineLength - 11, char('a' + line));
            bytes += '\n';
        }
        return bytes;
    }();
    return period;
}

QByteArray pdfString(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '(';
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '(' || u == ')' || u == '\\') {
            out += '\\';
            out += char(u);
        } else if (u >= 0x20 && u < 0x7f) {
            out += char(u);
        } else {
            out += '?';
        }
    }
    out += ')';
    return out;
}

QByteArray contentStream(const QStringList &lines)
{
    QByteArray content = "BT\n/F1 16 Tf\n20 TL\n56 780 Td\n";
    for (const QString &line : lines)
        content += pdfString(line) + " Tj T*\n";
    content += "ET\n";
    return content;
}

QByteArray xrefEntry(qint64 offset, bool free = false)
{
    // Every entry is exactly 20 bytes, as readers expect.
    return QByteArray::number(offset).rightJustified(10, '0') + (free ? " 65535 f \n" : " 00000 n \n");
}

} // namespace

MiniPdf::MiniPdf(const QStringList &lines, qint64 minimumSize)
    : m_head("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"), m_content(contentStream(lines))
{
    m_tail = tailFor(0);
    // The trailer's last offset grows by a digit now and then, so settle the padding in a few rounds.
    for (int round = 0; round < 4; ++round) {
        const qint64 wanted = std::max<qint64>(0, minimumSize - m_head.size() - m_tail.size());
        if (wanted == m_padding)
            break;
        m_padding = wanted;
        m_tail = tailFor(m_padding);
    }
}

QByteArray MiniPdf::tailFor(qint64 padding) const
{
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
        "/Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Length " + QByteArray::number(m_content.size()) + " >>\nstream\n" + m_content + "endstream",
    };
    const qint64 start = m_head.size() + padding;
    QByteArray tail;
    QList<qint64> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(start + tail.size());
        tail += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qint64 xref = start + tail.size();
    tail += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n";
    tail += xrefEntry(0, true);
    for (const qint64 offset : offsets)
        tail += xrefEntry(offset);
    tail += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\n";
    tail += "startxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return tail;
}

QByteArray MiniPdf::padding(qint64 offset, qint64 length, qint64 total)
{
    length = std::clamp<qint64>(std::min(length, total - offset), 0, total);
    QByteArray out(length, Qt::Uninitialized);
    const QByteArray &period = paddingPeriod();
    qint64 done = 0;
    while (done < length) {
        const qint64 at = (offset + done) % kPeriod;
        const qint64 n = std::min(length - done, kPeriod - at);
        std::memcpy(out.data() + done, period.constData() + at, size_t(n));
        done += n;
    }
    // A cut-off last line must still end before the first object starts.
    if (length > 0 && offset + length == total)
        out[length - 1] = '\n';
    return out;
}

QByteArray MiniPdf::read(qint64 offset, qint64 length) const
{
    QByteArray out;
    if (offset < 0 || length <= 0 || offset >= size())
        return out;
    length = std::min(length, size() - offset);
    out.reserve(length);
    const qint64 headSize = m_head.size();
    const qint64 tailStart = headSize + m_padding;
    const qint64 end = offset + length;
    if (offset < headSize)
        out += m_head.mid(offset, std::min(end, headSize) - offset);
    if (end > headSize && offset < tailStart) {
        const qint64 from = std::max(offset, headSize) - headSize;
        const qint64 to = std::min(end, tailStart) - headSize;
        out += padding(from, to - from, m_padding);
    }
    if (end > tailStart) {
        const qint64 from = std::max(offset, tailStart) - tailStart;
        out += m_tail.mid(from, end - tailStart - from);
    }
    return out;
}
