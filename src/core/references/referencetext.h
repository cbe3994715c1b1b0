#pragma once

#include <QByteArray>
#include <QIODevice>

// The text of a reference list as its readers take it: line by line (or in blocks), as UTF-8, without
// the byte-order mark and the line ends (LF or CR LF). Text that is not UTF-8 throughout is read as GBK.
// The device is read as it goes through one buffer that is used again and again: nothing holds the whole
// text, and reading a hundred thousand lines does not leave the memory strewn with freed blocks.
class ReferenceText
{
public:
    // Reads the device through once to learn its encoding, then goes back to its start.
    explicit ReferenceText(QIODevice &device);

    // The first bytes (at most 64 KiB), for telling the format; only before anything else is read.
    QByteArray head() const;

    // The next line, into the given array (whose room is used again); false at the end of the text.
    bool readLine(QByteArray *line);
    // Of the line last read, counting from 1.
    int lineNumber() const { return m_line; }

    // The next bytes as they stand, into the given array; false at the end. For readers that count lines
    // themselves, of text that must be UTF-8 anyway (JSON).
    bool readBlock(QByteArray *block);

    // The device could not be read to its end.
    bool failed() const { return m_failed; }

private:
    bool fill();

    QIODevice &m_device;
    QByteArray m_buffer;
    qsizetype m_next = 0; // where the unread part of the buffer starts
    bool m_gbk = false;
    bool m_failed = false;
    int m_line = 0;
};
