#pragma once

#include <QString>

// Address templates of the finders and of the DOI resolver: "{doi}" and "{arxiv}" stand for the paper's
// identifiers, e.g. "https://api.example.org/v2/{doi}?email=me@example.org".

inline const QString DefaultDoiResolverTemplate = QStringLiteral("https://doi.org/{doi}");

enum class TemplateFault {
    None,
    NoPlaceholder,      // names neither {doi} nor {arxiv}
    UnknownPlaceholder, // "{…}" with another name (detail: the name)
    UnclosedBrace,      // "{" without "}"
    NotHttpAddress,     // filled in, it is no http or https address
    NeedsDoi,           // a resolver template without {doi}, or with {arxiv}
};

// English words for a fault, e.g. "names neither {doi} nor {arxiv}".
QString TemplateFaultText(TemplateFault fault);

struct TemplateCheck
{
    TemplateFault fault = TemplateFault::None;
    QString detail;
    bool usesDoi = false;
    bool usesArxiv = false;

    bool ok() const { return fault == TemplateFault::None; }
};

// Whether a finder's template can be used: its placeholders, and what it gives once filled in.
TemplateCheck CheckAddressTemplate(const QString &addressTemplate);
// The same for the DOI resolver's template: it must name {doi} and nothing else.
TemplateCheck CheckResolverTemplate(const QString &resolverTemplate);

// The template filled in. The DOI is percent-encoded as the part of the address it stands in needs: in
// the path its "/" stays, while "?", "#", "%", spaces and the like are encoded; in the query "&", "=",
// "+" and "#" are encoded as well. Empty when the template names a value that is empty (a finder for
// DOIs asked about a paper without one).
QString ExpandAddressTemplate(const QString &addressTemplate, const QString &doi, const QString &arxiv);

// The built-in arXiv finder: the PDF of an arXiv id, "https://arxiv.org/pdf/2101.00001v2".
QString ArxivPdfAddress(const QString &arxivId);
// The DOI's landing page through a resolver template (DefaultDoiResolverTemplate unless the user set
// another); empty without a DOI.
QString DoiResolverAddress(const QString &doi, const QString &resolverTemplate = DefaultDoiResolverTemplate);
