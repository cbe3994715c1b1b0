#include "browser/webengineresultpage.h"
#include "core/search/candidatelistmodel.h"
#include "core/search/resultpage.h"
#include "demo/demosite.h"
#include "testenv.h"
#include "testrun.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineProfile>

// What extraction takes from each paper's row besides the link, read in the real browser.
class TestResultMetadata : public QObject
{
    Q_OBJECT

    QWebEngineProfile m_profile; // off the record
    QWebEnginePage *m_page = nullptr;
    DemoSite m_site;
    QTemporaryDir m_dir;

    bool load(const QUrl &url)
    {
        QSignalSpy loaded(m_page, &QWebEnginePage::loadFinished);
        m_page->load(url);
        return loaded.wait(20000) && loaded.last().at(0).toBool();
    }

    PageSnapshot read()
    {
        WebEngineResultPage reader(m_page, fntest::siteRules());
        PageSnapshot snapshot;
        bool done = false;
        reader.readPage(this, [&](const PageSnapshot &p) {
            snapshot = p;
            done = true;
        });
        QTest::qWaitFor([&] { return done; }, 20000);
        return snapshot;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_page = new QWebEnginePage(&m_profile, this);
        m_site.setPaperCount(25);
        m_site.setPageSize(10);
        QVERIFY(m_site.listen());
    }

    void cleanupTestCase() { delete m_page; } // the page goes before its profile

    void demoResultPagesGiveEachPapersRow()
    {
        for (int pageNumber : {1, 3}) {
            QVERIFY(load(m_site.searchUrl(QString(), pageNumber)));
            const PageSnapshot snapshot = read();
            QVERIFY(snapshot.valid);
            CandidateListModel list;
            ExtractResultPage(snapshot, list, QStringLiteral("/papers/"));
            const int first = (pageNumber - 1) * 10 + 1;
            const int expected = std::min(10, m_site.paperCount() - first + 1);
            QCOMPARE(list.count(), expected);
            for (int i = 0; i < expected; ++i) {
                const DemoPaper paper = m_site.paper(first + i);
                const CandidateRow &row = list.row(i);
                // The four columns are what they always were.
                QCOMPARE(row.title, paper.title);
                QCOMPARE(row.key, m_site.paperFileUrl(paper.number).toString());
                QCOMPARE(row.type, QStringLiteral("pdf"));
                QCOMPARE(row.status, QString());
                QCOMPARE(row.folder, QStringLiteral("/papers/"));
                const PaperCells cells{{"序号", QString::number(paper.number)},
                                       {"Title", paper.englishTitle},
                                       {"作者", paper.authors.join("; ")},
                                       {"来源", paper.source},
                                       {"年份", QString::number(paper.year)}};
                QCOMPARE(row.cells, cells);
                QCOMPARE(row.metadata().authorList(), paper.authors);
                QCOMPARE(list.data(list.index(i, CandidateListModel::ColAuthors)).toString(),
                         paper.authors.join("; "));
                QCOMPARE(list.data(list.index(i, CandidateListModel::ColYear)).toString(),
                         QString::number(paper.year));
            }
        }
    }

    void oddTablesGiveBoundedTidyCells()
    {
        QByteArray manyHeaders, manyCells;
        for (int i = 0; i < 60; ++i) {
            manyHeaders += "<th>h" + QByteArray::number(i) + "</th>";
            manyCells += "<td>c" + QByteArray::number(i) + "</td>";
        }
        const QByteArray html =
            "<html><head><meta charset='utf-8'></head><body>"
            "<div class='tablelist paperlist'><table>"
            "<thead><tr><th colspan='2'>题名</th><th>作者\n（第一）</th><th></th><th>年份</th></tr></thead>"
            "<tbody>"
            "<tr><td><a href='p/1'>One</a></td><td>x</td><td>张伟\t\n 王芳\x01</td><td>no header</td>"
            "<td><b>2019</b></td></tr>"
            "<tr><td><a href='p/2'>Two</a></td></tr>"
            "<tr><td><a href='p/3'>Three</a> <a href='p/3/detail'>Detail</a></td><td>y</td><td>李娜</td></tr>"
            "</tbody></table></div>"
            "<div class='other'><table><tr>" +
            manyHeaders + "</tr><tr><td><a href='q/1'>Wide</a></td>" + manyCells +
            "</tr></table></div>"
            "</body></html>";
        fntest::writeFile(m_dir.path() + "/odd.html", html);
        QVERIFY(load(QUrl::fromLocalFile(m_dir.path() + "/odd.html")));
        PageSnapshot snapshot = read();
        CandidateListModel list;
        ExtractResultPage(snapshot, list, QString());
        QCOMPARE(list.count(), 4);
        // Columns counted with their spans; a cell without a header text is left out; texts are tidied.
        QCOMPARE(list.row(0).cells,
                 (PaperCells{{"题名", "x"}, {"作者 （第一）", "张伟 王芳"}, {"年份", "2019"}}));
        QCOMPARE(list.row(0).metadata().year(), QStringLiteral("2019"));
        QCOMPARE(list.row(1).cells, PaperCells{});
        QCOMPARE(list.row(2).cells, (PaperCells{{"题名", "y"}, {"作者 （第一）", "李娜"}}));
        QCOMPARE(list.row(3).cells, list.row(2).cells); // a second link in the same row

        // A page with far too many columns hands over a bounded number of cells.
        snapshot.divs[snapshot.divs.size() - 1].className = QStringLiteral("tablelist paperlist");
        snapshot.divs[0].className = QStringLiteral("other");
        CandidateListModel wide;
        ExtractResultPage(snapshot, wide, QString());
        QCOMPARE(wide.count(), 1);
        QCOMPARE(wide.row(0).cells.size(), MaxPaperCells);
        QCOMPARE(wide.row(0).cells.at(0), (PaperCell{"h1", "c0"}));
    }
};

FN_TEST_MAIN_GUI(TestResultMetadata)
#include "tst_resultmetadata.moc"
