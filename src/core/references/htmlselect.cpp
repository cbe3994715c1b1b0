#include "core/references/htmlselect.h"

#include <QRegularExpression>

namespace {

// The attributes of a start tag's text (what follows its name), names in lower case.
QList<std::pair<QString, QString>> attributesOf(const QString &text)
{
    static const QRegularExpression attribute(
        QStringLiteral(R"re(([^\s"'<>/=]+)(?:\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'=<>`]+)))?)re"));
    QList<std::pair<QString, QString>> out;
    for (auto it = attribute.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString value = m.captured(2);
        if (value.isEmpty())
            value = m.captured(3);
        if (value.isEmpty())
            value = m.captured(4);
        out.append({m.captured(1).toLower(), value});
    }
    return out;
}

QString decodeEntities(QString text)
{
    text.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    text.replace(QStringLiteral("&#39;"), QStringLiteral("'"));
    text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return text;
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u':';
}

QString nameAt(const QString &text, qsizetype *at)
{
    const qsizetype start = *at;
    while (*at < text.size() && isNameChar(text.at(*at)))
        ++*at;
    return text.mid(start, *at - start);
}

} // namespace

HtmlSelector::HtmlSelector(const QString &selector)
{
    const QString text = selector.trimmed();
    qsizetype at = 0;
    if (at < text.size() && text.at(at) == u'*')
        ++at;
    else
        m_tag = nameAt(text, &at).toLower();
    while (m_supported && at < text.size())
        m_supported = parseCondition(text, &at);
    m_supported = m_supported && !text.isEmpty();
}

bool HtmlSelector::parseCondition(const QString &text, qsizetype *at)
{
    const QChar kind = text.at((*at)++);
    if (kind == u'#' || kind == u'.') {
        const QString name = nameAt(text, at);
        m_conditions.append(kind == u'#' ? Condition{QStringLiteral("id"), u'=', name}
                                         : Condition{QStringLiteral("class"), u'~', name});
        return !name.isEmpty();
    }
    if (kind != u'[')
        return false;
    const qsizetype close = text.indexOf(u']', *at);
    if (close < 0)
        return false;
    static const QRegularExpression condition(
        QStringLiteral(R"re(^\s*([\w:-]+)\s*(?:([~^$*]?=)\s*(?:"([^"]*)"|'([^']*)'|([^\s"']*))\s*)?$)re"));
    const QRegularExpressionMatch m = condition.match(text.mid(*at, close - *at));
    *at = close + 1;
    if (!m.hasMatch())
        return false;
    const QString op = m.captured(2);
    const QString value = m.captured(3) + m.captured(4) + m.captured(5);
    m_conditions.append(Condition{m.captured(1).toLower(), op.isEmpty() ? QChar() : op.at(0), value});
    return true;
}

bool HtmlSelector::matches(const QString &tag, const QList<std::pair<QString, QString>> &attributes) const
{
    if (!m_tag.isEmpty() && m_tag != tag)
        return false;
    for (const Condition &c : m_conditions) {
        const auto it = std::find_if(attributes.cbegin(), attributes.cend(),
                                     [&c](const auto &attribute) { return attribute.first == c.name; });
        if (it == attributes.cend())
            return false;
        const QString value = decodeEntities(it->second);
        const bool ok = c.op.isNull() || (c.op == u'=' && value == c.value) ||
                        (c.op == u'~' && value.split(u' ', Qt::SkipEmptyParts).contains(c.value)) ||
                        (c.op == u'^' && value.startsWith(c.value)) ||
                        (c.op == u'$' && value.endsWith(c.value)) ||
                        (c.op == u'*' && value.contains(c.value));
        if (!ok)
            return false;
    }
    return true;
}

QStringList HtmlSelector::values(const QByteArray &html, const QString &attribute) const
{
    QStringList out;
    if (!m_supported)
        return out;
    static const QRegularExpression startTag(
        QStringLiteral(R"re(<([A-Za-z][\w:-]*)((?:[^>"']|"[^"]*"|'[^']*')*)>)re"));
    const QString page = QString::fromUtf8(html);
    const QString wanted = attribute.toLower();
    for (auto it = startTag.globalMatch(page); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QList<std::pair<QString, QString>> attributes = attributesOf(m.captured(2));
        if (!matches(m.captured(1).toLower(), attributes))
            continue;
        for (const auto &[name, value] : attributes) {
            if (name == wanted && !value.trimmed().isEmpty() && !out.contains(decodeEntities(value)))
                out.append(decodeEntities(value).trimmed());
        }
    }
    return out;
}
