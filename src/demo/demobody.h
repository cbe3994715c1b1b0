#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

class MiniPdf;
class QFile;

// The body of an answer: bytes in memory, a file on disk read piece by piece, or a generated PDF.
// Copies share the open file; pieces are read by offset, so nothing large is held in memory.
class DemoBody
{
public:
    DemoBody() = default;
    static DemoBody fromBytes(const QByteArray &bytes);
    static DemoBody fromGenerated(std::shared_ptr<const MiniPdf> pdf);
    // Empty when the file cannot be opened.
    static std::optional<DemoBody> fromFile(const QString &path);

    // The bytes [offset, offset + length) of this body, cut at its end, as a body of their own.
    DemoBody slice(qint64 offset, qint64 length) const;

    qint64 size() const;
    // Up to maxLength bytes from offset; empty at the end or when the file cannot be read.
    QByteArray read(qint64 offset, qint64 maxLength) const;

private:
    qint64 wholeSize() const;
    QByteArray readWhole(qint64 offset, qint64 maxLength) const;

    QByteArray m_bytes;
    std::shared_ptr<const MiniPdf> m_pdf;
    std::shared_ptr<QFile> m_file;
    qint64 m_fileSize = 0;
    qint64 m_start = 0;
    qint64 m_length = -1; // -1: up to the end
};
