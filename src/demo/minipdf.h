#pragma once

#include <QByteArray>
#include <QStringList>

// A one-page PDF with a few lines of text, padded to a wanted size.
//
// The file is laid out as head, padding, tail: the head is the "%PDF" header, the padding is a run
// of PDF comment lines (so readers skip it), and the tail holds every object, the cross-reference
// table and the trailer. Only head and tail live in memory; the padding is produced on demand, so
// a file of several gigabytes can be streamed without ever being built whole.
class MiniPdf
{
public:
    // Lines are written from the top of the page in Helvetica; characters outside printable ASCII
    // become "?". The file is at least minimumSize bytes long (exactly that long in almost every
    // case; at most one byte more when the padding ends where the trailer's offset gains a digit).
    MiniPdf(const QStringList &lines, qint64 minimumSize = 0);

    qint64 size() const { return m_head.size() + m_padding + m_tail.size(); }

    // Bytes [offset, offset + length) of the file, cut at its end.
    QByteArray read(qint64 offset, qint64 length) const;

    // The whole file; for the small files only.
    QByteArray bytes() const { return read(0, size()); }

    // Padding bytes of any length, the same for the same offset: comment lines ending in a newline.
    static QByteArray padding(qint64 offset, qint64 length, qint64 total);

private:
    QByteArray tailFor(qint64 padding) const;

    QByteArray m_head;
    QByteArray m_content;
    qint64 m_padding = 0;
    QByteArray m_tail;
};
