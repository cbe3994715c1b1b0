#include "core/references/findertemplate.h"

#include "core/library/linkimport.h"

#include <QUrl>
#include <functional>

QString TemplateFaultText(TemplateFault fault)
{
    switch (fault) {
    case TemplateFault::None:
        break;
    case TemplateFault::NoPlaceholder:
        return QStringLiteral("names neither {doi} nor {arxiv}");
    case TemplateFault::UnknownPlaceholder:
        return QStringLiteral("names a placeholder other than {doi} and {arxiv}");
    case TemplateFault::UnclosedBrace:
        return QStringLiteral("has a { without its }");
    case TemplateFault::NotHttpAddress:
        return QStringLiteral("does not make an http or https address");
    case TemplateFault::NeedsDoi:
        return QStringLiteral("must name {doi} and nothing else");
    }
    return QString();
}

namespace {

// The template in pieces: the text between placeholders, and each "{name}" with whether it stands in
// the query or the fragment. The check says whether the template is broken.
using Piece = std::function<void(const QString &text, const QString *placeholder, bool inQuery)>;

TemplateCheck walkTemplate(const QString &addressTemplate, const Piece &piece)
{
    TemplateCheck check;
    qsizetype query = -1;
    for (qsizetype j = 0; j < addressTemplate.size() && query < 0; ++j) {
        if (addressTemplate.at(j) == u'?' || addressTemplate.at(j) == u'#')
            query = j;
    }
    qsizetype i = 0;
    while (i < addressTemplate.size()) {
        const qsizetype open = addressTemplate.indexOf(u'{', i);
        const QString before = addressTemplate.mid(i, open < 0 ? -1 : open - i);
        piece(before, nullptr, false);
        if (open < 0)
            break;
        const qsizetype close = addressTemplate.indexOf(u'}', open);
        if (close < 0)
            return {TemplateFault::UnclosedBrace, addressTemplate.mid(open)};
        const QString name = addressTemplate.mid(open + 1, close - open - 1);
        if (name != u"doi" && name != u"arxiv")
            return {TemplateFault::UnknownPlaceholder, name};
        check.usesDoi = check.usesDoi || name == u"doi";
        check.usesArxiv = check.usesArxiv || name == u"arxiv";
        piece(QString(), &name, query >= 0 && query < open);
        i = close + 1;
    }
    if (!check.usesDoi && !check.usesArxiv)
        check.fault = TemplateFault::NoPlaceholder;
    return check;
}

QString encoded(const QString &value, bool inQuery)
{
    // Unreserved characters are never encoded; these are kept as well, each where it means nothing.
    const QByteArray kept = inQuery ? QByteArrayLiteral("/:@!$'()*,;") : QByteArrayLiteral("/:@!$&'()*+,;=");
    return QString::fromLatin1(QUrl::toPercentEncoding(value, kept));
}

} // namespace

TemplateCheck CheckAddressTemplate(const QString &addressTemplate)
{
    TemplateCheck check = walkTemplate(addressTemplate, [](const QString &, const QString *, bool) {});
    if (check.ok() && !IsWebAddress(ExpandAddressTemplate(addressTemplate, QStringLiteral("10.1000/x"),
                                                          QStringLiteral("2101.00001")))) {
        check.fault = TemplateFault::NotHttpAddress;
        check.detail = addressTemplate;
    }
    return check;
}

TemplateCheck CheckResolverTemplate(const QString &resolverTemplate)
{
    TemplateCheck check = CheckAddressTemplate(resolverTemplate);
    if (check.ok() && (!check.usesDoi || check.usesArxiv)) {
        check.fault = TemplateFault::NeedsDoi;
        check.detail = resolverTemplate;
    }
    return check;
}

QString ExpandAddressTemplate(const QString &addressTemplate, const QString &doi, const QString &arxiv)
{
    QString out;
    bool missing = false;
    const TemplateCheck check =
        walkTemplate(addressTemplate, [&](const QString &text, const QString *placeholder, bool inQuery) {
            if (!placeholder) {
                out += text;
                return;
            }
            const QString &value = *placeholder == u"doi" ? doi : arxiv;
            missing = missing || value.isEmpty();
            out += encoded(value, inQuery);
        });
    if (!check.ok() || missing)
        return QString();
    out.squeeze(); // a row of a long list keeps it as its address
    return out;
}

QString ArxivPdfAddress(const QString &arxivId)
{
    return arxivId.isEmpty() ? QString() : QStringLiteral("https://arxiv.org/pdf/") + encoded(arxivId, false);
}

QString DoiResolverAddress(const QString &doi, const QString &resolverTemplate)
{
    return ExpandAddressTemplate(resolverTemplate, doi, QString());
}
