#include "core/sites/ruleaddress.h"

#include <QUrl>

namespace ruleaddress {

namespace {

// What a replacement writes before its first backreference: what the address begins with when the
// pattern matches at its start. A backreference is what QString::replace takes for one: "\\" and a
// digit from 1 up to the pattern's groups (with a second digit while the number stays a group's).
QString replacementHead(const QString &replacement, int groups)
{
    for (qsizetype i = 0; i + 1 < replacement.size(); ++i) {
        const int group = replacement.at(i + 1).digitValue();
        if (replacement.at(i) == u'\\' && group > 0 && group <= groups)
            return replacement.left(i);
    }
    return replacement;
}

enum class HeadScheme {
    Http,  // http: or https:, in any letter case
    Other, // a scheme of its own (file:, javascript:, data:, a host taken for one: "localhost:8080")
    None,  // a relative reference, which no transfer takes
    Open,  // scheme letters that a backreference goes on with: only the address made can tell
};

// The scheme of an address that begins with `head`, read as QUrl reads one: letters, then letters,
// digits, "+", "-" or ".", up to the first ":". A "/", "?" or "#" (or any other character) before it
// makes the address relative, and its ":" belongs to a host, a port, a user name or a path.
HeadScheme schemeOfHead(const QString &head, bool wholeReplacement)
{
    for (qsizetype i = 0; i < head.size(); ++i) {
        const char16_t c = head.at(i).unicode();
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        if (c == u':' && i > 0) {
            const QString name = head.left(i).toLower();
            return name == u"http" || name == u"https" ? HeadScheme::Http : HeadScheme::Other;
        }
        const bool later = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
        if (!letter && (i == 0 || !later))
            return HeadScheme::None;
    }
    return wholeReplacement ? HeadScheme::None : HeadScheme::Open;
}

bool anchoredAtStart(const QString &pattern)
{
    return pattern.startsWith(u'^') || pattern.startsWith(QStringLiteral("\\A"));
}

// False for a replacement that names another scheme than http(s) at its start, and for one that
// leaves a relative reference where the pattern takes the start of the address. A ":" further on
// (a port, a user name, a bracketed IPv6 host, a query that quotes an address) names no scheme.
// Whatever a replacement makes is checked again for every address (SiteRules::fileAddress).
} // namespace

bool isHttpAddress(const QString &address)
{
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

bool replacementLeavesHttp(const QRegularExpression &pattern, const QString &replacement)
{
    const QString head = replacementHead(replacement, pattern.captureCount());
    switch (schemeOfHead(head, head.size() == replacement.size())) {
    case HeadScheme::Http:
    case HeadScheme::Open:
        return true;
    case HeadScheme::Other:
        return false;
    case HeadScheme::None:
        break;
    }
    return !anchoredAtStart(pattern.pattern());
}

} // namespace ruleaddress
