#include "batch/batchmanifest.h"
#include "core/common/gbk.h"
#include "core/library/linkimport.h"
#include "core/library/paperexport.h"
#include "core/references/identifiers.h"
#include "core/references/referencelist.h"

#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QString dataFile(const char *name)
{
    return QStringLiteral(FN_REFERENCES_DATA "/") + QLatin1String(name);
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray withCrlfAndBom(QByteArray bytes)
{
    bytes.replace("\n", "\r\n");
    return "\xEF\xBB\xBF" + bytes;
}

const ReferenceEntry *at(const QList<ReferenceEntry> &entries, int line)
{
    for (const ReferenceEntry &entry : entries) {
        if (entry.line() == line)
            return &entry;
    }
    return nullptr;
}

// line: problem, for every refused entry.
QMap<int, EntryProblem> problems(const ReferenceList &list)
{
    QMap<int, EntryProblem> out;
    for (const ReferenceEntry &entry : list.refused)
        out.insert(entry.line(), entry.problem());
    return out;
}

// Everything an entry holds, to compare two readings of the same list.
QString described(const ReferenceEntry &e)
{
    return QStringList{QString::number(e.line()),
                       e.key(),
                       e.doi(),
                       e.arxiv(),
                       e.webAddress(),
                       e.fileAddress(),
                       e.sourcePage(),
                       e.title(),
                       e.authors().join(u';'),
                       e.year(),
                       e.journal(),
                       QString::number(int(e.problem())),
                       e.detail()}
        .join(u'|');
}

QStringList described(const ReferenceList &list)
{
    QStringList out;
    for (const ReferenceEntry &e : list.entries)
        out.append(described(e));
    for (const ReferenceEntry &e : list.refused)
        out.append(described(e));
    return out;
}

// What the code writes to the process's stderr while it runs. A mark written after it shows that the
// capture itself worked; nothing when it did not.
template <typename Run> std::optional<QByteArray> stderrOf(Run run)
{
    QTemporaryFile capture;
    capture.open();
    fflush(stderr);
    const int saved = dup(2);
    dup2(capture.handle(), 2);
    run();
    fputs("<end of capture>", stderr);
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    capture.seek(0);
    const QByteArray written = capture.readAll();
    if (!written.endsWith("<end of capture>"))
        return std::nullopt;
    return written.chopped(16);
}

} // namespace

class TestReferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void realWorldRisExportIsReadWhole()
    {
        const ReferenceList list = ReadReferenceFile(dataFile("scopus_synthesisr.ris"));
        QVERIFY(list.ok());
        QCOMPARE(list.format, ReferenceFormat::Ris);
        QCOMPARE(list.entries.size(), 92);
        QVERIFY(list.refused.isEmpty());
        QCOMPARE(std::count_if(list.entries.cbegin(), list.entries.cend(),
                               [](auto &e) { return !e.doi().isEmpty(); }),
                 82);
        const ReferenceEntry &first = list.entries.first();
        QCOMPARE(first.line(), 1);
        QCOMPARE(first.doi(), QStringLiteral("10.1016/j.foreco.2019.117694"));
        QCOMPARE(first.title(),
                 QStringLiteral(
                     "Black-backed woodpecker occupancy in burned and beetle-killed forests: Disturbance "
                     "agent matters"));
        QCOMPARE(first.authors(), (QStringList{"Tingley, M.W.", "Stillman, A.N.", "Wilkerson, R.L.",
                                               "Sawyer, S.C.", "Siegel, R.B."}));
        QCOMPARE(first.year(), QStringLiteral("2020"));
        QCOMPARE(first.journal(), QStringLiteral("Forest Ecology and Management"));
        // The Scopus address is a page about the paper, kept beside its DOI.
        QVERIFY(
            first.webAddress().startsWith(QStringLiteral("https://www.scopus.com/inward/record.uri?eid=")));
        QVERIFY(at(list.entries, 64)->authors().contains(QStringLiteral("Valkiūnas, G.")));
        // Records without a DO line still name their Scopus page.
        const ReferenceEntry *noDoi = at(list.entries, 351);
        QVERIFY(noDoi && noDoi->doi().isEmpty() && !noDoi->webAddress().isEmpty());
    }

    void realWorldBibTeXMacrosAccentsAndRefusals()
    {
        const ReferenceList list = ReadReferenceFile(dataFile("xampl_pybtex.bib"));
        QVERIFY(list.ok());
        QCOMPARE(list.format, ReferenceFormat::BibTeX);
        // The classic sample names no identifiers at all: every entry is refused, each with its own line.
        QVERIFY(list.entries.isEmpty());
        QCOMPARE(list.refused.size(), 36);
        for (const ReferenceEntry &entry : list.refused)
            QCOMPARE(entry.problem(), EntryProblem::NothingUsable);
        QCOMPARE(list.refused.first().line(), 11);
        QCOMPARE(list.refused.first().key(), QStringLiteral("article-minimal"));
        QCOMPARE(list.refused.first().journal(), QStringLiteral("G-Animal's Journal"));
        QCOMPARE(list.refused.first().authors(), QStringList{"Aamport, L[eslie] A."});
        QCOMPARE(list.refused.last().line(), 358);
        // "Proc. Fifteenth Annual" # STOC, with the @STRING defined further up.
        QCOMPARE(at(list.refused, 278)->title(),
                 QStringLiteral("Proc. Fifteenth Annual Symposium on the Theory of Computing"));
        QCOMPARE(at(list.refused, 325)->title(),
                 QStringLiteral("An O(n log n / log log n) Sorting Algorithm"));
        QCOMPARE(at(list.refused, 54)->year(), QStringLiteral("1973"));
        QCOMPARE(at(list.refused, 54)->authors(), QStringList{"Knuth, Donald E."});
    }

    void realWorldCslJsonAndCsv()
    {
        const ReferenceList csl = ReadReferenceFile(dataFile("manubot_input-references.json"));
        QVERIFY(csl.ok());
        QCOMPARE(csl.format, ReferenceFormat::CslJson);
        QCOMPARE(csl.entries.size(), 3);
        const ReferenceEntry &preprint = csl.entries.at(0);
        QCOMPARE(preprint.key(), QStringLiteral("s33GCagP"));
        QCOMPARE(preprint.doi(), QStringLiteral("10.1088/1402-4896/ab0811"));
        QCOMPARE(preprint.arxiv(), QStringLiteral("1806.05726v1"));
        QCOMPARE(preprint.authors().first(), QStringLiteral("Trang T. Le")); // literal names as they stand
        QCOMPARE(preprint.year(), QStringLiteral("2018"));
        // A shortDOI address is no DOI: kept as a page about the paper.
        QCOMPARE(csl.entries.at(1).webAddress(), QStringLiteral("https://doi.org/gfrfbm"));
        QCOMPARE(csl.entries.at(1).authors(), QStringList{"Smith, Michael L."});
        QCOMPARE(csl.entries.at(2).authors().size(), 36);
        QCOMPARE(csl.entries.at(2).year(), QStringLiteral("2018")); // date-parts of two parts
        QCOMPARE(csl.entries.at(2).journal(), QStringLiteral("Journal of the Royal Society, Interface"));

        const ReferenceList csv = ReadReferenceFile(dataFile("nih_oc_meta_CSVFile_1.csv"));
        QVERIFY(csv.ok());
        QCOMPARE(csv.format, ReferenceFormat::Csv);
        QCOMPARE(csv.entries.size(), 69);
        QCOMPARE(problems(csv).keys(), (QList<int>{11, 22, 23, 24, 25, 26, 27, 28, 30}));
        QCOMPARE(csv.entries.first().doi(), QStringLiteral("10.1016/0006-2944(75)90147-7"));
        QCOMPARE(csv.entries.first().authors(),
                 (QStringList{"A B Makar", "K E McMartin", "M Palese", "T R Tephly"}));
        QCOMPARE(at(csv.refused, 28)->title(), QStringLiteral("Editorial: \"Old lamps for new\"."));
    }

    void crlfAndByteOrderMarkReadTheSame()
    {
        QTemporaryDir dir;
        const char *files[] = {"scopus_synthesisr.ris", "xampl_pybtex.bib", "manubot_input-references.json",
                               "nih_oc_meta_CSVFile_1.csv"};
        for (const char *name : files) {
            const QString copy = dir.filePath(QLatin1String(name));
            QFile out(copy);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(withCrlfAndBom(bytesOf(dataFile(name))));
            out.close();
            const ReferenceList plain = ReadReferenceFile(dataFile(name));
            const ReferenceList crlf = ReadReferenceFile(copy);
            QCOMPARE(crlf.format, plain.format);
            QCOMPARE(described(crlf), described(plain));
        }
        // Pasted text the same; UTF-16 with its mark, and GBK, which is not UTF-8, are read too.
        const QByteArray lines = "标题\t10.1000/a\n2101.00001\n";
        QCOMPARE(described(ReadReferences(withCrlfAndBom(lines))), described(ReadReferences(lines)));
        const QString text = QString::fromUtf8(lines);
        QByteArray utf16("\xFF\xFE");
        utf16.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
        QCOMPARE(described(ReadReferences(utf16)), described(ReadReferences(lines)));
        QCOMPARE(ReadReferences(gbk::encode(text)).entries.first().title(), QStringLiteral("标题"));
    }

    void bibtexMacrosConcatenationBracesAndAccents()
    {
        const QByteArray bib = R"(% written by hand
@string{jcp = "Journal of " # "Chemical Physics"}
@String(pre = "Proc. ")
@preamble{"\newcommand{\noop}[1]{}"}
@comment{nothing to read here}
@Article{Dvorak2020,
  TITLE = {The {DNA} of Caf\'{e} Society: {\"U}ber Stra\ss e and \v{C}esk\'y},
  author = {Dvo{\v r}{\'a}k, Anton{\'\i}n and M{\"u}ller, J\"{o}rg and de la Fontaine, Jean and
            {Barnes and Noble} and Smith, Jr., John},
  journal = jcp,
  year = 2020,
  doi = {https://doi.org/10.1063/1.5137785},
}
@inproceedings(Talk, title = pre # "{Talks} on $\beta$-lactamase---a survey",
  url = {http://dx.doi.org/10.1000/ABC\_1}, booktitle = {Meeting on Things})
@misc{Preprint, title = {Attention}, journal = {arXiv preprint arXiv:1706.03762}}
@misc{Eprint, eprint = {hep-th/9901001v2}, archivePrefix = {arXiv}}
@misc{Files, pdf = {https://example.org/a.pdf},
  file = {Full Text:files/12/a.pdf:application/pdf;Online:https\://example.org/b.pdf:PDF}}
@misc{NoEprint, eprint = {not-an-id}, archivePrefix = {arXiv}}
)";
        const ReferenceList list = ReadReferences(bib);
        QCOMPARE(list.format, ReferenceFormat::BibTeX);
        QCOMPARE(list.entries.size(), 5);
        const ReferenceEntry &article = list.entries.at(0);
        QCOMPARE(article.line(), 6);
        QCOMPARE(article.key(), QStringLiteral("Dvorak2020"));
        QCOMPARE(article.title(), QStringLiteral("The DNA of Café Society: Über Straße and Český"));
        QCOMPARE(article.authors(), (QStringList{"Dvořák, Antonín", "Müller, Jörg", "de la Fontaine, Jean",
                                                 "Barnes and Noble", "Smith, Jr., John"}));
        QCOMPARE(article.journal(), QStringLiteral("Journal of Chemical Physics"));
        QCOMPARE(article.year(), QStringLiteral("2020"));
        QCOMPARE(article.doi(), QStringLiteral("10.1063/1.5137785"));

        const ReferenceEntry &talk = list.entries.at(1);
        QCOMPARE(talk.title(), QStringLiteral("Proc. Talks on β-lactamase—a survey"));
        QCOMPARE(talk.doi(), QStringLiteral("10.1000/ABC_1")); // from the url field, escapes undone
        QCOMPARE(talk.webAddress(), QString());
        QCOMPARE(talk.journal(), QStringLiteral("Meeting on Things"));
        QCOMPARE(list.entries.at(2).arxiv(), QStringLiteral("1706.03762"));
        QCOMPARE(list.entries.at(3).arxiv(), QStringLiteral("hep-th/9901001v2"));
        QCOMPARE(list.entries.at(4).fileAddress(), QStringLiteral("https://example.org/a.pdf"));
        QCOMPARE(list.refused.size(), 1);
        QCOMPARE(list.refused.first().problem(), EntryProblem::NotAnArxivId);
        QCOMPARE(list.refused.first().line(), 20);

        // A file field alone: the local file is passed over, the escaped address taken.
        const ReferenceList files =
            ReadReferences("@misc{f, file = {a:files/a.pdf:PDF;b:https\\://example.org/b.pdf:PDF}}");
        QCOMPARE(files.entries.first().fileAddress(), QStringLiteral("https://example.org/b.pdf"));
    }

    void brokenBibTeXIsNamedAndTheRestRead()
    {
        QByteArray fields;
        for (int i = 0; i < 120; ++i)
            fields += "  f" + QByteArray::number(i) + " = {v},\n";
        const QByteArray bib = "@article{one, doi = {10.1000/1}}\n"                   // 1
                               "@article{bad, doi = {10.1000/2}, title = {unclosed\n" // 2
                               "\n"                                                   // 3
                               "@article{three, doi = {10.1000/3}}\n"                 // 4
                               "@article{nocomma doi = {10.1000/4}}\n"                // 5
                               "@article{five, doi = {10.1000/5},\n"                  // 6
                               "  abstract = {Mail us at\n"                           // 7
                               "@example.org, please}}\n"                             // 8
                               "@article{huge, doi = {10.1000/6},\n" +                // 9, fields on 10-129
                               fields +
                               "}\n"
                               "@article{last, doi = {not a doi}}\n"   // 131
                               "@article{after, doi = {10.1000/7}}\n"; // 132
        ReferenceList list;
        // The library's own messages never reach the terminal: they name the entries instead.
        const std::optional<QByteArray> printed = stderrOf([&] { list = ReadReferences(bib); });
        QVERIFY(printed);
        QCOMPARE(*printed, QByteArray());
        QStringList dois;
        for (const ReferenceEntry &entry : list.entries)
            dois.append(entry.doi());
        // An unclosed brace does not swallow the entries after it; an "@" at the start of a line inside a
        // value starts no entry unless a type and a brace follow it.
        QCOMPARE(dois, (QStringList{"10.1000/1", "10.1000/3", "10.1000/5", "10.1000/7"}));
        QCOMPARE(problems(list), (QMap<int, EntryProblem>{{2, EntryProblem::CannotParse},
                                                          {5, EntryProblem::CannotParse},
                                                          {9, EntryProblem::CannotParse},
                                                          {131, EntryProblem::NotADoi}}));
        QCOMPARE(at(list.refused, 2)->key(), QStringLiteral("bad"));
        QVERIFY(!at(list.refused, 2)->detail().isEmpty());
        QCOMPARE(at(list.refused, 9)->key(), QStringLiteral("huge"));
        QCOMPARE(at(list.refused, 131)->detail(), QStringLiteral("not a doi"));
        // The same list read again gives the same: nothing of the first reading is left behind.
        QCOMPARE(described(ReadReferences(bib)), described(list));
    }

    void bibtexThatTheLibraryStumblesOverIsRefusedNotFatal()
    {
        // Each of these once ended the program inside btparse (a crash, an abort, an exit) or wrote to
        // stderr; each must now cost its own entry at most, and the entry after it is read.
        const QList<QByteArray> shapes{
            ".\n@K{\"\"=@-\"\"\n",                              // ends inside an entry, after text with none
            "@K{l,r\"\",s=\"\"\"\"\"\"\"@.\"\"\"}\n",           // a syntax error, then an "@" inside a value
            "@D{u,r\"\"\"\",\"%n\"}\n",                         // text of the entry used as a printf format
            "@STRING{STOC=~\"\"}\n@S{l,e=\"\"#STOC}\n",         // a broken @string, then its macro used
            "@STRING{STOC=\xff)\"\"\"\"}\n@T{l,e=\"\"#STOC}\n", // one that parses, but defines no text
            "@A{a,author={r,,t}}\n@A{b,author={,y and z,}}\n",  // names the name splitter crashes on
            QByteArrayLiteral("@N{n, title = {a\0b}}\n"),       // a NUL inside a value
            "@e\\{\"\"}\n",                                     // no entry at all for btparse
        };
        for (const QByteArray &shape : shapes) {
            ReferenceList list;
            const std::optional<QByteArray> printed =
                stderrOf([&] { list = ReadReferences(shape + "@article{after, doi = {10.1000/after}}\n"); });
            QVERIFY(printed);
            QCOMPARE(*printed, QByteArray());
            QVERIFY2(!list.entries.isEmpty(), shape.constData());
            QCOMPARE(list.entries.last().doi(), QStringLiteral("10.1000/after"));
        }
        // Names it cannot split are kept as written, "@" and "%" in values as they stand.
        const ReferenceList kept =
            ReadReferences("@A{a, doi = {10.1000/%40x}, author = {r,,t}, title = {a@b 5%}}");
        QCOMPARE(kept.entries.first().authors(), QStringList{"r,,t"});
        QCOMPARE(kept.entries.first().title(), QStringLiteral("a@b 5%"));
        QCOMPARE(kept.entries.first().doi(), QStringLiteral("10.1000/@x"));
    }

    void bibtexListsReadAtOnceKeepTheirOwnMacros()
    {
        // The library's state is the program's: two lists read on two threads at once must neither mix
        // their macros nor see the other's, and a macro of one list is gone for the next.
        const auto list = [](const char *journal) {
            QByteArray bib = QByteArray("@string{j = \"") + journal + "\"}\n";
            for (int i = 0; i < 500; ++i)
                bib += "@article{a" + QByteArray::number(i) + ", doi = {10.1000/" + QByteArray::number(i) +
                       "}, journal = j # \" \" # j}\n";
            return bib;
        };
        QStringList seen[2];
        const auto readMany = [&](int which, const char *journal) {
            const QByteArray bib = list(journal);
            for (int i = 0; i < 10; ++i) {
                for (const ReferenceEntry &entry : ReadReferences(bib).entries)
                    seen[which].append(entry.journal());
            }
        };
        std::thread one(readMany, 0, "First");
        std::thread two(readMany, 1, "Second");
        one.join();
        two.join();
        QCOMPARE(seen[0], QStringList(5000, QStringLiteral("First First")));
        QCOMPARE(seen[1], QStringList(5000, QStringLiteral("Second Second")));
        QCOMPARE(ReadReferences("@article{a, doi = {10.1000/a}, journal = j}").entries.first().journal(),
                 QString());
    }

    void risRecordsFieldsAndRefusals()
    {
        const QByteArray ris = "Provider: A database\r\n"
                               "\r\n"
                               "TY  - JOUR\r\n" // 3
                               "T1  - Several authors and\r\n"
                               "  a title going on\r\n"
                               "A1  - First, A.\r\n"
                               "AU  - Second, B.\r\n"
                               "AU  - Third, C.\r\n"
                               "Y1  - 2019/05/12/\r\n"
                               "JO  - J. Abbr.\r\n"
                               "JF  - Journal in Full\r\n"
                               "UR  - https://doi.org/10.1000%2FRis.1\r\n"
                               "L1  - internal-pdf://local/file.pdf\r\n"
                               "L1  - https://example.org/ris.pdf\r\n"
                               "ER  - \r\n"
                               "TY  - JOUR\r\n" // 16
                               "TI  - A DOI that is not one\r\n"
                               "DO  - 10.1000 / spaced\r\n"
                               "ER  -\r\n"
                               "TY  - BOOK\r\n" // 20
                               "TI  - Nothing to fetch\r\n"
                               "ER  - \r\n"
                               "TY  - JOUR\r\n" // 23
                               "DO  - doi:10.1000/ris.1\r\n"
                               "T2  - Second title as journal\r\n"
                               "PY  - 2001\r\n"; // no ER at the end
        const ReferenceList list = ReadReferences(ris);
        QCOMPARE(list.format, ReferenceFormat::Ris);
        QCOMPARE(list.entries.size(), 1);
        const ReferenceEntry &entry = list.entries.first();
        QCOMPARE(entry.line(), 3);
        QCOMPARE(entry.title(), QStringLiteral("Several authors and a title going on"));
        QCOMPARE(entry.authors(), (QStringList{"First, A.", "Second, B.", "Third, C."}));
        QCOMPARE(entry.year(), QStringLiteral("2019"));
        QCOMPARE(entry.journal(), QStringLiteral("Journal in Full"));
        QCOMPARE(entry.doi(), QStringLiteral("10.1000/Ris.1"));
        QCOMPARE(entry.fileAddress(), QStringLiteral("https://example.org/ris.pdf"));
        QCOMPARE(problems(list),
                 (QMap<int, EntryProblem>{{16, EntryProblem::NotADoi}, {20, EntryProblem::NothingUsable}}));
        // The last record, without its ER, names the first one's DOI in another spelling: one paper,
        // whose journal stays the first record's.
        QCOMPARE(list.merged.size(), 1);
        QCOMPARE(list.merged.first().line, 23);
        QCOMPARE(list.merged.first().sameAs, 3);
        QCOMPARE(entry.journal(), QStringLiteral("Journal in Full"));
    }

    void cslJsonItemsOneByOne()
    {
        // (Not a raw string: moc misreads \" inside one.)
        const QByteArray json =
            "[\n"
            "  {\"id\": 7, \"DOI\": \"10.1000/CSL.1\", \"title\": [\"A title in a list\"],\n"
            "   \"author\": [{\"family\": \"Beethoven\", \"given\": \"Ludwig\", \"non-dropping-particle\": "
            "\"van\"},\n"
            "              {\"family\": \"King\", \"given\": \"Martin Luther\", \"suffix\": \"Jr.\"}, "
            "{\"literal\": \"WHO\"}],\n"
            "   \"issued\": {\"date-parts\": [[\"2019\", 5, 3]]}, \"container-title\": [\"Nature\", "
            "\"Nat.\"]},\n"
            "  {\"DOI\": \"10.1000/csl.2\", \"title\": \"Broken\" \"item\"},\n"
            "  42,\n"
            "  {\"URL\": \"https://arxiv.org/abs/2101.00001v3\", \"issued\": {\"raw\": \"March 2021\"}},\n"
            "  {\"URL\": \"https://example.org/paper\", \"note\": \"a \\\"quoted\\\" ] and } inside a "
            "text\"},\n"
            "  {\"number\": \"2101.00002\", \"publisher\": \"arXiv\"},\n"
            "  {\"title\": \"cut short\", \"DOI\": \"10.1000/csl.3\"\n";
        const ReferenceList list = ReadReferences(json);
        QCOMPARE(list.format, ReferenceFormat::CslJson);
        QVERIFY(list.ok());
        QCOMPARE(list.entries.size(), 4);
        const ReferenceEntry &first = list.entries.at(0);
        QCOMPARE(first.line(), 2);
        QCOMPARE(first.key(), QStringLiteral("7"));
        QCOMPARE(first.title(), QStringLiteral("A title in a list"));
        QCOMPARE(first.authors(), (QStringList{"van Beethoven, Ludwig", "King, Jr., Martin Luther", "WHO"}));
        QCOMPARE(first.year(), QStringLiteral("2019"));
        QCOMPARE(first.journal(), QStringLiteral("Nature"));
        QCOMPARE(list.entries.at(1).arxiv(), QStringLiteral("2101.00001v3"));
        QCOMPARE(list.entries.at(1).year(), QStringLiteral("2021"));
        QCOMPARE(list.entries.at(2).webAddress(), QStringLiteral("https://example.org/paper"));
        QCOMPARE(list.entries.at(3).arxiv(), QStringLiteral("2101.00002"));
        QCOMPARE(problems(list), (QMap<int, EntryProblem>{{6, EntryProblem::CannotParse},
                                                          {7, EntryProblem::CannotParse},
                                                          {11, EntryProblem::CannotParse}}));

        // One item alone is a list of one; anything else is not a list at all.
        QCOMPARE(ReadReferences(R"({"DOI": "10.1000/one"})").entries.size(), 1);
        const ReferenceList scalar = ReadReferences("\"text\"", ReferenceFormat::CslJson);
        QCOMPARE(scalar.failure, ListFailure::NotJsonList);
    }

    void csvQuotedCellsHeadersAndOwnFiles()
    {
        const QByteArray csv = "Title,DOI,ArXiv,Authors,Year\n"
                               "\"Commas, and \"\"quotes\"\"\",10.1000/CSV.1,,\"Doe, J.; Roe, R.\",2018\n"
                               "\"A cell with a\nline break\",,2101.00001,,\n" // lines 3-4
                               "\"unclosed,10.1000/csv.2,,,\n"                 // 5
                               "Next,doi:10.1000/csv.3,,,\n"                   // 6
                               "Stray \" quote,10.1000/csv.4,,,\n";            // 7
        const ReferenceList list = ReadReferences(csv);
        QCOMPARE(list.format, ReferenceFormat::Csv);
        QCOMPARE(list.entries.size(), 3);
        QCOMPARE(list.entries.at(0).title(), QStringLiteral("Commas, and \"quotes\""));
        QCOMPARE(list.entries.at(0).authors(), (QStringList{"Doe, J.", "Roe, R."}));
        QCOMPARE(list.entries.at(1).line(), 3);
        QCOMPARE(list.entries.at(1).title(), QStringLiteral("A cell with a line break"));
        QCOMPARE(list.entries.at(1).arxiv(), QStringLiteral("2101.00001"));
        QCOMPARE(list.entries.at(2).line(), 6);
        QCOMPARE(problems(list),
                 (QMap<int, EntryProblem>{{5, EntryProblem::CannotParse}, {7, EntryProblem::CannotParse}}));

        // The batch run's manifest, written by its own rules (a formula-like name neutralised).
        QString manifest = batchmanifest::csvLine(batchmanifest::header());
        manifest += batchmanifest::csvLine({"https://example.org/a", "=SUM(A1)", "pdf", "Done", "", "",
                                            "https://example.org/list", "", "", "https://example.org/a.pdf"});
        manifest += batchmanifest::csvLine(
            {"https://doi.org/10.1000/M.1", "b", "pdf", "Failed", "", "", "", "", "no full text", ""});
        const ReferenceList run = ReadReferences(manifest.toUtf8());
        QCOMPARE(run.format, ReferenceFormat::Csv);
        QCOMPARE(run.entries.size(), 2);
        QCOMPARE(run.entries.at(0).webAddress(), QStringLiteral("https://example.org/a"));
        QCOMPARE(run.entries.at(0).fileAddress(), QStringLiteral("https://example.org/a.pdf"));
        QCOMPARE(run.entries.at(0).sourcePage(), QStringLiteral("https://example.org/list"));
        QCOMPARE(run.entries.at(0).title(), QStringLiteral("=SUM(A1)"));
        QCOMPARE(run.entries.at(1).doi(), QStringLiteral("10.1000/M.1"));

        // The program's own CSV export, with its Chinese headers.
        PaperRecord record;
        record.address = QStringLiteral("https://example.org/p.pdf");
        record.metadata.title = QStringLiteral("导出的标题");
        record.metadata.cells = {{QStringLiteral("作者"), QStringLiteral("张伟; 王芳")},
                                 {QStringLiteral("年份"), QStringLiteral("2020")},
                                 {QStringLiteral("DOI"), QStringLiteral("10.1000/EXP.1")}};
        const ReferenceList exported = ReadReferences(ExportCsv({record}));
        QCOMPARE(exported.entries.size(), 1);
        QCOMPARE(exported.entries.first().title(), QStringLiteral("导出的标题"));
        QCOMPARE(exported.entries.first().authors(), (QStringList{"张伟", "王芳"}));
        QCOMPARE(exported.entries.first().doi(), QStringLiteral("10.1000/EXP.1"));

        // A CSV list that names no identifier column is refused as a whole.
        QTemporaryDir dir;
        QFile plain(dir.filePath("titles.csv"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("title,year\nA,2001\n");
        plain.close();
        const ReferenceList refused = ReadReferenceFile(plain.fileName());
        QCOMPARE(refused.failure, ListFailure::NoIdentifierColumn);
        QVERIFY(refused.entries.isEmpty());
    }

    void plainLinesKeepWhatLinkListsTake()
    {
        const QByteArray lines = "# a list\n"
                                 "https://example.org/a.pdf\n"                                    // 2
                                 "Title A\thttps://example.org/b.pdf\thttps://example.org/list\n" // 3
                                 "10.1000/LINE.1\n"                                               // 4
                                 "Titled DOI\tdoi: 10.1000/line.2\n"                              // 5
                                 "arXiv:2101.00001v2\n"                                           // 6
                                 "hep-th/9901001\n"                                               // 7
                                 "https://arxiv.org/pdf/2101.00003.pdf\n"                         // 8
                                 "\n"
                                 "doi:not-a-doi\n"                                  // 10
                                 "arXiv:nonsense\n"                                 // 11
                                 "ftp://example.org/c.pdf\n"                        // 12
                                 "a\tb\tc\td\n"                                     // 13
                                 "T\thttps://example.org/d.pdf\tnot a page\n"       // 14
                                 "T\t10.1000/line.3\tnot a page\n"                  // 15
                                 + QByteArray(MaxImportLineLength + 1, 'x') + "\n"; // 16
        const ReferenceList list = ReadReferences(lines);
        QCOMPARE(list.format, ReferenceFormat::Lines);
        QCOMPARE(list.entries.size(), 7);
        QCOMPARE(at(list.entries, 3)->title(), QStringLiteral("Title A"));
        QCOMPARE(at(list.entries, 3)->sourcePage(), QStringLiteral("https://example.org/list"));
        QCOMPARE(at(list.entries, 4)->doi(), QStringLiteral("10.1000/LINE.1"));
        QCOMPARE(at(list.entries, 5)->doi(), QStringLiteral("10.1000/line.2"));
        QCOMPARE(at(list.entries, 5)->title(), QStringLiteral("Titled DOI"));
        QCOMPARE(at(list.entries, 6)->arxiv(), QStringLiteral("2101.00001v2"));
        QCOMPARE(at(list.entries, 7)->arxiv(), QStringLiteral("hep-th/9901001"));
        QCOMPARE(at(list.entries, 8)->arxiv(), QStringLiteral("2101.00003"));
        QCOMPARE(at(list.entries, 8)->fileAddress(), QString());
        QCOMPARE(problems(list), (QMap<int, EntryProblem>{{10, EntryProblem::NotADoi},
                                                          {11, EntryProblem::NotAnArxivId},
                                                          {12, EntryProblem::NothingUsable},
                                                          {13, EntryProblem::TooManyFields},
                                                          {14, EntryProblem::BadSourcePage},
                                                          {15, EntryProblem::BadSourcePage},
                                                          {16, EntryProblem::LineTooLong}}));
        // Every link a link list takes is taken with the same title, address and source page.
        const LinkImport links = ParseLinkList(lines);
        for (const ImportedLink &link : links.links) {
            const ReferenceEntry *entry = at(list.entries, link.line);
            QVERIFY2(entry, qPrintable(link.address));
            QCOMPARE(entry->title(), link.title);
            QCOMPARE(entry->sourcePage(), link.sourcePage);
            QVERIFY(entry->webAddress() == link.address || !entry->arxiv().isEmpty() ||
                    !entry->doi().isEmpty());
        }
    }

    void samePaperUnderAnySpellingIsOneEntry()
    {
        const QByteArray lines = "10.1000/Same.1\n"
                                 "DOI:10.1000/SAME.1\n"
                                 "https://doi.org/10.1000%2Fsame.1\n"
                                 "http://dx.doi.org/10.1000/same.1?via=list\n"
                                 "2101.00001\n"
                                 "arXiv:2101.00001v4\n"
                                 "https://example.org/a\n"
                                 "Named\thttps://example.org/a\n";
        const ReferenceList list = ReadReferences(lines);
        QCOMPARE(list.entries.size(), 3);
        QCOMPARE(list.entries.at(0).doi(), QStringLiteral("10.1000/Same.1")); // the first spelling stays
        QCOMPARE(list.merged.size(), 5);
        QCOMPARE(list.merged.at(2).line, 4);
        QCOMPARE(list.merged.at(2).sameAs, 1);
        QCOMPARE(list.entries.at(1).arxiv(), QStringLiteral("2101.00001"));
        QCOMPARE(list.entries.at(2).title(), QStringLiteral("Named")); // filled in from the later listing

        // A later listing fills only what the first lacks; a page two papers name joins nothing.
        const QByteArray bib =
            "@article{a, doi = {10.1000/MERGE}, url = {https://journal.example.org/}}\n"
            "@article{b, doi = {10.1000/merge}, title = {Late title}, year = 1999,\n"
            "  author = {Late, Author}, pdf = {https://example.org/m.pdf}}\n"
            "@article{c, doi = {10.1000/other}, url = {https://journal.example.org/}}\n"
            "@article{d, doi = {10.48550/arXiv.2101.00009}}\n"
            "@article{e, eprint = {2101.00009v2}, archivePrefix = {arXiv}, title = {Via arXiv}}\n";
        const ReferenceList merged = ReadReferences(bib);
        QCOMPARE(merged.entries.size(), 3);
        const ReferenceEntry &a = merged.entries.at(0);
        QCOMPARE(a.key(), QStringLiteral("a"));
        QCOMPARE(a.title(), QStringLiteral("Late title"));
        QCOMPARE(a.year(), QStringLiteral("1999"));
        QCOMPARE(a.authors(), QStringList{"Late, Author"});
        QCOMPARE(a.fileAddress(), QStringLiteral("https://example.org/m.pdf"));
        QCOMPARE(merged.entries.at(1).doi(), QStringLiteral("10.1000/other"));
        QCOMPARE(merged.entries.at(2).arxiv(), QStringLiteral("2101.00009"));
        QCOMPARE(merged.entries.at(2).title(), QStringLiteral("Via arXiv"));
        QCOMPARE(DoiKey(merged.entries.at(0).doi()), QStringLiteral("10.1000/merge"));
    }

    void formatIsToldByContent()
    {
        QCOMPARE(GuessReferenceFormat("\xEF\xBB\xBF  [{\"DOI\": 1}]"), ReferenceFormat::CslJson);
        QCOMPARE(GuessReferenceFormat("\n\nid,Url\n1,https://x.org/\n"), ReferenceFormat::Csv);
        QCOMPARE(GuessReferenceFormat("Provider: x\nTY  - JOUR\nER  - \n"), ReferenceFormat::Ris);
        QCOMPARE(GuessReferenceFormat("% comment\nText before.\n  @Article{k,\n}"), ReferenceFormat::BibTeX);
        QCOMPARE(GuessReferenceFormat("10.1000/x,y\nhttps://x.org/a,b\n"), ReferenceFormat::Lines);
        QCOMPARE(GuessReferenceFormat("10.1000/x\n", ReferenceFormat::BibTeX), ReferenceFormat::Lines);
        // A plain list's titles may begin like an entry or a tag of another format.
        QCOMPARE(GuessReferenceFormat("=HYPERLINK(x)\thttp://s/0.pdf\n@SUM(A1)\thttp://s/3.pdf\n"
                                      "TY  - JOUR\thttps://s/4.pdf\n"),
                 ReferenceFormat::Lines);
        QCOMPARE(GuessReferenceFormat("title;year\n", ReferenceFormat::Csv), ReferenceFormat::Csv);

        // A BibTeX file named .txt is read as BibTeX.
        QTemporaryDir dir;
        QFile named(dir.filePath("refs.txt"));
        QVERIFY(named.open(QIODevice::WriteOnly));
        named.write("@article{k, doi = {10.1000/txt}}\n");
        named.close();
        QCOMPARE(ReadReferenceFile(named.fileName()).entries.first().doi(), QStringLiteral("10.1000/txt"));
        QCOMPARE(ReadReferenceFile(dir.filePath("missing.bib")).failure, ListFailure::CannotOpen);
        QCOMPARE(ReadReferenceFile(dir.path()).failure, ListFailure::NotRegular);
        QVERIFY(mkfifo(qPrintable(dir.filePath("pipe")), 0600) == 0);
        QCOMPARE(ReadReferenceFile(dir.filePath("pipe")).failure, ListFailure::NotRegular);
    }
};

QTEST_GUILESS_MAIN(TestReferences)
#include "tst_references.moc"
