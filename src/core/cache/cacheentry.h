#pragma once

#include <QByteArray>
#include <QString>

// The browser keeps one file per cache entry ("<16 hex digits>_0", with optional "_1" and "_s"
// siblings). The file starts with a fixed header and the entry's key; the key ends in the address.
namespace cacheentry {

constexpr int HeaderSize = 24;
constexpr quint32 MaxKeyLength = 64 * 1024;

// "0123456789abcdef_0": the file that stands for one entry.
bool isEntryFileName(const QString &name);
// The names of every file that belongs to the entry of the given "_0" file.
QStringList siblingFileNames(const QString &entryFileName);

// Length of the key announced by a header, or -1 when the bytes are not an entry header.
qint64 keyLengthFromHeader(const QByteArray &header);

// The address a key stands for: the key's last word from its first "scheme://" on; the whole last
// word when it has no scheme.
QString addressFromKey(const QByteArray &key);

} // namespace cacheentry
