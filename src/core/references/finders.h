#pragma once

#include "core/references/jsonpath.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// A finder asks a service where a paper's full text is: its address template is filled in with the
// paper's DOI or arXiv id, and the answer says where the file is, either in an HTML page (the attribute
// of the element a CSS selector picks) or in JSON (the text a path reaches; several paths are tried in
// turn). Optionally it names a landing page as a second choice the same way.
//
// The file (finders.json, UTF-8, JSON):
//   {"format": 1, "finders": [
//     {"name": "Open index", "url": "https://api.example.org/v2/{doi}?email=me@example.org", "mode": "json",
//      "path": ["best_oa_location.url_for_pdf", "oa_locations[*].url_for_pdf"],
//      "landingPath": "best_oa_location.url_for_landing_page"},
//     {"name": "Repository", "url": "https://repo.example.org/doi/{doi}", "mode": "html",
//      "selector": "meta[name=citation_pdf_url]", "attribute": "content",
//      "landingSelector": "link[rel=canonical]", "landingAttribute": "href"}]}
// A list of finders alone (without the object around it) is read too; "format" may be left out.
struct Finder
{
    enum class Mode { Html, Json };

    QString name;
    QString addressTemplate; // "url" of the file
    Mode mode = Mode::Json;
    // html mode
    QString selector;
    QString attribute;
    QString landingSelector; // empty: no landing page
    QString landingAttribute;
    // json mode
    QList<JsonPath> paths;
    QList<JsonPath> landingPaths; // empty: no landing page
    bool usesDoi = false;
    bool usesArxiv = false;

    // The address to ask about a paper; empty when the paper lacks an identifier the template names.
    QString addressFor(const QString &doi, const QString &arxiv) const;
    // json mode: the addresses in an answer to the address asked: the file's, or the landing page's.
    // Relative ones are made absolute against the address asked; only http(s) addresses, each once.
    QStringList fileAddresses(const QJsonDocument &answer, const QUrl &asked) const;
    QStringList landingAddresses(const QJsonDocument &answer, const QUrl &asked) const;
};

// Values an answer gave, as the http(s) addresses they name (relative ones against the base), each once.
QStringList AbsoluteWebAddresses(const QStringList &values, const QUrl &base);

// Why a finders file was refused: the file, the field (dotted, "finders[2].path[1]"; empty for the file
// as a whole) and what is wrong.
struct FindersError
{
    enum class Kind {
        Unreadable,
        BadJson,
        UnknownFormat,
        MissingField,
        WrongType,
        BadValue,
        UnknownField,
        BadTemplate,
        BadPath,
        DuplicateName,
        TooMany,
    };
    QString file;
    QString field;
    Kind kind = Kind::BadValue;
    QString detail;

    // English, e.g. "finders.json: finders[1].path: not a JSON path (ends with a point)".
    QString text() const;
};

struct FindersRead
{
    QList<Finder> finders;
    std::optional<FindersError> error; // set: the file was refused as a whole and gives no finders

    bool ok() const { return !error; }
};

constexpr int FindersFormatVersion = 1;
constexpr int MaxFinders = 100;
constexpr qint64 MaxFindersFileBytes = 1024 * 1024;

FindersRead ParseFinders(const QByteArray &json, const QString &file);
FindersRead ReadFindersFile(const QString &path);
