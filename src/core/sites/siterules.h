#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

// What is particular to one literature site, read from a rules file (JSON): which pages the rules are
// for, where the paper list is, how a paper's file address is made from its link, which link is the next
// page, where the metadata stands, and the site's login page and the texts of pages that are not papers.
// Rules are data only: the page script that applies them is fixed code and takes them as JSON values.
struct SiteRules
{
    static constexpr int FormatVersion = 1;
    static constexpr int MaxItems = 10000; // items read from one page at most

    enum class Origin { BuiltIn, UserFolder, GivenFile };
    enum class AddressRule { AsIs, Suffix, Replace };
    enum class NextRule { None, Selector, Text, RelNext };
    enum class MetadataRule { None, Columns, Fields };

    struct Field
    {
        QString name;     // the header the value is kept under (e.g. "作者", "年份")
        QString selector; // inside the item
    };

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
};

// Why a rules file was refused: the file, the field (dotted path, empty for the file as a whole) and
// what is wrong with it.
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
    const QList<SiteRulesError> &refused() const { return m_refused; }

    // The folder of a user's rules: "siterules" in the per-user data folder.
    static QString userFolder();

private:
    QList<SiteRules> m_given;
    QList<SiteRules> m_user;
    QList<SiteRules> m_builtIn;
    QList<SiteRulesError> m_refused;
};

// The built-in site's rules, read once from the program's resources.
const SiteRules &builtInSiteRules();

// The catalog the program runs with: the built-in files and the user's folder, read at first use.
SiteRulesCatalog &programSiteRules();
