// Reference lists into the download window: a BibTeX file, a RIS file and DOI lines by "导入…" and by
// pasting, each paper once under any spelling of its DOI (also against rows listed before), every entry
// not taken named with its line, and a publisher's landing page whose site rules turn its address into
// the full text's.
#include "core/library/paperlibrary.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/queuekeeper.h"
#include "core/rows/downloadlistmodel.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/sites/siterules.h"
#include "core/transfer/downloadscheduler.h"
#include "desktop/filedialogs.h"
#include "faultserver.h"
#include "testenv.h"
#include "testoptions.h"
#include "testpdf.h"
#include "testrun.h"
#include "ui/downloadwindow.h"
#include "ui/downloadwindowreferences.h"
#include "ui/loginpanel.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

const QString kResolver = QStringLiteral("http://127.0.0.1:9/doi/{doi}");

QByteArray landingPage(const QString &title)
{
    return QStringLiteral("<html><head><meta name=\"citation_title\" content=\"%1\">"
                          "<meta name=\"citation_author\" content=\"Page, Author\"></head>"
                          "<body><h1>%1</h1><p>Read online.</p></body></html>")
        .arg(title)
        .toUtf8();
}

FaultServer::Reply redirectTo(const QUrl &target)
{
    FaultServer::Reply reply;
    reply.status = 302;
    reply.reason = "Found";
    reply.contentType = "text/html";
    reply.location = target.toEncoded();
    return reply;
}

FaultServer::Reply page(const QByteArray &body)
{
    FaultServer::Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = body;
    return reply;
}

} // namespace

class TestDownloadReferences : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    // The papers of a list in through the window's own command; the answer it gave.
    static MessageRequest importEnded(fFileDownload &window, fntest::MessageRecorder &messages,
                                      const std::function<void()> &command)
    {
        messages.clear();
        QSignalSpy ended(window.references(), &DownloadWindowReferences::importEnded);
        command();
        if (!ended.wait(20000) || messages.messages.size() != 1)
            return MessageRequest{MessageIcon::None, QStringLiteral("no single answer"), MessageButtons::Ok};
        return messages.messages.first();
    }

    MessageRequest importFile(fFileDownload &window, fntest::MessageRecorder &messages, const QString &file)
    {
        filedialogs::setFunction([file](QWidget *, const filedialogs::Request &) { return file; });
        const MessageRequest answer = importEnded(
            window, messages, [&] { window.action(QStringLiteral("actImportReferences"))->trigger(); });
        filedialogs::setFunction({});
        return answer;
    }

    static MessageRequest paste(fFileDownload &window, fntest::MessageRecorder &messages, const QString &text)
    {
        QGuiApplication::clipboard()->setText(text);
        return importEnded(window, messages,
                           [&] { window.action(QStringLiteral("actPasteReferences"))->trigger(); });
    }

    static const DownloadRow *rowOf(const fFileDownload &window, const QString &key)
    {
        return window.model()->find(window.model()->idOfKey(key));
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile::remove(SettingsFilePath());
        TestOptions::edit() = SharedOptions();
        TestOptions::edit().DefaultSaveFolder = path(QStringLiteral("papers/"));
        QVERIFY(QDir().mkpath(path(QStringLiteral("papers"))));
        WriteSetting(settingkeys::DoiResolver, kResolver);
    }

    void listsComeInAsRowsEachPaperOnce()
    {
        fntest::MessageRecorder messages;
        fFileDownload window(fntest::runObjects());
        // A row handed over from a result page before, under a resolver's address of its DOI.
        DownloadRow earlier;
        earlier.key = QStringLiteral("https://doi.org/10.4242/Page.7");
        earlier.name = QStringLiteral("earlier");
        earlier.type = QStringLiteral("pdf");
        earlier.folder = path(QStringLiteral("papers/"));
        QVERIFY(window.queue()->enqueue(earlier) != RowId::None);

        fntest::writeFile(
            path(QStringLiteral("refs.bib")),
            "@string{jn = \"Journal of \" # \"Tests\"}\r\n"
            "@article{a1, title = {Caf{\\'e} Studies}, author = {M{\\\"u}ller, Anna and Bo, Li},\r\n"
            "  year = 2020, journal = jn, doi = {10.1234/ABC.1}}\r\n"
            "@article{a2, title = {Again}, doi = {https://doi.org/10.1234/abc.1}}\r\n"
            "@misc{a3, title = {Nothing to fetch}}\r\n"
            "@article{a4, title = {Preprint}, eprint = {2101.00001}, archivePrefix = {arXiv}}\r\n");
        MessageRequest answer = importFile(window, messages, path(QStringLiteral("refs.bib")));
        QCOMPARE(answer.icon, MessageIcon::Information);
        QVERIFY2(answer.text.startsWith(
                     QStringLiteral("已从BibTeX列表导入 2 篇文献。列表中重复列出的 1 条只导入了一次。\n"
                                    "以下 1 条没有导入：\n第 5 行：没有 DOI、arXiv 编号或网址")),
                 qPrintable(answer.text));
        QCOMPARE(window.model()->count(), 3);
        const DownloadRow *cafe = rowOf(window, QStringLiteral("http://127.0.0.1:9/doi/10.1234/ABC.1"));
        QVERIFY(cafe);
        QCOMPARE(cafe->identifier, QStringLiteral("10.1234/ABC.1"));
        QCOMPARE(cafe->origin, QStringLiteral("DOI resolver"));
        QCOMPARE(cafe->name, QStringLiteral("Café Studies"));
        QCOMPARE(cafe->folder, path(QStringLiteral("papers/")));
        QCOMPARE(cafe->naming.given.doi(), QStringLiteral("10.1234/ABC.1"));
        QVERIFY2(cafe->naming.given.authors().contains(QStringLiteral("Müller")),
                 qPrintable(cafe->naming.given.authors()));
        const DownloadRow *preprint = rowOf(window, QStringLiteral("https://arxiv.org/pdf/2101.00001"));
        QVERIFY(preprint);
        QCOMPARE(preprint->identifier, QStringLiteral("2101.00001"));
        QCOMPARE(preprint->origin, QStringLiteral("arXiv"));

        // A RIS export naming the same paper in lower case, and a new one with two authors.
        fntest::writeFile(path(QStringLiteral("refs.ris")),
                          "TY  - JOUR\nTI  - Café again\nDO  - 10.1234/abc.1\nER  - \n"
                          "TY  - JOUR\nTI  - Rivers\nAU  - Lake, Ann\nAU  - Sea, Bo\nPY  - 2019\n"
                          "DO  - doi:10.5678/XYZ\nER  - \n");
        answer = importFile(window, messages, path(QStringLiteral("refs.ris")));
        QCOMPARE(answer.text, QStringLiteral("已从RIS列表导入 1 篇文献。另有 1 篇已在下载列表中。"));
        QCOMPARE(window.model()->count(), 4);
        const DownloadRow *rivers = rowOf(window, QStringLiteral("http://127.0.0.1:9/doi/10.5678/XYZ"));
        QVERIFY(rivers);
        QCOMPARE(rivers->naming.given.year(), QStringLiteral("2019"));

        // Pasted lines: every paper listed already under another spelling, one new, one that is no DOI.
        answer = paste(window, messages,
                       QStringLiteral("http://dx.doi.org/10.5678%2Fxyz\n"
                                      "10.4242/page.7\n"
                                      "doi:10.12 bad\n"
                                      "arXiv:2101.00001v2\n"
                                      "https://doi.org/10.9999/new.1\n"));
        QCOMPARE(
            answer.text.section(u'\n', 0, 1),
            QStringLiteral("已从文本行列表导入 1 篇文献。另有 3 篇已在下载列表中。\n以下 1 条没有导入："));
        QVERIFY2(answer.text.section(u'\n', 2).startsWith(QStringLiteral("第 3 行：DOI 无效")),
                 qPrintable(answer.text));
        QCOMPARE(window.model()->count(), 5);
        QCOMPARE(rowOf(window, QStringLiteral("http://127.0.0.1:9/doi/10.9999/new.1"))->identifier,
                 QStringLiteral("10.9999/new.1"));

        // A row that left the list may be listed again.
        window.queue()->commands().clearAll();
        answer = importFile(window, messages, path(QStringLiteral("refs.ris")));
        QCOMPARE(answer.text, QStringLiteral("已从RIS列表导入 2 篇文献。"));
    }

    void refusalsAreNamedAndUnreadableListsSaySo()
    {
        fntest::MessageRecorder messages;
        fFileDownload window(fntest::runObjects());
        fntest::writeFile(path(QStringLiteral("bad.csv")), "title,year\nSomething,2020\n");
        MessageRequest answer = importFile(window, messages, path(QStringLiteral("bad.csv")));
        QCOMPARE(answer.icon, MessageIcon::Critical);
        QVERIFY2(
            answer.text.startsWith(QStringLiteral("无法读取文献列表：CSV 表头中没有 doi、url 或 arxiv 列")),
            qPrintable(answer.text));
        answer = importFile(window, messages, path(QStringLiteral("missing.bib")));
        QVERIFY2(answer.text.startsWith(QStringLiteral("无法读取文献列表：文件不存在或无法打开")),
                 qPrintable(answer.text));
        QCOMPARE(window.model()->count(), 0);

        // Twenty-five lines that are no DOI among two that are: the message names twenty, the details all.
        QString lines = QStringLiteral("10.1000/first\n");
        for (int i = 0; i < 25; ++i)
            lines += QStringLiteral("doi:broken %1\n").arg(i);
        lines += QStringLiteral("10.1000/last\n");
        answer = paste(window, messages, lines);
        QCOMPARE(answer.icon, MessageIcon::Information);
        QVERIFY2(answer.text.startsWith(
                     QStringLiteral("已从文本行列表导入 2 篇文献。\n以下 25 条没有导入：\n第 2 行：")),
                 qPrintable(answer.text));
        QVERIFY(answer.text.endsWith(QStringLiteral("……还有 5 条，详见详细信息。")));
        const QStringList details = answer.details.split(u'\n');
        QCOMPARE(details.size(), 25);
        QVERIFY2(details.last().startsWith(QStringLiteral("第 26 行：DOI 无效（")),
                 qPrintable(details.last()));
        QCOMPARE(window.model()->count(), 2);

        // Nothing on the clipboard: nothing is read.
        messages.clear();
        QGuiApplication::clipboard()->setText(QStringLiteral("  \n"));
        window.action(QStringLiteral("actPasteReferences"))->trigger();
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("剪贴板中没有可导入的文字。")});

        // A resolver set by hand that makes no address: the papers go through the default one.
        WriteSetting(settingkeys::DoiResolver, QStringLiteral("ftp://resolver/{doi}"));
        answer = paste(window, messages, QStringLiteral("10.1000/third\n"));
        QCOMPARE(answer.text,
                 QStringLiteral("已从文本行列表导入 1 篇文献。\n设置中的 DOI 解析地址无效，已改用 "
                                "https://doi.org/{doi}。"));
        QVERIFY(window.model()->containsKey(QStringLiteral("https://doi.org/10.1000/third")));
    }

    // Ctrl+V pastes a list while the download list has the focus; in the login panel's address box it
    // pastes into the box, and nothing is imported.
    void ctrlVPastesIntoWhatHasTheFocus()
    {
        fntest::MessageRecorder messages;
        fFileDownload window(fntest::runObjects());
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.webLogin();
        QLineEdit *address = window.PicWebBK->Text1;
        address->clear();
        QGuiApplication::clipboard()->setText(QStringLiteral("10.1000/keyed"));

        address->setFocus();
        QTRY_VERIFY(address->hasFocus());
        QTest::keyClick(address, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(address->text(), QStringLiteral("10.1000/keyed"));
        QVERIFY(!window.references()->busy());
        QCOMPARE(window.model()->count(), 0);

        QSignalSpy ended(window.references(), &DownloadWindowReferences::importEnded);
        window.ListView3->setFocus();
        QTRY_VERIFY(window.ListView3->hasFocus());
        QTest::keyClick(window.ListView3, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(ended.wait(20000));
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("已从文本行列表导入 1 篇文献。")});
        const DownloadRow *row = rowOf(window, QStringLiteral("http://127.0.0.1:9/doi/10.1000/keyed"));
        QVERIFY(row);
        QCOMPARE(row->identifier, QStringLiteral("10.1000/keyed"));
        QCOMPARE(address->text(), QStringLiteral("10.1000/keyed"));
    }

    void aLongListComesInTurnByTurn()
    {
        fntest::MessageRecorder messages;
        fFileDownload window(fntest::runObjects());
        QByteArray list;
        const int count = DownloadWindowReferences::RowsPerTurn * 2 + 7;
        for (int i = 0; i < count; ++i)
            list += "10.5555/long." + QByteArray::number(i) + '\n';
        fntest::writeFile(path(QStringLiteral("long.txt")), list);
        filedialogs::setFunction(
            [this](QWidget *, const filedialogs::Request &) { return path(QStringLiteral("long.txt")); });
        QSignalSpy inserted(window.model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy ended(window.references(), &DownloadWindowReferences::importEnded);
        window.action(QStringLiteral("actImportReferences"))->trigger();
        filedialogs::setFunction({});
        // The file is read on a worker: the window is still live, with nothing listed yet.
        QVERIFY(window.references()->busy());
        QCOMPARE(window.model()->count(), 0);
        QVERIFY(ended.wait(20000));
        QCOMPARE(window.model()->count(), count);
        QCOMPARE(inserted.count(), 3);
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("已从文本行列表导入 %1 篇文献。").arg(count)});
    }

    // A listed row saved with the list and restored in the next window still goes under its DOI: a later
    // listing in another spelling finds it, and when its own address gives nothing the DOI's resolver is
    // asked next.
    void aRestoredRowKeepsItsIdentifierAndItsWays()
    {
        FaultServer server;
        QVERIFY(server.listen());
        WriteSetting(settingkeys::DoiResolver,
                     QStringLiteral("http://127.0.0.1:%1/doi/{doi}").arg(server.port()));
        FaultServer::Reply paper;
        paper.body = fntest::wholePdf(5000);
        server.setReply(QStringLiteral("/doi/10.1234/Kept.1"), paper);
        const QString gone = server.url(QStringLiteral("/gone.pdf")).toString(); // answers 404
        PaperLibrary library(path(QStringLiteral("PaperLibrary.db")));
        QVERIFY(library.open().ok);
        fntest::runObjects().library = &library;
        const auto noLibrary = qScopeGuard([] { fntest::runObjects().library = nullptr; });
        fntest::MessageRecorder messages;

        auto window = std::make_unique<fFileDownload>(fntest::runObjects());
        QTRY_VERIFY(!window->queue()->queueKeeper()->isLoading());
        paste(*window, messages,
              QStringLiteral("@article{k, title = {Kept}, doi = {10.1234/Kept.1}, pdf = {%1}}").arg(gone));
        QVERIFY(window->queue()->queueKeeper()->saveNow());
        window.reset();

        messages.clear();
        messages.answers = {MessageAnswer::Yes}; // the last list is taken back
        window = std::make_unique<fFileDownload>(fntest::runObjects());
        QTRY_COMPARE(window->model()->count(), 1);
        const DownloadRow *row = rowOf(*window, gone);
        QVERIFY(row);
        QCOMPARE(row->identifier, QStringLiteral("10.1234/Kept.1"));
        QCOMPARE(row->origin, QStringLiteral("file address"));
        const MessageRequest answer =
            paste(*window, messages, QStringLiteral("https://doi.org/10.1234/KEPT.1\n"));
        QCOMPARE(answer.text, QStringLiteral("已从文本行列表导入 0 篇文献。另有 1 篇已在下载列表中。"));

        QSignalSpy finished(window->scheduler(), &DownloadScheduler::queueFinished);
        window->Command4->click();
        QVERIFY(finished.wait(30000));
        row = rowOf(*window, gone);
        QCOMPARE(row->state, RowState::Done);
        QCOMPARE(row->origin, QStringLiteral("DOI resolver"));
        QCOMPARE(server.requestCount(QStringLiteral("/doi/10.1234/Kept.1")), 1);
    }

    void aLandingPagesSiteRulesGiveItsFullText()
    {
        FaultServer server;
        QVERIFY(server.listen());
        // The publisher's pages under /doi/full/ name no full text; its rules say /doi/pdf/ holds it.
        const QString rulesFile = path(QStringLiteral("publisher.json"));
        fntest::writeFile(rulesFile, R"({"format": 1, "name": "publisher", "hosts": ["127.0.0.1"],
            "pathPrefix": "/doi/full/", "papers": {"listClass": "results"},
            "fileAddress": {"pattern": "/doi/full/", "replacement": "/doi/pdf/"}})");
        SiteRulesCatalog catalog;
        QVERIFY(catalog.addGivenFile(rulesFile));
        WriteSetting(settingkeys::DoiResolver,
                     QStringLiteral("http://127.0.0.1:%1/doi/{doi}").arg(server.port()));
        for (const QString doi : {QStringLiteral("10.1234/open.1"), QStringLiteral("10.1234/closed.2")}) {
            server.setReply(QStringLiteral("/doi/") + doi,
                            redirectTo(server.url(QStringLiteral("/doi/full/") + doi)));
            server.setReply(QStringLiteral("/doi/full/") + doi, page(landingPage(doi)));
        }
        server.setReply(QStringLiteral("/doi/pdf/10.1234/open.1"), [] {
            FaultServer::Reply reply;
            reply.body = fntest::wholePdf(6000);
            return reply;
        }());
        // A purchase page where the full text would be, and a paper on a path the rules are not for.
        server.setReply(QStringLiteral("/doi/pdf/10.1234/closed.2"),
                        page("<html><head><title>Buy</title></head><body><p>Buy this article for 30 dollars."
                             "</p></body></html>"));
        server.setReply(QStringLiteral("/doi/10.1234/other.3"),
                        redirectTo(server.url(QStringLiteral("/article/3"))));
        server.setReply(QStringLiteral("/article/3"), page(landingPage(QStringLiteral("Other"))));

        fntest::MessageRecorder messages;
        RunObjects run{TestOptions::store(), catalog, nullptr};
        fFileDownload window(run);
        const MessageRequest answer =
            paste(window, messages, QStringLiteral("10.1234/open.1\n10.1234/closed.2\n10.1234/other.3\n"));
        QCOMPARE(answer.text, QStringLiteral("已从文本行列表导入 3 篇文献。"));
        QSignalSpy finished(window.scheduler(), &DownloadScheduler::queueFinished);
        window.Command4->click();
        QVERIFY(finished.wait(60000));

        const auto row = [&](const QString &doi) {
            return rowOf(window, server.url(QStringLiteral("/doi/") + doi).toString());
        };
        const DownloadRow *open = row(QStringLiteral("10.1234/open.1"));
        QCOMPARE(open->state, RowState::Done);
        QCOMPARE(open->origin, QStringLiteral("site rules"));
        QCOMPARE(open->fileAddress, server.url(QStringLiteral("/doi/pdf/10.1234/open.1")).toString());
        QCOMPARE(open->landingPage, server.url(QStringLiteral("/doi/full/10.1234/open.1")).toString());

        const DownloadRow *closed = row(QStringLiteral("10.1234/closed.2"));
        QCOMPARE(closed->state, RowState::Failed);
        QCOMPARE(closed->reason.kind, FailureReason::Kind::FullTextRefused);
        QCOMPARE(server.requestCount(QStringLiteral("/doi/pdf/10.1234/closed.2")), 1);
        const DownloadRow *other = row(QStringLiteral("10.1234/other.3"));
        QCOMPARE(other->state, RowState::Failed);
        QCOMPARE(other->reason.kind, FailureReason::Kind::LandingWithoutFullText);
        // The one file in the folder is the open paper's.
        const QStringList files = QDir(path(QStringLiteral("papers"))).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QCOMPARE(fntest::readFile(path(QStringLiteral("papers/")) + files.first()), fntest::wholePdf(6000));
    }
};

FN_TEST_MAIN_GUI(TestDownloadReferences)
#include "tst_downloadreferences.moc"
