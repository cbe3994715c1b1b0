#include "core/common/safetext.h"

#include <QRegularExpression>
#include <QStringView>

namespace {

template <typename Replace> QString mapUnsafe(const QString &text, Replace replace)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text.at(i);
        // A lone surrogate is kept as it stands; it acts on nothing.
        const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const char32_t code = pair ? QChar::surrogateToUcs4(c, text.at(i + 1)) : c.unicode();
        const qsizetype step = pair ? 2 : 1;
        if (IsUnsafeControl(code))
            result += replace(code);
        else
            result += QStringView(text).mid(i, step);
        i += step;
    }
    return result;
}

} // namespace

bool IsUnsafeControl(char32_t c)
{
    return c <= 0x1F || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

QString StripUnsafeControls(const QString &text)
{
    return mapUnsafe(text, [](char32_t) { return QString(); });
}

QString ShowableText(const QString &text)
{
    return mapUnsafe(text, [](char32_t c) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            return QString(u' ');
        return QString(QChar(0xFFFD));
    });
}

QString WithoutCredentials(const QString &text)
{
    if (!text.contains(u'@'))
        return text;
    // As a URL parser reads a web address: the authority ends at the first "/", "\\", "?" or "#", and
    // the credentials at its last "@".
    static const QRegularExpression userInfo(QStringLiteral("([A-Za-z][A-Za-z0-9+.-]*://)[^/\\\\?#\\s]*@"));
    QString out = text;
    out.replace(userInfo, QStringLiteral("\\1"));
    return out;
}
