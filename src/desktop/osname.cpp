#include "desktop/osname.h"

#include <QFile>
#include <QSysInfo>
#include <array>
#include <sys/utsname.h>

QString EditionWord(std::uint32_t editionCode)
{
    static const std::array<const char *, 29> words = {
        "An unknown product",
        "Ultimate Edition",
        "Home Basic Edition",
        "Home Premium Edition",
        "Enterprise Edition",
        "Home Basic Edition (N)",
        "Business Edition",
        "Server Standard Edition (full installation)",
        "Server Datacenter Edition (full installation)",
        "Small Business Server",
        "Server Enterprise Edition (full installation)",
        nullptr, // 11 has no word of its own
        "Server Datacenter Edition (core installation)",
        "Server Standard Edition (core installation)",
        "Server Enterprise Edition (core installation)",
        "Server Enterprise Edition for Itanium-based Systems",
        "Business Edition (N)",
        "Web Server Edition",
        "Cluster Server Edition",
        "Home Server Edition",
        "Storage Server Express Edition",
        "Storage Server Standard Edition",
        "Storage Server Workgroup Edition",
        "Storage Server Enterprise Edition",
        "Server for Small Business Edition",
        "Small Business Server Premium Edition",
        "Home Premium Edition (N)",
        "Enterprise Edition (N)",
        "Ultimate Edition (N)",
    };
    if (editionCode == kUnlicensedEdition)
        return QStringLiteral("Not activated product");
    if (editionCode < words.size() && words[editionCode])
        return QString::fromLatin1(words[editionCode]);
    return {};
}

namespace {

QString consumerFamilyName(int minor)
{
    switch (minor) {
    case 0:
        return QStringLiteral("Windows 95");
    case 10:
        return QStringLiteral("Windows 98");
    case 90:
        return QStringLiteral("Windows Millennium Edition");
    default:
        return {};
    }
}

QString version5Name(int minor, int suite)
{
    if (minor == 0) {
        if (suite == 2)
            return QStringLiteral("Windows 2000 Advanced");
        if (suite == 128)
            return QStringLiteral("Windows 2000 Data center");
        return QStringLiteral("Windows 2000");
    }
    if (minor == 1) {
        if (suite == 0)
            return QStringLiteral("Windows XP Professional");
        if (suite == 512)
            return QStringLiteral("Windows XP Home");
        return QStringLiteral("Windows XP");
    }
    if (minor == 2) {
        switch (suite) {
        case 0:
            return QStringLiteral("Windows Server 2003 Standard");
        case 2:
            return QStringLiteral("Windows Server 2003 Enterprise");
        case 128:
            return QStringLiteral("Windows Server 2003 Data center");
        case 1024:
            return QStringLiteral("Windows Server 2003 Web Edition");
        default:
            return QStringLiteral("Windows Server 2003");
        }
    }
    return {};
}

QString version6Name(const VersionRecord &r)
{
    const QString edition = EditionWord(r.editionCode);
    const bool server = r.productType == 3;
    switch (r.minor) {
    case 0:
        return (server ? QStringLiteral("Windows Server 2008 ") : QStringLiteral("Windows Vista ")) + edition;
    case 1:
        return (server ? QStringLiteral("Windows Server 2008 R2 ") : QStringLiteral("Windows 7 ")) + edition;
    case 2:
        return QStringLiteral("Windows 8");
    default:
        return edition;
    }
}

QString ntFamilyName(const VersionRecord &r)
{
    QString name;
    switch (r.major) {
    case 3:
        return QStringLiteral("Windows NT 3.51");
    case 4:
        return QStringLiteral("Windows NT 4.0");
    case 5:
        name = version5Name(r.minor, r.suiteMask);
        break;
    case 6:
        name = version6Name(r);
        break;
    default:
        return {};
    }
    if (r.servicePackMajor > 0) {
        name += QStringLiteral(" Service Pack ") + QString::number(r.servicePackMajor);
        if (r.servicePackMinor > 0)
            name += u'.' + QString::number(r.servicePackMinor);
    }
    return name;
}

QString versionSuffix(const QString &numbers)
{
    return QStringLiteral(" [Version: ") + numbers + u']';
}

} // namespace

QString OperatingSystemName(const VersionRecord &r)
{
    QString name;
    switch (r.platformId) {
    case 0:
        name = QStringLiteral("DOS");
        break;
    case 1:
        name = consumerFamilyName(r.minor);
        break;
    case 2:
        name = ntFamilyName(r);
        break;
    default:
        name = QStringLiteral("Unknown System Version!");
        break;
    }
    return name + versionSuffix(QStringLiteral("%1.%2.%3").arg(r.major).arg(r.minor).arg(r.build));
}

QString LinuxOperatingSystemName(const QString &prettyName, const QString &kernelRelease)
{
    const QString name = prettyName.trimmed().isEmpty() ? QStringLiteral("Linux") : prettyName.trimmed();
    return name + versionSuffix(kernelRelease.trimmed());
}

namespace {

// Value of a shell-style assignment as os-release writes it: quoted with " or ', or bare.
QString unquoteValue(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        const bool doubleQuoted = value.front() == u'"';
        value = value.mid(1, value.size() - 2);
        if (doubleQuoted) {
            QString plain;
            for (qsizetype i = 0; i < value.size(); ++i) {
                if (value[i] == u'\\' && i + 1 < value.size())
                    ++i;
                plain += value[i];
            }
            value = plain;
        }
    }
    return value;
}

} // namespace

QString PrettyNameFromOsRelease(const QByteArray &osRelease)
{
    QString pretty;
    QString plainName;
    for (const QByteArray &rawLine : osRelease.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1String("PRETTY_NAME=")))
            pretty = unquoteValue(line.mid(12));
        else if (line.startsWith(QLatin1String("NAME=")))
            plainName = unquoteValue(line.mid(5));
    }
    return pretty.isEmpty() ? plainName : pretty;
}

QString OperatingSystemName()
{
    QByteArray osRelease;
    for (const char *path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile file(QString::fromLatin1(path));
        if (file.open(QIODevice::ReadOnly)) {
            osRelease = file.readAll();
            break;
        }
    }
    QString release;
    struct utsname names;
    if (::uname(&names) == 0)
        release = QString::fromLocal8Bit(names.release);
    else
        release = QSysInfo::kernelVersion();
    return LinuxOperatingSystemName(PrettyNameFromOsRelease(osRelease), release);
}

QString DescribeSystem(const QString &name, int addressBits)
{
    const int bits = addressBits == 64 ? 64 : 32;
    return name + u'[' + QString::number(bits) + QStringLiteral("位]");
}

int SystemAddressBits()
{
    // The machine may be 64-bit while this program is a 32-bit build: ask the running kernel first.
    if (QSysInfo::currentCpuArchitecture().contains(QLatin1String("64")))
        return 64;
    return sizeof(void *) == 8 ? 64 : 32;
}

const QString &OsDescription()
{
    static const QString description = DescribeSystem(OperatingSystemName(), SystemAddressBits());
    return description;
}
