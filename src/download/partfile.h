#pragma once

#include <QFile>
#include <QString>

// The body of a transfer is written under a temporary name beside its target and moved into place
// only when complete, so a broken or stopped transfer never leaves a partial file under the name
// that the skip policy would take for a finished download.
class PartFile
{
public:
    PartFile() = default;
    ~PartFile(); // discards whatever was not committed
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    // Creates the temporary file in the target's folder.
    bool open(const QString &targetPath);
    bool isOpen() const { return m_file.isOpen(); }
    bool write(const QByteArray &data);
    qint64 size() const { return m_written; }
    // Moves the data over the target (replacing what stands there); false when that fails.
    bool commit();
    // Deletes the temporary file.
    void discard();
    QString target() const { return m_target; }
    QString temporaryPath() const { return m_tempPath; }

private:
    QString m_target;
    QFile m_file;
    QString m_tempPath;
    qint64 m_written = 0;
};

// A two-byte mark that reserves a target name while its slot runs (created only where no file is).
bool createPlaceholder(const QString &path);
// Removes the mark, but only while it is still the mark (never a finished or foreign file).
void removePlaceholder(const QString &path);
