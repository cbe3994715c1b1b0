#include "core/cache/anchoredpath.h"

#include "core/common/disklooks.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

QString AnchoredPath::path() const
{
    QString result = anchor;
    for (const QString &step : steps) {
        if (!result.endsWith(u'/'))
            result += u'/';
        result += step;
    }
    if (result.size() > 1 && result.endsWith(u'/'))
        result.chop(1);
    return result;
}

AnchoredPath AnchoredPath::child(const QString &name) const
{
    AnchoredPath result = *this;
    result.steps.append(name);
    return result;
}

AnchoredPath AnchoredPath::parent() const
{
    AnchoredPath result = *this;
    if (!result.steps.isEmpty())
        result.steps.removeLast();
    return result;
}

AnchoredPath AnchoredPath::fromAbsolute(const QString &path)
{
    return {QStringLiteral("/"), path.split(u'/', Qt::SkipEmptyParts)};
}

AnchoredPath AnchoredPath::lastComponentGuarded(const QString &path)
{
    QString text = path;
    while (text.size() > 1 && text.endsWith(u'/'))
        text.chop(1);
    const qsizetype slash = text.lastIndexOf(u'/');
    if (slash < 0)
        return {QStringLiteral("."), {text}};
    const QString name = text.mid(slash + 1);
    if (name.isEmpty())
        return {text, {}};
    return {slash == 0 ? QStringLiteral("/") : text.left(slash), {name}};
}

std::optional<AnchoredPath> anchorBelow(const QList<AnchoredPath> &roots, const QString &path)
{
    const AnchoredPath *best = nullptr;
    qsizetype bestLength = -1;
    for (const AnchoredPath &root : roots) {
        QString prefix = root.path();
        if (!prefix.endsWith(u'/'))
            prefix += u'/';
        if (path.size() > prefix.size() && path.startsWith(prefix) && prefix.size() > bestLength) {
            best = &root;
            bestLength = prefix.size();
        }
    }
    if (!best)
        return std::nullopt;
    const QStringList rest = path.mid(bestLength).split(u'/');
    for (const QString &part : rest) {
        if (part.isEmpty() || part == u"." || part == u"..")
            return std::nullopt;
    }
    AnchoredPath result = *best;
    result.steps += rest;
    return result;
}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

UniqueFd openSubfolder(int folderFd, const QString &name, int *error)
{
    const QByteArray encoded = QFile::encodeName(name);
    if (encoded.isEmpty() || encoded.contains('/') || encoded == "." || encoded == "..") {
        if (error)
            *error = EINVAL;
        return {};
    }
    const int fd = ::openat(folderFd, encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && error)
        *error = errno;
    return UniqueFd(fd);
}

UniqueFd openAnchoredFolder(const AnchoredPath &folder, int *error)
{
    countDiskLook();
    UniqueFd current(
        ::open(QFile::encodeName(folder.anchor).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!current.valid()) {
        if (error)
            *error = errno;
        return {};
    }
    for (const QString &step : folder.steps) {
        UniqueFd next = openSubfolder(current.get(), step, error);
        if (!next.valid())
            return {};
        current = std::move(next);
    }
    return current;
}
