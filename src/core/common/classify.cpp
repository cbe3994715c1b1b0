#include "core/common/classify.h"

#include "core/common/filenames.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <algorithm>
#include <array>
#include <optional>

namespace {

struct TypePair
{
    const char *major;
    const char *minor;
    const char *answer; // nullptr: the subtype itself
};

constexpr std::array kMediaTypes{
    TypePair{"application", "octet-stream", ""},
    TypePair{"application", "x-shockwave-flash", "swf"},
    TypePair{"application", "x-javascript", "js"},
    TypePair{"application", "vnd.rn-realmedia", "vnd.rn-realmedia"},
    TypePair{"application", "vnd.ms-wpl", "wpl"},
    TypePair{"application", "kdh", "kdh"},
    TypePair{"application", "caj", "caj"},
    TypePair{"application", "pdf", "pdf"},
    TypePair{"application", "caa", "caa"},
    TypePair{"application", "nh", "nh"},
    TypePair{"text", "html", nullptr},
    TypePair{"text", "txt", nullptr},
    TypePair{"text", "htm", nullptr},
    TypePair{"text", "xml", nullptr},
    TypePair{"text", "css", nullptr},
    TypePair{"text", "plain", "plain"},
    TypePair{"image", "jpg", nullptr},
    TypePair{"image", "jpeg", nullptr},
    TypePair{"image", "gif", nullptr},
    TypePair{"image", "png", nullptr},
    TypePair{"image", "bmp", nullptr},
    TypePair{"image", "tif", nullptr},
    TypePair{"image", "pjpeg", nullptr},
    TypePair{"image", "g3fax", nullptr},
    TypePair{"image", "ief", nullptr},
    TypePair{"image", "tiff", "tif"},
    TypePair{"image", "x-png", "png"},
    TypePair{"image", "x-ms-bmp", "bmp"},
    TypePair{"image", "x-icon", "ico"},
    TypePair{"video", "mpeg", "mpeg"},
    TypePair{"video", "mpeg4", "mp4"},
    TypePair{"video", "x-msvideo", "avi"},
    TypePair{"video", "x-ms-asf", "asf"},
    TypePair{"video", "quicktime", "quicktime"},
    TypePair{"audio", "amr", "amr"},
    TypePair{"audio", "x-ms-wma", "wma"},
    TypePair{"audio", "x-wav", "wav"},
    TypePair{"audio", "x-pn-realaudio", "ram"},
    TypePair{"audio", "midi", "mid"},
    TypePair{"audio", "x-mpegurl", "x-mpegurl"},
};

bool isKnownMajor(const QString &major)
{
    static const QStringList majors{QStringLiteral("application"), QStringLiteral("text"),
                                    QStringLiteral("image"), QStringLiteral("video"),
                                    QStringLiteral("audio")};
    return majors.contains(major);
}

} // namespace

QString MediaTypeToExtension(const QString &mediaType)
{
    const QStringList parts = mediaType.split(u'/');
    if (parts.size() != 2)
        return mediaType;
    const QString major = parts.at(0).trimmed().toLower();
    QString minor = parts.at(1).trimmed();
    minor.remove(u' ');
    minor = minor.toLower();
    for (const TypePair &row : kMediaTypes) {
        if (major == QLatin1String(row.major) && minor == QLatin1String(row.minor))
            return row.answer ? QString::fromLatin1(row.answer) : minor;
    }
    if (isKnownMajor(major))
        return (minor.isEmpty() || minor == u"*") ? major : mediaType;
    return mediaType;
}

namespace {

// The first bytes of the formats told by their start, in the order they are tried. A compound document
// (Word, Excel) is told apart by a marker further in.
struct Signature
{
    const char *bytes;
    qsizetype size;
    SniffedType type;
};
constexpr SniffedType kCompound = SniffedType::Doc;
constexpr Signature kSignatures[] = {
    {"\x25\x50\x44\x46", 4, SniffedType::Pdf},          {"\xC8\x00\x00\x00", 4, SniffedType::Caj},
    {"\x43\x41\x4A\x00", 4, SniffedType::Kdh},          {"\x4B\x44\x48\x20", 4, SniffedType::Kdh},
    {"\x49\x49\x2A\x00", 4, SniffedType::Tif},          {"\x4D\x5A", 2, SniffedType::Exe},
    {"\x52\x61\x72\x21", 4, SniffedType::Rar},          {"\x50\x4B\x03\x04\x14", 5, SniffedType::Zip},
    {"\x43\x57\x53\x06", 4, SniffedType::Swf},          {"\x2E\x52\x4D\x46", 4, SniffedType::Rm},
    {"\x30\x26\xB2\x75\x8E", 5, SniffedType::Wma},      {"\x49\x44\x33\x03", 4, SniffedType::Mp3},
    {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8, kCompound},
};

// The file's first 1024 bytes and one more (a zero byte when the file is no longer); false when they
// cannot be read.
bool readHead(QFile &file, qint64 length, QByteArray *buffer)
{
    const qint64 n = std::min<qint64>(length, 1024);
    *buffer = file.read(n);
    if (buffer->size() != n)
        return false;
    buffer->append(length > 1024 ? file.read(1) : QByteArray(1, '\0'));
    return true;
}

// The type the head shows, None when it shows none; nothing when it matches no signature and the end of
// the file may still tell. A head that ends before a signature it is tried against tells nothing.
std::optional<SniffedType> typeOfHead(const QByteArray &buffer)
{
    for (const Signature &signature : kSignatures) {
        if (buffer.size() < signature.size)
            return SniffedType::None;
        if (!buffer.startsWith(QByteArrayView(signature.bytes, signature.size)))
            continue;
        if (signature.type != kCompound)
            return signature.type;
        const QByteArray marker = buffer.size() < 516 ? QByteArray() : buffer.mid(512, 4);
        if (marker == QByteArray("\xEC\xA5\xC1\x00", 4))
            return SniffedType::Doc;
        return marker == QByteArray("\x09\x08\x10\x00", 4) ? SniffedType::Xls : SniffedType::None;
    }
    return std::nullopt;
}

} // namespace

SniffedType SniffFileType(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return SniffedType::None;
    const qint64 length = file.size();
    QByteArray buffer;
    if (!readHead(file, length, &buffer) || buffer.size() < 3)
        return SniffedType::None;
    if (const std::optional<SniffedType> type = typeOfHead(buffer))
        return *type;
    if (length < 128 || !file.seek(length - 128))
        return SniffedType::None;
    // An MP3 file without an ID3 header may carry its tag at the end.
    return file.read(3) == "TAG" ? SniffedType::Mp3 : SniffedType::None;
}

QString sniffedTypeExtension(SniffedType type)
{
    static const char *const extensions[] = {"",    "PDF", "CAJ", "KDH", "TIF", "EXE", "RAR",
                                             "ZIP", "SWF", "RM",  "WMA", "MP3", "DOC", "XLS"};
    return QString::fromLatin1(extensions[static_cast<int>(type)]);
}

bool IsUsablePage(const QString &text)
{
    if (text.isEmpty())
        return false;
    static const QStringList markers{
        QStringLiteral("<title>找不到服务器</title>"),
        QStringLiteral("<TITLE>403 Forbidden</TITLE>"),
        QStringLiteral("<title>HTTP 404 未找到</title>"),
        QStringLiteral("<title>HTTP 500 内部服务器错误</title>"),
        QStringLiteral("<title>网页无法显示</title>"),
        QStringLiteral("<TITLE>404 Not Found</TITLE>"),
        QStringLiteral("<TITLE>无法找到网页</TITLE>"),
        QStringLiteral("<TITLE>没有可以显示的页面"),
        QStringLiteral("<TITLE>无法找到该页</TITLE>"),
        QStringLiteral("<TITLE>404 Page Not Found</TITLE>"),
        QStringLiteral("Error in check!"),
    };
    for (const QString &marker : markers) {
        if (text.contains(marker, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

QString SniffPaperType(const QString &path)
{
    if (!FileExists(path))
        return kPaperMissing;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kPaperUnknown;
    const QByteArray head = file.read(10);
    if (head.size() < 4)
        return kPaperUnknown;
    const QByteArray first = head.left(4);
    if (first == QByteArray("%PDF"))
        return QStringLiteral("PDF");
    if (first == QByteArray("\xC8\x00\x00\x00", 4))
        return QStringLiteral("CAJ");
    if (first == QByteArray("KDH "))
        return QStringLiteral("KDH");
    if (first == QByteArray("HN\x00\x00", 4))
        return QStringLiteral("NH");
    return kPaperUnknown;
}

bool HasPaperSignature(const QByteArray &head)
{
    return head.startsWith("%PDF") || head.startsWith(QByteArray("\xC8\x00\x00\x00", 4)) ||
           head.startsWith("KDH ") || head.startsWith(QByteArray("CAJ\x00", 4)) ||
           head.startsWith(QByteArray("HN\x00\x00", 4));
}

bool EndsLikeWholePdf(const QByteArray &head, const QByteArray &tail)
{
    if (!head.startsWith("%PDF"))
        return true;
    // The mark may be followed by line ends, white space or a few stray bytes some writers add.
    return tail.right(PdfTailBytes).contains("%%EOF");
}

bool LooksLikeWebPage(const QString &mediaType, const QByteArray &head)
{
    if (HasPaperSignature(head))
        return false;
    const QString media = mediaType.left(mediaType.indexOf(u';')).trimmed().toLower();
    if (media == u"text/html" || media == u"application/xhtml+xml")
        return true;
    // Byte-order marks and white space before the first tag.
    QByteArray text = head.left(1024);
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    text = text.trimmed().toLower();
    static const char *const openings[] = {
        "<!doctype html", "<html", "<head",  "<body",  "<title", "<meta",   "<script", "<iframe", "<frameset",
        "<form",          "<div",  "<table", "<style", "<link",  "<center", "<h1",     "<p>",     "<br"};
    for (const char *opening : openings) {
        if (text.startsWith(opening))
            return true;
    }
    // A comment or an XML declaration in front of the page itself.
    if (text.startsWith("<!--") || text.startsWith("<?xml"))
        return text.contains("<html") || text.contains("<!doctype html");
    return false;
}
