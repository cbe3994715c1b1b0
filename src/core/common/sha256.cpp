#include "core/common/sha256.h"

#include <QFile>
#include <openssl/evp.h>

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

QByteArray Sha256::result() const
{
    // The running context stays as it is: the digest is taken from a copy.
    EVP_MD_CTX *copy = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX_copy_ex(copy, m_context->ctx);
    EVP_DigestFinal_ex(copy, digest, &length);
    EVP_MD_CTX_free(copy);
    return QByteArray(reinterpret_cast<const char *>(digest), static_cast<qsizetype>(length));
}

QString Sha256::hexResult() const
{
    return QString::fromLatin1(result().toHex());
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
