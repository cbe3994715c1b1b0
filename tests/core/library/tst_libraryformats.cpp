#include "core/common/filenames.h"
#include "core/library/landingpage.h"
#include "core/library/linkimport.h"
#include "core/library/nametemplate.h"
#include "core/library/paperexport.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

PaperRecord paperRecord(const QString &address, const QString &title, const QString &authors,
                        const QString &year, const QString &source, const QString &file = {},
                        const QString &sha = {})
{
    PaperRecord r;
    r.address = address;
    r.metadata.title = title;
    if (!authors.isEmpty())
        r.metadata.cells.append({QStringLiteral("作者"), authors});
    if (!year.isEmpty())
        r.metadata.cells.append({QStringLiteral("年份"), year});
    if (!source.isEmpty())
        r.metadata.cells.append({QStringLiteral("来源"), source});
    r.held.filePath = file;
    r.held.sha256 = sha;
    return r;
}

const QString kSha = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");

// Titles written by someone else: what each format must carry without breaking.
QList<PaperRecord> hostileRecords()
{
    return {
        paperRecord("https://s/1.pdf", "基于深度学习的古籍文字识别方法研究", "张伟; 王芳", "2019",
                    "计算机学报", "/home/u/论文/基于深度学习.pdf", kSha),
        paperRecord("https://s/2.pdf", "{DNA} repair } and { unmatched", "Smith and Sons; 李娜", "2020", ""),
        paperRecord("https://s/3.pdf", "Title\r\nER  - \r\nTY  - JOUR\r\n@misc{evil, note = {x}}", "", "",
                    "Journal \"Q\""),
        paperRecord("https://s/4.pdf?a=1&b={2}", "C:\\path 100% $5 #1 a_b ~x^2 & \"quoted\"\x01\x1f\t end",
                    "", "1999", "Src}, note = {injected", "/tmp/odd {name.pdf", kSha),
        paperRecord("https://s/5.pdf", "=HYPERLINK(\"http://evil\")", "-2+3", "", "@source"),
    };
}

QString runPython(const QString &script, const QString &file, QString *error)
{
    QProcess p;
    // Debian's interpreter, where python3-bibtexparser is installed.
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, file});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        *error = QString::fromUtf8(p.readAllStandardError());
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestLibraryFormats : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void bibtexIsReadBackByARealParser()
    {
        const QString path = m_dir.path() + "/papers.bib";
        fntest::writeFile(path, ExportBibTeX(hostileRecords()));
        const QString script = QStringLiteral("import sys, json, bibtexparser\n"
                                              "from bibtexparser.bparser import BibTexParser\n"
                                              "parser = BibTexParser(common_strings=False)\n"
                                              "parser.ignore_nonstandard_types = False\n"
                                              "with open(sys.argv[1], encoding='utf-8') as f:\n"
                                              "    db = bibtexparser.load(f, parser=parser)\n"
                                              "print(json.dumps(db.entries, ensure_ascii=False))\n");
        QString error;
        const QString out = runPython(script, path, &error);
        QVERIFY2(!out.isEmpty(), qPrintable("python3-bibtexparser (installed by scripts/setup): " + error));
        const QJsonArray entries = QJsonDocument::fromJson(out.toUtf8()).array();
        QCOMPARE(entries.size(), 5);
        QSet<QString> keys;
        for (const QJsonValue &e : entries)
            keys.insert(e.toObject().value("ID").toString());
        QCOMPARE(keys.size(), 5);

        const QJsonObject first = entries.at(0).toObject();
        QCOMPARE(first.value("ENTRYTYPE").toString(), QStringLiteral("article"));
        QCOMPARE(first.value("title").toString(), QStringLiteral("基于深度学习的古籍文字识别方法研究"));
        QCOMPARE(first.value("author").toString(), QStringLiteral("张伟 and 王芳"));
        QCOMPARE(first.value("year").toString(), QStringLiteral("2019"));
        QCOMPARE(first.value("journal").toString(), QStringLiteral("计算机学报"));
        QCOMPARE(first.value("url").toString(), QStringLiteral("https://s/1.pdf"));
        QCOMPARE(first.value("file").toString(), QStringLiteral("/home/u/论文/基于深度学习.pdf"));
        QCOMPARE(first.value("note").toString(), "SHA-256: " + kSha);

        // Paired braces stay, lone ones are spelled out; "and" inside a name keeps the name whole.
        const QJsonObject second = entries.at(1).toObject();
        QCOMPARE(second.value("ENTRYTYPE").toString(), QStringLiteral("misc"));
        QCOMPARE(second.value("title").toString(),
                 QStringLiteral("{DNA} repair \\textbraceright{} and \\textbraceleft{} unmatched"));
        QCOMPARE(second.value("author").toString(), QStringLiteral("{Smith and Sons} and 李娜"));

        // Line breaks cannot start a new entry or field.
        const QJsonObject third = entries.at(2).toObject();
        QCOMPARE(third.value("title").toString(),
                 QStringLiteral("Title ER - TY - JOUR @misc{evil, note = {x}}"));
        QCOMPARE(third.value("journal").toString(), QStringLiteral("Journal \"Q\""));
        QVERIFY(!third.contains("note"));

        const QJsonObject fourth = entries.at(3).toObject();
        QCOMPARE(fourth.value("title").toString(),
                 QStringLiteral(
                     "C:\\textbackslash{}path 100\\% \\$5 \\#1 a\\_b \\textasciitilde{}x\\textasciicircum{}2 "
                     "\\& \"quoted\" end"));
        QCOMPARE(fourth.value("journal").toString(),
                 QStringLiteral("Src\\textbraceright{}, note = \\textbraceleft{}injected"));
        QCOMPARE(fourth.value("url").toString(), QStringLiteral("https://s/4.pdf?a=1&b=%7B2%7D"));
        QCOMPARE(fourth.value("file").toString(), QStringLiteral("/tmp/odd %7Bname.pdf"));
        QCOMPARE(fourth.value("note").toString(), "SHA-256: " + kSha);
    }

    void risIsReadBackFieldByField()
    {
        const QByteArray ris = ExportRis(hostileRecords());
        QVERIFY(!ris.contains("\r\r") && !ris.contains("\x01"));
        // Every line is a tagged field or the blank line after a record.
        QList<QList<QPair<QString, QString>>> records;
        QList<QPair<QString, QString>> current;
        static const QRegularExpression tagLine(QStringLiteral("^([A-Z][A-Z0-9])  - (.*)$"));
        const QStringList lines = QString::fromUtf8(ris).split(QStringLiteral("\r\n"));
        for (const QString &line : lines) {
            if (line.isEmpty())
                continue;
            const QRegularExpressionMatch m = tagLine.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            if (m.captured(1) == "ER") {
                records.append(current);
                current.clear();
            } else {
                current.append({m.captured(1), m.captured(2)});
            }
        }
        QVERIFY(current.isEmpty());
        QCOMPARE(records.size(), 5);
        using Fields = QList<QPair<QString, QString>>;
        QCOMPARE(records.at(0), (Fields{{"TY", "JOUR"},
                                        {"TI", "基于深度学习的古籍文字识别方法研究"},
                                        {"AU", "张伟"},
                                        {"AU", "王芳"},
                                        {"PY", "2019"},
                                        {"T2", "计算机学报"},
                                        {"UR", "https://s/1.pdf"},
                                        {"L1", "/home/u/论文/基于深度学习.pdf"},
                                        {"N1", "SHA-256: " + kSha}}));
        QCOMPARE(records.at(1), (Fields{{"TY", "GEN"},
                                        {"TI", "{DNA} repair } and { unmatched"},
                                        {"AU", "Smith and Sons"},
                                        {"AU", "李娜"},
                                        {"PY", "2020"},
                                        {"UR", "https://s/2.pdf"}}));
        QCOMPARE(records.at(2).at(1),
                 (QPair<QString, QString>{"TI", "Title ER - TY - JOUR @misc{evil, note = {x}}"}));
        QCOMPARE(records.at(3).at(1),
                 (QPair<QString, QString>{"TI", "C:\\path 100% $5 #1 a_b ~x^2 & \"quoted\" end"}));
    }

    void declaredMetadataReachesEveryFormat()
    {
        // A conference paper and a journal article as their own pages declare them; the journal article's
        // result page gave a title and source of its own, which stay.
        const QByteArray conferencePage =
            "<head><meta name=citation_title content=\"Fast &amp; Safe\"><meta name=citation_author "
            "content=\"Li, Na\"><meta name=citation_author content=\"Ng, Andrew\"><meta "
            "name=citation_conference_title content=\"Proc. Test Conf. 2022\"><meta name=citation_date "
            "content=2022-05-01><meta name=citation_firstpage content=7><meta name=citation_lastpage "
            "content=9><meta name=citation_publisher content=ACM><meta name=citation_doi "
            "content=\"doi:10.1145/3500_1.2\"><meta name=citation_language content=en>";
        const QByteArray journalPage =
            "<head><meta name=DC.title content=\"Ignored title\"><meta name=DC.identifier "
            "content=\"https://doi.org/10.1016/j.x.2020.01.002\"><meta name=prism.volume content=12><meta "
            "name=prism.number content=3><meta name=dc.subject content=\"soil; water\"><meta "
            "name=DC.description content=\"It {works}.\"><meta name=dc.identifier content=urn:x>";
        PaperRecord conference;
        conference.address = QStringLiteral("https://c/landing");
        conference.metadata = ReadLandingPage(conferencePage, QUrl(conference.address)).metadata;
        PaperRecord journal = paperRecord("https://j/42", "结果页标题", "", "2020", "土壤学报");
        journal.metadata =
            MergedMetadata(journal.metadata, ReadLandingPage(journalPage, QUrl(journal.address)).metadata);
        const QList<PaperRecord> records{conference, journal};

        const QString ris = QString::fromUtf8(ExportRis(records));
        for (const char *line : {"TY  - CPAPER",
                                 "TI  - Fast & Safe",
                                 "AU  - Li, Na",
                                 "AU  - Ng, Andrew",
                                 "PY  - 2022",
                                 "T2  - Proc. Test Conf. 2022",
                                 "DO  - 10.1145/3500_1.2",
                                 "SP  - 7",
                                 "EP  - 9",
                                 "PB  - ACM",
                                 "LA  - en",
                                 "TY  - JOUR",
                                 "TI  - 结果页标题",
                                 "T2  - 土壤学报",
                                 "DO  - 10.1016/j.x.2020.01.002",
                                 "VL  - 12",
                                 "IS  - 3",
                                 "KW  - soil",
                                 "KW  - water",
                                 "AB  - It {works}."})
            QVERIFY2(ris.contains(QString::fromUtf8(line) + QStringLiteral("\r\n")), line);
        QVERIFY(!ris.contains(QStringLiteral("urn:x")));

        const QString path = m_dir.path() + "/declared.bib";
        fntest::writeFile(path, ExportBibTeX(records));
        QString error;
        const QString out = runPython(QStringLiteral("import sys, json, bibtexparser\n"
                                                     "with open(sys.argv[1], encoding='utf-8') as f:\n"
                                                     "    db = bibtexparser.load(f)\n"
                                                     "print(json.dumps(db.entries, ensure_ascii=False))\n"),
                                      path, &error);
        QVERIFY2(!out.isEmpty(), qPrintable(error));
        const QJsonArray entries = QJsonDocument::fromJson(out.toUtf8()).array();
        QCOMPARE(entries.size(), 2);
        const QJsonObject c = entries.at(0).toObject();
        QCOMPARE(c.value("ENTRYTYPE").toString(), QStringLiteral("inproceedings"));
        QCOMPARE(c.value("booktitle").toString(), QStringLiteral("Proc. Test Conf. 2022"));
        QVERIFY(!c.contains("journal"));
        QCOMPARE(c.value("title").toString(), QStringLiteral("Fast \\& Safe"));
        QCOMPARE(c.value("doi").toString(), QStringLiteral("10.1145/3500_1.2"));
        QCOMPARE(c.value("pages").toString(), QStringLiteral("7--9"));
        QCOMPARE(c.value("publisher").toString(), QStringLiteral("ACM"));
        const QJsonObject j = entries.at(1).toObject();
        QCOMPARE(j.value("ENTRYTYPE").toString(), QStringLiteral("article"));
        QCOMPARE(j.value("journal").toString(), QStringLiteral("土壤学报"));
        QCOMPARE(j.value("volume").toString(), QStringLiteral("12"));
        QCOMPARE(j.value("number").toString(), QStringLiteral("3"));
        QCOMPARE(j.value("doi").toString(), QStringLiteral("10.1016/j.x.2020.01.002"));

        // The name template takes the same values; a DOI's "/" never makes a folder.
        const QString name = TemplateFileName(QStringLiteral("{期刊}_{卷}({期})_{DOI}"), journal.metadata,
                                              QStringLiteral("pdf"));
        QCOMPARE(name, QStringLiteral("土壤学报_12(3)_10.1016_j.x.2020.01.002"));
        QCOMPARE(TemplateFileName(QStringLiteral("{DOI}-{标题}"), conference.metadata, QStringLiteral("pdf")),
                 QStringLiteral("10.1145_3500_1.2-Fast & Safe"));
    }

    void csvIsReadBackByARealParser()
    {
        const QString path = m_dir.path() + "/papers.csv";
        const QByteArray csv = ExportCsv(hostileRecords());
        QVERIFY(csv.startsWith("\xef\xbb\xbf"));
        fntest::writeFile(path, csv);
        QString error;
        const QString out =
            runPython(QStringLiteral("import sys, csv, json\n"
                                     "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:\n"
                                     "    print(json.dumps(list(csv.reader(f)), ensure_ascii=False))\n"),
                      path, &error);
        QVERIFY2(!out.isEmpty(), qPrintable(error));
        const QJsonArray rows = QJsonDocument::fromJson(out.toUtf8()).array();
        QCOMPARE(rows.size(), 6);
        auto row = [&](int i) {
            QStringList cells;
            for (const QJsonValue &v : rows.at(i).toArray())
                cells << v.toString();
            return cells;
        };
        QCOMPARE(row(0), (QStringList{"标题", "作者", "年份", "来源", "地址", "本地文件", "SHA-256", "DOI",
                                      "卷", "期", "页码", "出版者", "语言", "摘要", "关键词"}));
        QCOMPARE(row(1), (QStringList{"基于深度学习的古籍文字识别方法研究", "张伟; 王芳", "2019",
                                      "计算机学报", "https://s/1.pdf", "/home/u/论文/基于深度学习.pdf", kSha,
                                      "", "", "", "", "", "", "", ""}));
        QCOMPARE(row(3).at(3), QStringLiteral("Journal \"Q\""));
        // What a spreadsheet would run as a formula is kept as text.
        QCOMPARE(row(5).mid(0, 4), (QStringList{"'=HYPERLINK(\"http://evil\")", "'-2+3", "", "'@source"}));
    }

    void templatesFillAndCollapse_data()
    {
        QTest::addColumn<QString>("nameTemplate");
        QTest::addColumn<QString>("authors");
        QTest::addColumn<QString>("year");
        QTest::addColumn<QString>("name");
        QTest::newRow("every field") << "{年份}-{作者}-{标题}"
                                     << "张伟; 王芳"
                                     << "2019"
                                     << "2019-张伟; 王芳-古籍识别";
        QTest::newRow("no authors: one separator") << "{年份}-{作者}-{标题}"
                                                   << ""
                                                   << "2019"
                                                   << "2019-古籍识别";
        QTest::newRow("no year: none in front") << "{年份}-{作者}-{标题}"
                                                << "张伟"
                                                << ""
                                                << "张伟-古籍识别";
        QTest::newRow("a date cell gives its year") << "{年份}_{标题}"
                                                    << ""
                                                    << "发表于2018-05-01"
                                                    << "2018_古籍识别";
        QTest::newRow("prefix and suffix stay") << "[{年份}] {标题} (Folionexus)"
                                                << ""
                                                << "2001"
                                                << "[2001] 古籍识别 (Folionexus)";
        QTest::newRow("unknown field is missing") << "{期号}-{标题}"
                                                  << ""
                                                  << ""
                                                  << "古籍识别";
        QTest::newRow("a header of the page") << "{序号}.{标题}"
                                              << ""
                                              << ""
                                              << "7.古籍识别";
        QTest::newRow("doubled braces are braces") << "{{{年份}}}{标题}"
                                                   << ""
                                                   << "2020"
                                                   << "{2020}古籍识别";
        QTest::newRow("unclosed brace is text") << "{标题} {年份"
                                                << ""
                                                << "2020"
                                                << "古籍识别 {年份";
        QTest::newRow("nothing but missing fields: the title") << "{作者}-{年份}"
                                                               << ""
                                                               << ""
                                                               << "古籍识别";
        QTest::newRow("forbidden characters go") << "{作者}/{标题}"
                                                 << "A:B*C"
                                                 << ""
                                                 << "ABC古籍识别";
    }

    void templatesFillAndCollapse()
    {
        QFETCH(QString, nameTemplate);
        QFETCH(QString, authors);
        QFETCH(QString, year);
        QFETCH(QString, name);
        PaperMetadata m{QStringLiteral("古籍识别"), {{QStringLiteral("序号"), QStringLiteral("7")}}};
        if (!authors.isEmpty())
            m.cells.append({QStringLiteral("作者："), authors});
        if (!year.isEmpty())
            m.cells.append({QStringLiteral("发表时间"), year});
        QCOMPARE(TemplateFileName(nameTemplate, m, "pdf"), name);
    }

    void theDefaultTemplateNamesLikeTheTitle()
    {
        for (const QString &title : {QStringLiteral("  Title\r\nand subtitle. "), QStringLiteral("a\tb  c"),
                                     QStringLiteral("..x..:?"), QStringLiteral("标题").repeated(200)}) {
            const PaperMetadata m{title, {{QStringLiteral("作者"), QStringLiteral("line\nbreak")}}};
            QCOMPARE(TemplateFileName(QStringLiteral("{标题}"), m, "pdf"),
                     FitNameForDisk(CleanFileName(TrimSpaces(StripLineBreaks(title))), "pdf"));
        }
        // Other values lose line breaks and controls to single spaces.
        const PaperMetadata m{QStringLiteral("T"), {{QStringLiteral("作者"), QStringLiteral("A\r\n\x01 B")}}};
        QCOMPARE(FillNameTemplate(QStringLiteral("{作者}|{标题}"), m), QStringLiteral("A B|T"));
    }

    void templateNamesFitTheDiskAtTheByteEdge_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("expectedBytes");
        // 255 bytes = name + "[001]" + "." + extension.
        QTest::newRow("ascii, exactly the room") << QString(246, u'a') << "pdf" << 246;
        QTest::newRow("ascii, cut by the code-page limit first") << QString(300, u'a') << "pdf" << 246;
        QTest::newRow("longer extension leaves less room") << QString(300, u'a') << "docx" << 245;
        QTest::newRow("three-byte characters, not split")
            << QStringLiteral("文").repeated(200) << "pdf" << 246;
        QTest::newRow("four-byte characters, not split") << QStringLiteral("😀").repeated(70) << "pdf" << 244;
        QTest::newRow("just under the room") << QString(245, u'b') << "pdf" << 245;
    }

    void templateNamesFitTheDiskAtTheByteEdge()
    {
        QFETCH(QString, title);
        QFETCH(QString, extension);
        QFETCH(int, expectedBytes);
        const QString name =
            TemplateFileName(QStringLiteral("{年份}{标题}"), PaperMetadata{title, {}}, extension);
        QCOMPARE(name.toUtf8().size(), expectedBytes);
        QVERIFY(title.startsWith(name));
        QVERIFY(QString::fromUtf8(name.toUtf8()) == name); // no half character
        // The longest file the download can make of it is still a valid name.
        const QString path = m_dir.path() + u'/' + name + "[001]." + extension;
        QVERIFY((name + "[001]." + extension).toUtf8().size() <= 255);
        fntest::writeFile(path, "x");
        QVERIFY(FileExists(path));
    }

    void importTakesAddressesAndReportsBadLines()
    {
        const QByteArray text = "\xef\xbb\xbf"
                                "http://site/paper/1.pdf\r\n"
                                "\n"
                                "# a comment\n"
                                "第二篇\thttps://site/paper/2.pdf\n"
                                "第三篇\thttp://site/paper/3.pdf\thttp://site/search?q=x&page=2\n"
                                "ftp://site/paper/4.pdf\n"
                                "javascript:alert(1)\n"
                                "http://\n"
                                "标题\t/relative/5.pdf\n"
                                "a\tb\tc\td\n"
                                "五\thttp://site/5.pdf\tfile:///etc/passwd\n"
                                "again\thttp://site/paper/1.pdf\n"
                                "http://site/with space.pdf\n"
                                "  https://site/paper/6.pdf  \n"
                                "ti\x01tle\thttp://site/paper/7.pdf";
        const LinkImport result = ParseLinkList(text);
        QVERIFY(result.error.isEmpty());
        QStringList got;
        for (const ImportedLink &l : result.links)
            got << QStringLiteral("%1|%2|%3|%4").arg(l.line).arg(l.title, l.address, l.sourcePage);
        QCOMPARE(got, (QStringList{"1||http://site/paper/1.pdf|", "4|第二篇|https://site/paper/2.pdf|",
                                   "5|第三篇|http://site/paper/3.pdf|http://site/search?q=x&page=2",
                                   "14||https://site/paper/6.pdf|", "15|ti tle|http://site/paper/7.pdf|"}));
        QStringList problems;
        for (const ImportProblem &p : result.problems)
            problems << p.text();
        QCOMPARE(
            problems,
            (QStringList{"第 6 行：不是 http 或 https 地址：ftp://site/paper/4.pdf",
                         "第 7 行：不是 http 或 https 地址：javascript:alert(1)",
                         "第 8 行：不是 http 或 https 地址：http://",
                         "第 9 行：不是 http 或 https 地址：标题 /relative/5.pdf",
                         "第 10 行：多于三个以制表符分开的字段：a b c d",
                         "第 11 行：来源网页不是 http 或 https 地址：五 http://site/5.pdf file:///etc/passwd",
                         "第 12 行：地址与前面的行重复：again http://site/paper/1.pdf",
                         "第 13 行：不是 http 或 https 地址：http://site/with space.pdf"}));
    }

    void importReadsGbkAndRefusesWhatItCannotRead()
    {
        // A list saved in the Chinese code page by another program.
        const QByteArray gbkLine = "\xb5\xda\xb6\xfe\xc6\xaa\thttp://site/2.pdf\n"; // 第二篇
        const LinkImport gbk = ParseLinkList(gbkLine);
        QCOMPARE(gbk.links.size(), 1);
        QCOMPARE(gbk.links.at(0).title, QStringLiteral("第二篇"));

        const QString path = m_dir.path() + "/list.txt";
        fntest::writeFile(path, "x\thttp://site/1.pdf\n" + QByteArray(MaxImportLineLength + 1, 'a') + "\n");
        const LinkImport file = ReadLinkListFile(path);
        QCOMPARE(file.links.size(), 1);
        QCOMPARE(file.problems.size(), 1);
        QCOMPARE(file.problems.at(0).kind, ImportProblem::Kind::TooLong);
        QVERIFY(file.problems.at(0).excerpt.size() <= 121);
        QVERIFY(!ReadLinkListFile(m_dir.path() + "/missing.txt").error.isEmpty());
    }

    void metadataRecognisesTheUsualHeaders()
    {
        PaperMetadata m{QStringLiteral("题"),
                        {{QStringLiteral("Authors:"), QStringLiteral("Li Na、Wang Fang；Zhang Wei，Chen")},
                         {QStringLiteral("Published"), QStringLiteral("March 2017, vol. 3")},
                         {QStringLiteral("期刊"), QStringLiteral("地理学报")},
                         {QStringLiteral(" TITLE "), QStringLiteral("Title in English")}}};
        QCOMPARE(m.authorList(), (QStringList{"Li Na", "Wang Fang", "Zhang Wei", "Chen"}));
        QCOMPARE(m.year(), QStringLiteral("2017"));
        QCOMPARE(m.source(), QStringLiteral("地理学报"));
        QCOMPARE(m.englishTitle(), QStringLiteral("Title in English"));
        QCOMPARE(PaperMetadata{}.year(), QString());
        QCOMPARE((PaperMetadata{{}, {{QStringLiteral("年份"), QStringLiteral("12345")}}}.year()), QString());

        QCOMPARE(TidyCellText(QStringLiteral("  a\r\n\tb\x01\u2028c  ")), QStringLiteral("a b c"));
        QCOMPARE(TidyCellText(QStringLiteral("a😀"), 2), QStringLiteral("a"));
        const PaperCells hostile{{QStringLiteral("h\"]}"), QStringLiteral("[\"x\", \"y\"]\n")}};
        QCOMPARE(CellsFromJson(CellsToJson(hostile)), hostile);
        QCOMPARE(CellsFromJson(QStringLiteral("{not json")), PaperCells{});
    }
};

FN_TEST_MAIN_CORE(TestLibraryFormats)
#include "tst_libraryformats.moc"
