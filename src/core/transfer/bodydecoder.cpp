#include "core/transfer/bodydecoder.h"

#include <zlib.h>

struct BodyDecoder::Stream
{
    z_stream z{};
    bool open = false;
    ~Stream()
    {
        if (open)
            inflateEnd(&z);
    }
};

BodyDecoder::Coding BodyDecoder::codingOf(const QByteArray &contentEncoding)
{
    const QByteArray value = contentEncoding.trimmed().toLower();
    if (value.isEmpty() || value == "identity")
        return Coding::Identity;
    if (value == "gzip" || value == "x-gzip")
        return Coding::Gzip;
    if (value == "deflate")
        return Coding::Deflate;
    return Coding::Unsupported;
}

BodyDecoder::BodyDecoder(Coding coding) : m_coding(coding)
{
    if (coding == Coding::Gzip || coding == Coding::Deflate)
        restart(false);
}

BodyDecoder::~BodyDecoder() = default;

bool BodyDecoder::restart(bool raw)
{
    m_stream = std::make_unique<Stream>();
    // gzip: 16 + window bits; deflate: the zlib wrapper, or a raw stream as some servers send it.
    const int bits = m_coding == Coding::Gzip ? 16 + MAX_WBITS : (raw ? -MAX_WBITS : MAX_WBITS);
    m_stream->open = inflateInit2(&m_stream->z, bits) == Z_OK;
    m_ended = false;
    m_raw = raw;
    return m_stream->open;
}

int BodyDecoder::inflateGiven(QByteArray *out, bool *notZlib)
{
    z_stream &z = m_stream->z;
    char buffer[64 * 1024];
    int status = Z_OK;
    do {
        z.next_out = reinterpret_cast<Bytef *>(buffer);
        z.avail_out = sizeof(buffer);
        status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_DATA_ERROR && m_coding == Coding::Deflate && !m_started && !m_raw) {
            *notZlib = true;
            return status;
        }
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            return status;
        m_started = true;
        out->append(buffer, static_cast<qsizetype>(sizeof(buffer) - z.avail_out));
    } while (z.avail_out == 0 && status != Z_STREAM_END);
    return status;
}

bool BodyDecoder::feed(const QByteArray &piece, QByteArray *out)
{
    out->clear();
    if (m_coding == Coding::Identity) {
        *out = piece;
        return true;
    }
    if (m_coding == Coding::Unsupported || !m_stream || !m_stream->open)
        return false;
    qsizetype at = 0;
    while (at < piece.size()) {
        if (m_ended) {
            // Another gzip member follows the one that ended.
            if (m_coding != Coding::Gzip || !restart(false))
                return false;
        }
        z_stream &z = m_stream->z;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(piece.constData() + at));
        z.avail_in = static_cast<uInt>(piece.size() - at);
        bool notZlib = false;
        const int status = inflateGiven(out, &notZlib);
        // Not a zlib stream: try it as raw deflate from its first byte.
        if (notZlib)
            return restart(true) && feed(piece, out);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            return false;
        at = piece.size() - z.avail_in;
        if (status == Z_STREAM_END)
            m_ended = true;
        else if (z.avail_in == 0)
            break;
        else if (status == Z_BUF_ERROR)
            return false;
    }
    return true;
}

bool BodyDecoder::complete() const
{
    if (m_coding == Coding::Identity)
        return true;
    return m_ended;
}
