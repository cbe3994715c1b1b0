// The library window's commands on a selection, with a real library, real files and the desktop's
// services replaced so that nothing is launched.
#include "core/library/librarythread.h"
#include "core/librarymodel/libraryupkeep.h"
#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "libraryuifixture.h"
#include "shellseam.h"
#include "testrows.h"
#include "ui/library/librarycommands.h"
#include "ui/library/libraryreports.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>

using namespace fntest;

namespace {

// Records what the desktop was asked to open or show.
struct RecordingDesktop
{
    QList<QUrl> opened;
    QStringList shown;
    ShellServices previous;

    RecordingDesktop()
    {
        ShellServices fake;
        fake.openUrl = [this](const QUrl &url) {
            opened.append(url);
            return true;
        };
        fake.startDetached = [](const QString &, const QStringList &) { return false; };
        fake.showItems = [this](const QString &uri) {
            shown.append(uri);
            return true;
        };
        previous = ShellSeam::replace(fake);
    }
    ~RecordingDesktop() { ShellSeam::replace(previous); }
};

LibrarySelection chosen(const QStringList &addresses)
{
    LibrarySelection s;
    for (int i = 0; i < addresses.size(); ++i)
        s.rows.append(i);
    s.known = addresses;
    return s;
}

} // namespace

class TestLibraryCommands : public QObject
{
    Q_OBJECT

    std::unique_ptr<LibraryUiFixture> m_lib;
    std::unique_ptr<LibraryThread> m_thread;
    std::unique_ptr<DownloadQueue> m_queue;
    std::unique_ptr<LibraryCommands> m_commands;
    HandOverOptions m_options;
    int m_listShown = 0;

private Q_SLOTS:
    void init()
    {
        m_lib = std::make_unique<LibraryUiFixture>();
        QVERIFY(m_lib->ok());
        m_thread = std::make_unique<LibraryThread>(m_lib->path(), 500);
        m_queue = std::make_unique<DownloadQueue>();
        m_options = HandOverOptions{};
        m_listShown = 0;
        LibraryCommands::Hooks hooks;
        hooks.downloadList = [this] { return m_queue.get(); };
        hooks.handOver = [this] { return m_options; };
        hooks.showDownloadList = [this] { ++m_listShown; };
        m_commands = std::make_unique<LibraryCommands>(*m_thread, hooks);
    }

    void cleanup()
    {
        m_commands.reset();
        m_thread.reset();
        m_queue.reset();
        m_lib.reset();
    }

    void openAndShowGoThroughTheDesktopOnlyForAFileThatIsThere()
    {
        RecordingDesktop desktop;
        const QString file = m_lib->file(QStringLiteral("papers/a.pdf"), wholePdf());
        QVERIFY(m_lib->paper("http://s/a.pdf", QStringLiteral("第一"), {}, file));
        QVERIFY(m_lib->paper("http://s/b.pdf", QStringLiteral("第二")));
        QSignalSpy missing(m_commands.get(), &LibraryCommands::fileMissing);

        // The first row's page was not read when it was chosen: it is found by its place in the order.
        LibrarySelection first;
        first.rows = {0};
        first.known = {QString()};
        m_commands->openFile(first);
        QTRY_COMPARE(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(file)});
        m_commands->showInFolder(chosen({"http://s/a.pdf"}));
        QTRY_COMPARE(desktop.shown, QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)});

        // No file downloaded, or the file gone: the desktop is not asked.
        m_commands->openFile(chosen({"http://s/b.pdf"}));
        QTRY_COMPARE(missing.size(), 1);
        QVERIFY(QFile::remove(file));
        m_commands->showInFolder(chosen({"http://s/a.pdf"}));
        QTRY_COMPARE(missing.size(), 2);
        QCOMPARE(desktop.opened.size(), 1);
        QCOMPARE(desktop.shown.size(), 1);
    }

    void downloadAgainListsBrokenPapersWithTheirMetadataInTheirFolder()
    {
        const QString held = m_lib->file(QStringLiteral("old/held.pdf"), wholePdf(3000));
        const QString gone = m_lib->file(QStringLiteral("old/gone.pdf"), wholePdf(3500));
        const PaperCells cells = paperCells(QStringLiteral("张伟; 王芳"), QStringLiteral("2021"),
                                            QStringLiteral("物理学报"), QStringLiteral("10.1000/xyz"));
        QVERIFY(m_lib->paper("http://s/held.pdf", QStringLiteral("完好的"), {}, held));
        QVERIFY(m_lib->paper("http://s/gone.pdf", QStringLiteral("丢失的论文"), cells, gone));
        QVERIFY(m_lib->paper("http://s/never", QStringLiteral("未下载的")));
        QVERIFY(m_lib->paper("http://s/listed.pdf", QStringLiteral("已在列表中")));
        QVERIFY(QFile::remove(gone));
        QVERIFY(checkLibraryFiles(m_lib->writer, nullptr, nullptr).written);
        QCOMPARE(m_lib->stateOf("http://s/gone.pdf"), PaperState::Missing);
        // A row of the list for one of them already, finished with a failure.
        DownloadRow failed;
        failed.key = QStringLiteral("http://s/listed.pdf");
        failed.name = QStringLiteral("x");
        failed.type = QStringLiteral("pdf");
        failed.folder = m_lib->folder();
        failed.state = RowState::Failed;
        const RowId listed = TestRows::of(*m_queue->model()).addRow(failed);
        QSignalSpy added(m_commands.get(), &LibraryCommands::downloadsAdded);

        // Without a default folder, a paper never downloaded has nowhere to go.
        m_commands->downloadAgain(
            chosen({"http://s/held.pdf", "http://s/gone.pdf", "http://s/never", "http://s/listed.pdf"}));
        QTRY_COMPARE(added.size(), 1);
        AgainTally tally = added.at(0).at(0).value<AgainTally>();
        QCOMPARE(tally.added, 1);
        QCOMPARE(tally.held, 1);
        QCOMPARE(tally.noFolder, 2);
        QCOMPARE(m_listShown, 1);
        const DownloadListModel &list = *m_queue->model();
        const int at = list.positionOfKey(QStringLiteral("http://s/gone.pdf"));
        QVERIFY(at >= 0);
        const DownloadRow &row = list.row(at);
        QCOMPARE(row.folder, m_lib->folder() + QStringLiteral("old/"));
        QCOMPARE(row.name, QStringLiteral("丢失的论文"));
        QCOMPARE(row.type, QStringLiteral("pdf"));
        QCOMPARE(row.state, RowState::Waiting);
        QCOMPARE(row.naming.given.authors(), QStringLiteral("张伟; 王芳"));
        QCOMPARE(row.naming.given.doi(), QStringLiteral("10.1000/xyz"));
        QCOMPARE(row.tag, QStringLiteral("http://s/results?page=1"));
        QVERIFY(!list.containsKey(QStringLiteral("http://s/held.pdf")));

        // With one, the rest go there; the row listed already waits again instead of a second row.
        m_options.defaultFolder = m_lib->folder() + QStringLiteral("new/");
        m_commands->downloadAgain(chosen({"http://s/never", "http://s/listed.pdf"}));
        QTRY_COMPARE(added.size(), 2);
        tally = added.at(1).at(0).value<AgainTally>();
        QCOMPARE(tally.added, 1);
        QCOMPARE(tally.reset, 1);
        QCOMPARE(list.row(list.positionOfKey(QStringLiteral("http://s/never"))).folder,
                 m_options.defaultFolder);
        QCOMPARE(list.find(listed)->state, RowState::Waiting);
        QCOMPARE(list.rowCount(), 3);
        QCOMPARE(downloadAgainText(tally), QStringLiteral("已加入下载列表 2 篇。"));
    }

    void everyBrokenPaperIsTakenInOneStep()
    {
        const QString good = m_lib->file(QStringLiteral("good.pdf"), wholePdf(3000));
        const QString gone = m_lib->file(QStringLiteral("gone.pdf"), wholePdf(3100));
        const QString changed = m_lib->file(QStringLiteral("changed.pdf"), wholePdf(3200));
        QVERIFY(m_lib->paper("http://s/good.pdf", QStringLiteral("好"), {}, good));
        QVERIFY(m_lib->paper("http://s/gone.pdf", QStringLiteral("丢"), {}, gone));
        QVERIFY(m_lib->paper("http://s/changed.pdf", QStringLiteral("改"), {}, changed));
        QVERIFY(m_lib->paper("http://s/seen", QStringLiteral("只见过")));
        QVERIFY(QFile::remove(gone));
        writeFile(changed, "changed since");
        QVERIFY(checkLibraryFiles(m_lib->writer, nullptr, nullptr).written);
        QSignalSpy added(m_commands.get(), &LibraryCommands::downloadsAdded);
        LibrarySelection every;
        every.everyBrokenPaper = true;
        m_commands->downloadAgain(every);
        QTRY_COMPARE(added.size(), 1);
        QCOMPARE(added.at(0).at(0).value<AgainTally>().added, 2);
        const DownloadListModel &list = *m_queue->model();
        QCOMPARE(list.rowCount(), 2);
        QVERIFY(list.containsKey(QStringLiteral("http://s/gone.pdf")));
        QVERIFY(list.containsKey(QStringLiteral("http://s/changed.pdf")));
    }

    void removalDeletesOnlyWhatItWasToldNeverThroughALink()
    {
        const QString plain = m_lib->file(QStringLiteral("plain/p.pdf"), wholePdf(3000));
        const QString kept = m_lib->file(QStringLiteral("plain/k.pdf"), wholePdf(3100));
        m_lib->file(QStringLiteral("real/l.pdf"), wholePdf(3200));
        QVERIFY(
            QFile::link(m_lib->folder() + QStringLiteral("real"), m_lib->folder() + QStringLiteral("via")));
        const QString linked = m_lib->folder() + QStringLiteral("via/l.pdf");
        QVERIFY(m_lib->paper("http://s/p.pdf", QStringLiteral("普通"), {}, plain));
        QVERIFY(m_lib->paper("http://s/k.pdf", QStringLiteral("留下文件"), {}, kept));
        QVERIFY(m_lib->paper("http://s/l.pdf", QStringLiteral("链接"), {}, linked));
        QSignalSpy removed(m_commands.get(), &LibraryCommands::removed);
        QSignalSpy changed(m_commands.get(), &LibraryCommands::libraryChanged);

        m_commands->remove(chosen({"http://s/k.pdf"}), false);
        QTRY_COMPARE(removed.size(), 1);
        QVERIFY(QFileInfo::exists(kept));
        m_commands->remove(chosen({"http://s/p.pdf", "http://s/l.pdf"}), true);
        QTRY_COMPARE(removed.size(), 2);
        const RemovalReport report = removed.at(1).at(0).value<RemovalReport>();
        QCOMPARE(report.removed, 2);
        QCOMPARE(report.deleted, QStringList{plain});
        QCOMPARE(report.kept.size(), 1);
        QCOMPARE(report.kept.at(0).first, linked);
        QCOMPARE(report.kept.at(0).second, KeptFile::Link);
        QVERIFY(!QFileInfo::exists(plain));
        QVERIFY(QFileInfo::exists(m_lib->folder() + QStringLiteral("real/l.pdf")));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(m_lib->writer.paperCount(), 0);
        QVERIFY(removalText(report).contains(QStringLiteral("路径中有符号链接")));
    }

    void exportsAndCopiesTakeTheSelectionOnly()
    {
        const PaperCells cells =
            paperCells(QStringLiteral("李雷; 韩梅梅; 王五; 赵六"), QStringLiteral("2020"),
                       QStringLiteral("计算机学报"), QStringLiteral("10.1000/abc"));
        QVERIFY(m_lib->paper("http://s/one", QStringLiteral("第一篇"), cells));
        QVERIFY(m_lib->paper("http://s/two", QStringLiteral("第二篇")));
        QSignalSpy exported(m_commands.get(), &LibraryCommands::exported);
        QSignalSpy notWritten(m_commands.get(), &LibraryCommands::exportNotWritten);
        const QString ris = m_lib->folder() + QStringLiteral("out.ris");
        m_commands->exportTo(chosen({"http://s/one"}), ExportFormat::Ris, ris);
        QTRY_COMPARE(exported.size(), 1);
        const QByteArray written = readFile(ris);
        QVERIFY(written.contains("TY  - "));
        QVERIFY(written.contains(QStringLiteral("第一篇").toUtf8()));
        QVERIFY(!written.contains(QStringLiteral("第二篇").toUtf8()));
        m_commands->exportTo(chosen({"http://s/one"}), ExportFormat::BibTeX,
                             m_lib->folder() + QStringLiteral("no/such/folder/out.bib"));
        QTRY_COMPARE(notWritten.size(), 1);

        QSignalSpy copied(m_commands.get(), &LibraryCommands::copied);
        m_commands->copyDois(chosen({"http://s/one", "http://s/two"}));
        QTRY_COMPARE(copied.size(), 1);
        QCOMPARE(copied.at(0).at(0).toInt(), 1); // the second has no DOI
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("10.1000/abc"));
        m_commands->copyCitations(chosen({"http://s/one"}));
        QTRY_COMPARE(copied.size(), 2);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("李雷, 韩梅梅, 王五, 等. 第一篇[J]. 计算机学报, 2020. DOI: 10.1000/abc."));
    }

    void keepingOneFileDeletesOnlyUnchangedCopiesWhenAsked()
    {
        const QByteArray bytes = wholePdf(4000);
        const QString first = m_lib->file(QStringLiteral("a/first.pdf"), bytes);
        const QString second = m_lib->file(QStringLiteral("b/second.pdf"), bytes);
        const QString third = m_lib->file(QStringLiteral("c/third.pdf"), bytes);
        QVERIFY(m_lib->paper("http://s/1", QStringLiteral("同一篇"), {}, first));
        QVERIFY(m_lib->paper("http://s/2", QStringLiteral("同一篇"), {}, second));
        QVERIFY(m_lib->paper("http://s/3", QStringLiteral("同一篇"), {}, third));
        writeFile(third, bytes + "changed by the user"); // no longer the file the program wrote
        QSignalSpy kept(m_commands.get(), &LibraryCommands::keptOne);
        m_commands->keepOneFile(QStringLiteral("http://s/1"), {"http://s/2", "http://s/3"}, true);
        QTRY_COMPARE(kept.size(), 1);
        QCOMPARE(kept.at(0).at(0).toInt(), 2);
        QCOMPARE(kept.at(0).at(1).toInt(), 1);
        QVERIFY(QFileInfo::exists(first));
        QVERIFY(!QFileInfo::exists(second));
        QVERIFY(QFileInfo::exists(third));
        QCOMPARE(m_lib->writer.heldFile(QStringLiteral("http://s/2"))->filePath, first);
        QCOMPARE(m_lib->writer.heldFile(QStringLiteral("http://s/3"))->filePath, first);
    }
};

FN_TEST_MAIN_GUI(TestLibraryCommands)
#include "tst_librarycommands.moc"
