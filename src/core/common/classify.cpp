#include "core/common/classify.h"

#include "core/common/filenames.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <array>

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

bool startsWith(const QByteArray &buffer, std::initializer_list<unsigned char> bytes, bool *tooShort)
{
    if (static_cast<size_t>(buffer.size()) < bytes.size()) {
        *tooShort = true;
        return false;
    }
    size_t i = 0;
    for (unsigned char b : bytes) {
        if (static_cast<unsigned char>(buffer.at(static_cast<qsizetype>(i++))) != b)
            return false;
    }
    return true;
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

QString SniffFileType(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const qint64 length = file.size();
    const qint64 n = std::min<qint64>(length, 1024);
    // Positions 0..n; the last one stays 0 when the file is shorter than 1025 bytes.
    QByteArray buffer = file.read(n);
    if (buffer.size() != n)
        return {};
    buffer.append(length > 1024 ? file.read(1) : QByteArray(1, '\0'));

    bool tooShort = false;
    auto is = [&](std::initializer_list<unsigned char> bytes) {
        return !tooShort && startsWith(buffer, bytes, &tooShort);
    };
    if (buffer.size() < 3)
        return {};
    if (is({0x25, 0x50, 0x44, 0x46}))
        return QStringLiteral("PDF");
    if (is({0xC8, 0x00, 0x00, 0x00}))
        return QStringLiteral("CAJ");
    if (is({0x43, 0x41, 0x4A, 0x00}) || is({0x4B, 0x44, 0x48, 0x20}))
        return QStringLiteral("KDH");
    if (is({0x49, 0x49, 0x2A, 0x00}))
        return QStringLiteral("TIF");
    if (is({0x4D, 0x5A}))
        return QStringLiteral("EXE");
    if (is({0x52, 0x61, 0x72, 0x21}))
        return QStringLiteral("RAR");
    if (is({0x50, 0x4B, 0x03, 0x04, 0x14}))
        return QStringLiteral("ZIP");
    if (is({0x43, 0x57, 0x53, 0x06}))
        return QStringLiteral("SWF");
    if (is({0x2E, 0x52, 0x4D, 0x46}))
        return QStringLiteral("RM");
    if (is({0x30, 0x26, 0xB2, 0x75, 0x8E}))
        return QStringLiteral("WMA");
    if (is({0x49, 0x44, 0x33, 0x03}))
        return QStringLiteral("MP3");
    if (is({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1})) {
        if (buffer.size() < 516)
            return {};
        const QByteArray marker = buffer.mid(512, 4);
        if (marker == QByteArray("\xEC\xA5\xC1\x00", 4))
            return QStringLiteral("DOC");
        if (marker == QByteArray("\x09\x08\x10\x00", 4))
            return QStringLiteral("XLS");
        return {};
    }
    if (tooShort || length < 128)
        return {};
    if (!file.seek(length - 128))
        return {};
    if (file.read(3) == "TAG")
        return QStringLiteral("MP3");
    return {};
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
