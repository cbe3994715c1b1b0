// The list commands that look at, open or remove a row's file: the disk work runs on a worker and the
// command acts when the answer is back, on rows that may have changed meanwhile.
#include "core/queue/downloadcommands.h"
#include "core/queue/downloadlistmodel.h"
#include "core/queue/queuecommands.h"
#include "core/queue/targetfile.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/downloadscheduler.h"
#include "core/transfer/partfile.h"
#include "faultserver.h"
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

    void redownloadRemovesOnlyTheRowsOwnFilesBeforeTheRowsGoBack()
    {
        const RowId mine = addRow("mine", RowState::Done);
        const RowId replaced = addRow("replaced", RowState::Done);
        const RowId linked = addRow("linked", RowState::Done);
        const RowId missing = addRow("missing", RowState::Done);
        const RowId failed = addRow("failed", RowState::Failed);
        const RowId page = addRow("page", RowState::Done, "html");
        for (const QString name : {"mine.pdf", "replaced.pdf", "linked.pdf", "missing.pdf", "page.html"})
            fntest::writeFile(folder() + name, "written by the row");
        for (RowId id : {mine, replaced, linked, missing, page})
            own(rows(), id);
        // After the row wrote them: another program's file under the same name, a link, nothing.
        QVERIFY(QFile::remove(folder() + "replaced.pdf"));
        fntest::writeFile(folder() + "replaced.pdf", "another program's");
        QVERIFY(QFile::remove(folder() + "linked.pdf"));
        fntest::writeFile(m_queue->root() + "target.pdf", "outside");
        QVERIFY(QFile::link(m_queue->root() + "target.pdf", folder() + "linked.pdf"));
        QVERIFY(QFile::remove(folder() + "missing.pdf"));
        const int looksBefore = diskLooksOnMainThread();

        QCOMPARE(m_commands->redownloadSelected({mine, replaced, linked, missing, failed}), 5);
        // A row whose file is still going is neither back in the queue nor asked for a second time.
        QCOMPARE(m_queue->row(mine).state, RowState::Done);
        QVERIFY(m_commands->resetPending(mine));
        QCOMPARE(m_commands->redownloadSelected({mine}), 0);
        // A row with no file of its own has nothing to wait for.
        QCOMPARE(m_queue->row(failed).state, RowState::Waiting);
        settle();
        for (RowId id : {mine, replaced, linked, missing}) {
            QCOMPARE(m_queue->row(id).state, RowState::Waiting);
            QVERIFY(m_queue->row(id).owned.isNone());
            QVERIFY(!m_commands->resetPending(id));
        }
        QVERIFY(!QFileInfo::exists(folder() + "mine.pdf"));
        QCOMPARE(fntest::readFile(folder() + "replaced.pdf"), QByteArray("another program's"));
        QVERIFY(QFileInfo(folder() + "linked.pdf").isSymLink());
        QCOMPARE(fntest::readFile(m_queue->root() + "target.pdf"), QByteArray("outside"));

        // The automatic re-download hands the run on only when its rows are back; a row that changed while
        // its file went (here: it left the list) does not come back.
        bool handedOn = false;
        m_commands->autoRedownload(AutoRedownloadChoice::Html, [&] {
            handedOn = true;
            QCOMPARE(m_queue->model()->find(page), nullptr);
        });
        QVERIFY(!handedOn);
        rows().removeRow(page);
        settle();
        QVERIFY(handedOn);
        QCOMPARE(diskLooksOnMainThread(), looksBefore);
    }

    void aRedownloadNeverRacesItsOwnRemoval_data()
    {
        QTest::addColumn<DuplicatePolicy>("policy");
        QTest::newRow("skip") << DuplicatePolicy::Skip;
        QTest::newRow("overwrite") << DuplicatePolicy::Overwrite;
        QTest::newRow("rename") << DuplicatePolicy::Rename;
    }
    void aRedownloadNeverRacesItsOwnRemoval()
    {
        // Had the row started while its old file was still there, it would have been skipped on it, or
        // saved beside it under another name, or had the new file removed under it.
        QFETCH(DuplicatePolicy, policy);
        m_queue->scheduler()->options().policy = policy;
        const FaultServer::Reply first = FaultServer::pdf(30000, 'a');
        const FaultServer::Reply second = FaultServer::pdf(31000, 'b');
        m_server.setReply("/papers/paper.pdf", first);
        const RowId id = m_queue->addRow("/papers/paper.pdf", "paper");
        m_queue->runToEnd();
        QCOMPARE(fntest::readFile(folder() + "paper.pdf"), first.body);
        QVERIFY(!m_queue->row(id).owned.isNone());

        m_server.setReply("/papers/paper.pdf", second);
        QSignalSpy finished(m_queue->scheduler(), &DownloadScheduler::queueFinished);
        m_commands->reset(id, [this] { m_queue->scheduler()->start(); });
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QCOMPARE(m_queue->row(id).state, RowState::Done);
        QCOMPARE(m_queue->row(id).name, QStringLiteral("paper"));
        QCOMPARE(m_queue->files(), QStringList{"paper.pdf"});
        QCOMPARE(fntest::readFile(folder() + "paper.pdf"), second.body);
        QVERIFY(IsStillOwned(m_queue->row(id).owned));
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
        PartFile::setGroupWindow(600000); // the file waits for its flush until the test lets it go
        const auto restore = qScopeGuard([] {
            PartFile::setGroupWindow(diskwork::DefaultGroupWindowMs);
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
