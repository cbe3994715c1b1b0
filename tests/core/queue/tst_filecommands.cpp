// The list commands that look at, open or remove a row's file: the disk work runs on a worker and the
// command acts when the answer is back, on rows that may have changed meanwhile.
#include "core/library/paperlibrary.h"
#include "core/queue/downloadcommands.h"
#include "core/queue/heldrowchecker.h"
#include "core/queue/libraryrecorder.h"
#include "core/queue/queuecommands.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/targetfile.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/downloadscheduler.h"
#include "core/transfer/partfile.h"
#include "faultserver.h"
#include "partfileseam.h"
#include "queuefixture.h"
#include "testenv.h"
#include "testrows.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <optional>

namespace {

struct RecordingShell
{
    QStringList calls;
    ShellHooks hooks()
    {
        ShellHooks h;
        h.openFile = [this](const QString &path) { return calls << "file:" + path, true; };
        h.showInFolder = [this](const QString &path) { return calls << "show:" + path, true; };
        h.openFolder = [this](const QString &folder) { return calls << "folder:" + folder, true; };
        h.openInTextEditor = [this](const QString &path) { return calls << "editor:" + path, true; };
        return h;
    }
};

// Every look or removal asked so far has answered and its answer has acted.
void settle()
{
    for (int round = 0; round < 3; ++round) {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }
}

void own(const RowWriter &rows, RowId id)
{
    const QString path = rowFilePath(*rows.list().find(id));
    rows.update(id, [&path](DownloadRow &r) { r.owned = OwnedFile{path, IdentityOf(path)}; });
}

} // namespace

class TestFileCommands : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    std::unique_ptr<QueueFixture> m_queue;
    std::unique_ptr<QueueCommands> m_commands;

    RowWriter rows() const { return TestRows::of(*m_queue->model()); }
    QString folder() const { return m_queue->folder(); }
    RowId addRow(const QString &name, RowState state, const QString &type = "pdf") const
    {
        const RowId id = m_queue->addRow("/papers/" + name + "." + type, name, type);
        rows().setState(id, state);
        return id;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.listen()); }
    void init()
    {
        m_queue = std::make_unique<QueueFixture>(m_server);
        m_commands = std::make_unique<QueueCommands>(rows(), m_queue->scheduler());
    }
    void cleanup()
    {
        settle();
        m_commands.reset();
        m_queue.reset();
    }

    void fileCommandsActOnTheAnswerOfALookOffTheGuiThread()
    {
        fntest::MessageRecorder recorder;
        const RowId here = addRow("here", RowState::Done);
        const RowId gone = addRow("gone", RowState::Done);
        const RowId linked = addRow("linked", RowState::Done);
        const RowId dangling = addRow("dangling", RowState::Done);
        const RowId big = addRow("big", RowState::Done, "txt");
        const RowId leaving = addRow("leaving", RowState::Done);
        const RowId failed = addRow("failed", RowState::Failed);
        rows().update(failed, [](DownloadRow &r) {
            r.reason = FailureReason::of(FailureReason::Kind::HttpStatus, 404, "Not Found");
        });
        fntest::writeFile(folder() + "here.pdf", "%PDF");
        fntest::writeFile(folder() + "big.txt", QByteArray(MaxEditorFileBytes + 1, 'a'));
        fntest::writeFile(folder() + "leaving.pdf", "%PDF");
        fntest::writeFile(m_queue->root() + "target.pdf", "%PDF");
        QVERIFY(QFile::link(m_queue->root() + "target.pdf", folder() + "linked.pdf"));
        QVERIFY(QFile::link(m_queue->root() + "nothing.pdf", folder() + "dangling.pdf"));
        RecordingShell shell;
        const int looksBefore = diskLooksOnMainThread();

        // A second click while the first is out is not a second opening.
        m_commands->openFile(here, shell.hooks());
        m_commands->openFile(here, shell.hooks());
        m_commands->openFile(gone, shell.hooks());
        m_commands->openFile(linked, shell.hooks()); // a link to a file opens as the shell would
        m_commands->openFile(dangling, shell.hooks());
        // The row left the list before the answer: nothing is done for it, and nothing said.
        m_commands->openFile(leaving, shell.hooks());
        m_commands->openInEditor(leaving, shell.hooks());
        rows().removeRow(leaving);
        QVERIFY(shell.calls.isEmpty() && recorder.messages.isEmpty()); // nothing before the answers
        settle();
        shell.calls.sort(); // the answers come in any order
        QCOMPARE(shell.calls,
                 QStringList({"file:" + folder() + "here.pdf", "file:" + folder() + "linked.pdf"}));
        QCOMPARE(recorder.texts(), QStringList({"该文件不存在！", "该文件不存在！"}));

        shell.calls.clear();
        recorder.clear();
        m_commands->openFolder(here, shell.hooks());
        m_commands->openFolder(dangling, shell.hooks());
        m_commands->openInEditor(big, shell.hooks());
        m_commands->doubleClick(gone, shell.hooks());
        settle();
        shell.calls.sort();
        QCOMPARE(shell.calls, QStringList({"folder:" + folder(), "show:" + folder() + "here.pdf"}));
        QStringList said = recorder.texts();
        said.sort();
        QCOMPARE(said, QStringList({"文件不存在！", "该文件太大，超过了2M，不便于用记事本打开！"}));

        // A row renamed while its file was looked at: the answer is about another file and is dropped.
        shell.calls.clear();
        m_commands->openFile(here, shell.hooks());
        rows().setName(here, "renamed");
        settle();
        QVERIFY(shell.calls.isEmpty());
        rows().setName(here, "here");

        // The panel: cleared at once, filled by the answer; an earlier click's answer loses to a later one.
        QStringList shown;
        const auto show = [&shown](const QString &text) { shown << text; };
        m_commands->clickPanelText(here, show);
        settle();
        m_commands->clickPanelText(gone, show);
        settle();
        m_commands->clickPanelText(here, show);
        m_commands->clickPanelText(failed, show);
        settle();
        QCOMPARE(shown, QStringList({"", folder() + "here.pdf", "", "",
                                     RowClickPanelText(*m_queue->model(), failed)}));
        QVERIFY(shown.last().startsWith("失败原因："));

        QCOMPARE(diskLooksOnMainThread(), looksBefore);
    }

    void aRedownloadTouchesNoFileAndItsRowsGoBackAtOnce()
    {
        const RowId mine = addRow("mine", RowState::Done);
        const RowId replaced = addRow("replaced", RowState::Done);
        const RowId linked = addRow("linked", RowState::Done);
        const RowId failed = addRow("failed", RowState::Failed);
        const RowId page = addRow("page", RowState::Done, "html");
        for (const QString name : {"mine.pdf", "replaced.pdf", "linked.pdf", "page.html"})
            fntest::writeFile(folder() + name, "written by the row");
        for (RowId id : {mine, replaced, linked, page})
            own(rows(), id);
        // After the row wrote them: another program's file under the same name, a link.
        QVERIFY(QFile::remove(folder() + "replaced.pdf"));
        fntest::writeFile(folder() + "replaced.pdf", "another program's");
        QVERIFY(QFile::remove(folder() + "linked.pdf"));
        fntest::writeFile(m_queue->root() + "target.pdf", "outside");
        QVERIFY(QFile::link(m_queue->root() + "target.pdf", folder() + "linked.pdf"));
        const OwnedFile written = m_queue->row(mine).owned;
        const int looksBefore = diskLooksOnMainThread();

        QCOMPARE(m_commands->redownloadSelected({mine, replaced, linked, failed}), 4);
        for (RowId id : {mine, replaced, linked, failed})
            QCOMPARE(m_queue->row(id).state, RowState::Waiting);
        // The file the row wrote stays its own, where it is, until a new copy takes its place.
        QCOMPARE(m_queue->row(mine).owned, written);
        settle();
        QCOMPARE(fntest::readFile(folder() + "mine.pdf"), QByteArray("written by the row"));
        QCOMPARE(fntest::readFile(folder() + "replaced.pdf"), QByteArray("another program's"));
        QVERIFY(QFileInfo(folder() + "linked.pdf").isSymLink());
        QCOMPARE(fntest::readFile(m_queue->root() + "target.pdf"), QByteArray("outside"));

        // The automatic re-download hands the run on with its rows back.
        bool handedOn = false;
        m_commands->autoRedownload(AutoRedownloadChoice::Html, [&] {
            handedOn = true;
            QCOMPARE(m_queue->row(page).state, RowState::Waiting);
        });
        QVERIFY(handedOn);
        QVERIFY(QFileInfo::exists(folder() + "page.html"));
        QCOMPARE(diskLooksOnMainThread(), looksBefore);
    }

    void aNewCopyTakesTheOldOnesPlaceOnlyWhenWhole_data()
    {
        QTest::addColumn<DuplicatePolicy>("policy");
        QTest::addColumn<bool>("arrives");
        for (const auto &[policy, text] :
             {std::pair{DuplicatePolicy::Skip, "skip"}, std::pair{DuplicatePolicy::Overwrite, "overwrite"},
              std::pair{DuplicatePolicy::Rename, "rename"}}) {
            QTest::addRow("%s, the new copy arrives", text) << policy << true;
            QTest::addRow("%s, the new copy breaks off", text) << policy << false;
        }
    }
    void aNewCopyTakesTheOldOnesPlaceOnlyWhenWhole()
    {
        // Had the old file gone first, a site that is gone would have cost the user the paper; had it stayed
        // in the way, the new copy would have been skipped on it or saved beside it under another name.
        QFETCH(DuplicatePolicy, policy);
        QFETCH(bool, arrives);
        m_queue->scheduler()->options().policy = policy;
        m_queue->scheduler()->options().stallWindowMs = 1000;
        const FaultServer::Reply first = FaultServer::pdf(30000, 'a');
        FaultServer::Reply second = FaultServer::pdf(31000, 'b');
        second.stallAfter = arrives ? -1 : 20000;
        m_server.setReply("/papers/paper.pdf", first);
        const RowId id = m_queue->addRow("/papers/paper.pdf", "paper");
        m_queue->runToEnd();
        QCOMPARE(fntest::readFile(folder() + "paper.pdf"), first.body);
        const OwnedFile written = m_queue->row(id).owned;
        QVERIFY(!written.isNone());

        m_server.setReply("/papers/paper.pdf", second);
        QSignalSpy finished(m_queue->scheduler(), &DownloadScheduler::queueFinished);
        m_commands->reset(id, [this] { m_queue->scheduler()->start(); });
        if (!arrives) {
            QTRY_VERIFY_WITH_TIMEOUT(m_queue->row(id).downloaded >= 20000, 20000);
            QCOMPARE(fntest::readFile(folder() + "paper.pdf"), first.body); // the old one while the new comes
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QCOMPARE(m_queue->row(id).name, QStringLiteral("paper"));
        QCOMPARE(m_queue->files(), QStringList{"paper.pdf"});
        QVERIFY(IsStillOwned(m_queue->row(id).owned));
        if (arrives) {
            QCOMPARE(m_queue->row(id).state, RowState::Done);
            QCOMPARE(fntest::readFile(folder() + "paper.pdf"), second.body);
            return;
        }
        // The old copy is still there, still the row's, and the row says so.
        QCOMPARE(m_queue->row(id).state, RowState::Failed);
        QCOMPARE(m_queue->row(id).owned, written);
        QCOMPARE(fntest::readFile(folder() + "paper.pdf"), first.body);
        const QString tip = m_queue->model()->data(m_queue->model()->index(0, 0), Qt::ToolTipRole).toString();
        QVERIFY2(tip.contains("原文件已保留：" + folder() + "paper.pdf"), qPrintable(tip));
        QVERIFY(RowClickPanelText(*m_queue->model(), id).endsWith("（原文件已保留）"));
        // Asked again, the copy that failed has left nothing behind to take a name from the paper.
        m_server.setReply("/papers/paper.pdf", FaultServer::pdf(32000, 'c'));
        m_commands->reset(id, [this] { m_queue->scheduler()->start(); });
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 20000);
        QCOMPARE(m_queue->files(), QStringList{"paper.pdf"});
        QCOMPARE(fntest::readFile(folder() + "paper.pdf"), FaultServer::pdf(32000, 'c').body);
    }

    void aRedownloadIsFetchedWhateverTheLibraryHolds()
    {
        // The library holds the paper with its file unchanged: a row of it is passed over as 已下载过, but
        // not when the user asked for a new copy of the very file the row wrote.
        PaperLibrary library(m_queue->root() + "lib/PaperLibrary.db");
        QVERIFY(library.open().ok);
        LibraryRecorder recorder(&library, m_queue->scheduler());
        m_server.setReply("/papers/held.pdf", FaultServer::pdf(9000, 'a'));
        const RowId id = m_queue->addRow("/papers/held.pdf", "held");
        m_queue->runToEnd();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.isIdle(), 20000);
        QCOMPARE(m_queue->row(id).percentNote, PercentNote::None);
        // 跳过已下载过的文献 is ticked now: the library is asked about the rows from here on.
        HeldRowChecker checker(&library);
        checker.attach(m_queue->scheduler());

        m_server.setReply("/papers/held.pdf", FaultServer::pdf(9100, 'b'));
        QCOMPARE(m_commands->redownloadSelected({id}), 1);
        m_queue->runToEnd();
        QCOMPARE(m_queue->row(id).state, RowState::Done);
        QCOMPARE(m_queue->row(id).percentNote, PercentNote::None);
        QCOMPARE(m_server.requestCount("/papers/held.pdf"), 2);
        QCOMPARE(fntest::readFile(folder() + "held.pdf"), FaultServer::pdf(9100, 'b').body);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.isIdle() && checker.pendingCount() == 0, 20000);
    }

    void aRowLeavesOnlyWhenItsFileIsInPlace_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("how");
        for (const int method : {1, 2}) {
            for (const char *how : {"清除 选中项", "清空", "the list itself"})
                QTest::addRow("method %d, %s", method, how) << method << QString::fromUtf8(how);
        }
    }
    void aRowLeavesOnlyWhenItsFileIsInPlace()
    {
        // After 停止 a file whose last byte had arrived is still flushed and moved into place. Its row, if
        // it went meanwhile, would leave a paper's file that no row owns and no outcome tells of.
        QFETCH(int, method);
        QFETCH(QString, how);
        PartFileSeam::setGroupWindow(600000); // the file waits for its flush until the test lets it go
        const auto restore = qScopeGuard([] {
            PartFileSeam::setGroupWindow(diskwork::DefaultGroupWindowMs);
            PartFile::flushSoon();
        });
        const FaultServer::Reply whole = FaultServer::pdf(3000, 'w');
        FaultServer::Reply held = FaultServer::pdf(50000, 'h');
        held.stallAfter = 1000; // still being received: no flush is hurried
        m_server.setReply("/papers/whole.pdf", whole);
        m_server.setReply("/papers/held.pdf", held);
        const RowId first = m_queue->addRow("/papers/whole.pdf", "whole");
        const RowId second = m_queue->addRow("/papers/held.pdf", "held");
        m_queue->use(method, 2);
        DownloadScheduler *scheduler = m_queue->scheduler();
        scheduler->start();
        QTRY_VERIFY_WITH_TIMEOUT(
            scheduler->picker().isCommitting(first) && m_queue->row(second).downloaded > 0, 20000);
        scheduler->StopDownloads();
        QCOMPARE(m_queue->row(second).state, RowState::Failed);
        QVERIFY(scheduler->picker().isCommitting(first));
        std::optional<DownloadRow> atItsEnd;
        connect(scheduler, &DownloadScheduler::rowEnded, this, [&](RowId id) {
            if (id == first)
                atItsEnd = *m_queue->model()->find(id);
        });

        fntest::MessageRecorder recorder; // 清空 is answered Yes
        if (how == "清除 选中项")
            QCOMPARE(m_commands->removeSelected({first, second}), 2);
        else if (how == "清空")
            QVERIFY(m_commands->clearAll());
        else
            rows().removeRowsIf([](const DownloadRow &) { return true; });
        QVERIFY(!m_queue->model()->find(second));
        // The flush goes now (asked again while it has not: a busy machine may wake its worker too late for
        // one hurry), and every file given up is gone with it.
        QTRY_VERIFY_WITH_TIMEOUT((PartFile::flushSoon(), PartFile::waitForDiskWork(0)) &&
                                     !scheduler->transfers().anyTransferLive() &&
                                     !m_queue->model()->find(first),
                                 20000);
        settle();
        const QString path = folder() + "whole.pdf";
        if (how == "the list itself") {
            // Nothing waited for it: the move was called off, and nothing is left of the file.
            QCOMPARE(m_queue->files(), QStringList());
            return;
        }
        // The row waited for its file: it ended done, owning it, and only then left.
        QVERIFY(atItsEnd.has_value());
        QCOMPARE(atItsEnd->state, RowState::Done);
        QCOMPARE(atItsEnd->owned.path, path);
        QCOMPARE(m_queue->files(), QStringList{"whole.pdf"});
        QCOMPARE(fntest::readFile(path), whole.body);
        // Gone from the list, the file stays its row's: no other row skips on it or writes over it.
        QVERIFY(m_queue->model()->fileWrittenByAnother(path, "http://elsewhere/x.pdf", IdentityOf(path)));
    }
};

QTEST_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
