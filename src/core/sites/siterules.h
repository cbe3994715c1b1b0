#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// A value read from a result page: where to look, which elements, what of each, and how the texts are
// kept. The page script finds the elements and reads them; the program tidies what it hands back.
struct ValueRecipe
{
    // Where the selector looks: inside the paper's item (its elements, when it spans siblings), inside
    // the nearest element before the item that matches `preceding` (a heading above a group), or the
    // whole page.
    enum class Scope { Item, Preceding, Page };

    QString selector;  // empty: the element looked in itself
    QString attribute; // empty: the text as a reader sees it
    bool all = false;  // every match in page order, or the first that gives a value
    QString join = QStringLiteral("; ");
    QRegularExpression match; // when set, only its first group (or the whole match) is kept
    QString exclude;          // elements left out of the text
    Scope scope = Scope::Item;
    QString preceding;
    bool address = false; // the value is an address, made absolute against the page

    bool isSet() const { return scope != Scope::Item || !selector.isEmpty() || !attribute.isEmpty(); }
    // The recipe as the page script takes it.
    QJsonObject scriptArguments() const;
};

// How hard a site may be asked: the least time between two requests to it and the most transfers to it
// at once. Zero: no limit of the site's own.
struct SiteLimits
{
    int intervalMs = 0;
    int connections = 0;

    bool any() const { return intervalMs > 0 || connections > 0; }
    // The stricter of both, limit by limit.
    SiteLimits stricter(const SiteLimits &other) const;
    bool operator==(const SiteLimits &) const = default;
};

// What is particular to one literature site, read from a rules file (JSON): which pages the rules are
// for, where the paper list is, how a paper's file address is made from its link, which link is the next
// page, where the metadata stands, and the site's login page and the texts of pages that are not papers.
// Rules are data only: the page script that applies them is fixed code and takes them as JSON values.
struct SiteRules
{
    static constexpr int FormatVersion = 1;
    static constexpr int LatestFormat = 2;
    static constexpr int MaxItems = 10000; // items read from one page at most
    static constexpr int MaxValues = 200;  // values one recipe takes from one item at most
    static constexpr int MaxSpan = 200;    // elements one paper spans at most
    static constexpr int MaxIntervalMs = 3600 * 1000;
    static constexpr int MaxConnections = 6;

    enum class Origin { BuiltIn, UserFolder, GivenFile };
    enum class AddressRule { AsIs, Suffix, Replace };
    enum class NextRule { None, Selector, Text, RelNext };
    enum class MetadataRule { None, Columns, Fields };

    struct Field
    {
        QString name;       // the header the value is kept under (e.g. "作者", "年份")
        QString selector;   // inside the item
        ValueRecipe recipe; // format 2
    };

    // Format 2: one way to a paper's file address, tried in order with the others.
    struct FileSource
    {
        enum class Kind { Recipe, Suffix, Replace };
        Kind kind = Kind::Recipe;
        ValueRecipe recipe;
        QString suffix;
        QRegularExpression pattern;
        QString replacement;
    };

    // A recipe of format 2 with the field of the file it stands for ("papers.title", "fileAddress[0]",
    // "metadata.fields.作者").
    struct RecipeUse
    {
        enum class Role { Link, Title, File, Field };
        Role role = Role::Link;
        int index = 0; // among the file sources or the fields
        QString field;
        ValueRecipe recipe;
    };

    int format = FormatVersion;
    QString name;
    QString file; // where the rules were read from
    Origin origin = Origin::BuiltIn;

    QStringList hosts; // lower case; "*.example.org" also matches its subdomains; empty: fallback only
    QString pathPrefix;

    // The paper list, one of two ways. A classic table list: the first DIV whose whole class attribute,
    // ignoring letter case, is `listClass`, read only when it holds exactly one table, every link of
    // which is a paper. Otherwise the first element that `list` matches (the whole document when
    // empty), read only when it holds exactly listTables tables (any number when negative), with one
    // `item` per paper.
    QString listClass;
    QString list;
    int listTables = -1;
    QString item;  // one element per paper, inside the list
    QString link;  // the paper link inside the item; empty: the item is the link
    QString title; // inside the item; empty: the link's own text

    // Format 2: a paper may start at an element that `start` matches and take in the siblings after it
    // up to the next start (instead of one `item` per paper); elements `exclude` matches are never part
    // of a paper; the link, the title, the file address and each field are read by recipes.
    QString start;
    QString exclude;
    ValueRecipe linkRecipe;
    ValueRecipe titleRecipe;
    QList<FileSource> fileSources; // empty: the link's address as it is

    AddressRule address = AddressRule::AsIs;
    QString suffix;
    QRegularExpression pattern;
    QString replacement;

    NextRule next = NextRule::None;
    QString nextSelector;
    QString nextText;

    MetadataRule metadata = MetadataRule::None;
    QList<Field> fields;

    QUrl loginPage;
    QStringList notPaperMarkers;

    SiteLimits politeness;

    // True when the address's host (and path) is one these rules are for.
    bool appliesTo(const QUrl &address) const;
    // The file address for a paper link; empty when the rule makes no http(s) address of it.
    QString fileAddress(const QString &linkAddress) const;
    // True when the text holds one of the texts that mark a page as not a paper (letter case aside).
    bool marksNotPaper(const QString &text) const;
    // The login page as an address on the site of the given page; empty when the rules name none.
    QUrl loginPageFor(const QUrl &page) const;
    // The selectors and texts the page script needs, as JSON values.
    QJsonObject pageArguments() const;
    // Position of the first anchor whose lower-cased text, trimmed of spaces, equals the next-page text.
    int nextLinkByText(const QStringList &anchorTexts) const;
    // The selector behind a field name of the file ("papers.item", "metadata.fields.作者", ...).
    QString selectorOf(const QString &field) const;

    // True when the host (lower case) is one these rules name, whatever the path.
    bool namesHost(const QString &host) const;
    // Format 2: every recipe, in the order the page script reads them: link, title, file sources that
    // are recipes, fields.
    QList<RecipeUse> recipes() const;
    // Format 2: the file address from the paper link and the values the file recipes gave (one list per
    // file source, empty for those that are not recipes): the first source that gives an http(s)
    // address. Empty when none does.
    QString fileAddressFrom(const QString &linkAddress, const QList<QStringList> &recipeValues) const;
    // Format 2: every selector with the field it stands for, as the page script checks them.
    QList<std::pair<QString, QString>> selectorFields() const;

private:
    QJsonObject recipeArguments() const;
};

// Why a rules file was refused: the file, the field (dotted path, empty for the file as a whole) and
// what is wrong with it.
// How a rules file is named to the user: a built-in file as "内置规则 name.json", never by its resource path.
QString SiteRulesFileLabel(const QString &file);

struct SiteRulesError
{
    enum class Reason {
        Unreadable,
        BadJson,
        UnknownVersion,
        MissingField,
        WrongType,
        BadRegex,
        NotHttpAddress,
        BadValue,
        RejectedSelector,
        UnknownField,
    };
    QString file;
    QString field;
    Reason reason = Reason::BadValue;
    QString detail;
    SiteRules::Origin origin = SiteRules::Origin::BuiltIn;

    QString message() const;
};

struct SiteRulesRead
{
    std::optional<SiteRules> rules;
    SiteRulesError error; // meaningful when rules is empty
};

SiteRulesRead parseSiteRules(const QByteArray &json, const QString &file, SiteRules::Origin origin);
SiteRulesRead readSiteRulesFile(const QString &path, SiteRules::Origin origin);

// Every set of rules known to the program: the built-in files, then the files of the user's folder.
// A user file wins over a built-in one for the hosts both name; pages that no rules are for get the
// built-in site's rules. Refused files are listed with their errors and play no part.
class SiteRulesCatalog
{
public:
    SiteRulesCatalog(); // the built-in files only

    // Reads every "*.json" file of the folder, in name order, in place of what an earlier call read.
    void loadUserFolder(const QString &folder);
    // Rules given for one run: they come before all others.
    bool addGivenFile(const QString &path);

    const SiteRules &pick(const QUrl &page) const;
    const SiteRules &builtInSite() const { return m_builtIn.first(); }
    const QList<SiteRules> &builtIn() const { return m_builtIn; }
    const QList<SiteRules> &user() const { return m_user; }
    const QList<SiteRules> &given() const { return m_given; }
    const QList<SiteRulesError> &refused() const { return m_refused; }

    // The folder of a user's rules: "siterules" in the per-user data folder.
    static QString userFolder();

private:
    QList<SiteRules> m_given;
    QList<SiteRules> m_user;
    QList<SiteRules> m_builtIn;
    QList<SiteRulesError> m_refused;
};

// The built-in files alone, read once from the program's resources and never changed.
const SiteRulesCatalog &builtInSiteCatalog();
// The built-in site's rules among them.
const SiteRules &builtInSiteRules();
