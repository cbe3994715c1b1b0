#include "core/references/identifiers.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

bool isResolverHost(const QString &host)
{
    return host == u"doi.org" || host == u"dx.doi.org" || host == u"www.doi.org";
}

// "https://doi.org/10.1/x", "doi.org/10.1/x": the path of the address, decoded; empty for other hosts.
// The bool says whether the text was a resolver address at all.
bool resolverPath(const QString &text, QString *path)
{
    static const QRegularExpression address(
        QStringLiteral("^(?:https?://)?((?:www\\.|dx\\.)?doi\\.org)(/[^?#]*)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = address.match(text);
    if (!m.hasMatch() || !isResolverHost(m.captured(1).toLower()))
        return false;
    *path = m.captured(2).mid(1);
    return true;
}

// "doi:", "DOI: ", "info:doi/", "urn:doi:" and the rest after it; the bool says whether one was there.
bool withoutDoiPrefix(const QString &text, QString *rest)
{
    static const QRegularExpression prefix(QStringLiteral("^(?:doi\\s*:\\s*|info:doi/|urn:doi:)"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = prefix.match(text);
    if (!m.hasMatch())
        return false;
    *rest = text.mid(m.capturedLength());
    return true;
}

bool hasPercentEscape(const QString &text)
{
    static const QRegularExpression escape(QStringLiteral("%[0-9A-Fa-f]{2}"));
    return text.contains(escape);
}

DoiFault checkDoi(const QString &doi)
{
    static const QRegularExpression prefix(QStringLiteral("^10\\.[0-9]{4,9}(?:\\.[0-9]+)*/"));
    if (doi.isEmpty())
        return DoiFault::Empty;
    for (QChar c : doi) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            return DoiFault::ControlCharacter;
        if (c.isSpace())
            return DoiFault::WhiteSpace;
    }
    const QRegularExpressionMatch m = prefix.match(doi);
    if (!m.hasMatch())
        return DoiFault::NoPrefix;
    return m.capturedLength() == doi.size() ? DoiFault::NoSuffix : DoiFault::None;
}

} // namespace

DoiRead ReadDoi(const QString &text)
{
    QString doi = text.trimmed();
    QString path;
    if (resolverPath(doi, &path))
        doi = path;
    else
        withoutDoiPrefix(doi, &doi);
    if (hasPercentEscape(doi)) {
        doi = QUrl::fromPercentEncoding(doi.toUtf8());
        if (doi.contains(QChar::ReplacementCharacter))
            return {QString(), DoiFault::BadEncoding};
    }
    const DoiFault fault = checkDoi(doi);
    return {fault == DoiFault::None ? doi : QString(), fault};
}

bool ClaimsToBeDoi(const QString &text)
{
    const QString trimmed = text.trimmed();
    QString ignored;
    return trimmed.startsWith(QStringLiteral("10.")) || resolverPath(trimmed, &ignored) ||
           withoutDoiPrefix(trimmed, &ignored);
}

QString DoiKey(const QString &doi)
{
    return doi.toLower();
}

namespace {

const QRegularExpression &arxivForm()
{
    // New style since 2007 (four digits after the point until 2014, five since); old style: an archive,
    // perhaps a subject class, "/" and year, month and number.
    static const QRegularExpression form(
        QStringLiteral("^(?:[0-9]{2}(?:0[1-9]|1[0-2])\\.[0-9]{4,5}|[a-z]+(?:-[a-z]+)*(?:\\.[A-Z]{2})?/"
                       "[0-9]{2}(?:0[1-9]|1[0-2])[0-9]{3})(?:v[1-9][0-9]*)?$"));
    return form;
}

// The identifier part of "arXiv:…" or of an arxiv.org abs/pdf address; the text itself otherwise.
QString arxivCandidate(const QString &text, bool *claimed)
{
    static const QRegularExpression prefix(QStringLiteral("^arxiv:\\s*"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression address(
        QStringLiteral(
            "^(?:https?://)?(?:www\\.|export\\.)?arxiv\\.org/(?:abs|pdf)/([^?#]+?)(?:\\.pdf)?/?(?:[?#].*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    *claimed = true;
    if (const QRegularExpressionMatch m = prefix.match(text); m.hasMatch())
        return text.mid(m.capturedLength());
    if (const QRegularExpressionMatch m = address.match(text); m.hasMatch())
        return m.captured(1);
    *claimed = false;
    return text;
}

} // namespace

QString ReadArxivId(const QString &text)
{
    bool claimed = false;
    const QString id = arxivCandidate(text.trimmed(), &claimed);
    return arxivForm().match(id).hasMatch() ? id : QString();
}

bool ClaimsToBeArxivId(const QString &text)
{
    bool claimed = false;
    arxivCandidate(text.trimmed(), &claimed);
    return claimed;
}

QString ArxivKey(const QString &id)
{
    static const QRegularExpression version(QStringLiteral("v[0-9]+$"));
    QString key = id.toLower();
    key.remove(version);
    return key;
}

QString ArxivIdOfDoi(const QString &doi)
{
    static const QRegularExpression arxiv(QStringLiteral("^10\\.48550/arxiv\\.(.+)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = arxiv.match(doi);
    return m.hasMatch() ? ReadArxivId(m.captured(1)) : QString();
}

QString DoiFaultText(DoiFault fault)
{
    switch (fault) {
    case DoiFault::None:
        break;
    case DoiFault::Empty:
        return QStringLiteral("is empty");
    case DoiFault::NoPrefix:
        return QStringLiteral("does not start with 10., a registrant code and /");
    case DoiFault::NoSuffix:
        return QStringLiteral("has nothing after the registrant code");
    case DoiFault::WhiteSpace:
        return QStringLiteral("holds white space");
    case DoiFault::ControlCharacter:
        return QStringLiteral("holds a control character");
    case DoiFault::BadEncoding:
        return QStringLiteral("is percent-encoded but not as UTF-8");
    }
    return QString();
}
