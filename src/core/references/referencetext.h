#pragma once

#include <QByteArray>
#include <QIODevice>

// The text of a reference list as its readers take it: line by line (or in blocks), as UTF-8, without
// the byte-order mark and the line ends (LF or CR LF). Text that is not UTF-8 throughout is read as GBK.
// The device is read as it goes; nothing holds the whole text.
class ReferenceText
{
public:
    // Reads the device through once to learn its encoding, then goes back to its start.
    explicit ReferenceText(QIODevice &device);

    // The first bytes (at most 64 KiB), for telling the format; the reading position does not move.
    QByteArray head() const;

    // The next line; false at the end of the text.
    bool readLine(QByteArray *line);
    // Of the line last read, counting from 1.
    int lineNumber() const { return m_line; }

    // The next bytes as they stand (at most maxBytes; empty at the end), for readers that count lines
    // themselves. Meant for text that must be UTF-8 anyway (JSON).
    QByteArray readBlock(qint64 maxBytes);

    // The device could not be read to its end.
    bool failed() const { return m_failed; }

private:
    QIODevice &m_device;
    bool m_gbk = false;
    bool m_failed = false;
    int m_line = 0;
};
