#include "core/common/messenger.h"
#include "demo/demosite.h"
#include "faultserver.h"
#include "testenv.h"
#include "testpdf.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const char *const kTablesRules =
    R"({"format": 1, "name": "Tables", "papers": {"listClass": "tablelist paperlist"},
                 "fileAddress": {"suffix": ".pdf"}, "nextPage": {"text": ">"}})";
const char *const kRefusedRules = R"({"format": 1, "name": "Refused", "papers": {"item": "article.paper-card",
                 "link": "h3 a", "title": "h3\u0027); throw 1; //["}})";
const char *const kBrokenRules =
    R"({"format": 1, "name": "B", "papers": {"item": "a"}, "fileAddress": {"pattern": "(", "replacement": ""}})";
// Rules whose only mark is one the transfers look for: a short answer naming it is no paper.
const char *const kNoticeRules =
    R"({"format": 1, "name": "Notice", "hosts": ["127.0.0.1"], "papers": {"item": "li", "link": "a"},
                 "login": {"notPaper": ["FOLIO-MEMBERS-NOTICE"]}})";
const char *const kMineRules =
    R"({"format": 1, "name": "Mine", "hosts": ["127.0.0.1"], "pathPrefix": "/cards/",
                 "papers": {"item": "article", "link": "a"}, "nextPage": {"text": "下一页"}})";
} // namespace

// Site rules in the batch mode: picked by the start page's host or given with --site-rules, and checked
// against a page with --check-rules, through the real program and the demo site's cards layout.
class TestBatchRules : public QObject
{
    Q_OBJECT

    DemoSite m_site; // 7 papers, 3 a page
    QTemporaryDir m_work;

    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    Run run(const QStringList &arguments, const QString &dataHome = QString())
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!dataHome.isEmpty())
            env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(FOLIONEXUS_EXE), QStringList{QStringLiteral("--batch")} + arguments);
        Run result;
        if (!process.waitForStarted(10000) ||
            !QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 90000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QString cards(int page = 1) const
    {
        QUrl url = m_site.homeUrl();
        url.setQuery(page > 1 ? QStringLiteral("q=&page=%1").arg(page) : QStringLiteral("q="));
        return url.toString();
    }

    QString writeRules(const QString &name, const QByteArray &json)
    {
        fntest::writeFile(m_work.filePath(name), json);
        return m_work.filePath(name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_site.setPaperCount(7);
        m_site.setPageSize(3);
        m_site.setCardsLayout(true);
        QVERIFY(m_site.listen());
        QVERIFY(m_site.homeUrl().path().startsWith(QStringLiteral("/cards/")));
    }

    void checkRulesTellsWhatTheRulesFind()
    {
        const Run first = run({QStringLiteral("--check-rules"), cards()});
        QCOMPARE(first.exitCode, 0);
        const DemoPaper paper = m_site.paper(1);
        for (const QString &expected :
             {QStringLiteral("墨枢演示文献库（卡片）"), QStringLiteral("找到论文：3 篇"),
              QStringLiteral("1. ") + paper.title, m_site.paperFileUrl(1).toString(),
              QStringLiteral("作者：") + paper.authors.join(QStringLiteral("; ")),
              QStringLiteral("年份：%1").arg(paper.year), QStringLiteral("下一页：找到")})
            QVERIFY2(first.out.contains(expected), qPrintable(expected + u'\n' + first.out));
        QVERIFY(!first.out.contains(QStringLiteral("未匹配")));

        const Run last = run({QStringLiteral("--check-rules"), cards(3)});
        QCOMPARE(last.exitCode, 0);
        QVERIFY(last.out.contains(QStringLiteral("找到论文：1 篇")));
        QVERIFY(last.out.contains(QStringLiteral("下一页：未找到")));

        // The table rules on a cards page find nothing and say which selector matched nothing.
        const QString tables = writeRules("tables.json", kTablesRules);
        const Run none =
            run({QStringLiteral("--site-rules"), tables, QStringLiteral("--check-rules"), cards()});
        QCOMPARE(none.exitCode, 3);
        QVERIFY(none.out.contains(QStringLiteral("找到论文：0 篇")));
        QVERIFY(none.out.contains(QStringLiteral("未匹配任何元素：papers.listClass (tablelist paperlist)")));

        // A selector the browser refuses: named with its file, and no paper is read by the other rules.
        const QString refused = writeRules("refused.json", kRefusedRules);
        const Run bad =
            run({QStringLiteral("--site-rules"), refused, QStringLiteral("--check-rules"), cards()});
        QCOMPARE(bad.exitCode, 3);
        QVERIFY2(bad.out.contains(QStringLiteral("浏览器不接受此选择器：papers.title")), qPrintable(bad.out));
        QVERIFY(bad.out.contains(refused));
    }

    void aMalformedGivenFileStopsTheRunAndAUserFileIsLeftOut()
    {
        const QString broken = writeRules("broken.json", kBrokenRules);
        const Run refused =
            run({QStringLiteral("--site-rules"), broken, QStringLiteral("--check-rules"), cards()});
        QCOMPARE(refused.exitCode, 1);
        QVERIFY(refused.err.contains(broken));
        QVERIFY(refused.err.contains(QStringLiteral("fileAddress.pattern")));
        QVERIFY(refused.out.isEmpty());

        // The user's folder: a broken file is reported and left out, a good one for the host wins.
        QTemporaryDir data;
        const QString folder =
            data.path() + QStringLiteral("/Folionexus/") + kAppTitle + QStringLiteral("/siterules");
        QVERIFY(QDir().mkpath(folder));
        QFile::copy(broken, folder + QStringLiteral("/a-broken.json"));
        fntest::writeFile(folder + QStringLiteral("/b-mine.json"), kMineRules);
        const Run mine = run({QStringLiteral("--check-rules"), cards()}, data.path());
        QCOMPARE(mine.exitCode, 0);
        QVERIFY(mine.err.contains(QStringLiteral("a-broken.json")));
        QVERIFY2(mine.out.contains(QStringLiteral("站点规则：Mine")), qPrintable(mine.out));
        QVERIFY(mine.out.contains(QStringLiteral("用户规则文件夹")));
        // Its file addresses are the links as they are.
        QVERIFY(mine.out.contains(m_site.paperLink(1).toString() + u'\n'));
        QVERIFY(mine.out.contains(QStringLiteral("下一页：找到")));
    }

    void theTransfersJudgeAnswersByTheGivenRules()
    {
        FaultServer server;
        QVERIFY(server.listen());
        FaultServer::Reply notice;
        // A whole PDF, so that only the rules can tell it from a paper.
        fntest::TestPdf pdf;
        pdf.compressed = false;
        pdf.content = "BT /F1 12 Tf 72 720 Td (FOLIO-MEMBERS-NOTICE: this file is kept for members) Tj ET";
        notice.body = pdf.bytes();
        server.setReply(QStringLiteral("/notice.pdf"), notice);
        const QString links = m_work.filePath("notice-links.txt");
        fntest::writeFile(links, server.url(QStringLiteral("/notice.pdf")).toString().toUtf8() + '\n');
        const auto filesIn = [](const QString &folder) {
            return QDir(folder).entryList({QStringLiteral("*.pdf")}, QDir::Files);
        };

        // Without the rules the short answer is taken for the paper...
        const QString plainOut = m_work.filePath("plain");
        const Run plain =
            run({QStringLiteral("--input"), links, QStringLiteral("--out"), plainOut,
                 QStringLiteral("--no-library"), QStringLiteral("--retries"), QStringLiteral("0")});
        QCOMPARE(plain.exitCode, 0);
        QCOMPARE(filesIn(plainOut).size(), 1);

        // ...and with them given for the run, the transfer knows it for a page that is no paper.
        const QString rules = writeRules("notice.json", kNoticeRules);
        const QString judgedOut = m_work.filePath("judged");
        const Run judged = run({QStringLiteral("--site-rules"), rules, QStringLiteral("--input"), links,
                                QStringLiteral("--out"), judgedOut, QStringLiteral("--no-library"),
                                QStringLiteral("--retries"), QStringLiteral("0")});
        QCOMPARE(judged.exitCode, 2);
        QVERIFY2(filesIn(judgedOut).isEmpty(), qPrintable(filesIn(judgedOut).join(u' ')));
    }

    void aRunWalksTheCardsByTheRulesPickedForTheHost()
    {
        const Run list = run({QStringLiteral("--list"), QStringLiteral("--no-library"), cards()});
        QCOMPARE(list.exitCode, 0);
        const QStringList lines = list.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 7);
        for (int n = 1; n <= 7; ++n) {
            const QStringList fields = lines.at(n - 1).split(u'\t');
            QCOMPARE(fields.value(0), m_site.paper(n).title);
            QCOMPARE(fields.value(1), m_site.paperFileUrl(n).toString());
        }
    }
};

FN_TEST_MAIN_CORE(TestBatchRules)
#include "tst_batchrules.moc"
