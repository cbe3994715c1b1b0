#include "core/search/givenaddress.h"

#include <QRegularExpression>

GivenAddress CheckGivenAddress(const QString &typed)
{
    GivenAddress given;
    const QString text = typed.trimmed();
    if (text.isEmpty()) {
        given.refusal = GivenAddress::Refusal::Empty;
        return given;
    }
    // A scheme written out is taken at its word; without one, the text is a host and a path.
    static const QRegularExpression schemed(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    const QRegularExpressionMatch match = schemed.match(text);
    const bool hostAndPort = match.hasMatch() && text.mid(match.capturedLength()).front().isDigit();
    const QUrl url = match.hasMatch() && !hostAndPort
                         ? QUrl(text, QUrl::StrictMode)
                         : QUrl(QStringLiteral("http://") + text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    const bool web = scheme == u"http" || scheme == u"https";
    if (match.hasMatch() && !hostAndPort && !web && scheme != u"file") {
        given.refusal = GivenAddress::Refusal::Scheme;
        given.scheme = match.captured(1).toLower();
        return given;
    }
    if (!url.isValid() || (web && url.host().isEmpty()) || (!web && url.path().isEmpty()) ||
        text.contains(u' ')) {
        given.refusal = GivenAddress::Refusal::NotAnAddress;
        return given;
    }
    given.url = url;
    return given;
}
