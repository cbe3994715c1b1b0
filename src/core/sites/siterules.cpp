#include "core/sites/siterules.h"

#include "core/common/filenames.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

namespace {

constexpr qint64 MaxFileSize = 1024 * 1024;
constexpr int MaxTextLength = 2000;

const QStringList kBuiltInFiles{QStringLiteral(":/siterules/folionexus.json"),
                                QStringLiteral(":/siterules/demo.json"),
                                QStringLiteral(":/siterules/demo-cards.json")};

// Reads fields of one JSON object, remembering the first fault with the field's dotted name.
class Reader
{
public:
    Reader(const QString &file) : m_file(file) {}

    bool failed() const { return m_failed; }
    SiteRulesError error() const { return m_error; }

    void fail(const QString &field, SiteRulesError::Reason reason, const QString &detail = {})
    {
        if (m_failed)
            return;
        m_failed = true;
        m_error = SiteRulesError{m_file, field, reason, detail};
    }

    // A text field; absent gives `fallback`, or a MissingField fault when required.
    QString text(const QJsonObject &o, const QString &key, const QString &path, bool required = false,
                 const QString &fallback = {})
    {
        const QJsonValue v = o.value(key);
        if (v.isUndefined() || v.isNull()) {
            if (required)
                fail(path, SiteRulesError::Reason::MissingField);
            return fallback;
        }
        if (!v.isString()) {
            fail(path, SiteRulesError::Reason::WrongType, QStringLiteral("text"));
            return fallback;
        }
        const QString s = v.toString();
        if (s.size() > MaxTextLength)
            fail(path, SiteRulesError::Reason::BadValue, QStringLiteral("too long"));
        if (required && s.trimmed().isEmpty())
            fail(path, SiteRulesError::Reason::MissingField);
        return s;
    }

    QJsonObject object(const QJsonObject &o, const QString &key, const QString &path, bool required)
    {
        const QJsonValue v = o.value(key);
        if (v.isUndefined() || v.isNull()) {
            if (required)
                fail(path, SiteRulesError::Reason::MissingField);
            return {};
        }
        if (!v.isObject())
            fail(path, SiteRulesError::Reason::WrongType, QStringLiteral("object"));
        return v.toObject();
    }

    QStringList texts(const QJsonObject &o, const QString &key, const QString &path)
    {
        const QJsonValue v = o.value(key);
        if (v.isUndefined() || v.isNull())
            return {};
        if (!v.isArray()) {
            fail(path, SiteRulesError::Reason::WrongType, QStringLiteral("list of texts"));
            return {};
        }
        QStringList out;
        const QJsonArray array = v.toArray();
        for (int i = 0; i < array.size(); ++i) {
            if (!array.at(i).isString()) {
                fail(QStringLiteral("%1[%2]").arg(path).arg(i), SiteRulesError::Reason::WrongType,
                     QStringLiteral("text"));
                return {};
            }
            out.append(array.at(i).toString());
        }
        return out;
    }

private:
    QString m_file;
    bool m_failed = false;
    SiteRulesError m_error;
};

bool isHttpAddress(const QString &address)
{
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

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

bool hostMatches(const QString &rule, const QString &host)
{
    if (rule.startsWith(QStringLiteral("*."))) {
        const QString base = rule.mid(2);
        return host == base || host.endsWith(u'.' + base);
    }
    return host == rule;
}

} // namespace

bool SiteRules::appliesTo(const QUrl &address) const
{
    const QString host = address.host().toLower();
    if (host.isEmpty())
        return false;
    bool hostFound = false;
    for (const QString &h : hosts)
        hostFound = hostFound || hostMatches(h, host);
    if (!hostFound)
        return false;
    return pathPrefix.isEmpty() || address.path().startsWith(pathPrefix);
}

QString SiteRules::fileAddress(const QString &linkAddress) const
{
    QString out = linkAddress;
    switch (address) {
    case AddressRule::AsIs:
        break;
    case AddressRule::Suffix:
        out += suffix;
        break;
    case AddressRule::Replace:
        // A replacement may make anything of the address: only an http(s) address is taken from it.
        out.replace(pattern, replacement);
        return isHttpAddress(out) ? out : QString();
    }
    return out;
}

bool SiteRules::marksNotPaper(const QString &text) const
{
    for (const QString &marker : notPaperMarkers) {
        if (!marker.isEmpty() && text.contains(marker, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QUrl SiteRules::loginPageFor(const QUrl &page) const
{
    if (loginPage.isEmpty())
        return {};
    const QUrl address = page.resolved(loginPage);
    return isHttpAddress(address.toString()) ? address : QUrl();
}

int SiteRules::nextLinkByText(const QStringList &anchorTexts) const
{
    if (next != NextRule::Text)
        return -1;
    const QString wanted = TrimSpaces(nextText.toLower());
    for (int i = 0; i < anchorTexts.size(); ++i) {
        if (TrimSpaces(anchorTexts.at(i).toLower()) == wanted)
            return i;
    }
    return -1;
}

QJsonObject SiteRules::pageArguments() const
{
    QJsonArray fieldList;
    for (const Field &f : fields)
        fieldList.append(QJsonArray{f.name, f.selector});
    QString nextQuery;
    if (next == NextRule::Selector)
        nextQuery = nextSelector;
    else if (next == NextRule::RelNext)
        nextQuery = QStringLiteral("a[rel~=\"next\" i]");
    return QJsonObject{{QStringLiteral("listClass"), listClass},
                       {QStringLiteral("list"), list},
                       {QStringLiteral("listTables"), listTables},
                       {QStringLiteral("item"), item},
                       {QStringLiteral("link"), link},
                       {QStringLiteral("title"), title},
                       {QStringLiteral("next"), nextQuery},
                       {QStringLiteral("columns"), metadata == MetadataRule::Columns},
                       {QStringLiteral("fields"), fieldList},
                       {QStringLiteral("maxItems"), MaxItems}};
}

QString SiteRules::selectorOf(const QString &field) const
{
    if (field == u"papers.listClass")
        return listClass;
    if (field == u"papers.list")
        return list;
    if (field == u"papers.item")
        return item;
    if (field == u"papers.link")
        return link;
    if (field == u"papers.title")
        return title;
    if (field == u"nextPage" || field == u"nextPage.selector" || field == u"nextPage.rel")
        return next == NextRule::RelNext ? QStringLiteral("a[rel~=\"next\" i]") : nextSelector;
    for (const Field &f : fields) {
        if (field == QStringLiteral("metadata.fields.") + f.name)
            return f.selector;
    }
    return {};
}

QString SiteRulesError::message() const
{
    QString what;
    switch (reason) {
    case Reason::Unreadable:
        what = QStringLiteral("文件无法读取");
        break;
    case Reason::BadJson:
        what = QStringLiteral("不是有效的JSON");
        break;
    case Reason::UnknownVersion:
        what = QStringLiteral("格式版本未知");
        break;
    case Reason::MissingField:
        what = QStringLiteral("缺少必填项");
        break;
    case Reason::WrongType:
        what = QStringLiteral("类型不对");
        break;
    case Reason::BadRegex:
        what = QStringLiteral("正则表达式无效");
        break;
    case Reason::NotHttpAddress:
        what = QStringLiteral("得到的不是http(s)地址");
        break;
    case Reason::BadValue:
        what = QStringLiteral("取值无效");
        break;
    case Reason::RejectedSelector:
        what = QStringLiteral("浏览器不接受此选择器");
        break;
    }
    QString text = QStringLiteral("站点规则文件 %1").arg(file);
    if (!field.isEmpty())
        text += QStringLiteral(" 的 %1").arg(field);
    text += QStringLiteral("：") + what;
    if (!detail.isEmpty())
        text += QStringLiteral("（%1）").arg(detail);
    return text;
}

namespace {

using Reason = SiteRulesError::Reason;

void readFormat(const QJsonObject &root, Reader &r)
{
    const QJsonValue version = root.value(QStringLiteral("format"));
    if (version.isUndefined())
        r.fail(QStringLiteral("format"), Reason::MissingField);
    else if (!version.isDouble())
        r.fail(QStringLiteral("format"), Reason::WrongType, QStringLiteral("number"));
    else if (version.toDouble() != SiteRules::FormatVersion)
        r.fail(QStringLiteral("format"), Reason::UnknownVersion, QString::number(version.toDouble()));
}

// The name and the addresses the rules apply to.
void readSite(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    rules.name = r.text(root, QStringLiteral("name"), QStringLiteral("name"), true);
    for (const QString &h : r.texts(root, QStringLiteral("hosts"), QStringLiteral("hosts"))) {
        const QString host = h.trimmed().toLower();
        const QString bare = host.startsWith(QStringLiteral("*.")) ? host.mid(2) : host;
        if (bare.isEmpty() || bare.contains(u'*') || bare.contains(u'/') || bare.contains(u' '))
            r.fail(QStringLiteral("hosts"), Reason::BadValue, h);
        rules.hosts.append(host);
    }
    rules.pathPrefix = r.text(root, QStringLiteral("pathPrefix"), QStringLiteral("pathPrefix"));
    if (!rules.pathPrefix.isEmpty() && !rules.pathPrefix.startsWith(u'/'))
        r.fail(QStringLiteral("pathPrefix"), Reason::BadValue, QStringLiteral("starts with /"));
}

void readPapers(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    const QJsonObject papers = r.object(root, QStringLiteral("papers"), QStringLiteral("papers"), true);
    rules.listClass = r.text(papers, QStringLiteral("listClass"), QStringLiteral("papers.listClass"));
    rules.list = r.text(papers, QStringLiteral("list"), QStringLiteral("papers.list"));
    const QJsonValue tables = papers.value(QStringLiteral("listTables"));
    if (!tables.isUndefined() && !tables.isNull()) {
        if (!tables.isDouble() || tables.toDouble() < 0 || tables.toDouble() != int(tables.toDouble()))
            r.fail(QStringLiteral("papers.listTables"), Reason::WrongType, QStringLiteral("whole number"));
        else if (rules.list.isEmpty())
            r.fail(QStringLiteral("papers.listTables"), Reason::BadValue,
                   QStringLiteral("needs papers.list"));
        rules.listTables = tables.toInt();
    }
    const bool classic = !rules.listClass.trimmed().isEmpty();
    if (classic && (papers.contains(QStringLiteral("list")) || papers.contains(QStringLiteral("item"))))
        r.fail(QStringLiteral("papers.listClass"), Reason::BadValue,
               QStringLiteral("listClass or list and item"));
    if (classic)
        rules.listTables = 1;
    rules.item = r.text(papers, QStringLiteral("item"), QStringLiteral("papers.item"), !classic);
    rules.link = r.text(papers, QStringLiteral("link"), QStringLiteral("papers.link"));
    rules.title = r.text(papers, QStringLiteral("title"), QStringLiteral("papers.title"));
}

void readFileAddress(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    const QJsonObject address =
        r.object(root, QStringLiteral("fileAddress"), QStringLiteral("fileAddress"), false);
    const bool hasSuffix = address.contains(QStringLiteral("suffix"));
    const bool hasPattern = address.contains(QStringLiteral("pattern"));
    if (hasSuffix && hasPattern)
        r.fail(QStringLiteral("fileAddress"), Reason::BadValue,
               QStringLiteral("suffix or pattern, not both"));
    if (hasSuffix) {
        rules.address = SiteRules::AddressRule::Suffix;
        rules.suffix = r.text(address, QStringLiteral("suffix"), QStringLiteral("fileAddress.suffix"));
    } else if (hasPattern) {
        rules.address = SiteRules::AddressRule::Replace;
        const QString pattern =
            r.text(address, QStringLiteral("pattern"), QStringLiteral("fileAddress.pattern"), true);
        rules.replacement =
            r.text(address, QStringLiteral("replacement"), QStringLiteral("fileAddress.replacement"), false);
        if (!address.contains(QStringLiteral("replacement")))
            r.fail(QStringLiteral("fileAddress.replacement"), Reason::MissingField);
        rules.pattern = QRegularExpression(pattern);
        if (!r.failed() && !rules.pattern.isValid())
            r.fail(QStringLiteral("fileAddress.pattern"), Reason::BadRegex, rules.pattern.errorString());
        else if (!r.failed() && !replacementLeavesHttp(rules.pattern, rules.replacement))
            r.fail(QStringLiteral("fileAddress.replacement"), Reason::NotHttpAddress, rules.replacement);
    }
}

void readNextPage(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    const QJsonObject next = r.object(root, QStringLiteral("nextPage"), QStringLiteral("nextPage"), false);
    int nextKinds = 0;
    if (next.contains(QStringLiteral("selector"))) {
        ++nextKinds;
        rules.next = SiteRules::NextRule::Selector;
        rules.nextSelector =
            r.text(next, QStringLiteral("selector"), QStringLiteral("nextPage.selector"), true);
    }
    if (next.contains(QStringLiteral("text"))) {
        ++nextKinds;
        rules.next = SiteRules::NextRule::Text;
        rules.nextText = r.text(next, QStringLiteral("text"), QStringLiteral("nextPage.text"), true);
    }
    if (next.contains(QStringLiteral("rel"))) {
        ++nextKinds;
        rules.next = SiteRules::NextRule::RelNext;
        if (r.text(next, QStringLiteral("rel"), QStringLiteral("nextPage.rel"), true) != u"next")
            r.fail(QStringLiteral("nextPage.rel"), Reason::BadValue, QStringLiteral("\"next\""));
    }
    if (nextKinds > 1)
        r.fail(QStringLiteral("nextPage"), Reason::BadValue, QStringLiteral("one of selector, text, rel"));
}

void readFields(const QJsonValue &fields, Reader &r, SiteRules &rules)
{
    if (!fields.isArray())
        r.fail(QStringLiteral("metadata.fields"), Reason::WrongType, QStringLiteral("list"));
    const QJsonArray list = fields.toArray();
    for (int i = 0; i < list.size() && !r.failed(); ++i) {
        const QString path = QStringLiteral("metadata.fields[%1]").arg(i);
        if (!list.at(i).isObject()) {
            r.fail(path, Reason::WrongType, QStringLiteral("object"));
            break;
        }
        const QJsonObject f = list.at(i).toObject();
        SiteRules::Field field;
        field.name = r.text(f, QStringLiteral("name"), path + QStringLiteral(".name"), true).trimmed();
        field.selector = r.text(f, QStringLiteral("selector"), path + QStringLiteral(".selector"), true);
        rules.fields.append(field);
    }
    if (!list.isEmpty())
        rules.metadata = SiteRules::MetadataRule::Fields;
}

void readMetadata(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    const QJsonObject metadata =
        r.object(root, QStringLiteral("metadata"), QStringLiteral("metadata"), false);
    const QJsonValue columns = metadata.value(QStringLiteral("columns"));
    const QJsonValue fields = metadata.value(QStringLiteral("fields"));
    if (!columns.isUndefined() && !columns.isBool())
        r.fail(QStringLiteral("metadata.columns"), Reason::WrongType, QStringLiteral("true or false"));
    else if (columns.toBool())
        rules.metadata = SiteRules::MetadataRule::Columns;
    if (!fields.isUndefined()) {
        if (rules.metadata == SiteRules::MetadataRule::Columns)
            r.fail(QStringLiteral("metadata"), Reason::BadValue,
                   QStringLiteral("columns or fields, not both"));
        readFields(fields, r, rules);
    }
}

void readLogin(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    const QJsonObject login = r.object(root, QStringLiteral("login"), QStringLiteral("login"), false);
    const QString loginPage = r.text(login, QStringLiteral("page"), QStringLiteral("login.page"));
    if (!loginPage.isEmpty()) {
        rules.loginPage = QUrl(loginPage);
        if (!isHttpAddress(loginPage) && !loginPage.startsWith(u'/'))
            r.fail(QStringLiteral("login.page"), Reason::NotHttpAddress, loginPage);
    }
    rules.notPaperMarkers = r.texts(login, QStringLiteral("notPaper"), QStringLiteral("login.notPaper"));
}

} // namespace

SiteRulesRead parseSiteRules(const QByteArray &json, const QString &file, SiteRules::Origin origin)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return {std::nullopt,
                SiteRulesError{
                    file,
                    {},
                    Reason::BadJson,
                    parseError.error != QJsonParseError::NoError
                        ? QStringLiteral("%1, offset %2").arg(parseError.errorString()).arg(parseError.offset)
                        : QStringLiteral("not an object")}};
    const QJsonObject root = doc.object();
    Reader r(file);
    SiteRules rules;
    rules.file = file;
    rules.origin = origin;
    readFormat(root, r);
    readSite(root, r, rules);
    readPapers(root, r, rules);
    readFileAddress(root, r, rules);
    readNextPage(root, r, rules);
    readMetadata(root, r, rules);
    readLogin(root, r, rules);
    if (r.failed())
        return {std::nullopt, r.error()};
    return {std::move(rules), {}};
}

SiteRulesRead readSiteRulesFile(const QString &path, SiteRules::Origin origin)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt,
                SiteRulesError{path, {}, SiteRulesError::Reason::Unreadable, file.errorString()}};
    if (file.size() > MaxFileSize)
        return {std::nullopt,
                SiteRulesError{path, {}, SiteRulesError::Reason::Unreadable, QStringLiteral("too large")}};
    return parseSiteRules(file.read(MaxFileSize + 1), path, origin);
}

SiteRulesCatalog::SiteRulesCatalog()
{
    for (const QString &path : kBuiltInFiles) {
        SiteRulesRead read = readSiteRulesFile(path, SiteRules::Origin::BuiltIn);
        // The program's own files are checked by its tests; a broken one is a build fault.
        Q_ASSERT_X(read.rules, "SiteRulesCatalog", qPrintable(read.error.message()));
        if (read.rules)
            m_builtIn.append(*read.rules);
    }
    if (m_builtIn.isEmpty())
        m_builtIn.append(SiteRules{});
}

QString SiteRulesCatalog::userFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/siterules");
}

void SiteRulesCatalog::loadUserFolder(const QString &folder)
{
    m_user.clear();
    m_refused.removeIf([](const SiteRulesError &e) { return e.origin == SiteRules::Origin::UserFolder; });
    const QDir dir(folder);
    const QStringList names =
        dir.entryList({QStringLiteral("*.json")}, QDir::Files | QDir::Readable | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        SiteRulesRead read = readSiteRulesFile(dir.filePath(name), SiteRules::Origin::UserFolder);
        if (read.rules) {
            m_user.append(*read.rules);
        } else {
            read.error.origin = SiteRules::Origin::UserFolder;
            m_refused.append(read.error);
        }
    }
}

bool SiteRulesCatalog::addGivenFile(const QString &path)
{
    SiteRulesRead read = readSiteRulesFile(path, SiteRules::Origin::GivenFile);
    if (!read.rules) {
        read.error.origin = SiteRules::Origin::GivenFile;
        m_refused.append(read.error);
        return false;
    }
    m_given.append(*read.rules);
    return true;
}

const SiteRules &SiteRulesCatalog::pick(const QUrl &page) const
{
    // Given rules apply to every page of the run, whatever their hosts.
    if (!m_given.isEmpty())
        return m_given.first();
    // Within a group the longest path prefix is the closest match.
    for (const QList<SiteRules> *group : {&m_user, &m_builtIn}) {
        const SiteRules *best = nullptr;
        for (const SiteRules &rules : *group) {
            if (rules.appliesTo(page) && (!best || rules.pathPrefix.size() > best->pathPrefix.size()))
                best = &rules;
        }
        if (best)
            return *best;
    }
    return builtInSite();
}

const SiteRules &builtInSiteRules()
{
    static const SiteRulesCatalog catalog;
    return catalog.builtInSite();
}

SiteRulesCatalog &programSiteRules()
{
    static SiteRulesCatalog catalog = [] {
        SiteRulesCatalog c;
        c.loadUserFolder(SiteRulesCatalog::userFolder());
        return c;
    }();
    return catalog;
}
