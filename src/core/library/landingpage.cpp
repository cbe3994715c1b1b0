#include "core/library/landingpage.h"

#include "core/common/gbk.h"

#include <QHash>
#include <QRegularExpression>

namespace {

constexpr int kMaxValues = 500; // of one name (authors, keywords); more are not a paper's
constexpr int kAbstractLength = 10000;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// The text starts at position i with the word (ASCII, any letter case).
bool startsWithWord(QByteArrayView text, qsizetype i, QByteArrayView word)
{
    if (i + word.size() > text.size())
        return false;
    for (qsizetype k = 0; k < word.size(); ++k) {
        if (lower(text[i + k]) != word[k])
            return false;
    }
    return true;
}

// First position at or after from where the word starts (ASCII, any case); -1 when none.
qsizetype findWord(QByteArrayView text, qsizetype from, QByteArrayView word)
{
    for (qsizetype i = from; i + word.size() <= text.size(); ++i) {
        if (lower(text[i]) == word[0] && startsWithWord(text, i, word))
            return i;
    }
    return -1;
}

const QHash<QString, QChar> &namedEntities()
{
    static const QHash<QString, QChar> names{
        {QStringLiteral("amp"), u'&'},    {QStringLiteral("lt"), u'<'},     {QStringLiteral("gt"), u'>'},
        {QStringLiteral("quot"), u'"'},   {QStringLiteral("apos"), u'\''},  {QStringLiteral("nbsp"), u' '},
        {QStringLiteral("ndash"), u'–'},  {QStringLiteral("mdash"), u'—'},  {QStringLiteral("hellip"), u'…'},
        {QStringLiteral("rsquo"), u'’'},  {QStringLiteral("lsquo"), u'‘'},  {QStringLiteral("ldquo"), u'“'},
        {QStringLiteral("rdquo"), u'”'},  {QStringLiteral("uuml"), u'ü'},   {QStringLiteral("ouml"), u'ö'},
        {QStringLiteral("auml"), u'ä'},   {QStringLiteral("eacute"), u'é'}, {QStringLiteral("egrave"), u'è'},
        {QStringLiteral("aacute"), u'á'}, {QStringLiteral("iacute"), u'í'}, {QStringLiteral("oacute"), u'ó'},
        {QStringLiteral("uacute"), u'ú'}, {QStringLiteral("ccedil"), u'ç'}, {QStringLiteral("ntilde"), u'ñ'},
        {QStringLiteral("szlig"), u'ß'},  {QStringLiteral("copy"), u'©'},   {QStringLiteral("reg"), u'®'},
    };
    return names;
}

// Character references decoded; an unknown or broken one stays as it was written.
QString decodeEntities(const QString &text)
{
    if (!text.contains(u'&'))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const qsizetype semicolon = c == u'&' ? text.indexOf(u';', i + 1) : -1;
        if (semicolon < 0 || semicolon - i > 12) {
            out += c;
            continue;
        }
        const QStringView name = QStringView(text).mid(i + 1, semicolon - i - 1);
        if (name.startsWith(u'#')) {
            bool ok = false;
            const bool hex = name.size() > 1 && (name.at(1) == u'x' || name.at(1) == u'X');
            const uint code = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
                const char32_t wide = code;
                out += QString::fromUcs4(&wide, 1);
                i = semicolon;
                continue;
            }
        } else if (const auto it = namedEntities().constFind(name.toString()); it != namedEntities().cend()) {
            out += it.value();
            i = semicolon;
            continue;
        }
        out += c;
    }
    return out;
}

struct Tag
{
    QByteArray name;                          // "meta" or "link"
    QHash<QByteArray, QByteArray> attributes; // names in lower case, values as written
};

// Reads an attribute's value that starts after its "=" at i, quoted or not; returns the position after it.
qsizetype readValue(QByteArrayView text, qsizetype i, QByteArray *value)
{
    const qsizetype n = text.size();
    while (i < n && isSpace(text[i]))
        ++i;
    if (i < n && (text[i] == '"' || text[i] == '\'')) {
        const char quote = text[i];
        const qsizetype end = text.indexOf(quote, i + 1);
        const qsizetype stop = end < 0 ? n : end;
        *value = text.sliced(i + 1, stop - i - 1).toByteArray();
        return end < 0 ? n : end + 1;
    }
    const qsizetype valueStart = i;
    while (i < n && !isSpace(text[i]) && text[i] != '>')
        ++i;
    *value = text.sliced(valueStart, i - valueStart).toByteArray();
    // "<meta name=x content=y/>": the slash closes the tag (an address keeps its own).
    if (i < n && text[i] == '>' && value->endsWith('/') && value->count('/') == 1)
        value->chop(1);
    return i;
}

// Reads the attributes of a tag whose name ends at i; returns the position after its ">" (or the end).
qsizetype readAttributes(QByteArrayView text, qsizetype i, Tag *tag)
{
    const qsizetype n = text.size();
    while (i < n) {
        while (i < n && (isSpace(text[i]) || text[i] == '/'))
            ++i;
        if (i >= n)
            break;
        if (text[i] == '>')
            return i + 1;
        const qsizetype nameStart = i;
        while (i < n && !isSpace(text[i]) && text[i] != '=' && text[i] != '>' && text[i] != '/')
            ++i;
        QByteArray name = text.sliced(nameStart, i - nameStart).toByteArray().toLower();
        while (i < n && isSpace(text[i]))
            ++i;
        QByteArray value;
        if (i < n && text[i] == '=')
            i = readValue(text, i + 1, &value);
        if (!name.isEmpty() && !tag->attributes.contains(name))
            tag->attributes.insert(name, value);
    }
    return n;
}

// What one name of the page declares, in the order the tags stand.
using Declared = QHash<QString, QStringList>;

QString firstOf(const Declared &d, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        for (const QString &value : d.value(QLatin1String(name))) {
            if (!value.isEmpty())
                return value;
        }
    }
    return {};
}

// Every value of the first name that has any (authors, keywords).
QStringList allOf(const Declared &d, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        QStringList values;
        for (const QString &value : d.value(QLatin1String(name))) {
            if (!value.isEmpty())
                values.append(value);
        }
        if (!values.isEmpty())
            return values;
    }
    return {};
}

QString firstDoi(const Declared &d, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        for (const QString &value : d.value(QLatin1String(name))) {
            const QString doi = DoiOf(value);
            if (!doi.isEmpty())
                return doi;
        }
    }
    return {};
}

// Pages of this field come in UTF-8 or in the Chinese code pages; the page says which in its head.
bool inChineseCodePage(QByteArrayView page)
{
    static const QRegularExpression gb(QStringLiteral("charset\\s*=\\s*[\"']?\\s*(gb2312|gbk|gb18030)"),
                                       QRegularExpression::CaseInsensitiveOption);
    return gb.match(QString::fromLatin1(page.first(std::min<qsizetype>(page.size(), 4096)))).hasMatch();
}

bool isScholarlyName(const QString &name)
{
    return name.startsWith(u"citation_") || name.startsWith(u"dc.") || name.startsWith(u"dcterms.") ||
           name.startsWith(u"prism.");
}

QString textOf(const QByteArray &raw, bool chinese)
{
    return chinese ? gbk::decode(raw) : QString::fromUtf8(raw);
}

// A value as the page means it: its code page, character references and spacing undone.
QString decodedValue(const QByteArray &raw, bool chinese)
{
    return TidyCellText(decodeEntities(textOf(raw, chinese)));
}

// What the tags of the head declare, as read.
struct HeadTags
{
    Declared declared; // scholarly names and og:title, in the page's text
    QByteArray citationPdf;
    bool citationPdfSeen = false;
    QByteArray alternatePdf;
    bool alternateSeen = false;
    QByteArray baseHref;
    bool declaresPaper = false;
};

// Past the text of a script or style element whose name starts at i, or i when none starts there.
qsizetype pastScriptOrStyle(QByteArrayView page, qsizetype i)
{
    const qsizetype n = page.size();
    for (const char *raw : {"script", "style"}) {
        const QByteArrayView word(raw);
        if (startsWithWord(page, i, word) && i + word.size() < n &&
            (isSpace(page[i + word.size()]) || page[i + word.size()] == '>')) {
            const QByteArray close = "</" + QByteArray(raw);
            const qsizetype end = findWord(page, i, close);
            return end < 0 ? n : end + close.size();
        }
    }
    return i;
}

// "meta", "link" or "base" when a tag of that name starts at i; empty for any other.
QByteArrayView headTagKind(QByteArrayView page, qsizetype i)
{
    const qsizetype n = page.size();
    QByteArrayView kind;
    for (QByteArrayView word : {QByteArrayView("meta"), QByteArrayView("link"), QByteArrayView("base")}) {
        if (startsWithWord(page, i, word) && i + 4 < n &&
            (isSpace(page[i + 4]) || page[i + 4] == '/' || page[i + 4] == '>'))
            kind = word;
    }
    return kind;
}

void takeMeta(const Tag &tag, bool chinese, HeadTags *head)
{
    QByteArray nameBytes = tag.attributes.value("name");
    if (nameBytes.trimmed().isEmpty())
        nameBytes = tag.attributes.value("property");
    const QString name = QString::fromLatin1(nameBytes).trimmed().toLower();
    if (name.isEmpty() || !tag.attributes.contains("content"))
        return;
    if (name == u"citation_pdf_url") {
        if (!head->citationPdfSeen) {
            head->citationPdf = tag.attributes.value("content");
            head->citationPdfSeen = true;
        }
        return;
    }
    if (!isScholarlyName(name) && name != u"og:title")
        return;
    head->declaresPaper = head->declaresPaper || isScholarlyName(name);
    QStringList &values = head->declared[name];
    if (values.size() < kMaxValues)
        values.append(textOf(tag.attributes.value("content"), chinese));
}

void takeTag(QByteArrayView kind, const Tag &tag, bool chinese, HeadTags *head)
{
    if (kind == "base") {
        if (head->baseHref.isEmpty())
            head->baseHref = tag.attributes.value("href");
        return;
    }
    if (kind == "link") {
        const QList<QByteArray> rels = tag.attributes.value("rel").toLower().simplified().split(' ');
        const QByteArray type = tag.attributes.value("type").trimmed().toLower();
        if (!head->alternateSeen && rels.contains("alternate") && type.startsWith("application/pdf") &&
            tag.attributes.contains("href")) {
            head->alternatePdf = tag.attributes.value("href");
            head->alternateSeen = true;
        }
        return;
    }
    takeMeta(tag, chinese, head);
}

HeadTags readHead(QByteArrayView page, bool chinese)
{
    HeadTags head;
    const qsizetype n = page.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype open = page.indexOf('<', i);
        if (open < 0 || open + 1 >= n)
            break;
        i = open + 1;
        if (startsWithWord(page, i, "!--")) {
            const qsizetype end = page.indexOf("-->", i + 3);
            i = end < 0 ? n : end + 3;
            continue;
        }
        // The tags that matter stand in the head; the body is not read.
        if (startsWithWord(page, i, "/head"))
            break;
        i = pastScriptOrStyle(page, i);
        if (i >= n)
            break;
        const QByteArrayView kind = headTagKind(page, i);
        if (kind.isEmpty())
            continue;
        Tag tag;
        i = readAttributes(page, i + 4, &tag);
        takeTag(kind, tag, chinese, &head);
    }
    // Values are decoded only for the names that are read, so a flood of tags costs no text work.
    for (auto it = head.declared.begin(); it != head.declared.end(); ++it) {
        const int length =
            it.key().contains(u"abstract") || it.key().contains(u"description") ? kAbstractLength : 2000;
        for (QString &value : it.value())
            value = TidyCellText(decodeEntities(value), length);
    }
    return head;
}

// The full text the head names, resolved against the page (and its <base>); only http and https pass.
void resolveFullText(const HeadTags &head, const QUrl &pageAddress, bool chinese, LandingPage *result)
{
    const QByteArray pointer = head.citationPdfSeen && !decodedValue(head.citationPdf, chinese).isEmpty()
                                   ? head.citationPdf
                                   : head.alternatePdf;
    const QString target = decodedValue(pointer, chinese).trimmed();
    if (target.isEmpty())
        return;
    QUrl base = pageAddress;
    if (!head.baseHref.isEmpty()) {
        const QUrl declaredBase = pageAddress.resolved(QUrl(decodedValue(head.baseHref, chinese)));
        const QString scheme = declaredBase.scheme().toLower();
        if (scheme == u"http" || scheme == u"https")
            base = declaredBase;
    }
    const QUrl resolved = base.resolved(QUrl(target)).adjusted(QUrl::RemoveFragment);
    const QString scheme = resolved.scheme().toLower();
    const bool web = scheme == u"http" || scheme == u"https";
    if (resolved.isValid() && !resolved.host().isEmpty() && web) {
        result->fullText = resolved;
        return;
    }
    result->refusedTarget = true;
    // The scheme goes into the row's reason: only one that reads as a scheme, and never a long one.
    static const QRegularExpression schemeForm(QStringLiteral("^[a-z][a-z0-9+.-]{0,31}$"));
    if (!web && schemeForm.match(scheme).hasMatch())
        result->refusedScheme = scheme;
}

QStringList declaredAuthors(const Declared &declared)
{
    QStringList authors = allOf(declared, {"citation_author", "dc.creator", "dcterms.creator"});
    if (authors.isEmpty()) {
        // Some pages list every author in one tag.
        const QString joined = firstOf(declared, {"citation_authors"});
        for (const QString &name : joined.split(u';'))
            if (!name.trimmed().isEmpty())
                authors.append(name.trimmed());
    }
    // Names are kept apart by "; " in the cell; a name never carries one of its own.
    for (QString &name : authors)
        name.replace(u';', u',');
    return authors;
}

QString declaredDoi(const Declared &declared)
{
    QString doi = firstDoi(declared, {"citation_doi"});
    if (doi.isEmpty())
        doi = firstDoi(declared, {"dc.identifier", "dcterms.identifier", "dc.identifier.doi"});
    if (doi.isEmpty())
        doi = firstDoi(declared, {"prism.doi", "prism.url"});
    return doi;
}

QStringList declaredKeywords(const Declared &declared)
{
    QStringList keywords;
    const QStringList keywordTags = allOf(declared, {"citation_keywords", "citation_keyword", "dc.subject",
                                                     "dcterms.subject", "prism.keyword"});
    static const QRegularExpression keywordSeparators(QStringLiteral("[;；]"));
    for (const QString &tag : keywordTags) {
        for (const QString &word : tag.split(keywordSeparators)) {
            if (!word.trimmed().isEmpty() && keywords.size() < kMaxValues)
                keywords.append(word.trimmed());
        }
    }
    return keywords;
}

// The metadata: citation_* first, then Dublin Core, then PRISM; og:title for the title only.
PaperMetadata declaredMetadata(const Declared &declared)
{
    PaperMetadata m;
    m.title = firstOf(declared, {"citation_title", "dc.title", "dcterms.title", "prism.title", "og:title"});
    auto add = [&m](const QString &header, const QString &value) {
        if (!value.isEmpty())
            m.cells.append(PaperCell{header, value});
    };
    add(landingcell::Authors, declaredAuthors(declared).join(QStringLiteral("; ")));
    add(landingcell::Date,
        firstOf(declared, {"citation_publication_date", "citation_date", "citation_online_date",
                           "citation_year", "citation_cover_date", "dc.date", "dc.date.issued",
                           "dcterms.issued", "dcterms.date", "prism.publicationdate", "prism.coverdate"}));
    const QString conference = firstOf(declared, {"citation_conference_title", "citation_conference"});
    const QString source = firstOf(
        declared, {"citation_journal_title", "citation_inbook_title", "citation_book_title",
                   "citation_dissertation_institution", "citation_technical_report_institution", "dc.source",
                   "dc.relation.ispartof", "dcterms.ispartof", "dcterms.source", "prism.publicationname"});
    if (!conference.isEmpty())
        add(landingcell::Conference, conference);
    else
        add(landingcell::Source, source);
    add(landingcell::Doi, declaredDoi(declared));
    add(landingcell::Volume, firstOf(declared, {"citation_volume", "dc.citation.volume", "prism.volume"}));
    add(landingcell::Issue,
        firstOf(declared, {"citation_issue", "dc.citation.issue", "prism.number", "prism.issueidentifier"}));
    add(landingcell::FirstPage,
        firstOf(declared, {"citation_firstpage", "dc.citation.spage", "prism.startingpage"}));
    add(landingcell::LastPage,
        firstOf(declared, {"citation_lastpage", "dc.citation.epage", "prism.endingpage"}));
    add(landingcell::Publisher,
        firstOf(declared, {"citation_publisher", "dc.publisher", "dcterms.publisher", "prism.publisher"}));
    add(landingcell::Language, firstOf(declared, {"citation_language", "dc.language", "dcterms.language"}));
    add(landingcell::Abstract, firstOf(declared, {"citation_abstract", "dc.description", "dcterms.abstract",
                                                  "dcterms.description", "prism.teaser"}));
    add(landingcell::Keywords, declaredKeywords(declared).join(QStringLiteral("; ")));
    return m;
}

} // namespace

LandingPage ReadLandingPage(const QByteArray &pageIn, const QUrl &pageAddress)
{
    const QByteArrayView page = QByteArrayView(pageIn).first(std::min(pageIn.size(), LandingPageReadLimit));
    const bool chinese = inChineseCodePage(page);
    const HeadTags head = readHead(page, chinese);
    LandingPage result;
    result.declaresPaper = head.declaresPaper;
    resolveFullText(head, pageAddress, chinese, &result);
    result.metadata = declaredMetadata(head.declared);
    return result;
}

PaperMetadata MergedMetadata(const PaperMetadata &kept, const PaperMetadata &declared)
{
    PaperMetadata merged = kept;
    if (TidyCellText(merged.title).isEmpty())
        merged.title = declared.title;
    for (const PaperCell &cell : declared.cells) {
        bool has = false;
        if (cell.header == landingcell::Authors)
            has = !kept.authors().isEmpty();
        else if (cell.header == landingcell::Date)
            has = !kept.year().isEmpty();
        else if (cell.header == landingcell::Source || cell.header == landingcell::Conference)
            has = !kept.source().isEmpty();
        else if (cell.header == landingcell::Doi)
            has = !kept.doi().isEmpty();
        else
            has = !kept.cell(cell.header).trimmed().isEmpty();
        if (!has)
            merged.cells.append(cell);
    }
    return merged;
}
