#include "core/cache/cacheentry.h"

#include <QStringList>
#include <QtEndian>

namespace cacheentry {

namespace {
constexpr quint64 Magic = 0xfcfb6d1ba7725c30ULL;

bool isSchemeChar(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'+' ||
           c == u'-' || c == u'.';
}
} // namespace

bool isEntryFileName(const QString &name)
{
    if (name.size() != 18 || !name.endsWith(QStringLiteral("_0")))
        return false;
    for (int i = 0; i < 16; ++i) {
        const QChar c = name.at(i);
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

QStringList siblingFileNames(const QString &entryFileName)
{
    const QString stem = entryFileName.left(16);
    return {stem + QStringLiteral("_0"), stem + QStringLiteral("_1"), stem + QStringLiteral("_s")};
}

qint64 keyLengthFromHeader(const QByteArray &header)
{
    if (header.size() < HeaderSize)
        return -1;
    const auto *bytes = reinterpret_cast<const uchar *>(header.constData());
    if (qFromLittleEndian<quint64>(bytes) != Magic)
        return -1;
    const quint32 keyLength = qFromLittleEndian<quint32>(bytes + 12);
    if (keyLength == 0 || keyLength > MaxKeyLength)
        return -1;
    return keyLength;
}

QString addressFromKey(const QByteArray &key)
{
    // Keys of a split cache carry the top frame's site before the address, separated by spaces;
    // an address itself never holds a space.
    QString text = QString::fromUtf8(key).trimmed();
    const qsizetype space = text.lastIndexOf(u' ');
    if (space >= 0)
        text = text.mid(space + 1);
    const qsizetype mark = text.indexOf(QStringLiteral("://"));
    if (mark <= 0)
        return text;
    qsizetype start = mark;
    while (start > 0 && isSchemeChar(text.at(start - 1)))
        --start;
    // The key's "1/0/" prefix ends in "/", which is no scheme character; a digit run right after it
    // is part of the prefix, not of a scheme.
    while (start < mark && !text.at(start).isLetter())
        ++start;
    return start < mark ? text.mid(start) : text;
}

} // namespace cacheentry
