#include "core/search/referencefinders.h"

#include "core/references/htmlselect.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>
#include <QStandardPaths>

namespace {

QStringList htmlAddresses(const Finder &finder, const QByteArray &answer, const QUrl &asked)
{
    QStringList values = HtmlSelector(finder.selector).values(answer, finder.attribute);
    if (!finder.landingSelector.isEmpty())
        values += HtmlSelector(finder.landingSelector).values(answer, finder.landingAttribute);
    return AbsoluteWebAddresses(values, asked);
}

} // namespace

QStringList FinderAnswerReader::addressesIn(const QByteArray &answer, const QUrl &asked) const
{
    if (m_finder.mode == Finder::Mode::Html)
        return htmlAddresses(m_finder, answer, asked);
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(answer, &error);
    if (error.error != QJsonParseError::NoError)
        return {};
    QStringList addresses = m_finder.fileAddresses(json, asked);
    for (const QString &landing : m_finder.landingAddresses(json, asked)) {
        if (!addresses.contains(landing))
            addresses.append(landing);
    }
    return addresses;
}

FinderReaders ReadersOf(const QList<Finder> &finders)
{
    FinderReaders readers;
    for (const Finder &finder : finders)
        readers.append(std::make_shared<const FinderAnswerReader>(finder));
    return readers;
}

QString UserFindersPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/finders.json");
}

FindersRead ReadRunFinders(const QString &givenFile)
{
    FindersRead all;
    QStringList files;
    if (QFileInfo(UserFindersPath()).exists())
        files.append(UserFindersPath());
    if (!givenFile.isEmpty())
        files.append(givenFile);
    QSet<QString> names;
    for (const QString &file : std::as_const(files)) {
        FindersRead read = ReadFindersFile(file);
        if (!read.ok())
            return read;
        // A finder the given file names again under the same name stands in for the user's.
        for (const Finder &finder : std::as_const(read.finders)) {
            if (names.contains(finder.name))
                all.finders.removeIf([&finder](const Finder &known) { return known.name == finder.name; });
            names.insert(finder.name);
            all.finders.append(finder);
        }
    }
    return all;
}
