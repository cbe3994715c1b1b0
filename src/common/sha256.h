#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

// SHA-256 through the system's crypto library, which uses the processor's own instructions where it
// has them: a paper is hashed as it arrives, so this runs on the event loop's thread.
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
    // Lower-case hex of what was added since the last reset.
    QString hexResult() const;

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// SHA-256 of a stream that may be large: the first megabyte is hashed at once, the rest on a thread of its
// own while more arrives, so a big paper is hashed alongside its download rather than on the event loop.
class StreamSha256
{
public:
    StreamSha256();
    ~StreamSha256();
    StreamSha256(const StreamSha256 &) = delete;
    StreamSha256 &operator=(const StreamSha256 &) = delete;

    void add(const QByteArray &piece);
    // Waits for what was added to be hashed; the lower-case hex digest. Any thread may call it once.
    QString finish();

private:
    struct Worker;
    Sha256 m_hash;
    qint64 m_inline = 0;
    std::unique_ptr<Worker> m_worker;
};

// Lower-case hex SHA-256 of a file's content; empty when it cannot be read (or when cancel turns true).
QString Sha256OfFile(const QString &path, const std::atomic_bool *cancel = nullptr);
