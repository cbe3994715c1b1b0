#include "core/library/heldcheck.h"

#include "core/common/filenames.h"
#include "core/common/sha256.h"

#include <QFile>
#include <QFileInfo>

QString FileSha256(const QString &path, const std::atomic_bool *cancel)
{
    return Sha256OfFile(path, cancel);
}

HeldVerdict CheckHeldFile(const HeldFile &held, const std::atomic_bool *cancel)
{
    if (held.isEmpty() || held.sha256.isEmpty())
        return HeldVerdict::NotRecorded;
    const QFileInfo file(held.filePath);
    if (file.isSymLink() || !file.isFile())
        return HeldVerdict::Missing;
    // The size settles most changed files without reading them.
    if (held.size >= 0 && file.size() != held.size)
        return HeldVerdict::Changed;
    const QString sha = FileSha256(held.filePath, cancel);
    if (sha.isEmpty())
        return HeldVerdict::Missing;
    return sha.compare(held.sha256, Qt::CaseInsensitive) == 0 ? HeldVerdict::Held : HeldVerdict::Changed;
}
