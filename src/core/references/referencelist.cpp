#include "core/references/referencelist.h"

#include "core/common/regularfile.h"
#include "core/references/referencereaders.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype HeadBytes = 64 * 1024; // what ReferenceText::head() gives at most

// A line of a plain list: a title, a tab and the paper's address. Its title may begin like anything else
// ("@SUM(A1)" reads as a BibTeX entry's start), so such a line never tells another format.
bool isTitledAddress(const QString &line)
{
    static const QRegularExpression titled(QStringLiteral("^[^\\t]*\\t\\s*https?://\\S+\\s*$"),
                                           QRegularExpression::CaseInsensitiveOption);
    return titled.match(line).hasMatch();
}

bool anyLineMatches(const QList<QByteArray> &lines, const QRegularExpression &pattern)
{
    for (const QByteArray &line : lines) {
        const QString text = QString::fromUtf8(line);
        if (pattern.match(text).hasMatch() && !isTitledAddress(text))
            return true;
    }
    return false;
}

QByteArray firstTextLine(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines) {
        if (!line.trimmed().isEmpty())
            return line;
    }
    return QByteArray();
}

} // namespace

ReferenceFormat GuessReferenceFormat(QByteArrayView head, ReferenceFormat hint)
{
    static const QRegularExpression risStart(QStringLiteral("^TY  -( |$)"));
    static const QRegularExpression bibEntry(QStringLiteral("^\\s*@\\s*[A-Za-z]+\\s*[{(]"));
    QByteArray text = head.toByteArray();
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    QList<QByteArray> lines = text.split('\n');
    if (lines.size() > 1 && head.size() >= HeadBytes)
        lines.removeLast(); // cut short by the end of the head
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    // A link list whose first title starts with a bracket is no JSON.
    const QByteArray start = text.trimmed().left(1);
    if ((start == "[" || start == "{") && !isTitledAddress(QString::fromUtf8(firstTextLine(lines))))
        return ReferenceFormat::CslJson;
    if (IsCsvReferenceHeader(firstTextLine(lines)))
        return ReferenceFormat::Csv;
    if (anyLineMatches(lines, risStart))
        return ReferenceFormat::Ris;
    if (anyLineMatches(lines, bibEntry))
        return ReferenceFormat::BibTeX;
    // A .csv or .json file says what is wrong with it as a whole; a BibTeX or RIS reader would find
    // nothing in text that looks like neither, where the lines reader names every line it cannot use.
    return hint == ReferenceFormat::Csv || hint == ReferenceFormat::CslJson ? hint : ReferenceFormat::Lines;
}

ReferenceFormat FormatOfFileName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"bib" || suffix == u"bibtex")
        return ReferenceFormat::BibTeX;
    if (suffix == u"ris")
        return ReferenceFormat::Ris;
    if (suffix == u"json")
        return ReferenceFormat::CslJson;
    if (suffix == u"csv")
        return ReferenceFormat::Csv;
    return ReferenceFormat::Unknown;
}

namespace {

constexpr qint64 MaxUtf16ListBytes = 64LL * 1024 * 1024;

ReferenceList readDevice(QIODevice &device, ReferenceFormat format, ReferenceFormat hint)
{
    ReferenceText text(device);
    if (format == ReferenceFormat::Unknown)
        format = GuessReferenceFormat(text.head(), hint);
    ReferenceCollector collector;
    switch (format) {
    case ReferenceFormat::Unknown:
    case ReferenceFormat::Lines:
        ReadLineList(text, collector);
        break;
    case ReferenceFormat::BibTeX:
        ReadBibTeX(text, collector);
        break;
    case ReferenceFormat::Ris:
        ReadRis(text, collector);
        break;
    case ReferenceFormat::CslJson:
        ReadCslJson(text, collector);
        break;
    case ReferenceFormat::Csv:
        ReadCsv(text, collector);
        break;
    }
    if (text.failed())
        collector.fail(ListFailure::ReadError, device.errorString());
    return collector.take(format == ReferenceFormat::Unknown ? ReferenceFormat::Lines : format);
}

bool isUtf16(const QByteArray &start)
{
    return start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF");
}

// UTF-16 text (it always starts with its byte-order mark here) as UTF-8.
QByteArray fromUtf16(const QByteArray &bytes)
{
    QStringDecoder decoder(bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    QString text = decoder.decode(bytes);
    if (text.startsWith(QChar(0xfeff)))
        text.remove(0, 1);
    return text.toUtf8();
}

ReferenceList failedList(ListFailure failure, const QString &detail)
{
    ReferenceCollector collector;
    collector.fail(failure, detail);
    return collector.take(ReferenceFormat::Unknown);
}

} // namespace

ReferenceList ReadReferences(const QByteArray &bytes, ReferenceFormat format)
{
    QByteArray utf16;
    if (isUtf16(bytes))
        utf16 = fromUtf16(bytes);
    QBuffer buffer;
    buffer.setData(utf16.isNull() ? bytes : utf16);
    buffer.open(QIODevice::ReadOnly);
    return readDevice(buffer, format, ReferenceFormat::Unknown);
}

namespace {

// Opens only a regular file, without blocking on a pipe that was put in its place; -1 with the failure.
int openRegular(const QString &path, ListFailure *failure, QString *detail)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0) {
        *failure = ListFailure::CannotOpen;
        *detail = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const int fd =
        S_ISREG(info.st_mode) ? ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
    if (fd < 0 && S_ISREG(info.st_mode)) {
        *failure = ListFailure::CannotOpen;
        *detail = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        *failure = ListFailure::NotRegular;
        return -1;
    }
    if (info.st_size > MaxReferenceListBytes) {
        ::close(fd);
        *failure = ListFailure::TooLarge;
        return -1;
    }
    return fd;
}

} // namespace

ReferenceList ReadReferenceFile(const QString &path, ReferenceFormat format)
{
    ListFailure failure = ListFailure::None;
    QString detail;
    const int fd = openRegular(path, &failure, &detail);
    if (fd < 0)
        return failedList(failure, detail);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failedList(ListFailure::CannotOpen, file.errorString());
    }
    if (isUtf16(file.peek(2))) {
        // Rare (some Windows programs write it): converted whole, so held to a smaller size.
        if (file.size() > MaxUtf16ListBytes)
            return failedList(ListFailure::TooLarge, QString());
        file.close();
        const RegularFileRead read = ReadRegularFile(path, MaxUtf16ListBytes);
        if (!read.ok())
            return failedList(ListFailure::ReadError, read.systemError);
        return ReadReferences(read.bytes, format);
    }
    return readDevice(file, format, FormatOfFileName(path));
}
