#include "core/sites/siterules.h"

#include "core/common/filenames.h"
#include "core/sites/ruleaddress.h"

#include <QDir>
#include <QJsonArray>
#include <QStandardPaths>

namespace {

using ruleaddress::isHttpAddress;

const QStringList kBuiltInFiles{
    QStringLiteral(":/siterules/folionexus.json"), QStringLiteral(":/siterules/demo.json"),
    QStringLiteral(":/siterules/demo-cards.json"), QStringLiteral(":/siterules/demo-defs.json")};

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
    if (format == LatestFormat)
        return recipeArguments();
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
    if (format == LatestFormat) {
        for (const auto &[name, selector] : selectorFields()) {
            if (name == field)
                return selector;
        }
    }
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

QJsonObject SiteRules::recipeArguments() const
{
    QJsonArray recipeList;
    for (const RecipeUse &use : recipes())
        recipeList.append(use.recipe.scriptArguments());
    QJsonArray probes;
    for (const auto &[field, selector] : selectorFields())
        probes.append(QJsonArray{field, selector});
    QString nextQuery;
    if (next == NextRule::Selector)
        nextQuery = nextSelector;
    else if (next == NextRule::RelNext)
        nextQuery = QStringLiteral("a[rel~=\"next\" i]");
    return QJsonObject{
        {QStringLiteral("format"), format},         {QStringLiteral("list"), list},
        {QStringLiteral("listTables"), listTables}, {QStringLiteral("item"), start.isEmpty() ? item : start},
        {QStringLiteral("span"), !start.isEmpty()}, {QStringLiteral("exclude"), exclude},
        {QStringLiteral("next"), nextQuery},        {QStringLiteral("recipes"), recipeList},
        {QStringLiteral("probes"), probes},         {QStringLiteral("maxItems"), MaxItems},
        {QStringLiteral("maxValues"), MaxValues},   {QStringLiteral("maxSpan"), MaxSpan}};
}

SiteLimits SiteLimits::stricter(const SiteLimits &other) const
{
    SiteLimits out;
    out.intervalMs = std::max(intervalMs, other.intervalMs);
    if (connections > 0 && other.connections > 0)
        out.connections = std::min(connections, other.connections);
    else
        out.connections = std::max(connections, other.connections);
    return out;
}

QJsonObject ValueRecipe::scriptArguments() const
{
    QString from = QStringLiteral("item");
    if (scope == Scope::Page)
        from = QStringLiteral("page");
    else if (scope == Scope::Preceding)
        from = QStringLiteral("preceding");
    return QJsonObject{{QStringLiteral("sel"), selector},   {QStringLiteral("attr"), attribute},
                       {QStringLiteral("all"), all},        {QStringLiteral("exclude"), exclude},
                       {QStringLiteral("from"), from},      {QStringLiteral("preceding"), preceding},
                       {QStringLiteral("address"), address}};
}

bool SiteRules::namesHost(const QString &host) const
{
    for (const QString &h : hosts) {
        if (hostMatches(h, host))
            return true;
    }
    return false;
}

QList<SiteRules::RecipeUse> SiteRules::recipes() const
{
    using Role = RecipeUse::Role;
    QList<RecipeUse> out{{Role::Link, 0, QStringLiteral("papers.link"), linkRecipe},
                         {Role::Title, 0, QStringLiteral("papers.title"), titleRecipe}};
    for (int i = 0; i < fileSources.size(); ++i) {
        if (fileSources.at(i).kind == FileSource::Kind::Recipe)
            out.append({Role::File, i,
                        fileSources.size() == 1 ? QStringLiteral("fileAddress")
                                                : QStringLiteral("fileAddress[%1]").arg(i),
                        fileSources.at(i).recipe});
    }
    for (int i = 0; i < fields.size(); ++i)
        out.append(
            {Role::Field, i, QStringLiteral("metadata.fields.") + fields.at(i).name, fields.at(i).recipe});
    return out;
}

QString SiteRules::fileAddressFrom(const QString &linkAddress, const QList<QStringList> &recipeValues) const
{
    if (fileSources.isEmpty())
        return isHttpAddress(linkAddress) ? linkAddress : QString();
    for (int i = 0; i < fileSources.size(); ++i) {
        const FileSource &source = fileSources.at(i);
        QString candidate;
        switch (source.kind) {
        case FileSource::Kind::Recipe:
            candidate = recipeValues.value(i).value(0);
            break;
        case FileSource::Kind::Suffix:
            candidate = linkAddress.isEmpty() ? QString() : linkAddress + source.suffix;
            break;
        case FileSource::Kind::Replace:
            // Only an address the pattern matches is made into another: otherwise the next way is tried.
            if (!linkAddress.isEmpty() && source.pattern.match(linkAddress).hasMatch())
                candidate = QString(linkAddress).replace(source.pattern, source.replacement);
            break;
        }
        if (isHttpAddress(candidate))
            return candidate;
    }
    return {};
}

QList<std::pair<QString, QString>> SiteRules::selectorFields() const
{
    QList<std::pair<QString, QString>> out;
    const auto add = [&out](const QString &field, const QString &selector) {
        if (!selector.trimmed().isEmpty())
            out.append({field, selector});
    };
    add(QStringLiteral("papers.list"), list);
    add(start.isEmpty() ? QStringLiteral("papers.item") : QStringLiteral("papers.start"),
        start.isEmpty() ? item : start);
    add(QStringLiteral("papers.exclude"), exclude);
    for (const RecipeUse &use : recipes()) {
        add(use.field, use.recipe.selector);
        add(use.field + QStringLiteral(".exclude"), use.recipe.exclude);
        add(use.field + QStringLiteral(".preceding"), use.recipe.preceding);
    }
    if (next == NextRule::Selector)
        add(QStringLiteral("nextPage"), nextSelector);
    else if (next == NextRule::RelNext)
        add(QStringLiteral("nextPage"), QStringLiteral("a[rel~=\"next\" i]"));
    return out;
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

const SiteRulesCatalog &builtInSiteCatalog()
{
    static const SiteRulesCatalog catalog;
    return catalog;
}

const SiteRules &builtInSiteRules()
{
    return builtInSiteCatalog().builtInSite();
}
