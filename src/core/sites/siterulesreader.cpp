#include "core/sites/ruleaddress.h"
#include "core/sites/siterules.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

namespace {

using ruleaddress::isHttpAddress;
using ruleaddress::replacementLeavesHttp;

constexpr qint64 MaxFileSize = 1024 * 1024;
constexpr int MaxTextLength = 2000;

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

} // namespace

namespace {
// What JSON's reader stumbled on, in the user's words.
QString jsonErrorText(QJsonParseError::ParseError error)
{
    switch (error) {
    case QJsonParseError::UnterminatedObject:
        return QStringLiteral("缺少逗号或“}”");
    case QJsonParseError::UnterminatedArray:
        return QStringLiteral("缺少逗号或“]”");
    case QJsonParseError::MissingNameSeparator:
        return QStringLiteral("名称后缺少冒号");
    case QJsonParseError::MissingValueSeparator:
        return QStringLiteral("缺少逗号");
    case QJsonParseError::UnterminatedString:
        return QStringLiteral("字符串没有闭合");
    case QJsonParseError::IllegalValue:
    case QJsonParseError::IllegalNumber:
        return QStringLiteral("取值不合JSON语法");
    case QJsonParseError::IllegalEscapeSequence:
    case QJsonParseError::IllegalUTF8String:
        return QStringLiteral("字符无效");
    case QJsonParseError::DeepNesting:
        return QStringLiteral("嵌套过深");
    case QJsonParseError::DocumentTooLarge:
        return QStringLiteral("文件过大");
    case QJsonParseError::GarbageAtEnd:
        return QStringLiteral("结尾有多余内容");
    default:
        return QStringLiteral("语法错误");
    }
}

// Where in the text the reader stopped, as line and column (both from 1), and what it found there.
QString jsonErrorDetail(const QByteArray &json, const QJsonParseError &error)
{
    const QByteArray before = json.left(qBound(0, error.offset, int(json.size())));
    const int line = int(before.count('\n')) + 1;
    const int column = int(QString::fromUtf8(before.mid(before.lastIndexOf('\n') + 1)).size()) + 1;
    return QStringLiteral("第 %1 行第 %2 列：%3").arg(line).arg(column).arg(jsonErrorText(error.error));
}

QString reasonText(SiteRulesError::Reason reason)
{
    using Reason = SiteRulesError::Reason;
    switch (reason) {
    case Reason::Unreadable:
        return QStringLiteral("文件无法读取");
    case Reason::BadJson:
        return QStringLiteral("不是有效的JSON");
    case Reason::UnknownVersion:
        return QStringLiteral("格式版本未知");
    case Reason::MissingField:
        return QStringLiteral("缺少必填项");
    case Reason::WrongType:
        return QStringLiteral("类型不对");
    case Reason::BadRegex:
        return QStringLiteral("正则表达式无效");
    case Reason::NotHttpAddress:
        return QStringLiteral("得到的不是http(s)地址");
    case Reason::BadValue:
        return QStringLiteral("取值无效");
    case Reason::RejectedSelector:
        return QStringLiteral("浏览器不接受此选择器");
    case Reason::UnknownField:
        return QStringLiteral("没有这一项（拼写有误？）");
    }
    return {};
}
} // namespace

QString SiteRulesFileLabel(const QString &file)
{
    if (!file.startsWith(QStringLiteral(":/")))
        return file;
    return QStringLiteral("内置规则 %1").arg(file.mid(file.lastIndexOf(u'/') + 1));
}

QString SiteRulesError::message() const
{
    const QString what = reasonText(reason);
    QString text = QStringLiteral("站点规则文件 %1").arg(SiteRulesFileLabel(file));
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
    else if (version.toDouble() != SiteRules::FormatVersion && version.toDouble() != SiteRules::LatestFormat)
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

// Format 2: recipes, papers over siblings, file addresses from several sources, politeness.
namespace {

// Every key of the object must be one of these: a misspelt field would otherwise be passed over.
void refuseUnknownKeys(const QJsonObject &o, const QStringList &known, const QString &path, Reader &r)
{
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!known.contains(it.key()))
            r.fail(path.isEmpty() ? it.key() : path + u'.' + it.key(), Reason::UnknownField);
    }
}

bool readFlag(const QJsonObject &o, const QString &key, const QString &path, Reader &r)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return false;
    if (!v.isBool())
        r.fail(path, Reason::WrongType, QStringLiteral("true or false"));
    return v.toBool();
}

// A number within [low, high]; absent gives -1.
double readNumber(const QJsonObject &o, const QString &key, const QString &path, double low, double high,
                  bool whole, Reader &r)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return -1;
    const double n = v.toDouble();
    if (!v.isDouble() || (whole && n != static_cast<int>(n)))
        r.fail(path, Reason::WrongType, whole ? QStringLiteral("whole number") : QStringLiteral("number"));
    else if (n < low || n > high)
        r.fail(path, Reason::BadValue, QStringLiteral("%1 to %2").arg(low).arg(high));
    return n;
}

QRegularExpression readPattern(const QJsonObject &o, const QString &key, const QString &path, Reader &r)
{
    const QString text = r.text(o, key, path);
    if (text.isEmpty())
        return {};
    QRegularExpression pattern(text);
    if (!pattern.isValid())
        r.fail(path, Reason::BadRegex, pattern.errorString());
    return pattern;
}

bool isAttributeName(const QString &name)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z_:][-A-Za-z0-9_:.]*$"));
    return form.match(name).hasMatch();
}

void readScope(const QJsonObject &o, const QString &path, Reader &r, ValueRecipe &recipe)
{
    const QString from = r.text(o, QStringLiteral("from"), path + QStringLiteral(".from"));
    if (from == u"page" && recipe.selector.trimmed().isEmpty())
        r.fail(path + QStringLiteral(".from"), Reason::BadValue, QStringLiteral("\"page\" needs a selector"));
    if (from == u"page")
        recipe.scope = ValueRecipe::Scope::Page;
    else if (!from.isEmpty() && from != u"item")
        r.fail(path + QStringLiteral(".from"), Reason::BadValue, QStringLiteral("\"item\" or \"page\""));
    recipe.preceding = r.text(o, QStringLiteral("preceding"), path + QStringLiteral(".preceding"));
    if (recipe.preceding.trimmed().isEmpty())
        return;
    if (recipe.scope == ValueRecipe::Scope::Page)
        r.fail(path + QStringLiteral(".preceding"), Reason::BadValue,
               QStringLiteral("from page or preceding"));
    recipe.scope = ValueRecipe::Scope::Preceding;
}

// A recipe: a selector as text, or an object of the recipe's fields. Addresses (links, file addresses)
// are read from `defaultAttribute` unless the recipe names another.
ValueRecipe readRecipe(const QJsonValue &value, const QString &path, Reader &r,
                       const QString &defaultAttribute, const QStringList &otherKeys = {})
{
    ValueRecipe recipe;
    recipe.address = !defaultAttribute.isEmpty();
    recipe.attribute = defaultAttribute;
    if (value.isString()) {
        recipe.selector = r.text(QJsonObject{{QStringLiteral("s"), value}}, QStringLiteral("s"), path);
        return recipe;
    }
    if (!value.isObject()) {
        r.fail(path, Reason::WrongType, QStringLiteral("text or object"));
        return recipe;
    }
    const QJsonObject o = value.toObject();
    refuseUnknownKeys(o,
                      QStringList{QStringLiteral("selector"), QStringLiteral("attribute"),
                                  QStringLiteral("all"), QStringLiteral("join"), QStringLiteral("match"),
                                  QStringLiteral("exclude"), QStringLiteral("from"),
                                  QStringLiteral("preceding")} +
                          otherKeys,
                      path, r);
    recipe.selector = r.text(o, QStringLiteral("selector"), path + QStringLiteral(".selector"));
    recipe.attribute =
        r.text(o, QStringLiteral("attribute"), path + QStringLiteral(".attribute"), false, defaultAttribute)
            .trimmed()
            .toLower();
    if (!recipe.attribute.isEmpty() && !isAttributeName(recipe.attribute))
        r.fail(path + QStringLiteral(".attribute"), Reason::BadValue, recipe.attribute);
    recipe.all = readFlag(o, QStringLiteral("all"), path + QStringLiteral(".all"), r);
    recipe.join = r.text(o, QStringLiteral("join"), path + QStringLiteral(".join"), false, recipe.join);
    recipe.match = readPattern(o, QStringLiteral("match"), path + QStringLiteral(".match"), r);
    recipe.exclude = r.text(o, QStringLiteral("exclude"), path + QStringLiteral(".exclude"));
    readScope(o, path, r, recipe);
    return recipe;
}

void readPaperList2(const QJsonObject &papers, Reader &r, SiteRules &rules)
{
    refuseUnknownKeys(papers,
                      {QStringLiteral("list"), QStringLiteral("listTables"), QStringLiteral("item"),
                       QStringLiteral("start"), QStringLiteral("exclude"), QStringLiteral("link"),
                       QStringLiteral("title"), QStringLiteral("listClass")},
                      QStringLiteral("papers"), r);
    if (papers.contains(QStringLiteral("listClass")))
        r.fail(QStringLiteral("papers.listClass"), Reason::BadValue,
               QStringLiteral("format 1 only; use papers.list"));
    rules.list = r.text(papers, QStringLiteral("list"), QStringLiteral("papers.list"));
    const double tables = readNumber(papers, QStringLiteral("listTables"),
                                     QStringLiteral("papers.listTables"), 0, 10000, true, r);
    if (tables >= 0 && rules.list.isEmpty())
        r.fail(QStringLiteral("papers.listTables"), Reason::BadValue, QStringLiteral("needs papers.list"));
    rules.listTables = tables >= 0 ? static_cast<int>(tables) : -1;
    const bool hasStart = papers.contains(QStringLiteral("start"));
    if (hasStart && papers.contains(QStringLiteral("item")))
        r.fail(QStringLiteral("papers.start"), Reason::BadValue, QStringLiteral("item or start, not both"));
    if (hasStart)
        rules.start = r.text(papers, QStringLiteral("start"), QStringLiteral("papers.start"), true);
    else
        rules.item = r.text(papers, QStringLiteral("item"), QStringLiteral("papers.item"), true);
    rules.exclude = r.text(papers, QStringLiteral("exclude"), QStringLiteral("papers.exclude"));
}

void readPapers2(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    const QJsonObject papers = r.object(root, QStringLiteral("papers"), QStringLiteral("papers"), true);
    readPaperList2(papers, r, rules);
    const QString href = QStringLiteral("href");
    const QJsonValue link = papers.value(QStringLiteral("link"));
    if (!link.isUndefined() && !link.isNull())
        rules.linkRecipe = readRecipe(link, QStringLiteral("papers.link"), r, href);
    else
        rules.linkRecipe.attribute = href;
    rules.linkRecipe.address = true;
    const QJsonValue title = papers.value(QStringLiteral("title"));
    if (!title.isUndefined() && !title.isNull()) {
        rules.titleRecipe = readRecipe(title, QStringLiteral("papers.title"), r, {});
    } else {
        // The text of the element the link is read from.
        rules.titleRecipe.selector = rules.linkRecipe.selector;
        rules.titleRecipe.scope = rules.linkRecipe.scope;
        rules.titleRecipe.preceding = rules.linkRecipe.preceding;
    }
}

SiteRules::FileSource readFileSource(const QJsonValue &value, const QString &path, Reader &r)
{
    SiteRules::FileSource source;
    const QJsonObject o = value.toObject();
    if (value.isObject() && o.contains(QStringLiteral("suffix"))) {
        refuseUnknownKeys(o, {QStringLiteral("suffix")}, path, r);
        source.kind = SiteRules::FileSource::Kind::Suffix;
        source.suffix = r.text(o, QStringLiteral("suffix"), path + QStringLiteral(".suffix"));
    } else if (value.isObject() && o.contains(QStringLiteral("pattern"))) {
        refuseUnknownKeys(o, {QStringLiteral("pattern"), QStringLiteral("replacement")}, path, r);
        source.kind = SiteRules::FileSource::Kind::Replace;
        const QString pattern = r.text(o, QStringLiteral("pattern"), path + QStringLiteral(".pattern"), true);
        if (!o.contains(QStringLiteral("replacement")))
            r.fail(path + QStringLiteral(".replacement"), Reason::MissingField);
        source.replacement = r.text(o, QStringLiteral("replacement"), path + QStringLiteral(".replacement"));
        source.pattern = QRegularExpression(pattern);
        if (!r.failed() && !source.pattern.isValid())
            r.fail(path + QStringLiteral(".pattern"), Reason::BadRegex, source.pattern.errorString());
        else if (!r.failed() && !replacementLeavesHttp(source.pattern, source.replacement))
            r.fail(path + QStringLiteral(".replacement"), Reason::NotHttpAddress, source.replacement);
    } else {
        source.recipe = readRecipe(value, path, r, QStringLiteral("href"));
        source.recipe.address = true;
    }
    return source;
}

void readFileAddress2(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    constexpr int MaxSources = 8;
    const QJsonValue value = root.value(QStringLiteral("fileAddress"));
    if (value.isUndefined() || value.isNull())
        return;
    if (!value.isArray()) {
        rules.fileSources.append(readFileSource(value, QStringLiteral("fileAddress"), r));
        return;
    }
    const QJsonArray list = value.toArray();
    if (list.isEmpty() || list.size() > MaxSources)
        r.fail(QStringLiteral("fileAddress"), Reason::BadValue,
               QStringLiteral("1 to %1 ways").arg(MaxSources));
    for (int i = 0; i < list.size() && i < MaxSources; ++i)
        rules.fileSources.append(readFileSource(list.at(i), QStringLiteral("fileAddress[%1]").arg(i), r));
}

void readMetadata2(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    const QJsonObject metadata =
        r.object(root, QStringLiteral("metadata"), QStringLiteral("metadata"), false);
    refuseUnknownKeys(metadata, {QStringLiteral("fields"), QStringLiteral("columns")},
                      QStringLiteral("metadata"), r);
    if (metadata.contains(QStringLiteral("columns")))
        r.fail(QStringLiteral("metadata.columns"), Reason::BadValue,
               QStringLiteral("format 1 only; use metadata.fields"));
    const QJsonValue fields = metadata.value(QStringLiteral("fields"));
    if (fields.isUndefined())
        return;
    if (!fields.isArray())
        r.fail(QStringLiteral("metadata.fields"), Reason::WrongType, QStringLiteral("list"));
    const QJsonArray list = fields.toArray();
    for (int i = 0; i < list.size() && !r.failed(); ++i) {
        const QString path = QStringLiteral("metadata.fields[%1]").arg(i);
        if (!list.at(i).isObject()) {
            r.fail(path, Reason::WrongType, QStringLiteral("object"));
            break;
        }
        SiteRules::Field field;
        field.name =
            r.text(list.at(i).toObject(), QStringLiteral("name"), path + QStringLiteral(".name"), true)
                .trimmed();
        field.recipe = readRecipe(list.at(i), path, r, {}, {QStringLiteral("name")});
        field.selector = field.recipe.selector;
        rules.fields.append(field);
    }
    if (!rules.fields.isEmpty())
        rules.metadata = SiteRules::MetadataRule::Fields;
}

void readPoliteness(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    const QJsonObject politeness =
        r.object(root, QStringLiteral("politeness"), QStringLiteral("politeness"), false);
    refuseUnknownKeys(politeness, {QStringLiteral("interval"), QStringLiteral("connections")},
                      QStringLiteral("politeness"), r);
    const double seconds =
        readNumber(politeness, QStringLiteral("interval"), QStringLiteral("politeness.interval"), 0,
                   SiteRules::MaxIntervalMs / 1000, false, r);
    const double connections =
        readNumber(politeness, QStringLiteral("connections"), QStringLiteral("politeness.connections"), 1,
                   SiteRules::MaxConnections, true, r);
    rules.politeness.intervalMs = seconds > 0 ? static_cast<int>(std::ceil(seconds * 1000)) : 0;
    rules.politeness.connections = connections > 0 ? static_cast<int>(connections) : 0;
}

void readFormat2(const QJsonObject &root, Reader &r, SiteRules &rules)
{
    refuseUnknownKeys(root,
                      {QStringLiteral("format"), QStringLiteral("name"), QStringLiteral("hosts"),
                       QStringLiteral("pathPrefix"), QStringLiteral("papers"), QStringLiteral("fileAddress"),
                       QStringLiteral("nextPage"), QStringLiteral("metadata"), QStringLiteral("login"),
                       QStringLiteral("politeness")},
                      QString(), r);
    readPapers2(root, r, rules);
    readFileAddress2(root, r, rules);
    readMetadata2(root, r, rules);
    readPoliteness(root, r, rules);
}

} // namespace

SiteRulesRead parseSiteRules(const QByteArray &json, const QString &file, SiteRules::Origin origin)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return {std::nullopt, SiteRulesError{file,
                                             {},
                                             Reason::BadJson,
                                             parseError.error != QJsonParseError::NoError
                                                 ? jsonErrorDetail(json, parseError)
                                                 : QStringLiteral("最外层不是对象")}};
    const QJsonObject root = doc.object();
    Reader r(file);
    SiteRules rules;
    rules.file = file;
    rules.origin = origin;
    readFormat(root, r);
    rules.format = root.value(QStringLiteral("format")).toInt(SiteRules::FormatVersion);
    readSite(root, r, rules);
    if (rules.format == SiteRules::LatestFormat) {
        readFormat2(root, r, rules);
    } else {
        readPapers(root, r, rules);
        readFileAddress(root, r, rules);
        readMetadata(root, r, rules);
    }
    readNextPage(root, r, rules);
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
