#pragma once

#include <QJsonDocument>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

// A path into a JSON answer, as finders name where the file's address stands: member names apart at
// ".", "[N]" for the N-th element of a list (from 0), "[*]" for every element, an optional "$." before
// it all. "best_oa_location.url_for_pdf", "oa_locations[*].url_for_pdf", "data[0].links[*].href".
class JsonPath
{
public:
    struct Step
    {
        enum class Kind { Member, Index, Every };
        Kind kind = Kind::Member;
        QString name;
        int index = 0;
    };

    // The path of a text; empty steps and an error when it is not one.
    static JsonPath parse(const QString &text, QString *error);

    bool isEmpty() const { return m_steps.isEmpty(); }
    QString text() const { return m_text; }
    const QList<Step> &steps() const { return m_steps; }

    // The texts the path reaches, in the order of the document; values that are not texts (numbers,
    // null, objects) and empty texts are passed over.
    QStringList texts(const QJsonDocument &document) const;
    QStringList texts(const QJsonValue &root) const;

private:
    QString m_text;
    QList<Step> m_steps;
};

// The texts of several paths, the first path's first, each text once.
QStringList JsonPathTexts(const QList<JsonPath> &paths, const QJsonDocument &document);
