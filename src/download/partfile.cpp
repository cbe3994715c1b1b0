#include "download/partfile.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <utility>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace {
const QByteArray kPlaceholder("\x01\x00", 2);
}

PartFile::~PartFile()
{
    discard();
}

bool PartFile::open(const QString &targetPath)
{
    discard();
    m_target = targetPath;
    const QString folder = QFileInfo(targetPath).path();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = QStringLiteral("%1/.fnpart-%2").arg(folder).arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0'));
        const int fd = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        m_tempPath = name;
        if (!m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
            m_tempPath.clear();
            ::close(fd);
            ::unlink(QFile::encodeName(name).constData());
            return false;
        }
        m_written = 0;
        return true;
    }
    return false;
}

bool PartFile::write(const QByteArray &data)
{
    if (!m_file.isOpen())
        return false;
    if (m_file.write(data) != data.size())
        return false;
    m_written += data.size();
    return true;
}

bool PartFile::commit()
{
    if (!m_file.isOpen())
        return false;
    const bool flushed = m_file.flush();
    const QString temp = std::exchange(m_tempPath, QString());
    m_file.close();
    if (!flushed || m_file.error() != QFileDevice::NoError) {
        ::unlink(QFile::encodeName(temp).constData());
        return false;
    }
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(m_target).constData()) != 0) {
        ::unlink(QFile::encodeName(temp).constData());
        return false;
    }
    return true;
}

void PartFile::discard()
{
    m_file.close();
    if (m_tempPath.isEmpty())
        return;
    const QString temp = std::exchange(m_tempPath, QString());
    ::unlink(QFile::encodeName(temp).constData());
}

bool createPlaceholder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, kPlaceholder.constData(), 2) == 2;
    ::close(fd);
    return ok;
}

void removePlaceholder(const QString &path)
{
    QFile file(path);
    if (QFileInfo(path).isSymLink() || file.size() != 2 || !file.open(QIODevice::ReadOnly))
        return;
    const QByteArray content = file.readAll();
    file.close();
    if (content == kPlaceholder)
        ::unlink(QFile::encodeName(path).constData());
}
