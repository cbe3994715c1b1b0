#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// The extended version record of the Windows family, kept so the long system names of that family
// stay exactly as users know them from the program's earlier releases.
struct VersionRecord
{
    int platformId = 2; // 0 DOS, 1 the 9x consumer family, 2 the NT family
    int major = 0;
    int minor = 0;
    int build = 0;
    int servicePackMajor = 0;
    int servicePackMinor = 0;
    int suiteMask = 0;
    int productType = 1; // 1 workstation, 2 domain controller, 3 server
    std::uint32_t editionCode = 0;
};

// Edition code of an unlicensed product.
constexpr std::uint32_t kUnlicensedEdition = 0xABCDABCDu;

// Edition word of a version-6 system; empty for a code that is not known.
QString EditionWord(std::uint32_t editionCode);

// Long name of a system described by a version record, ending in " [Version: major.minor.build]".
QString OperatingSystemName(const VersionRecord &record);

// Linux: the os-release pretty name and the kernel release in the same shape,
// e.g. "Debian GNU/Linux 12 (bookworm) [Version: 6.1.0-18-amd64]".
QString LinuxOperatingSystemName(const QString &prettyName, const QString &kernelRelease);

// PRETTY_NAME of an os-release file (quotes and escapes removed); NAME when it is missing; else empty.
QString PrettyNameFromOsRelease(const QByteArray &osRelease);

// Long name of the running system.
QString OperatingSystemName();

// name + "[" + bits + "位]"; any width other than 32 or 64 counts as 32.
QString DescribeSystem(const QString &name, int addressBits);

// Address width of the running system in bits: 64 or 32.
int SystemAddressBits();

// The description of the running system, computed on first use and kept for the whole run.
const QString &OsDescription();
