#include "core/references/finders.h"
#include "core/references/findertemplate.h"
#include "core/references/identifiers.h"
#include "core/references/latextext.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// JSON written with single quotes, which moc reads more readily in C++ source than raw strings.
QByteArray js(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

// The shape of a public open-access index's answer: its best location has no PDF, the others do.
const QByteArray openIndexAnswer = js(
    "{ "
    "'doi': '10.1000/xyz', "
    "'best_oa_location': {'url_for_pdf': null, 'url_for_landing_page': 'https://repo.example.org/record/1'}, "
    "'oa_locations': [ "
    "{'url_for_pdf': 'https://repo.example.org/files/1.pdf', 'url': 'https://repo.example.org/record/1'}, "
    "{'url_for_pdf': '/files/2.pdf'}, "
    "{'url_for_pdf': 'ftp://old.example.org/3.pdf'}, "
    "{'url_for_pdf': 'https://repo.example.org/files/1.pdf'} "
    "] "
    "}");

FindersError::Kind refusal(const QByteArray &json, QString *field = nullptr)
{
    const FindersRead read = ParseFinders(json, QStringLiteral("finders.json"));
    if (read.ok())
        return FindersError::Kind::Unreadable; // not what any case below expects
    if (field)
        *field = read.error->field;
    return read.error->kind;
}

} // namespace

class TestFinders : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void doiSpellings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("doi");
        QTest::addColumn<DoiFault>("fault");
        const QString plain = QStringLiteral("10.1000/ABC.1(2)");
        QTest::newRow("bare") << "10.1000/ABC.1(2)" << plain << DoiFault::None;
        QTest::newRow("doi: prefix, any case, space") << "DOI: 10.1000/ABC.1(2)" << plain << DoiFault::None;
        QTest::newRow("info:doi/") << "info:doi/10.1000/ABC.1(2)" << plain << DoiFault::None;
        QTest::newRow("https resolver") << "https://doi.org/10.1000/ABC.1(2)" << plain << DoiFault::None;
        QTest::newRow("old resolver, upper-case host")
            << "http://DX.DOI.ORG/10.1000/ABC.1(2)" << plain << DoiFault::None;
        QTest::newRow("resolver without scheme") << "doi.org/10.1000/ABC.1(2)" << plain << DoiFault::None;
        QTest::newRow("query and fragment are not the DOI")
            << "https://doi.org/10.1000/ABC.1(2)?x=1#y" << plain << DoiFault::None;
        QTest::newRow("percent-encoded") << "10.1000%2FABC.1%282%29" << plain << DoiFault::None;
        QTest::newRow("encoded in a resolver address")
            << "https://doi.org/10.1000%2FABC.1(2)" << plain << DoiFault::None;
        QTest::newRow("subdivided registrant") << " 10.1000.10/x "
                                               << "10.1000.10/x" << DoiFault::None;
        QTest::newRow("SICI with # and <>")
            << "10.1002/(SICI)1097-4636(199812)43:4<403::AID-JBM7>3.0.CO;2-#"
            << "10.1002/(SICI)1097-4636(199812)43:4<403::AID-JBM7>3.0.CO;2-#" << DoiFault::None;
        QTest::newRow("no 10.") << "11.1000/x" << QString() << DoiFault::NoPrefix;
        QTest::newRow("registrant too short") << "10.12/x" << QString() << DoiFault::NoPrefix;
        QTest::newRow("no registrant") << "10./x" << QString() << DoiFault::NoPrefix;
        QTest::newRow("no slash") << "doi:10.1000" << QString() << DoiFault::NoPrefix;
        QTest::newRow("nothing after the slash") << "10.1000/" << QString() << DoiFault::NoSuffix;
        QTest::newRow("space inside") << "10.1000/a b" << QString() << DoiFault::WhiteSpace;
        QTest::newRow("encoded space") << "10.1000/a%20b" << QString() << DoiFault::WhiteSpace;
        QTest::newRow("control character") << "10.1000/a\x01"
                                              "b"
                                           << QString() << DoiFault::ControlCharacter;
        QTest::newRow("encoded escape") << "10.1000/a%1B[31m" << QString() << DoiFault::ControlCharacter;
        QTest::newRow("encoded bytes that are not UTF-8")
            << "10.1000/%FF%FE" << QString() << DoiFault::BadEncoding;
        QTest::newRow("empty") << "  " << QString() << DoiFault::Empty;
        QTest::newRow("another host") << "https://example.org/10.1000/x" << QString() << DoiFault::NoPrefix;
    }

    void doiSpellings()
    {
        QFETCH(QString, text);
        QFETCH(QString, doi);
        QFETCH(DoiFault, fault);
        const DoiRead read = ReadDoi(text);
        QCOMPARE(read.fault, fault);
        QCOMPARE(read.doi, doi);
        QVERIFY(!DoiFaultText(fault).isEmpty() || fault == DoiFault::None);
    }

    void doisCompareWithoutLetterCase()
    {
        QCOMPARE(DoiKey(ReadDoi("https://doi.org/10.1000/ABC").doi), DoiKey(ReadDoi("doi:10.1000/abc").doi));
        QVERIFY(DoiKey(ReadDoi("10.1000/abc").doi) != DoiKey(ReadDoi("10.1000/abd").doi));
        QVERIFY(ClaimsToBeDoi("doi:nothing"));
        QVERIFY(ClaimsToBeDoi("https://doi.org/shortdoi"));
        QVERIFY(!ClaimsToBeDoi("https://example.org/10.1000/x"));
        QCOMPARE(ArxivIdOfDoi("10.48550/arXiv.2101.00001"), QStringLiteral("2101.00001"));
        QCOMPARE(ArxivIdOfDoi("10.1000/arXiv.2101.00001"), QString());
    }

    void arxivIds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("id");
        QTest::newRow("new style, four digits") << "0704.0001"
                                                << "0704.0001";
        QTest::newRow("new style, five digits, version") << "2101.00001v2"
                                                         << "2101.00001v2";
        QTest::newRow("prefix") << "arXiv:2101.00001"
                                << "2101.00001";
        QTest::newRow("prefix any case, space") << "ARXIV: 2101.00001"
                                                << "2101.00001";
        QTest::newRow("old style") << "hep-th/9901001"
                                   << "hep-th/9901001";
        QTest::newRow("old style with subject class") << "arXiv:math.AG/0601001v3"
                                                      << "math.AG/0601001v3";
        QTest::newRow("abs address") << "https://arxiv.org/abs/2101.00001v2"
                                     << "2101.00001v2";
        QTest::newRow("pdf address") << "http://export.arxiv.org/pdf/2101.00001.pdf"
                                     << "2101.00001";
        QTest::newRow("old-style pdf address") << "arxiv.org/pdf/hep-th/9901001v1"
                                               << "hep-th/9901001v1";
        QTest::newRow("month 13") << "2113.00001"
                                  << "";
        QTest::newRow("three digits") << "2101.001"
                                      << "";
        QTest::newRow("version 0") << "2101.00001v0"
                                   << "";
        QTest::newRow("old style, short number") << "hep-th/99010"
                                                 << "";
        QTest::newRow("another host") << "https://example.org/abs/2101.00001"
                                      << "";
        QTest::newRow("a DOI") << "10.1000/2101.00001"
                               << "";
    }

    void arxivIds()
    {
        QFETCH(QString, text);
        QFETCH(QString, id);
        QCOMPARE(ReadArxivId(text), id);
        if (!id.isEmpty())
            QCOMPARE(ArxivKey(id), ArxivKey(id.section(u'v', 0, 0)).toLower());
    }

    void latexBecomesUnicode_data()
    {
        QTest::addColumn<QString>("latex");
        QTest::addColumn<QString>("text");
        QTest::newRow("accents in their forms")
            << "Caf\\'{e}, \\\"Uber, {\\\"u}, \\`a, \\^{o}, \\~n, \\=a, \\.z"
            << "Café, Über, ü, à, ô, ñ, ā, ż";
        QTest::newRow("letter accents") << "\\v{C}esk\\'y, \\v c, \\H{o}, \\c{c}, \\k{a}, \\r{u}, \\u{g}"
                                        << "Český, č, ő, ç, ą, ů, ğ";
        QTest::newRow("dotless i takes the accent") << "Anton{\\'\\i}n, \\'{\\i}, \\\"\\i"
                                                    << "Antonín, í, ï";
        QTest::newRow("letters of their own")
            << "Stra\\ss e, {\\o}re, \\AA{}ngstr\\\"om, {\\l}\\'od\\'z, \\ae"
            << "Straße, øre, Ångström, łódź, æ";
        QTest::newRow("braces and unknown commands") << "The {DNA} of \\emph{E. coli} \\mbox{G-Animal's}"
                                                     << "The DNA of E. coli G-Animal's";
        QTest::newRow("escaped specials") << "50\\% of R\\&D, \\$5, \\#1, a\\_b"
                                          << "50% of R&D, $5, #1, a_b";
        QTest::newRow("dashes, ties, quotes") << "1--2, A---B, Dr.~X, ``quoted''"
                                              << "1–2, A—B, Dr. X, “quoted”";
        QTest::newRow("inline mathematics") << "$\\beta$-lactamase and $^{13}$C in $\\alpha_1$"
                                            << "β-lactamase and 13C in α1";
        QTest::newRow("operators keep their spaces") << "$O(n \\log n / \\!\\log\\log n)$"
                                                     << "O(n log n / log log n)";
        QTest::newRow("white space collapses") << "  a \n\t b  "
                                               << "a b";
        QTest::newRow("a lone backslash at the end") << "end\\"
                                                     << "end";
        QTest::newRow("an accent without its brace") << "\\'{e"
                                                     << "é";
    }

    void latexBecomesUnicode()
    {
        QFETCH(QString, latex);
        QFETCH(QString, text);
        QCOMPARE(LatexToUnicode(latex), text);
    }

    void addressesLoseOnlyTheirEscapes()
    {
        QCOMPARE(LatexUnescapeAddress("{https://example.org/a\\_b\\%20c\\&d=\\#e~f}"),
                 QStringLiteral("https://example.org/a_b%20c&d=#e~f"));
        QCOMPARE(LatexUnescapeAddress("10.1000/{ABC}\\_1"), QStringLiteral("10.1000/ABC_1"));
    }

    void templatesAreFilledAndChecked()
    {
        const QString doi =
            QStringLiteral("10.1002/(SICI)1097-4636(199812)43:4<403::AID>3.0.CO;2-# a&b=c+d?é%");
        // In the path the DOI's "/" stays and what would end or change the path is encoded.
        QCOMPARE(ExpandAddressTemplate("https://api.example.org/v2/{doi}", doi, {}),
                 QStringLiteral(
                     "https://api.example.org/v2/10.1002/(SICI)1097-4636(199812)43:4%3C403::AID%3E3.0.CO;"
                     "2-%23%20a&b=c+d%3F%C3%A9%25"));
        // In the query "&", "=", "+" and "#" are encoded too.
        QCOMPARE(ExpandAddressTemplate("https://x.example.org/find?email=me@example.org&doi={doi}", doi, {}),
                 QStringLiteral(
                     "https://x.example.org/find?email=me@example.org&doi=10.1002/(SICI)1097-4636(199812)"
                     "43:4%3C403::AID%3E3.0.CO;2-%23%20a%26b%3Dc%2Bd%3F%C3%A9%25"));
        QCOMPARE(ExpandAddressTemplate("https://x.example.org/{arxiv}/{doi}", "10.1000/x", "hep-th/9901001"),
                 QStringLiteral("https://x.example.org/hep-th/9901001/10.1000/x"));
        // A finder for DOIs asked about a paper without one gives nothing to ask.
        QCOMPARE(ExpandAddressTemplate("https://x.example.org/{doi}", {}, "2101.00001"), QString());

        QCOMPARE(ArxivPdfAddress("2101.00001v2"), QStringLiteral("https://arxiv.org/pdf/2101.00001v2"));
        QCOMPARE(ArxivPdfAddress("hep-th/9901001"), QStringLiteral("https://arxiv.org/pdf/hep-th/9901001"));
        QCOMPARE(ArxivPdfAddress({}), QString());
        QCOMPARE(DoiResolverAddress("10.1000/ABC"), QStringLiteral("https://doi.org/10.1000/ABC"));
        QCOMPARE(DoiResolverAddress("10.1000/ABC", "http://127.0.0.1:8080/doi/{doi}"),
                 QStringLiteral("http://127.0.0.1:8080/doi/10.1000/ABC"));
        QCOMPARE(DoiResolverAddress({}), QString());

        const auto fault = [](const QString &t) { return CheckAddressTemplate(t).fault; };
        QCOMPARE(fault("https://x.example.org/{doi}"), TemplateFault::None);
        QVERIFY(CheckAddressTemplate("https://x.example.org/{arxiv}").usesArxiv);
        QCOMPARE(fault("https://x.example.org/paper"), TemplateFault::NoPlaceholder);
        QCOMPARE(fault("https://x.example.org/{isbn}"), TemplateFault::UnknownPlaceholder);
        QCOMPARE(fault("https://x.example.org/{doi"), TemplateFault::UnclosedBrace);
        QCOMPARE(fault("ftp://x.example.org/{doi}"), TemplateFault::NotHttpAddress);
        QCOMPARE(fault("{doi}"), TemplateFault::NotHttpAddress);
        QCOMPARE(CheckResolverTemplate(DefaultDoiResolverTemplate).fault, TemplateFault::None);
        QCOMPARE(CheckResolverTemplate("https://x.example.org/{arxiv}").fault, TemplateFault::NeedsDoi);
        QCOMPARE(CheckResolverTemplate("https://x.example.org/{doi}/{arxiv}").fault, TemplateFault::NeedsDoi);
        QCOMPARE(CheckResolverTemplate("javascript:{doi}").fault, TemplateFault::NotHttpAddress);
    }

    void jsonPathsReachTheirTexts()
    {
        const QJsonDocument answer = QJsonDocument::fromJson(openIndexAnswer);
        QString error;
        const JsonPath best = JsonPath::parse("best_oa_location.url_for_pdf", &error);
        QVERIFY2(!best.isEmpty(), qPrintable(error));
        QCOMPARE(best.texts(answer), QStringList()); // null is no text
        const JsonPath every = JsonPath::parse("$.oa_locations[*].url_for_pdf", &error);
        QCOMPARE(every.texts(answer).size(), 4);
        QCOMPARE(JsonPath::parse("oa_locations[1].url_for_pdf", &error).texts(answer),
                 QStringList{"/files/2.pdf"});
        QCOMPARE(JsonPath::parse("oa_locations[9].url_for_pdf", &error).texts(answer), QStringList());
        QCOMPARE(JsonPath::parse("doi.more", &error).texts(answer), QStringList());
        QCOMPARE(JsonPath::parse("[0].a", &error).texts(QJsonDocument::fromJson(js("[{'a': 'x'}]"))),
                 QStringList{"x"});
        // Fallbacks in turn, each address once.
        QCOMPARE(JsonPathTexts({best, every}, answer),
                 (QStringList{"https://repo.example.org/files/1.pdf", "/files/2.pdf",
                              "ftp://old.example.org/3.pdf"}));

        for (const char *broken : {"", "a..b", "a.", ".a", "a[x]", "a[-1]", "a[1", "a]", "a[0]b", "a.[0]"}) {
            error.clear();
            QVERIFY2(JsonPath::parse(QLatin1String(broken), &error).isEmpty(), broken);
            QVERIFY2(!error.isEmpty(), broken);
        }
    }

    void findersFileIsReadInBothModes()
    {
        const QByteArray json =
            "\xEF\xBB\xBF" + js("{'format': 1, 'finders': [ "
                                "{'name': 'Open index', 'mode': 'json', "
                                "'url': 'https://api.example.org/v2/{doi}?email=me@example.org', "
                                "'path': ['best_oa_location.url_for_pdf', 'oa_locations[*].url_for_pdf'], "
                                "'landingPath': 'best_oa_location.url_for_landing_page', "
                                "'comment': 'asks a third party'}, "
                                "{'name': 'Repository', 'url': 'https://repo.example.org/arxiv/{arxiv}', "
                                "'mode': 'html', 'selector': 'meta[name=citation_pdf_url]', "
                                "'attribute': 'content', 'landingSelector': 'link[rel=canonical]'}]}");
        const FindersRead read = ParseFinders(json, QStringLiteral("finders.json"));
        QVERIFY2(read.ok(), read.error ? qPrintable(read.error->text()) : "");
        QCOMPARE(read.finders.size(), 2);
        const Finder &index = read.finders.at(0);
        QCOMPARE(index.mode, Finder::Mode::Json);
        QVERIFY(index.usesDoi && !index.usesArxiv);
        QCOMPARE(index.paths.size(), 2);
        const QString asked = index.addressFor("10.1000/xyz", {});
        QCOMPARE(asked, QStringLiteral("https://api.example.org/v2/10.1000/xyz?email=me@example.org"));
        QCOMPARE(index.addressFor({}, "2101.00001"), QString());
        const QJsonDocument answer = QJsonDocument::fromJson(openIndexAnswer);
        // Relative addresses against the address asked; only http(s).
        QCOMPARE(
            index.fileAddresses(answer, QUrl(asked)),
            (QStringList{"https://repo.example.org/files/1.pdf", "https://api.example.org/files/2.pdf"}));
        QCOMPARE(index.landingAddresses(answer, QUrl(asked)),
                 QStringList{"https://repo.example.org/record/1"});

        const Finder &repository = read.finders.at(1);
        QCOMPARE(repository.mode, Finder::Mode::Html);
        QCOMPARE(repository.selector, QStringLiteral("meta[name=citation_pdf_url]"));
        QCOMPARE(repository.attribute, QStringLiteral("content"));
        QCOMPARE(repository.landingAttribute, QStringLiteral("content")); // the attribute unless named
        QCOMPARE(repository.addressFor({}, "2101.00001"),
                 QStringLiteral("https://repo.example.org/arxiv/2101.00001"));

        // A bare list is a finders file too; an empty one gives no finders.
        QCOMPARE(ParseFinders(js("[{'name': 'A', 'url': 'https://a.example.org/{doi}', 'mode': 'json', "
                                 "'path': 'pdf'}]"),
                              "f")
                     .finders.size(),
                 1);
        QVERIFY(ParseFinders(js("{'finders': []}"), "f").ok());
    }

    void findersRefusalsNameTheFileAndTheField()
    {
        QString field;
        const QByteArray start = js("{'finders': [{'name': 'A', 'url': 'https://a.example.org/{doi}',");
        QCOMPARE(refusal("{\"finders\": [", &field), FindersError::Kind::BadJson);
        QCOMPARE(refusal(js("{'format': 2, 'finders': []}"), &field), FindersError::Kind::UnknownFormat);
        QCOMPARE(field, QStringLiteral("format"));
        QCOMPARE(refusal(js("{'finder': []}"), &field), FindersError::Kind::UnknownField);
        QCOMPARE(field, QStringLiteral("finder"));
        QCOMPARE(refusal(js("{'finders': {}}"), &field), FindersError::Kind::WrongType);
        QCOMPARE(refusal(js("{'finders': ['A']}"), &field), FindersError::Kind::WrongType);
        QCOMPARE(field, QStringLiteral("finders[0]"));
        QCOMPARE(refusal(start + js("'mode': 'json'}]}"), &field), FindersError::Kind::MissingField);
        QCOMPARE(field, QStringLiteral("finders[0].path"));
        QCOMPARE(refusal(start + js("'mode': 'json', 'path': ['a', 'b..c']}]}"), &field),
                 FindersError::Kind::BadPath);
        QCOMPARE(field, QStringLiteral("finders[0].path[1]"));
        QCOMPARE(refusal(start + js("'mode': 'json', 'path': [1]}]}"), &field),
                 FindersError::Kind::WrongType);
        QCOMPARE(refusal(start + js("'mode': 'xml', 'path': 'a'}]}"), &field), FindersError::Kind::BadValue);
        QCOMPARE(field, QStringLiteral("finders[0].mode"));
        QCOMPARE(refusal(start + js("'mode': 'html', 'selector': 'a'}]}"), &field),
                 FindersError::Kind::MissingField);
        QCOMPARE(field, QStringLiteral("finders[0].attribute"));
        QCOMPARE(refusal(start + js("'mode': 'html', 'selector': 'a', 'attribute': 'a b'}]}"), &field),
                 FindersError::Kind::BadValue);
        QCOMPARE(refusal(start + js("'mode': 'html', 'selector': 'a', 'attribute': 'href', 'path': 'x'}]}"),
                         &field),
                 FindersError::Kind::UnknownField);
        QCOMPARE(field, QStringLiteral("finders[0].path"));
        QCOMPARE(
            refusal(js("{'finders': [{'name': 'A', 'url': 'https://a.example.org/{isbn}', 'mode': 'json', "
                       "'path': 'a'}]}"),
                    &field),
            FindersError::Kind::BadTemplate);
        QCOMPARE(field, QStringLiteral("finders[0].url"));
        QCOMPARE(
            refusal(js("{'finders': [{'name': 'A', 'url': 'https://a.example.org/{doi}', 'mode': 'json', "
                       "'path': 'a'}, "
                       "{'name': 'a', 'url': 'https://b.example.org/{doi}', 'mode': 'json', 'path': 'a'}]}"),
                    &field),
            FindersError::Kind::DuplicateName);
        QCOMPARE(field, QStringLiteral("finders[1].name"));

        // The words name the file and the field.
        const FindersRead bad =
            ParseFinders(start + js("'mode': 'json', 'path': 'a.'}]}"), "/home/u/finders.json");
        QVERIFY(bad.finders.isEmpty());
        QVERIFY(bad.error->text().startsWith(QStringLiteral("/home/u/finders.json: finders[0].path ")));
        QVERIFY(bad.error->text().contains(QStringLiteral("ends with a point")));

        QTemporaryDir dir;
        QCOMPARE(ReadFindersFile(dir.filePath("missing.json")).error->kind, FindersError::Kind::Unreadable);
        QCOMPARE(ReadFindersFile(dir.path()).error->kind, FindersError::Kind::Unreadable);
    }
};

QTEST_GUILESS_MAIN(TestFinders)
#include "tst_finders.moc"
