#include "core/common/rangerequest.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace {

// A run of decimal digits; one too long for 63 bits lies past the end of any body.
std::optional<qint64> position(const QByteArray &text)
{
    if (text.isEmpty())
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    if (text.size() > 18)
        return std::numeric_limits<qint64>::max();
    return text.toLongLong();
}

// Strong comparison: a weak tag never names the same bytes.
bool sameValidator(const QByteArray &ifRange, const QByteArray &etag, const QByteArray &lastModified)
{
    if (ifRange.startsWith('"') || ifRange.startsWith("W/"))
        return !etag.isEmpty() && !etag.startsWith("W/") && ifRange == etag;
    return !lastModified.isEmpty() && ifRange == lastModified.trimmed();
}

// The answer to the one span "from-to" ("-n": the last n bytes) of a body of size bytes: the whole body
// when the span does not read as one.
RangeAnswer spanAnswer(const QByteArray &from, const QByteArray &to, qint64 size)
{
    RangeAnswer whole;
    whole.size = size;
    RangeAnswer answer = whole;
    if (from.isEmpty()) {
        const std::optional<qint64> suffix = position(to);
        if (!suffix)
            return whole;
        if (*suffix == 0 || size == 0) {
            answer.kind = RangeAnswer::Kind::Unsatisfiable;
            return answer;
        }
        answer.kind = RangeAnswer::Kind::Partial;
        answer.first = std::max<qint64>(0, size - *suffix);
        answer.last = size - 1;
        return answer;
    }
    const std::optional<qint64> first = position(from);
    const std::optional<qint64> last = to.isEmpty() ? std::optional<qint64>(size - 1) : position(to);
    if (!first || !last || (!to.isEmpty() && *last < *first))
        return whole;
    if (*first >= size) {
        answer.kind = RangeAnswer::Kind::Unsatisfiable;
        return answer;
    }
    answer.kind = RangeAnswer::Kind::Partial;
    answer.first = *first;
    answer.last = std::min(*last, size - 1);
    return answer;
}

} // namespace

QByteArray RangeAnswer::contentRange() const
{
    if (kind == Kind::Partial)
        return "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last) + '/' +
               QByteArray::number(size);
    return "bytes */" + QByteArray::number(size);
}

RangeAnswer RangeAnswer::read(const QByteArray &range, const QByteArray &ifRange, qint64 size,
                              const QByteArray &etag, const QByteArray &lastModified)
{
    RangeAnswer whole;
    whole.size = size;
    const QByteArray value = range.trimmed();
    const qsizetype eq = value.indexOf('=');
    if (eq < 0 || value.left(eq).trimmed().toLower() != "bytes")
        return whole;
    if (!ifRange.trimmed().isEmpty() && !sameValidator(ifRange.trimmed(), etag, lastModified))
        return whole;
    const QByteArray set = value.mid(eq + 1).trimmed();
    if (set.contains(','))
        return whole; // several ranges would need a multipart answer
    const qsizetype dash = set.indexOf('-');
    if (dash < 0)
        return whole;
    return spanAnswer(set.left(dash).trimmed(), set.mid(dash + 1).trimmed(), size);
}
