#include "core/common/gbk.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace {

QByteArray convert(const char *to, const char *from, const QByteArray &input)
{
    if (input.isEmpty())
        return {};
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    std::vector<char> out(static_cast<size_t>(input.size()) * 4 + 16);
    QByteArray source = input;
    char *in = source.data();
    size_t inLeft = static_cast<size_t>(source.size());
    QByteArray result;
    while (inLeft > 0) {
        char *outPtr = out.data();
        size_t outLeft = out.size();
        size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        result.append(out.data(), static_cast<qsizetype>(out.size() - outLeft));
        if (rc != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // An invalid or truncated sequence: keep going past one byte rather than losing the rest.
        result.append(from[0] == 'U' ? QByteArray("?") : QByteArray("\xEF\xBF\xBD"));
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    return result;
}

} // namespace

namespace gbk {

QByteArray encode(const QString &text)
{
    return convert("GB18030", "UTF-8", text.toUtf8());
}

QString decode(const QByteArray &bytes)
{
    return QString::fromUtf8(convert("UTF-8", "GB18030", bytes));
}

int charByteLength(const QString &text, qsizetype i)
{
    const char16_t c = text.at(i).unicode();
    if (c < 0x80)
        return 1;
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
        return 4;
    // One converter per thread: names are measured character by character in long lists.
    thread_local iconv_t cd = iconv_open("GB18030", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return 2;
    char16_t unit = c;
    char *in = reinterpret_cast<char *>(&unit);
    size_t inLeft = sizeof(unit);
    char out[8];
    char *outPtr = out;
    size_t outLeft = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
        return 1; // not representable: it would stand as one '?'
    return static_cast<int>(sizeof(out) - outLeft);
}

QString cutToBytes(const QString &text, qsizetype maxBytes)
{
    if (text.size() * 4 <= maxBytes)
        return text; // no character takes more than four bytes
    qsizetype used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const int len = charByteLength(text, i);
        if (used + len > maxBytes)
            break;
        used += len;
        i += (len == 4 && text.at(i).isHighSurrogate()) ? 2 : 1;
    }
    return text.left(i);
}

} // namespace gbk
