#pragma once

#include <QByteArray>
#include <QString>

// Names what a server sent or what a saved file holds.

// Extension for a media type (the Content-Type without parameters); may be empty or the input itself.
QString MediaTypeToExtension(const QString &mediaType);

// What the first bytes (and last 128 bytes) of a saved file show it to be.
enum class SniffedType { None, Pdf, Caj, Kdh, Tif, Exe, Rar, Zip, Swf, Rm, Wma, Mp3, Doc, Xls };
SniffedType SniffFileType(const QString &path);
// The upper-case extension a file of the type is given ("PDF", "CAJ", ...); empty for None.
QString sniffedTypeExtension(SniffedType type);

// False for empty text and for text carrying one of the known error-page markers.
bool IsUsablePage(const QString &text);

// "PDF", "CAJ", "KDH", "NH", "文件不存在" or "未知类型文件".
QString SniffPaperType(const QString &path);

inline const QString kPaperMissing = QStringLiteral("文件不存在");
inline const QString kPaperUnknown = QStringLiteral("未知类型文件");

// The first bytes of a file in one of the paper formats (PDF, CAJ, KDH, NH).
bool HasPaperSignature(const QByteArray &head);

// A PDF whose length nobody stated (a chunked or close-delimited answer) shows that it ended where it
// should by its end mark ("%%EOF") near its last bytes; tail is its last bytes (at least PdfTailBytes of
// them when it is that long). True for anything that does not start as a PDF: nothing to tell by.
inline constexpr qsizetype PdfTailBytes = 2048;
bool EndsLikeWholePdf(const QByteArray &head, const QByteArray &tail);

// An answer is a web page when its first bytes read as HTML, or when its media type says HTML and the
// bytes are not a paper's.
bool LooksLikeWebPage(const QString &mediaType, const QByteArray &head);
