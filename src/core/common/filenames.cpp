#include "core/common/filenames.h"

#include "core/common/gbk.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <sys/stat.h>

namespace {

qsizetype lastSeparator(const QString &text)
{
    return std::max(text.lastIndexOf(u'/'), text.lastIndexOf(u'\\'));
}

QString removeLineBreaks(QString text)
{
    text.remove(QStringLiteral("\r\n"));
    text.remove(u'\n');
    text.remove(u'\r');
    text.remove(QChar(u'\0'));
    return text;
}

qsizetype utf8Length(const QString &text)
{
    return text.toUtf8().size();
}

// The longest beginning of text that takes at most maxBytes of UTF-8, never splitting a character.
QString cutToUtf8Bytes(const QString &text, qsizetype maxBytes)
{
    if (utf8Length(text) <= maxBytes)
        return text;
    qsizetype used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype step = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const qsizetype len = utf8Length(text.mid(i, step));
        if (used + len > maxBytes)
            break;
        used += len;
        i += step;
    }
    return text.left(i);
}

// base + counter + "." + extension as one file name that fits MaxFileNameBytes: the base gives way
// first, the extension only when even an empty base would not fit.
QString fittedName(const QString &base, const QString &counter, QString extension)
{
    const qsizetype counterBytes = utf8Length(counter);
    if (!extension.isEmpty() && counterBytes + 1 + utf8Length(extension) > MaxFileNameBytes)
        extension = cutToUtf8Bytes(extension, MaxFileNameBytes - counterBytes - 1);
    const qsizetype extensionBytes = extension.isEmpty() ? 0 : 1 + utf8Length(extension);
    const QString name = cutToUtf8Bytes(base, MaxFileNameBytes - counterBytes - extensionBytes) + counter;
    return extension.isEmpty() ? name : name + u'.' + extension;
}

} // namespace

QString TrimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

QString CleanFileName(const QString &text)
{
    QString name = text;
    for (QChar c : {u'\\', u'/', u':', u'*', u'?', u'<', u'>', u'|', u'"'})
        name.remove(c);
    name = removeLineBreaks(name);
    while (name.startsWith(u'.'))
        name.remove(0, 1);
    while (name.endsWith(u'.'))
        name.chop(1);
    name = gbk::cutToBytes(name, 250);
    return TrimSpaces(name);
}

QString StripLineBreaks(const QString &text)
{
    return removeLineBreaks(text);
}

QString FileNameFromPath(const QString &pathOrAddress, bool withoutExtension)
{
    QString name = pathOrAddress;
    const qsizetype sep = lastSeparator(name);
    if (sep >= 0)
        name = TrimSpaces(name.mid(sep + 1));
    if (withoutExtension && name.contains(u'.'))
        return TrimSpaces(name.left(name.lastIndexOf(u'.')));
    return name;
}

QString SplitFileName(const QString &path, QString *baseName)
{
    QString name = TrimSpaces(path);
    const qsizetype sep = lastSeparator(name);
    if (sep >= 0)
        name = name.mid(sep + 1);
    QString extension;
    QString base = name;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot >= 0 && name.size() - dot - 1 <= 6) {
        extension = name.mid(dot + 1);
        base = name.left(dot);
    }
    if (baseName)
        *baseName = TrimSpaces(base);
    return TrimSpaces(extension);
}

bool LooksNumeric(const QString &text, double *value)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\s*[+-]?\s*(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$)"));
    if (!pattern.match(text).hasMatch())
        return false;
    if (value) {
        QString compact = text;
        compact.remove(u' ');
        *value = compact.trimmed().toDouble();
    }
    return true;
}

QString MakeUniquePath(const QString &path)
{
    if (!FileExists(path))
        return path;
    const qsizetype sep = path.lastIndexOf(u'/');
    if (sep < 0)
        return path;
    const QString folder = path.left(sep + 1);
    const QString fileName = path.mid(sep + 1);
    QString base = fileName;
    QString extension;
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot >= 0) {
        extension = fileName.mid(dot + 1);
        base = fileName.left(dot);
    }
    if (base.size() > 100)
        base.truncate(base.at(99).isHighSurrogate() ? 99 : 100); // a character is never cut in half
    if (base.endsWith(u']')) {
        const qsizetype open = base.lastIndexOf(u'[');
        // A counter that is the whole base stays: a bare ".pdf" would be a hidden file.
        if (open > 0 && LooksNumeric(base.mid(open + 1, base.size() - open - 2)))
            base = base.left(open);
    }
    // The base is cut by characters above; every name tried must also fit on disk in bytes, or the
    // caller's rename to it fails.
    QString candidate = folder + fittedName(base, QString(), extension);
    for (qint64 n = 1; FileExists(candidate); ++n) {
        const QString counter = u'[' + QStringLiteral("%1").arg(n, 4, 10, QChar(u'0')) + u']';
        candidate = folder + fittedName(base, counter, extension);
    }
    return candidate;
}

RenameResult RenameWithExtension(const QString &path, const QString &newExtension)
{
    const qsizetype sep = path.lastIndexOf(u'/');
    const QString folder = path.left(sep + 1);
    const QString fileName = path.mid(sep + 1);
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString extension = dot >= 0 ? fileName.mid(dot + 1) : QString();
    if (!extension.isEmpty() && extension.compare(newExtension, Qt::CaseInsensitive) == 0)
        return {path, false, true};
    QString target =
        dot >= 0 ? folder + fileName.left(dot) + u'.' + newExtension : path + u'.' + newExtension;
    if (FileExists(target))
        target = MakeUniquePath(target);
    // rename(2) would replace a file that appeared meanwhile; QFile::rename refuses to.
    if (!QFile::rename(path, target))
        return {path, false, false};
    return {target, true, true};
}

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    countDiskLook();
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISREG(st.st_mode);
}

bool FolderExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    countDiskLook();
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode);
}

QString SiteRootOf(const QString &address)
{
    const qsizetype scheme = address.indexOf(QStringLiteral("://"));
    if (scheme >= 0) {
        const qsizetype hostStart = scheme + 3;
        const qsizetype slash = address.indexOf(u'/', hostStart);
        if (slash > hostStart)
            return address.left(slash);
        return address;
    }
    const qsizetype slash = address.indexOf(u'/');
    if (slash >= 3)
        return address.left(slash);
    return address;
}

QString FitNameForDisk(const QString &name, const QString &extension, int reserveBytes)
{
    const qsizetype room = MaxFileNameBytes - reserveBytes - 1 - utf8Length(extension);
    return cutToUtf8Bytes(name, std::max<qsizetype>(room, 0));
}
