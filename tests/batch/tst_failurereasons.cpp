// Every kind of failure names its reason wherever the user looks at the row: its tooltip, the second
// status panel after a click, the batch mode's progress line and the manifest's reason column.
#include "batch/batchmanifest.h"
#include "batch/batchprogress.h"
#include "core/queue/downloadcommands.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "testenv.h"
#include "testrows.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

using Reply = FaultServer::Reply;
using Kind = FailureReason::Kind;

class TestFailureReasons : public QObject
{
    Q_OBJECT

    FaultServer m_plain;
    FaultServer m_tls;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_plain.listen());
        QVERIFY(m_tls.listen(true));
        Reply missing;
        missing.status = 404;
        missing.reason = "Not Found";
        missing.contentType = "text/html";
        missing.body = "<html><body>no such paper</body></html>";
        m_plain.setReply("/missing.pdf", missing);
        Reply silent;
        silent.noAnswer = true;
        m_plain.setReply("/silent.pdf", silent);
        Reply stalled = FaultServer::pdf(8192);
        stalled.stallAfter = 100;
        m_plain.setReply("/stalled.pdf", stalled);
        Reply cut = FaultServer::pdf(8192);
        cut.closeAfter = 100;
        m_plain.setReply("/cut.pdf", cut);
        m_plain.setReply("/paper.pdf", FaultServer::pdf(4000));
        Reply page;
        page.contentType = "text/html";
        page.body = "<html><head><title>请登录</title></head><body>please log in first</body></html>";
        m_plain.setReply("/page.pdf", page);
        // A paper's own page that offers no full text, and one whose full text is no web address.
        page.body = "<html><head><meta name=citation_title content=Paywalled></head><body></body></html>";
        m_plain.setReply("/paywalled.pdf", page);
        page.body = "<html><head><meta name=citation_pdf_url content='javascript:buy()'></head></html>";
        m_plain.setReply("/scripted.pdf", page);
        m_tls.setReply("/paper.pdf", FaultServer::pdf(4000));
    }

    void reasonReachesEveryPlace_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("unwritableFolder");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("windowHead");
        QTest::addColumn<QString>("english");
        auto plain = [this](const char *path) { return m_plain.url(QString::fromLatin1(path)).toString(); };
        QTest::newRow("HTTP status") << plain("/missing.pdf") << false << int(Kind::HttpStatus)
                                     << "服务器答复错误"
                                     << "HTTP 404 Not Found";
        QTest::newRow("connection refused")
            << "http://127.0.0.1:1/paper.pdf" << false << int(Kind::Network) << "网络错误"
            << "network error";
        QTest::newRow("no answer") << plain("/silent.pdf") << false << int(Kind::Timeout)
                                   << "服务器没有及时答复"
                                   << "no answer in time";
        QTest::newRow("stall") << plain("/stalled.pdf") << false << int(Kind::Stall) << "下载停滞"
                               << "stalled";
        QTest::newRow("short body") << plain("/cut.pdf") << false << int(Kind::ShortBody) << "文件不完整"
                                    << "short body";
        QTest::newRow("disk") << plain("/paper.pdf") << true << int(Kind::Disk) << "磁盘错误"
                              << "disk error";
        QTest::newRow("web page") << plain("/page.pdf") << false << int(Kind::WebPage)
                                  << "返回的是网页，不是文献"
                                  << "web page instead of a paper";
        QTest::newRow("no full text offered")
            << plain("/paywalled.pdf") << false << int(Kind::LandingWithoutFullText) << "文献页面没有给出全文"
            << "no full text offered";
        QTest::newRow("full text refused") << plain("/scripted.pdf") << false << int(Kind::FullTextRefused)
                                           << "文献页面给出的全文地址不能下载"
                                           << "full text refused: a javascript: address";
        QTest::newRow("untrusted certificate")
            << m_tls.url("/paper.pdf").toString() << false << int(Kind::Certificate) << "证书不受信任"
            << "untrusted certificate";
    }
    void reasonReachesEveryPlace()
    {
        QFETCH(QString, address);
        QFETCH(bool, unwritableFolder);
        QFETCH(int, kind);
        QFETCH(QString, windowHead);
        QFETCH(QString, english);
        QTemporaryDir dir;
        // A folder that cannot be made: its parent is a file.
        fntest::writeFile(dir.filePath("file"), "x");
        const QString folder = unwritableFolder ? dir.filePath("file/papers/") : dir.path() + u'/';

        DownloadListModel model;
        DownloadScheduler scheduler(TestRows::of(model));
        scheduler.options().retries = 0;
        scheduler.options().headerTimeoutMs = 1500;
        scheduler.options().stallWindowMs = 400;
        DownloadRow row;
        row.key = address;
        row.name = QStringLiteral("paper");
        row.type = QStringLiteral("pdf");
        row.folder = folder;
        const RowId id = TestRows::of(model).addRow(row);
        QSignalSpy finished(&scheduler, &DownloadScheduler::queueFinished);
        scheduler.start();
        QVERIFY(finished.wait(10000));

        const DownloadRow *failed = model.find(id);
        QCOMPARE(failed->state, RowState::Failed);
        QCOMPARE(int(failed->reason.kind), kind);
        const QString windowText = reasonTextForWindow(failed->reason);
        // The window's words are the program's alone: the English stays in the manifest and the log.
        static const QRegularExpression latinWords(QStringLiteral("(?!HTTP\\b)\\b[A-Za-z]{2,}"));
        QVERIFY2(windowText.startsWith(windowHead) && !windowText.contains(latinWords) &&
                     windowText.count(u'（') == windowText.count(u'）'),
                 qPrintable(windowText));

        // The row's tooltip and the second panel after a click on it.
        QCOMPARE(model.data(model.index(0, DownloadListModel::ColName), Qt::ToolTipRole).toString(),
                 windowText);
        QCOMPARE(RowClickPanelText(model, id), QStringLiteral("失败原因：") + windowText);

        // The batch mode's progress line and its manifest.
        const QString line = BatchProgress::finishedLine(model, 0);
        QVERIFY2(line.startsWith(QStringLiteral("Failed  paper.pdf")) && line.contains(u'(' + english),
                 qPrintable(line));
        const QString manifest = dir.filePath(batchmanifest::FileName);
        QString error;
        QVERIFY2(batchmanifest::write(manifest, model, &error), qPrintable(error));
        const QStringList lines = QString::fromUtf8(fntest::readFile(manifest)).split(QStringLiteral("\r\n"));
        const qsizetype reasonColumn = batchmanifest::header().indexOf(QStringLiteral("reason"));
        QVERIFY(reasonColumn >= 0);
        QCOMPARE(lines.at(0).split(u',').at(reasonColumn), QStringLiteral("reason"));
        const QStringList fields = batchmanifest::fields(model, 0);
        const QString reason = fields.at(reasonColumn);
        QCOMPARE(reason, reasonText(failed->reason));
        QVERIFY(reason.startsWith(english));
        QVERIFY(lines.at(1).contains(batchmanifest::csvField(reason)));
        m_plain.releaseAll();
    }

    void aRowWaitingForItsNextTrySaysWhy()
    {
        DownloadListModel model;
        DownloadRow row;
        row.key = QStringLiteral("http://127.0.0.1:1/a.pdf");
        row.name = QStringLiteral("a");
        row.sizeNote = SizeNote::RetryWait;
        row.retry = 1;
        row.retryLimit = 3;
        row.reason = FailureReason::of(Kind::HttpStatus, 503, QStringLiteral("Service Unavailable"));
        const RowId id = TestRows::of(model).addRow(row);
        QCOMPARE(RowClickPanelText(model, id),
                 QStringLiteral("等待重试 (1/3)，失败原因：服务器答复错误（HTTP 503）"));
        // A failed row without a known reason (cancelled by the user) shows its file as before.
        TestRows::of(model).update(id, [](DownloadRow &r) {
            r.state = RowState::Failed;
            r.sizeNote = SizeNote::None;
            r.reason = {};
        });
        QCOMPARE(RowClickPanelText(model, id), QString());
    }
};

FN_TEST_MAIN_CORE(TestFailureReasons)
#include "tst_failurereasons.moc"
