#pragma once

#include "core/cache/cachecommands.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <sys/stat.h>
#include <unistd.h>

namespace cachefixture {

inline const QString kRelative = QStringLiteral(".cache/QtWebEngine/Folionexus/Cache/Cache_Data");

// Bytes of a cache entry file as the browser writes it: header, key, body.
inline QByteArray entryBytes(const QByteArray &key, const QByteArray &body = "cached body")
{
    QByteArray bytes(24, '\0');
    auto *raw = reinterpret_cast<uchar *>(bytes.data());
    qToLittleEndian<quint64>(0xfcfb6d1ba7725c30ULL, raw);
    qToLittleEndian<quint32>(5, raw + 8);
    qToLittleEndian<quint32>(quint32(key.size()), raw + 12);
    qToLittleEndian<quint32>(0x12345678, raw + 16);
    return bytes + key + body;
}

inline void mkdirs(const QString &path)
{
    QVERIFY2(QDir().mkpath(path), qPrintable(path));
}

inline void link(const QString &target, const QString &linkPath)
{
    QVERIFY2(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(linkPath).constData()) == 0,
             qPrintable(linkPath));
}

// A machine in a folder: <root>/home/<user> home folders, an outside folder that nothing may touch.
struct Machine
{
    QTemporaryDir dir;
    QString homes() const { return dir.path() + QStringLiteral("/home"); }
    QString outside() const { return dir.path() + QStringLiteral("/outside"); }
    QString cacheOf(const QString &user) const { return homes() + u'/' + user + u'/' + kRelative; }

    CacheLocations locations(const QString &me = QStringLiteral("alice")) const
    {
        return {AnchoredPath::lastComponentGuarded(cacheOf(me)), HomeRoots{{homes()}, {}}, kRelative};
    }
};

inline bool exists(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace cachefixture
