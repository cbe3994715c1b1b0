#include "common/sha256.h"

#include <QFile>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <openssl/evp.h>
#include <thread>

struct Sha256::Context
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : m_context(std::make_unique<Context>())
{
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset()
{
    EVP_DigestInit_ex(m_context->ctx, EVP_sha256(), nullptr);
}

void Sha256::addData(const char *data, qint64 length)
{
    if (length > 0)
        EVP_DigestUpdate(m_context->ctx, data, static_cast<size_t>(length));
}

QString Sha256::hexResult() const
{
    // The running context stays as it is: the digest is taken from a copy.
    EVP_MD_CTX *copy = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX_copy_ex(copy, m_context->ctx);
    EVP_DigestFinal_ex(copy, digest, &length);
    EVP_MD_CTX_free(copy);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), length).toHex());
}

QString Sha256OfFile(const QString &path, const std::atomic_bool *cancel)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Sha256 hash;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        if (cancel && cancel->load())
            return {};
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (n == 0)
            break;
        hash.addData(buffer.constData(), n);
    }
    return hash.hexResult();
}

namespace {
constexpr qint64 kInlineBytes = 1024 * 1024;
}

struct StreamSha256::Worker
{
    std::mutex lock;
    std::condition_variable wake;
    std::deque<QByteArray> pieces;
    bool ended = false;
    std::thread thread;
};

StreamSha256::StreamSha256() = default;

StreamSha256::~StreamSha256()
{
    finish();
}

void StreamSha256::add(const QByteArray &piece)
{
    if (!m_worker && m_inline + piece.size() <= kInlineBytes) {
        m_hash.addData(piece);
        m_inline += piece.size();
        return;
    }
    if (!m_worker) {
        m_worker = std::make_unique<Worker>();
        Worker *w = m_worker.get();
        Sha256 *hash = &m_hash;
        w->thread = std::thread([w, hash] {
            std::unique_lock<std::mutex> guard(w->lock);
            for (;;) {
                w->wake.wait(guard, [w] { return w->ended || !w->pieces.empty(); });
                if (w->pieces.empty())
                    return;
                const QByteArray next = std::move(w->pieces.front());
                w->pieces.pop_front();
                guard.unlock();
                hash->addData(next);
                guard.lock();
            }
        });
    }
    {
        const std::lock_guard<std::mutex> guard(m_worker->lock);
        m_worker->pieces.push_back(piece);
    }
    m_worker->wake.notify_one();
}

QString StreamSha256::finish()
{
    if (m_worker) {
        {
            const std::lock_guard<std::mutex> guard(m_worker->lock);
            m_worker->ended = true;
        }
        m_worker->wake.notify_one();
        if (m_worker->thread.joinable())
            m_worker->thread.join();
        m_worker.reset();
    }
    return m_hash.hexResult();
}
