#pragma once

#include <QByteArray>
#include <memory>

// Undoes the content coding of an answer's body as it streams in (none, gzip or deflate), and says at the
// end whether the coded stream was complete: a compressed body that stops early is not a whole file.
class BodyDecoder
{
public:
    enum class Coding { Identity, Gzip, Deflate, Unsupported };

    // From the Content-Encoding header's value.
    static Coding codingOf(const QByteArray &contentEncoding);

    explicit BodyDecoder(Coding coding = Coding::Identity);
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder &) = delete;
    BodyDecoder &operator=(const BodyDecoder &) = delete;

    Coding coding() const { return m_coding; }
    // The decoded bytes of the next piece; false when the data is not valid for its coding.
    bool feed(const QByteArray &piece, QByteArray *out);
    // The coded stream reached its proper end (always true without a coding).
    bool complete() const;

private:
    struct Stream;
    bool restart(bool raw);
    // Inflates the input the stream was given onto out, as far as it goes: inflate()'s last status.
    // notZlib: a deflate body whose first bytes are no zlib stream (it may be raw deflate).
    int inflateGiven(QByteArray *out, bool *notZlib);

    Coding m_coding;
    std::unique_ptr<Stream> m_stream;
    bool m_ended = false; // the last member ended and nothing followed
    bool m_started = false;
    bool m_raw = false;
};
