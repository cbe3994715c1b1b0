#include "core/references/finders.h"

#include "core/common/regularfile.h"
#include "core/common/safetext.h"
#include "core/library/linkimport.h"
#include "core/references/findertemplate.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

QString Finder::addressFor(const QString &doi, const QString &arxiv) const
{
    return ExpandAddressTemplate(addressTemplate, doi, arxiv);
}

QStringList Finder::fileAddresses(const QJsonDocument &answer, const QUrl &asked) const
{
    return AbsoluteWebAddresses(JsonPathTexts(paths, answer), asked);
}

QStringList Finder::landingAddresses(const QJsonDocument &answer, const QUrl &asked) const
{
    return AbsoluteWebAddresses(JsonPathTexts(landingPaths, answer), asked);
}

QStringList AbsoluteWebAddresses(const QStringList &values, const QUrl &base)
{
    QStringList out;
    for (const QString &value : values) {
        const QString address = base.resolved(QUrl(value.trimmed())).toString();
        if (IsWebAddress(address) && !out.contains(address))
            out.append(address);
    }
    return out;
}

QString FindersError::text() const
{
    static const char *const kinds[] = {"cannot be read",
                                        "is not valid JSON",
                                        "has a format number this program does not know",
                                        "is missing",
                                        "has the wrong type",
                                        "has a value that cannot be used",
                                        "is not a field of a finder",
                                        "is not a usable address template",
                                        "is not a JSON path",
                                        "names a finder that an earlier one names already",
                                        "lists too many finders"};
    QString out = file + QStringLiteral(": ");
    if (!field.isEmpty())
        out += field + u' ';
    out += QLatin1String(kinds[int(kind)]);
    if (!detail.isEmpty())
        out += QStringLiteral(" (%1)").arg(ShowableText(detail));
    return out;
}

namespace {

using Kind = FindersError::Kind;

constexpr int MaxTextLength = 2000;

// Reads fields of the file's objects, keeping the first fault with the field's dotted name.
class FieldReader
{
public:
    explicit FieldReader(const QString &file) : m_file(file) {}

    bool failed() const { return m_error.has_value(); }
    const std::optional<FindersError> &error() const { return m_error; }

    void fail(const QString &field, Kind kind, const QString &detail = {})
    {
        if (!m_error)
            m_error = FindersError{m_file, field, kind, detail};
    }

    // A text field; absent gives an empty text, or a MissingField fault when required.
    QString text(const QJsonObject &o, const QString &key, const QString &path, bool required)
    {
        const QJsonValue v = o.value(key);
        if (v.isUndefined() || v.isNull() || (v.isString() && v.toString().trimmed().isEmpty())) {
            if (required)
                fail(path, Kind::MissingField);
            return QString();
        }
        if (!v.isString()) {
            fail(path, Kind::WrongType, QStringLiteral("text"));
            return QString();
        }
        const QString s = v.toString().trimmed();
        if (s.size() > MaxTextLength || StripUnsafeControls(s) != s)
            fail(path, Kind::BadValue, s.left(80));
        return s;
    }

    // One path or a list of them, tried in turn.
    QList<JsonPath> paths(const QJsonObject &o, const QString &key, const QString &path, bool required);

    void onlyKnown(const QJsonObject &o, const QStringList &known, const QString &path)
    {
        for (const QString &key : o.keys()) {
            if (!known.contains(key) && key != u"comment")
                fail(path.isEmpty() ? key : path + u'.' + key, Kind::UnknownField);
        }
    }

private:
    QString m_file;
    std::optional<FindersError> m_error;
};

QList<JsonPath> FieldReader::paths(const QJsonObject &o, const QString &key, const QString &path,
                                   bool required)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull()) {
        if (required)
            fail(path, Kind::MissingField);
        return {};
    }
    const QJsonArray list = v.isArray() ? v.toArray() : QJsonArray{v};
    if (list.isEmpty() && required)
        fail(path, Kind::MissingField);
    QList<JsonPath> out;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString at = v.isArray() ? QStringLiteral("%1[%2]").arg(path).arg(i) : path;
        if (!list.at(i).isString()) {
            fail(at, Kind::WrongType, QStringLiteral("text"));
            return {};
        }
        QString why;
        const JsonPath parsed = JsonPath::parse(list.at(i).toString(), &why);
        if (parsed.isEmpty())
            fail(at, Kind::BadPath, why);
        out.append(parsed);
    }
    return out;
}

bool isAttributeName(const QString &name)
{
    static const QRegularExpression attribute(QStringLiteral("^[A-Za-z_:][-A-Za-z0-9_:.]*$"));
    return attribute.match(name).hasMatch();
}

void readHtmlMode(const QJsonObject &o, const QString &at, FieldReader &r, Finder &finder)
{
    r.onlyKnown(o, {"name", "url", "mode", "selector", "attribute", "landingSelector", "landingAttribute"},
                at);
    finder.selector = r.text(o, QStringLiteral("selector"), at + QStringLiteral(".selector"), true);
    finder.attribute = r.text(o, QStringLiteral("attribute"), at + QStringLiteral(".attribute"), true);
    finder.landingSelector =
        r.text(o, QStringLiteral("landingSelector"), at + QStringLiteral(".landingSelector"), false);
    finder.landingAttribute =
        r.text(o, QStringLiteral("landingAttribute"), at + QStringLiteral(".landingAttribute"), false);
    if (finder.landingAttribute.isEmpty())
        finder.landingAttribute = finder.attribute;
    if (!r.failed() && !isAttributeName(finder.attribute))
        r.fail(at + QStringLiteral(".attribute"), Kind::BadValue, finder.attribute);
    if (!r.failed() && !isAttributeName(finder.landingAttribute))
        r.fail(at + QStringLiteral(".landingAttribute"), Kind::BadValue, finder.landingAttribute);
}

void readJsonMode(const QJsonObject &o, const QString &at, FieldReader &r, Finder &finder)
{
    r.onlyKnown(o, {"name", "url", "mode", "path", "landingPath"}, at);
    finder.paths = r.paths(o, QStringLiteral("path"), at + QStringLiteral(".path"), true);
    finder.landingPaths =
        r.paths(o, QStringLiteral("landingPath"), at + QStringLiteral(".landingPath"), false);
}

Finder readFinder(const QJsonValue &value, const QString &at, FieldReader &r)
{
    Finder finder;
    if (!value.isObject()) {
        r.fail(at, Kind::WrongType, QStringLiteral("object"));
        return finder;
    }
    const QJsonObject o = value.toObject();
    finder.name = r.text(o, QStringLiteral("name"), at + QStringLiteral(".name"), true);
    finder.addressTemplate = r.text(o, QStringLiteral("url"), at + QStringLiteral(".url"), true);
    const TemplateCheck check = CheckAddressTemplate(finder.addressTemplate);
    if (!r.failed() && !check.ok())
        r.fail(at + QStringLiteral(".url"), Kind::BadTemplate,
               TemplateFaultText(check.fault) + u' ' + check.detail);
    finder.usesDoi = check.usesDoi;
    finder.usesArxiv = check.usesArxiv;
    const QString mode = r.text(o, QStringLiteral("mode"), at + QStringLiteral(".mode"), true);
    if (mode == u"html") {
        finder.mode = Finder::Mode::Html;
        readHtmlMode(o, at, r, finder);
    } else if (mode == u"json") {
        readJsonMode(o, at, r, finder);
    } else if (!r.failed()) {
        r.fail(at + QStringLiteral(".mode"), Kind::BadValue, QStringLiteral("\"html\" or \"json\""));
    }
    return finder;
}

// The list of finders, from the object around it or alone.
QJsonArray finderList(const QJsonDocument &document, FieldReader &r)
{
    if (document.isArray())
        return document.array();
    const QJsonObject root = document.object();
    r.onlyKnown(root, {"format", "finders"}, QString());
    const QJsonValue format = root.value(QStringLiteral("format"));
    if (!format.isUndefined() && (!format.isDouble() || format.toDouble() != FindersFormatVersion))
        r.fail(QStringLiteral("format"), Kind::UnknownFormat, format.toVariant().toString());
    const QJsonValue list = root.value(QStringLiteral("finders"));
    if (list.isUndefined())
        r.fail(QStringLiteral("finders"), Kind::MissingField);
    else if (!list.isArray())
        r.fail(QStringLiteral("finders"), Kind::WrongType, QStringLiteral("list"));
    return list.toArray();
}

} // namespace

FindersRead ParseFinders(const QByteArray &json, const QString &file)
{
    const QByteArray text = json.startsWith("\xEF\xBB\xBF") ? json.mid(3) : json;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {{},
                FindersError{
                    file,
                    {},
                    Kind::BadJson,
                    QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset)}};
    FieldReader r(file);
    const QJsonArray list = finderList(document, r);
    if (list.size() > MaxFinders)
        r.fail(QStringLiteral("finders"), Kind::TooMany, QString::number(list.size()));
    FindersRead read;
    QSet<QString> names;
    for (qsizetype i = 0; i < list.size() && !r.failed(); ++i) {
        const QString at = QStringLiteral("finders[%1]").arg(i);
        Finder finder = readFinder(list.at(i), at, r);
        if (!r.failed() && names.contains(finder.name.toLower()))
            r.fail(at + QStringLiteral(".name"), Kind::DuplicateName, finder.name);
        names.insert(finder.name.toLower());
        read.finders.append(std::move(finder));
    }
    if (r.failed())
        return {{}, r.error()};
    return read;
}

FindersRead ReadFindersFile(const QString &path)
{
    const RegularFileRead file = ReadRegularFile(path, MaxFindersFileBytes);
    if (!file.ok()) {
        const QString why = file.failure == RegularFileRead::Failure::TooLarge
                                ? QStringLiteral("larger than %1 KiB").arg(MaxFindersFileBytes >> 10)
                            : file.failure == RegularFileRead::Failure::NotRegular
                                ? QStringLiteral("not a regular file")
                                : file.systemError;
        return {{}, FindersError{path, {}, Kind::Unreadable, why}};
    }
    return ParseFinders(file.bytes, path);
}
