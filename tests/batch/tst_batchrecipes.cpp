#include "demo/demosite.h"
#include "faultserver.h"
#include "recipepage.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The demo site's tables read by rules of format 2 that ask for one request a second at most.
const char *const kPoliteTables =
    R"({"format": 2, "name": "Polite tables", "hosts": ["127.0.0.1"],
        "papers": {"list": "div.paperlist", "item": "tr", "link": "a"}, "fileAddress": {"suffix": ".pdf"},
        "politeness": {"interval": 1, "connections": 1}})";
const char *const kRefused =
    R"({"format": 2, "name": "R", "papers": {"item": "li"}, "politeness": {"connections": 0}})";
// What a page's own script would do to it if it ran.
const char *const kPageScript = "<script>document.querySelector('dt a').textContent = 'rewritten';</script>";

} // namespace

// Rules of format 2 in the batch mode, through the real program: the check as JSON on the demo site's
// definition list, a saved page checked without its site, and the politeness of given rules.
class TestBatchRecipes : public QObject
{
    Q_OBJECT

    DemoSite m_defs;
    DemoSite m_tables;
    FaultServer m_server;
    QTemporaryDir m_work;

    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    Run run(const QStringList &arguments)
    {
        QProcess process;
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

    QString write(const QString &name, const QByteArray &bytes)
    {
        fntest::writeFile(m_work.filePath(name), bytes);
        return m_work.filePath(name);
    }

    static QStringList texts(const QJsonValue &list)
    {
        QStringList out;
        for (const QJsonValue &v : list.toArray())
            out.append(v.toString());
        return out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_defs.setPaperCount(7);
        m_defs.setPageSize(10);
        m_defs.setDefsLayout(true);
        QVERIFY(m_defs.listen());
        m_tables.setPaperCount(4);
        QVERIFY(m_tables.listen());
        QVERIFY(m_server.listen());
    }

    void theCheckAsJsonGivesEveryPaperAsThePageShowsIt()
    {
        const Run json =
            run({QStringLiteral("--check-rules"), QStringLiteral("--json"), m_defs.homeUrl().toString()});
        QCOMPARE(json.exitCode, 0);
        const QJsonObject root = QJsonDocument::fromJson(json.out.toUtf8()).object();
        QCOMPARE(root.value("rules").toObject().value("name").toString(),
                 QStringLiteral("墨枢演示文献库（条目）"));
        const QJsonArray papers = root.value("papers").toArray();
        QCOMPARE(papers.size(), 7);
        for (int n = 1; n <= 7; ++n) {
            const DemoPaper paper = m_defs.paper(n);
            const QJsonObject p = papers.at(n - 1).toObject();
            QCOMPARE(p.value("title").toString(), paper.title);
            QCOMPARE(p.value("link").toString(), m_defs.paperLink(n).toString());
            QCOMPARE(p.value("fileAddress").toString(), m_defs.paperFileUrl(n).toString());
            const QJsonObject fields = p.value("fields").toObject();
            QCOMPARE(texts(fields.value("作者")), paper.authors);
            QCOMPARE(fields.value("年份").toString(), QString::number(paper.year));
            QCOMPARE(fields.value("来源").toString(), paper.source);
        }
        // The fourth paper has no PDF link of its own: its file address comes from its link.
        for (const QJsonValue &recipe : root.value("recipes").toArray()) {
            if (recipe.toObject().value("field").toString() == u"fileAddress[0]")
                QCOMPARE(recipe.toObject().value("items").toInt(), 6);
        }

        const Run some = run({QStringLiteral("--check-rules"), m_defs.homeUrl().toString()});
        QVERIFY2(some.out.contains(QStringLiteral("……另有 2 篇未列出")), qPrintable(some.out));
        QVERIFY(!some.out.contains(QStringLiteral("6. ")));
        const Run all =
            run({QStringLiteral("--check-rules"), QStringLiteral("--all"), m_defs.homeUrl().toString()});
        QVERIFY(all.out.contains(QStringLiteral("7. ") + m_defs.paper(7).title));
        QVERIFY(all.out.contains(QStringLiteral("   fileAddress[0] (a.pdf)：6")));
    }

    void aSavedPageIsCheckedWithoutItsSite()
    {
        const QString rules = write("listing.json", recipepage::kRules);
        const QString saved =
            write("saved.html",
                  QByteArray(recipepage::kHtml).replace("</body>", QByteArray(kPageScript) + "</body>"));
        const QString base = m_server.url(QStringLiteral("/list")).toString();
        m_server.clearRequests();
        const Run check =
            run({QStringLiteral("--site-rules"), rules, QStringLiteral("--check-rules"),
                 QStringLiteral("--json"), QStringLiteral("--page"), saved, QStringLiteral("--base"), base});
        QCOMPARE(check.exitCode, 0);
        const QJsonObject root = QJsonDocument::fromJson(check.out.toUtf8()).object();
        QCOMPARE(root.value("page").toString(), base);
        QCOMPARE(root.value("noLink").toInt(), 1);
        QCOMPARE(root.value("byLink").toInt(), 1);
        const QJsonArray papers = root.value("papers").toArray();
        QCOMPARE(papers.size(), 3);
        const QJsonObject first = papers.at(0).toObject();
        QCOMPARE(first.value("title").toString(),
                 QStringLiteral("First paper title")); // its script did not run
        QCOMPARE(first.value("fileAddress").toString(), m_server.url("/files/1.pdf?token=a1b2").toString());
        QCOMPARE(texts(first.value("fields").toObject().value("作者")),
                 (QStringList{"Ann Smith", "Bo Li", "Chen, Wei"}));
        QCOMPARE(first.value("fields").toObject().value("作者").toArray().size(), 3);
        QCOMPARE(papers.at(1).toObject().value("fields").toObject().value("DOI").toString(),
                 QStringLiteral("10.1000/2"));
        QVERIFY(papers.at(2).toObject().value("fileAddress").isNull());
        // Neither its style sheet nor its image was asked for.
        QCOMPARE(m_server.requests().size(), 0);

        const Run missing = run({QStringLiteral("--check-rules"), QStringLiteral("--page"),
                                 m_work.filePath("none.html"), QStringLiteral("--base"), base});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(missing.err.contains(m_work.filePath("none.html")));
        const Run noBase = run({QStringLiteral("--check-rules"), QStringLiteral("--page"), saved});
        QCOMPARE(noBase.exitCode, 1);
        QVERIFY(noBase.err.contains(QStringLiteral("--base")));
    }

    void aRefusedFileOfFormat2NamesItsField()
    {
        const QString refused = write("refused.json", kRefused);
        const Run run1 = run({QStringLiteral("--site-rules"), refused, QStringLiteral("--check-rules"),
                              m_defs.homeUrl().toString()});
        QCOMPARE(run1.exitCode, 1);
        QVERIFY(run1.err.contains(refused));
        QVERIFY(run1.err.contains(QStringLiteral("politeness.connections")));
    }

    void aRunKeepsToThePolitenessOfItsRules()
    {
        QElapsedTimer clock;
        clock.start();
        QList<qint64> asked;
        const QMetaObject::Connection watch =
            connect(&m_tables, &DemoSite::requestServed, this, [&](const QString &path, int) {
                if (path.endsWith(QLatin1String(".pdf")))
                    asked.append(clock.elapsed());
            });
        const QString rules = write("polite.json", kPoliteTables);
        const Run polite = run({QStringLiteral("--site-rules"), rules, QStringLiteral("--no-library"),
                                QStringLiteral("--threads"), QStringLiteral("3"), QStringLiteral("--retries"),
                                QStringLiteral("0"), QStringLiteral("--out"), m_work.filePath("out"),
                                m_tables.searchUrl(QString()).toString()});
        disconnect(watch);
        QVERIFY2(polite.exitCode == 0 || polite.exitCode == 2, qPrintable(polite.err));
        QCOMPARE(asked.size(), 4);
        for (int i = 1; i < asked.size(); ++i)
            QVERIFY2(asked.at(i) - asked.at(i - 1) >= 850,
                     qPrintable(QString::number(asked.at(i) - asked.at(i - 1))));
    }
};

FN_TEST_MAIN_CORE(TestBatchRecipes)
#include "tst_batchrecipes.moc"
