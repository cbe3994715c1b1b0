#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

// SHA-256 through the system's crypto library, which uses the processor's own instructions where it
// has them (several times as fast as a portable implementation).
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void reset();
    void addData(const char *data, qint64 length);
    void addData(const QByteArray &data) { addData(data.constData(), data.size()); }
    // The 32 bytes of the digest of what was added since the last reset.
    QByteArray result() const;
    // Lower-case hex of what was added since the last reset.
    QString hexResult() const;

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// Lower-case hex SHA-256 of a file's content; empty when it cannot be read (or when cancel turns true).
QString Sha256OfFile(const QString &path, const std::atomic_bool *cancel = nullptr);
