#include "core/references/jsonpath.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

constexpr int MaxSteps = 32;

// "[…]" at text[i]: an index or "*"; the position after "]", or -1 when it is not one.
qsizetype readBracket(const QString &text, qsizetype i, JsonPath::Step *step)
{
    const qsizetype close = text.indexOf(u']', i);
    if (close < 0)
        return -1;
    const QString inside = text.mid(i + 1, close - i - 1).trimmed();
    if (inside == u"*") {
        step->kind = JsonPath::Step::Kind::Every;
        return close + 1;
    }
    bool number = false;
    step->index = inside.toInt(&number);
    step->kind = JsonPath::Step::Kind::Index;
    return number && step->index >= 0 && !inside.startsWith(u'+') ? close + 1 : -1;
}

void everyElement(const QJsonArray &array, QList<QJsonValue> &into)
{
    for (const QJsonValue element : array)
        into.append(element);
}

// A member name at text[i]: up to the next ".", "[" or "]".
qsizetype readName(const QString &text, qsizetype i, JsonPath::Step *step)
{
    qsizetype end = i;
    while (end < text.size() && text.at(end) != u'.' && text.at(end) != u'[' && text.at(end) != u']')
        ++end;
    step->name = text.mid(i, end - i);
    return step->name.isEmpty() ? -1 : end;
}

} // namespace

JsonPath JsonPath::parse(const QString &text, QString *error)
{
    const QString trimmed = text.trimmed();
    const QString rest = trimmed.startsWith(QLatin1String("$.")) ? trimmed.mid(2) : trimmed;
    const auto fail = [error](const QString &why) {
        *error = why;
        return JsonPath();
    };
    JsonPath path;
    bool afterPoint = false;
    for (qsizetype i = 0; i < rest.size();) {
        Step step;
        const qsizetype start = i;
        i = rest.at(i) == u'[' && !afterPoint ? readBracket(rest, i, &step) : readName(rest, i, &step);
        if (i < 0)
            return fail(QStringLiteral("no member name or [number] or [*] at position %1").arg(start + 1));
        path.m_steps.append(step);
        afterPoint = i < rest.size() && rest.at(i) == u'.';
        if (afterPoint && ++i == rest.size())
            return fail(QStringLiteral("ends with a point"));
        if (!afterPoint && i < rest.size() && rest.at(i) != u'[')
            return fail(QStringLiteral("unexpected \"%1\" at position %2").arg(rest.at(i)).arg(i + 1));
    }
    if (path.m_steps.isEmpty())
        return fail(QStringLiteral("empty"));
    if (path.m_steps.size() > MaxSteps)
        return fail(QStringLiteral("more than %1 steps").arg(MaxSteps));
    path.m_text = trimmed;
    return path;
}

QStringList JsonPath::texts(const QJsonDocument &document) const
{
    return texts(document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object()));
}

QStringList JsonPath::texts(const QJsonValue &root) const
{
    QList<QJsonValue> reached{root};
    for (const Step &step : m_steps) {
        QList<QJsonValue> next;
        for (const QJsonValue &value : std::as_const(reached)) {
            if (step.kind == Step::Kind::Member && value.isObject() && value.toObject().contains(step.name))
                next.append(value.toObject().value(step.name));
            else if (step.kind == Step::Kind::Index && value.isArray() && step.index < value.toArray().size())
                next.append(value.toArray().at(step.index));
            else if (step.kind == Step::Kind::Every && value.isArray())
                everyElement(value.toArray(), next);
        }
        reached = std::move(next);
    }
    QStringList out;
    for (const QJsonValue &value : std::as_const(reached)) {
        if (value.isString() && !value.toString().isEmpty())
            out.append(value.toString());
    }
    return out;
}

QStringList JsonPathTexts(const QList<JsonPath> &paths, const QJsonDocument &document)
{
    QStringList out;
    for (const JsonPath &path : paths) {
        for (const QString &text : path.texts(document)) {
            if (!out.contains(text))
                out.append(text);
        }
    }
    return out;
}
