#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The values of an attribute on the elements of an HTML page that a simple CSS selector picks, in page
// order, without a browser: a finder's answer is read this way. The selector is one compound selector:
// a tag name or "*" (or neither), then any of "#id", ".class", "[attr]", "[attr=value]" (the value
// quoted or not), "[attr~=value]", "[attr^=value]", "[attr$=value]" and "[attr*=value]". Tag and
// attribute names are matched without regard to letter case. A selector with combinators (" ", ">",
// "+", "~" between compounds) or a part this reader does not know picks nothing: supported() tells.
class HtmlSelector
{
public:
    explicit HtmlSelector(const QString &selector);

    bool supported() const { return m_supported; }
    // The attribute's values (entities in them decoded) on the elements picked, each once.
    QStringList values(const QByteArray &html, const QString &attribute) const;

private:
    struct Condition
    {
        QString name;
        QChar op; // 0: present; '=', '~', '^', '$', '*'
        QString value;
    };
    bool parseCondition(const QString &text, qsizetype *at);
    bool matches(const QString &tag, const QList<std::pair<QString, QString>> &attributes) const;

    QString m_tag; // lower case; empty: any
    QList<Condition> m_conditions;
    bool m_supported = true;
};
