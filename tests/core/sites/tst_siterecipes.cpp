#include "core/library/paperexport.h"
#include "core/search/pagecheck.h"
#include "core/search/recipevalues.h"
#include "core/sites/sitepoliteness.h"
#include "core/sites/siterules.h"
#include "recipepage.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

SiteRules rulesOf(const QByteArray &json)
{
    const SiteRulesRead read = parseSiteRules(json, QStringLiteral("r.json"), SiteRules::Origin::GivenFile);
    if (!read.rules)
        qWarning("%s", qPrintable(read.error.message()));
    return read.rules.value_or(SiteRules{});
}

// A rules file of format 2 with the given papers and further members.
QByteArray format2(const QByteArray &papers, const QByteArray &more = {})
{
    return R"({"format": 2, "name": "T", "hosts": ["a.org"], "papers": )" + papers +
           (more.isEmpty() ? QByteArray() : ", " + more) + "}";
}

} // namespace

// Rules of format 2 as files: what they read into, what a recipe keeps of a value, and what they refuse.
class TestSiteRecipes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aFileOfFormat2ReadsEveryRecipe();
    void theFileAddressComesFromTheFirstWayThatGivesOne();
    void newFieldsOfTheWrongShapeAreRefused_data();
    void newFieldsOfTheWrongShapeAreRefused();
    void politenessIsChosenAsTheRulesAre();
    void aRecipeKeepsWhatAReaderSeesAndThePatternMatches();
    void listsStayListsInTheLibraryAndTheExports();
    void theCheckAsJsonKeepsValuesAndEscapesControls();
};

// The bodies stand outside the class: the rules files they write hold braces inside raw strings.

void TestSiteRecipes::aFileOfFormat2ReadsEveryRecipe()
{
    const SiteRules rules = rulesOf(recipepage::kRules);
    QCOMPARE(rules.format, 2);
    QCOMPARE(rules.start, QStringLiteral("dl.results > dt"));
    QCOMPARE(rules.exclude, QStringLiteral("dt.ad"));
    // A link is read from its href and made absolute; the title leaves the badge out.
    QCOMPARE(rules.linkRecipe.attribute, QStringLiteral("href"));
    QVERIFY(rules.linkRecipe.address);
    QCOMPARE(rules.titleRecipe.exclude, QStringLiteral(".badge"));
    QVERIFY(!rules.titleRecipe.address);
    QCOMPARE(rules.fileSources.size(), 2);
    QCOMPARE(rules.fileSources.at(0).kind, SiteRules::FileSource::Kind::Recipe);
    QCOMPARE(rules.fileSources.at(1).kind, SiteRules::FileSource::Kind::Replace);
    QStringList fields;
    for (const SiteRules::RecipeUse &use : rules.recipes())
        fields.append(use.field);
    QCOMPARE(fields, (QStringList{"papers.link", "papers.title", "fileAddress[0]", "metadata.fields.作者",
                                  "metadata.fields.年份", "metadata.fields.DOI", "metadata.fields.分组",
                                  "metadata.fields.来源"}));
    const ValueRecipe &authors = rules.fields.at(0).recipe;
    QVERIFY(authors.all);
    QCOMPARE(authors.join, QStringLiteral(" / "));
    QCOMPARE(rules.fields.at(3).recipe.scope, ValueRecipe::Scope::Preceding);
    QCOMPARE(rules.fields.at(4).recipe.scope, ValueRecipe::Scope::Page);
    QCOMPARE(rules.selectorOf("metadata.fields.分组.preceding"), QStringLiteral("h2.year"));
    QCOMPARE(rules.selectorOf("papers.title.exclude"), QStringLiteral(".badge"));
    QCOMPARE(rules.politeness, SiteLimits{});

    // Without a title the link's own text is the title; without a link the item is the link.
    const SiteRules plain = rulesOf(format2(R"({"item": "li", "link": {"selector": "h3 a"}})",
                                            R"("politeness": {"interval": 1.5, "connections": 2})"));
    QCOMPARE(plain.titleRecipe.selector, QStringLiteral("h3 a"));
    QVERIFY(plain.titleRecipe.attribute.isEmpty());
    QCOMPARE(plain.politeness, (SiteLimits{1500, 2}));
    const SiteRules bare = rulesOf(format2(R"({"item": "a.paper"})"));
    QVERIFY(bare.linkRecipe.selector.isEmpty());
    QCOMPARE(bare.linkRecipe.attribute, QStringLiteral("href"));
}

void TestSiteRecipes::theFileAddressComesFromTheFirstWayThatGivesOne()
{
    const SiteRules rules = rulesOf(
        format2(R"({"item": "li"})", R"("fileAddress": [{"selector": "a.pdf", "attribute": "data-url"},
            {"pattern": "/abs/(\\d+)$", "replacement": "/pdf/\\1"}, {"suffix": ".pdf"}])"));
    QCOMPARE(rules.fileSources.at(0).recipe.attribute, QStringLiteral("data-url"));
    const QString link = QStringLiteral("https://a.org/abs/7");
    QCOMPARE(rules.fileAddressFrom(link, {{"https://cdn.a.org/7.pdf?t=x"}}),
             QStringLiteral("https://cdn.a.org/7.pdf?t=x"));
    // What is no http(s) address is passed over, and so is a pattern that does not fit.
    QCOMPARE(rules.fileAddressFrom(link, {{"javascript:get(7)"}}), QStringLiteral("https://a.org/pdf/7"));
    QCOMPARE(rules.fileAddressFrom("https://a.org/view?id=7", {{}}),
             QStringLiteral("https://a.org/view?id=7.pdf"));
    QCOMPARE(rules.fileAddressFrom(QString(), {{}}), QString());
    const SiteRules onlyReplace = rulesOf(
        format2(R"({"item": "li"})", R"("fileAddress": {"pattern": "/abs/", "replacement": "/pdf/"})"));
    QCOMPARE(onlyReplace.fileAddressFrom("https://a.org/view/7", {}), QString());
    // Without any way the link is the file, as in format 1.
    QCOMPARE(rulesOf(format2(R"({"item": "li"})")).fileAddressFrom(link, {}), link);
}

void TestSiteRecipes::newFieldsOfTheWrongShapeAreRefused_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("field");
    QTest::addColumn<SiteRulesError::Reason>("reason");
    using R = SiteRulesError::Reason;
    const auto papers = [](const char *p) { return format2(p); };
    const auto more = [](const char *m) { return format2(R"({"item": "li"})", m); };
    QTest::newRow("item and start") << papers(R"({"item": "li", "start": "dt"})") << "papers.start"
                                    << R::BadValue;
    QTest::newRow("neither item nor start") << papers(R"({"link": "a"})") << "papers.item" << R::MissingField;
    QTest::newRow("classic list in format 2")
        << papers(R"({"listClass": "x", "item": "li"})") << "papers.listClass" << R::BadValue;
    QTest::newRow("a recipe that is a number")
        << papers(R"({"item": "li", "title": 3})") << "papers.title" << R::WrongType;
    QTest::newRow("all as a word") << papers(R"({"item": "li", "title": {"selector": "h3", "all": "yes"}})")
                                   << "papers.title.all" << R::WrongType;
    QTest::newRow("attribute that is no name") << papers(R"({"item": "li", "link": {"attribute": "a b"}})")
                                               << "papers.link.attribute" << R::BadValue;
    QTest::newRow("match that is no pattern")
        << papers(R"({"item": "li", "title": {"match": "(x"}})") << "papers.title.match" << R::BadRegex;
    QTest::newRow("from nowhere") << papers(R"({"item": "li", "title": {"from": "above"}})")
                                  << "papers.title.from" << R::BadValue;
    QTest::newRow("the whole page as a value")
        << papers(R"({"item": "li", "title": {"from": "page"}})") << "papers.title.from" << R::BadValue;
    QTest::newRow("page and preceding")
        << papers(R"({"item": "li", "title": {"selector": "h3", "from": "page", "preceding": "h2"}})")
        << "papers.title.preceding" << R::BadValue;
    QTest::newRow("exclude a list") << papers(R"({"item": "li", "exclude": [".ad"]})") << "papers.exclude"
                                    << R::WrongType;
    QTest::newRow("a misspelt recipe field") << papers(R"({"item": "li", "title": {"selecter": "h3"}})")
                                             << "papers.title.selecter" << R::UnknownField;
    QTest::newRow("a misspelt top field") << more(R"("politness": {})") << "politness" << R::UnknownField;
    QTest::newRow("no file way") << more(R"("fileAddress": [])") << "fileAddress" << R::BadValue;
    QTest::newRow("replacement to a script")
        << more(R"("fileAddress": [{"selector": "a"}, {"pattern": "x", "replacement": "javascript:y"}])")
        << "fileAddress[1].replacement" << R::NotHttpAddress;
    QTest::newRow("replacement without pattern field")
        << more(R"("fileAddress": {"pattern": "x"})") << "fileAddress.replacement" << R::MissingField;
    QTest::newRow("suffix with more")
        << more(R"("fileAddress": {"suffix": ".pdf", "all": true})") << "fileAddress.all" << R::UnknownField;
    QTest::newRow("field without name") << more(R"("metadata": {"fields": [{"selector": ".a"}]})")
                                        << "metadata.fields[0].name" << R::MissingField;
    QTest::newRow("field join a number") << more(R"("metadata": {"fields": [{"name": "a", "join": 1}]})")
                                         << "metadata.fields[0].join" << R::WrongType;
    QTest::newRow("columns in format 2")
        << more(R"("metadata": {"columns": true})") << "metadata.columns" << R::BadValue;
    QTest::newRow("interval below zero")
        << more(R"("politeness": {"interval": -1})") << "politeness.interval" << R::BadValue;
    QTest::newRow("interval as text")
        << more(R"("politeness": {"interval": "2s"})") << "politeness.interval" << R::WrongType;
    QTest::newRow("no connection at all")
        << more(R"("politeness": {"connections": 0})") << "politeness.connections" << R::BadValue;
    QTest::newRow("half a connection")
        << more(R"("politeness": {"connections": 1.5})") << "politeness.connections" << R::WrongType;
    QTest::newRow("more connections than slots")
        << more(R"("politeness": {"connections": 7})") << "politeness.connections" << R::BadValue;
}

void TestSiteRecipes::newFieldsOfTheWrongShapeAreRefused()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, field);
    QFETCH(SiteRulesError::Reason, reason);
    const SiteRulesRead read =
        parseSiteRules(json, QStringLiteral("/rules/b.json"), SiteRules::Origin::UserFolder);
    QVERIFY2(!read.rules, json.constData());
    QCOMPARE(read.error.field, field);
    QCOMPARE(read.error.reason, reason);
    QVERIFY(read.error.message().contains(QStringLiteral("/rules/b.json")));
    QVERIFY(read.error.message().contains(field));
}

void TestSiteRecipes::politenessIsChosenAsTheRulesAre()
{
    fntest::isolateUserFolders();
    QTemporaryDir dir;
    const auto write = [&](const char *name, const char *hosts, const char *politeness) {
        QByteArray json = format2(R"({"item": "li"})", politeness);
        fntest::writeFile(dir.filePath(name), json.replace(R"(["a.org"])", hosts));
    };
    write("a.json", R"(["*.example.org"])", R"("politeness": {"interval": 2, "connections": 3})");
    write("b.json", R"(["journals.example.org"])", R"("politeness": {"interval": 0.5, "connections": 1})");
    write("c.json", R"(["quiet.example.net"])", R"("politeness": {})");
    SiteRulesCatalog catalog;
    catalog.loadUserFolder(dir.path());
    const SitePoliteness sites(catalog);
    QVERIFY(!sites.isEmpty());
    // Where several files name the host, the strictest of each limit holds.
    QCOMPARE(sites.limitsFor(QUrl("https://journals.example.org/p/1.pdf")), (SiteLimits{2000, 1}));
    QCOMPARE(sites.limitsFor(QUrl("https://example.org/p/1.pdf")), (SiteLimits{2000, 3}));
    QCOMPARE(sites.limitsFor(QUrl("https://quiet.example.net/p")), SiteLimits{});
    QCOMPARE(sites.limitsFor(QUrl("https://elsewhere.test/p")), SiteLimits{});
    QVERIFY(SitePoliteness(SiteRulesCatalog()).isEmpty());
    // Rules given for a run are the site's rules whatever the host.
    write("given.json", R"([])", R"("politeness": {"connections": 2})");
    QVERIFY(catalog.addGivenFile(dir.filePath("given.json")));
    QCOMPARE(SitePoliteness(catalog).limitsFor(QUrl("https://elsewhere.test/p")), (SiteLimits{0, 2}));
}

void TestSiteRecipes::aRecipeKeepsWhatAReaderSeesAndThePatternMatches()
{
    ValueRecipe recipe;
    QCOMPARE(RecipeValues(recipe, {"  Title:\n  A   paper\t ", "second"}), QStringList{"Title: A paper"});
    recipe.match = QRegularExpression(QStringLiteral("Title:\\s*(.+)"));
    QCOMPARE(RecipeValues(recipe, {"Title: A paper "}), QStringList{"A paper"});
    recipe.all = true;
    recipe.match = QRegularExpression(QStringLiteral("\\d{4}"));
    // The whole match without a group; a value the pattern does not fit is dropped.
    QCOMPARE(RecipeValues(recipe, {"Submitted 25 September, 2023", "no year", " 1999 "}),
             (QStringList{"2023", "1999"}));
    recipe.match = QRegularExpression();
    QStringList many;
    for (int i = 0; i < 2 * SiteRules::MaxValues; ++i)
        many.append(QString::number(i));
    QCOMPARE(RecipeValues(recipe, many).size(), SiteRules::MaxValues);
}

void TestSiteRecipes::listsStayListsInTheLibraryAndTheExports()
{
    const PaperCells cells{{"作者", "Chen, Wei / 李，明", {"Chen, Wei", "李，明"}}, {"年份", "2020", {}}};
    const PaperCells back = CellsFromJson(CellsToJson(cells));
    QCOMPARE(back, cells);
    // Stored cells of single values read as they always did.
    QCOMPARE(CellsFromJson(R"([["作者","张伟; 王芳"]])").first().values, QStringList());
    const PaperMetadata listed{"T", back};
    QCOMPARE(listed.authorList(), (QStringList{"Chen, Wei", "李，明"}));
    QCOMPARE(PaperMetadata({"T", {{"作者", "张伟; 王芳"}}}).authorList(), (QStringList{"张伟", "王芳"}));

    PaperRecord record;
    record.address = QStringLiteral("https://a.org/p/1.pdf");
    record.metadata = listed;
    const QString ris = QString::fromUtf8(ExportRis({record}));
    QVERIFY2(ris.contains("AU  - Chen, Wei\r\n") && ris.contains("AU  - 李，明\r\n"), qPrintable(ris));
    QVERIFY(QString::fromUtf8(ExportCsv({record})).contains("\"Chen, Wei; 李，明\""));
}

void TestSiteRecipes::theCheckAsJsonKeepsValuesAndEscapesControls()
{
    PageCheck check;
    check.readable = true;
    check.paperCount = 2;
    const QString hostile = QStringLiteral("Red\x1b[31m title\u009b2J\u202e");
    check.first = {{hostile,
                    "https://u:pw@a.org/p/1.pdf",
                    {{"作者", "A; B", {"A", "B"}}, {"年份", "2020", {}}},
                    "https://a.org/abs/1",
                    false},
                   {"Landing", "https://a.org/abs/2", {}, "https://a.org/abs/2", true}};
    const QByteArray json = pageCheckJson(check);
    for (const char *raw : {"\x1b", "\xc2\x9b", "\xe2\x80\xae"})
        QVERIFY2(!json.contains(raw), json.constData());
    const QJsonArray papers = QJsonDocument::fromJson(json).object().value("papers").toArray();
    QCOMPARE(papers.size(), 2);
    const QJsonObject first = papers.at(0).toObject();
    QCOMPARE(first.value("title").toString(), hostile);
    QCOMPARE(first.value("fileAddress").toString(), QStringLiteral("https://a.org/p/1.pdf"));
    QCOMPARE(first.value("fields").toObject().value("作者").toArray(), (QJsonArray{"A", "B"}));
    QCOMPARE(first.value("fields").toObject().value("年份").toString(), QStringLiteral("2020"));
    // A paper taken by its link alone has no file address yet.
    QVERIFY(papers.at(1).toObject().value("fileAddress").isNull());
    QCOMPARE(papers.at(1).toObject().value("link").toString(), QStringLiteral("https://a.org/abs/2"));
}

QTEST_GUILESS_MAIN(TestSiteRecipes)
#include "tst_siterecipes.moc"
