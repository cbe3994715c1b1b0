#include "core/queue/downloadcommands.h"
#include "core/rows/downloadlistmodel.h"
#include "testenv.h"
#include "testrows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

DownloadRow makeRow(const QString &name, RowState state, const QString &folder = {},
                    const QString &type = "pdf")
{
    DownloadRow row;
    row.key = QStringLiteral("http://site/") + name;
    row.name = name;
    row.type = type;
    row.folder = folder;
    row.state = state;
    row.tag = QStringLiteral("page-") + name;
    if (state == RowState::Done || state == RowState::Failed) {
        row.size = 10;
        row.downloaded = 10;
        row.percentNote = PercentNote::Full;
    }
    return row;
}

QStringList names(const DownloadListModel &model)
{
    QStringList result;
    for (int i = 0; i < model.count(); ++i)
        result << model.row(i).name;
    return result;
}

QStringList column(const DownloadListModel &model, DownloadListModel::Column c)
{
    QStringList result;
    for (int i = 0; i < model.count(); ++i)
        result << model.cellText(i, c);
    return result;
}

// Size, downloaded and percent as the list shows them.
bool progressCellsEmpty(const DownloadListModel &model, int position)
{
    return model.cellText(position, DownloadListModel::ColSize).isEmpty() &&
           model.cellText(position, DownloadListModel::ColDownloaded).isEmpty() &&
           model.cellText(position, DownloadListModel::ColPercent).isEmpty();
}

// Records every shell action instead of starting a program.
struct RecordingShell
{
    QStringList calls;
    bool showInFolderWorks = true;
    ShellHooks hooks()
    {
        ShellHooks h;
        h.openFile = [this](const QString &p) {
            calls << "file:" + p;
            return true;
        };
        h.showInFolder = [this](const QString &p) {
            calls << "show:" + p;
            return showInFolderWorks;
        };
        h.openFolder = [this](const QString &p) {
            calls << "folder:" + p;
            return true;
        };
        h.openInTextEditor = [this](const QString &p) {
            calls << "editor:" + p;
            return true;
        };
        h.openWebPage = [this](const QString &p) {
            calls << "web:" + p;
            return true;
        };
        return h;
    }
};

// The row wrote the file that stands at its path itself.
void own(DownloadListModel &model, RowId id)
{
    const QString path = rowFile(model, id);
    TestRows::of(model).update(id, [&path](DownloadRow &r) { r.owned = OwnedFile{path, IdentityOf(path)}; });
}

const CommandGuards running{true, true, true};
const CommandGuards idle{};

} // namespace

class TestDownloadCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void guardsRefuseWithTheirMessagesAndChangeNothing()
    {
        fntest::MessageRecorder recorder;
        DownloadListModel model;
        TestRows::of(model).addRow(makeRow("a", RowState::Failed));
        TestRows::of(model).addRow(makeRow("b", RowState::Waiting));
        TestRows::of(model).addRow(makeRow("c", RowState::Done, {}, "html"));
        QRandomGenerator random(1);

        QVERIFY(!ShuffleRows(TestRows::of(model), running, random));
        QCOMPARE(RedownloadFailedRows(TestRows::of(model), running), -1);
        QCOMPARE(RedownloadHtmlRows(TestRows::of(model), running), -1);
        QCOMPARE(RemoveSelectedRows(TestRows::of(model), running, model.idsAt({0, 1, 2})), -1);
        QVERIFY(!ClearAllRows(TestRows::of(model), running));
        QCOMPARE(recorder.messages.size(), 5);
        for (const MessageRequest &m : std::as_const(recorder.messages)) {
            QCOMPARE(m.text, QStringLiteral("停止下载以后，才能执行此操作！"));
            QCOMPARE(m.icon, MessageIcon::Information);
        }
        recorder.clear();

        QVERIFY(!CancelSelectedRows(TestRows::of(model), running, {model.idAt(1)}));
        QCOMPARE(recorder.texts(), QStringList{"停止下载后方可设置！"});
        QCOMPARE(recorder.messages.first().icon, MessageIcon::Critical);
        recorder.clear();

        HeaderSorter sorter;
        QVERIFY(!sorter.sortByColumn(TestRows::of(model), DownloadListModel::ColName, running));
        QCOMPARE(recorder.texts(), QStringList{"停止下载后方可排序！"});
        QCOMPARE(recorder.messages.first().icon, MessageIcon::Information);
        QVERIFY(sorter.ascending()); // a refused click does not turn the direction over

        QCOMPARE(names(model), QStringList({"a", "b", "c"}));
        QCOMPARE(model.row(0).state, RowState::Failed);
        QCOMPARE(model.row(1).state, RowState::Waiting);
        QCOMPARE(model.row(2).state, RowState::Done);

        // Removing failed or completed rows is allowed while a run is active.
        recorder.clear();
        QCOMPARE(RemoveFailedRows(TestRows::of(model)), 1);
        QVERIFY(recorder.messages.isEmpty());
    }

    void shuffleMovesEveryRowOnceAndKeepsItsData()
    {
        fntest::MessageRecorder recorder;
        DownloadListModel model;
        QRandomGenerator random(42);
        QVERIFY(ShuffleRows(TestRows::of(model), idle, random));
        QCOMPARE(recorder.texts(), QStringList{"随机排序完成！"});
        QCOMPARE(model.count(), 0);

        QStringList before;
        QHash<QString, RowId> idOfName;
        for (int i = 0; i < 60; ++i) {
            DownloadRow row = makeRow(QStringLiteral("r%1").arg(i), i % 3 ? RowState::Done : RowState::Failed,
                                      QStringLiteral("/f%1/").arg(i));
            row.size = i * 7;
            idOfName.insert(row.name, TestRows::of(model).addRow(row));
            before << row.name;
        }
        QVERIFY(ShuffleRows(TestRows::of(model), idle, random));
        QStringList after = names(model);
        QVERIFY(after != before);
        QStringList sorted = after;
        sorted.sort();
        QStringList expected = before;
        expected.sort();
        QCOMPARE(sorted, expected);
        for (int i = 0; i < model.count(); ++i) {
            const DownloadRow &row = model.row(i);
            const int n = row.name.mid(1).toInt();
            QCOMPARE(row.key, "http://site/" + row.name);
            QCOMPARE(row.tag, "page-" + row.name);
            QCOMPARE(model.cellText(i, DownloadListModel::ColSize), QString::number(n * 7));
            QCOMPARE(row.id, idOfName.value(row.name)); // a row keeps its identity where it goes
            QCOMPARE(model.idOfKey(row.key), row.id);
            QCOMPARE(row.folder, QStringLiteral("/f%1/").arg(n));
            QCOMPARE(row.state, n % 3 ? RowState::Done : RowState::Failed);
        }
        // Two shuffles from the one generator differ (no re-seeding from a coarse clock).
        QVERIFY(ShuffleRows(TestRows::of(model), idle, random));
        QVERIFY(names(model) != after);
    }

    void shuffleOfAVeryLongListLeavesTheUndrawnRowsOnTopInOrder()
    {
        fntest::MessageRecorder recorder;
        DownloadListModel model;
        for (int i = 0; i < 10030; ++i)
            TestRows::of(model).addRow(
                makeRow(QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')), RowState::Waiting));
        QRandomGenerator random(7);
        QVERIFY(ShuffleRows(TestRows::of(model), idle, random));
        QCOMPARE(model.count(), 10030);
        const QStringList top = names(model).mid(0, 30);
        QStringList sortedTop = top;
        sortedTop.sort();
        QCOMPARE(top, sortedTop);
    }

    void redownloadResetsTheRightRowsAndKeepsTheirFiles()
    {
        fntest::MessageRecorder recorder;
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        DownloadListModel model;
        TestRows::of(model).addRow(makeRow("done", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("failed", RowState::Failed, folder));
        TestRows::of(model).addRow(makeRow("waiting", RowState::Waiting, folder));
        TestRows::of(model).addRow(makeRow("page", RowState::Done, folder, "HTM"));
        TestRows::of(model).addRow(makeRow("page2", RowState::Failed, folder, "Html"));
        TestRows::of(model).addRow(makeRow("page3", RowState::Downloading, folder, "html"));
        for (const QString file : {"done.pdf", "failed.pdf", "page.HTM"})
            fntest::writeFile(folder + file, "x");
        own(model, model.idAt(0));
        own(model, model.idAt(3));

        QCOMPARE(RedownloadSelectedRows(TestRows::of(model), model.idsAt({0, 2, 5})), 1);
        QCOMPARE(model.row(0).state, RowState::Waiting);
        QVERIFY(progressCellsEmpty(model, 0));
        // The file stays the row's own until its new copy takes its place.
        QVERIFY(QFile::exists(folder + "done.pdf"));
        QCOMPARE(model.row(0).owned.path, folder + "done.pdf");
        QCOMPARE(model.row(5).state, RowState::Downloading);

        QCOMPARE(RedownloadHtmlRows(TestRows::of(model), idle), 2);
        QCOMPARE(model.row(3).state, RowState::Waiting);
        QCOMPARE(model.row(4).state, RowState::Waiting);
        QVERIFY(QFile::exists(folder + "page.HTM"));
        QCOMPARE(model.row(1).state, RowState::Failed); // a failed pdf is not a web page

        // A failed row wrote nothing: the file under its name is someone else's.
        QCOMPARE(RedownloadFailedRows(TestRows::of(model), idle), 1);
        QCOMPARE(model.row(1).state, RowState::Waiting);
        QVERIFY(QFile::exists(folder + "failed.pdf"));
        QVERIFY(recorder.messages.isEmpty());
    }

    void aResetRemovesNoFileAndAHeldRowGoesBackToItsOwnFolder()
    {
        // A reset deletes nothing: the file the row wrote waits for its new copy, and a link put in its
        // place or the file a held row points at in another folder are not the row's to touch.
        QTemporaryDir dir;
        const QString folder = dir.path() + "/in/";
        const QString elsewhere = dir.path() + "/elsewhere/";
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(elsewhere));
        DownloadListModel model;
        const RowId mine = TestRows::of(model).addRow(makeRow("mine", RowState::Done, folder));
        const RowId linked = TestRows::of(model).addRow(makeRow("linked", RowState::Done, folder));
        const RowId held = TestRows::of(model).addRow(makeRow("held", RowState::Waiting, folder));
        for (const QString name : {"mine", "linked"}) {
            fntest::writeFile(folder + name + ".pdf", "written by the row");
            own(model, model.idAt(name == "mine" ? 0 : 1));
        }
        fntest::writeFile(elsewhere + "target.pdf", "outside");
        QVERIFY(QFile::remove(folder + "linked.pdf"));
        QVERIFY(QFile::link(elsewhere + "target.pdf", folder + "linked.pdf"));
        fntest::writeFile(elsewhere + "earlier.pdf", "held");
        TestRows::of(model).update(held, [&](DownloadRow &r) {
            r.state = RowState::Done;
            r.folder = elsewhere;
            r.name = "earlier";
            r.percentNote = PercentNote::Held;
        });

        QCOMPARE(RedownloadSelectedRows(TestRows::of(model), {mine, linked, held}), 3);
        QCOMPARE(fntest::readFile(folder + "mine.pdf"), QByteArray("written by the row"));
        QVERIFY(QFileInfo(folder + "linked.pdf").isSymLink());
        QCOMPARE(fntest::readFile(elsewhere + "target.pdf"), QByteArray("outside"));
        QCOMPARE(fntest::readFile(elsewhere + "earlier.pdf"), QByteArray("held"));
        // The held row is back in its own folder under its own name; it owned no file and owns none.
        QCOMPARE(model.find(held)->folder, folder);
        QCOMPARE(model.find(held)->name, QStringLiteral("held"));
        QVERIFY(model.find(held)->owned.isNone());
        for (int i = 0; i < model.count(); ++i)
            QCOMPARE(model.row(i).state, RowState::Waiting);
    }

    void automaticRedownloadFollowsTheChoice_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QList<int>>("waitingAfter");
        QTest::newRow("failed rows") << 0 << QList<int>{0, 2};
        QTest::newRow("web pages") << 1 << QList<int>{1, 2};
        QTest::newRow("both") << 2 << QList<int>{0, 1, 2};
    }

    void automaticRedownloadFollowsTheChoice()
    {
        QFETCH(int, choice);
        QFETCH(QList<int>, waitingAfter);
        DownloadListModel model;
        TestRows::of(model).addRow(makeRow("failed", RowState::Failed));
        TestRows::of(model).addRow(makeRow("page", RowState::Done, {}, "html"));
        TestRows::of(model).addRow(makeRow("waiting", RowState::Waiting));
        TestRows::of(model).addRow(makeRow("done", RowState::Done));
        AutoRedownload(TestRows::of(model), idle, choice);
        QList<int> waiting;
        for (int i = 0; i < model.count(); ++i) {
            if (model.row(i).state == RowState::Waiting)
                waiting << i;
        }
        QCOMPARE(waiting, waitingAfter);
    }

    void automaticRedownloadGoesOnOnlyWithRowsToReset()
    {
        // What tells the window the queue goes on is the rule that resets the rows.
        DownloadListModel model;
        TestRows::of(model).addRow(makeRow("done", RowState::Done));
        TestRows::of(model).addRow(makeRow("page", RowState::Waiting, {}, "HTM"));
        for (const auto choice :
             {AutoRedownloadChoice::Failed, AutoRedownloadChoice::Html, AutoRedownloadChoice::FailedAndHtml})
            QVERIFY(!AutoRedownloadFindsRows(model, choice));
        TestRows::of(model).setState(model.idAt(1), RowState::Failed);
        QVERIFY(AutoRedownloadFindsRows(model, AutoRedownloadChoice::Failed));
        TestRows::of(model).setState(model.idAt(1), RowState::Done);
        QVERIFY(!AutoRedownloadFindsRows(model, AutoRedownloadChoice::Failed));
        QVERIFY(AutoRedownloadFindsRows(model, AutoRedownloadChoice::Html));
        QVERIFY(AutoRedownloadFindsRows(model, AutoRedownloadChoice::FailedAndHtml));
    }

    void removalWalksOverNeighbouringMatches()
    {
        fntest::MessageRecorder recorder;
        DownloadListModel model;
        const RowState states[] = {RowState::Failed, RowState::Failed, RowState::Done,   RowState::Failed,
                                   RowState::Done,   RowState::Done,   RowState::Waiting};
        int n = 0;
        QList<RowId> ids;
        for (RowState s : states)
            ids << TestRows::of(model).addRow(makeRow(QString::number(n++), s));
        QCOMPARE(RemoveFailedRows(TestRows::of(model)), 3);
        QCOMPARE(names(model), QStringList({"2", "4", "5", "6"}));
        QCOMPARE(RemoveDoneRows(TestRows::of(model)), 3);
        QCOMPARE(names(model), QStringList({"6"}));

        for (int i = 10; i < 15; ++i)
            TestRows::of(model).addRow(makeRow(QString::number(i), RowState::Waiting));
        // A row that is no longer listed is passed over.
        QCOMPARE(RemoveSelectedRows(TestRows::of(model), idle, model.idsAt({1, 2, 4}) << ids.at(0)), 3);
        QCOMPARE(names(model), QStringList({"6", "12", "14"}));

        recorder.answers = {MessageAnswer::No};
        QVERIFY(!ClearAllRows(TestRows::of(model), idle));
        QCOMPARE(model.count(), 3);
        QCOMPARE(recorder.messages.last().text, QStringLiteral("您确定要清空列表的所有信息吗？"));
        QCOMPARE(recorder.messages.last().icon, MessageIcon::None);
        QCOMPARE(recorder.messages.last().buttons, MessageButtons::YesNo);
        recorder.answers = {MessageAnswer::Yes};
        QVERIFY(ClearAllRows(TestRows::of(model), idle));
        QCOMPARE(model.count(), 0);
    }

    void cancelSelectedFailsOnlyWaitingRows()
    {
        DownloadListModel model;
        TestRows::of(model).addRow(makeRow("w", RowState::Waiting));
        TestRows::of(model).addRow(makeRow("d", RowState::Done));
        TestRows::of(model).addRow(makeRow("w2", RowState::Waiting));
        QVERIFY(CancelSelectedRows(TestRows::of(model), idle, model.idsAt({0, 1})));
        QCOMPARE(model.row(0).state, RowState::Failed);
        QCOMPARE(model.row(1).state, RowState::Done);
        QCOMPARE(model.row(2).state, RowState::Waiting);
    }

    void openCommandsUseTheShellOrExplain()
    {
        fntest::MessageRecorder recorder;
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        DownloadListModel model;
        TestRows::of(model).addRow(makeRow("here", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("gone", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("exact", RowState::Done, folder, "txt"));
        TestRows::of(model).addRow(makeRow("big", RowState::Done, folder, "txt"));
        fntest::writeFile(folder + "here.pdf", "%PDF");
        fntest::writeFile(folder + "exact.txt", QByteArray(2048 * 1024, 'a'));
        fntest::writeFile(folder + "big.txt", QByteArray(2048 * 1024 + 1, 'a'));
        RecordingShell shell;

        OpenDownloadedFile(model, RowId::None, shell.hooks());
        OpenContainingFolder(model, RowId::None, shell.hooks());
        OpenInTextEditor(model, RowId::None, shell.hooks());
        QVERIFY(shell.calls.isEmpty() && recorder.messages.isEmpty());

        OpenDownloadedFile(model, model.idAt(0), shell.hooks());
        OpenDownloadedFile(model, model.idAt(1), shell.hooks());
        QCOMPARE(shell.calls, QStringList{"file:" + folder + "here.pdf"});
        QCOMPARE(recorder.texts(), QStringList{"该文件不存在！"});
        QCOMPARE(recorder.messages.last().icon, MessageIcon::Critical);

        shell.calls.clear();
        recorder.clear();
        OpenContainingFolder(model, model.idAt(0), shell.hooks());
        OpenContainingFolder(model, model.idAt(1), shell.hooks());
        QCOMPARE(shell.calls, QStringList({"show:" + folder + "here.pdf", "folder:" + folder}));
        QVERIFY(recorder.messages.isEmpty());
        shell.showInFolderWorks = false;
        OpenContainingFolder(model, model.idAt(0), shell.hooks());
        QCOMPARE(recorder.texts(), QStringList{"打开失败！"});

        shell.calls.clear();
        recorder.clear();
        OpenInTextEditor(model, model.idAt(2), shell.hooks());
        OpenInTextEditor(model, model.idAt(3), shell.hooks());
        OpenInTextEditor(model, model.idAt(1), shell.hooks());
        QCOMPARE(shell.calls, QStringList{"editor:" + folder + "exact.txt"});
        QCOMPARE(recorder.texts(),
                 QStringList({"该文件太大，超过了2M，不便于用记事本打开！", "该文件不存在！"}));
    }

    void doubleClickOpensDoneRowsAndRequeuesFailedOnes()
    {
        fntest::MessageRecorder recorder;
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        DownloadListModel model;
        TestRows::of(model).addRow(makeRow("ok", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("deleted", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("partial", RowState::Failed, folder));
        TestRows::of(model).addRow(makeRow("busy", RowState::Downloading, folder));
        fntest::writeFile(folder + "ok.pdf", "%PDF");
        fntest::writeFile(folder + "partial.pdf", "%PD");
        fntest::writeFile(folder + "busy.pdf", "%PD");
        RecordingShell shell;

        DoubleClickRow(TestRows::of(model), model.idAt(0), shell.hooks());
        QCOMPARE(shell.calls, QStringList{"file:" + folder + "ok.pdf"});
        DoubleClickRow(TestRows::of(model), model.idAt(1), shell.hooks());
        QCOMPARE(recorder.texts(), QStringList{"文件不存在！"});
        QCOMPARE(recorder.messages.last().icon, MessageIcon::Critical);

        // A failed transfer leaves no file under the row's name: what is there is not the row's to delete.
        DoubleClickRow(TestRows::of(model), model.idAt(2), shell.hooks());
        QCOMPARE(model.row(2).state, RowState::Waiting);
        QVERIFY(progressCellsEmpty(model, 2));
        QVERIFY(QFile::exists(folder + "partial.pdf"));

        DoubleClickRow(TestRows::of(model), model.idAt(3), shell.hooks());
        QCOMPARE(model.row(3).state, RowState::Downloading);
        QVERIFY(QFile::exists(folder + "busy.pdf"));
        QCOMPARE(shell.calls.size(), 1);

        QCOMPARE(RowClickPanelText(model, model.idAt(0)), folder + "ok.pdf");
        QCOMPARE(RowClickPanelText(model, model.idAt(1)), QString());
        QCOMPARE(RowClickPanelText(model, RowId::None), QString());
    }

    void numericColumnsSortByValueAndKeepOtherText()
    {
        DownloadListModel model;
        // Size cells "1000", "999", "未知", "", "5", "文件不存在", "20000"; percent cells "45%", "9%",
        // "100%", "已存在，跳过", "0%", "", "10%".
        struct Cells
        {
            qint64 size;
            SizeNote sizeNote;
            qint64 downloaded;
            PercentNote percentNote;
        };
        const QList<Cells> cells{
            {1000, SizeNote::None, 450, PercentNote::None},  {999, SizeNote::None, 90, PercentNote::None},
            {-1, SizeNote::Unknown, 77, PercentNote::Full},  {-1, SizeNote::None, -1, PercentNote::Skipped},
            {5, SizeNote::None, 0, PercentNote::None},       {-1, SizeNote::NotFound, -1, PercentNote::None},
            {20000, SizeNote::None, 2000, PercentNote::None}};
        for (int i = 0; i < cells.size(); ++i) {
            DownloadRow row = makeRow(QStringLiteral("n%1").arg(i), RowState::Done);
            row.size = cells.at(i).size;
            row.sizeNote = cells.at(i).sizeNote;
            row.downloaded = cells.at(i).downloaded;
            row.percentShown = row.size > 0;
            row.percentNote = cells.at(i).percentNote;
            row.type = QStringList({"pdf", "B", "a", "caj", "PDF", "nh", "c"}).at(i);
            TestRows::of(model).addRow(row);
        }
        QCOMPARE(column(model, DownloadListModel::ColSize),
                 QStringList({"1000", "999", "未知", "", "5", "文件不存在", "20000"}));
        QCOMPARE(column(model, DownloadListModel::ColPercent),
                 QStringList({"45%", "9%", "100%", "已存在，跳过", "0%", "", "10%"}));
        fntest::MessageRecorder recorder;
        HeaderSorter sorter;
        // The first click after load sorts descending.
        QVERIFY(sorter.sortByColumn(TestRows::of(model), DownloadListModel::ColSize, idle));
        QVERIFY(!sorter.ascending());
        QCOMPARE(column(model, DownloadListModel::ColSize),
                 QStringList({"未知", "文件不存在", "20000", "1000", "999", "5", ""}));
        // The next click, on another column, turns the direction over.
        QVERIFY(sorter.sortByColumn(TestRows::of(model), DownloadListModel::ColPercent, idle));
        QVERIFY(sorter.ascending());
        QCOMPARE(column(model, DownloadListModel::ColPercent),
                 QStringList({"", "0%", "9%", "10%", "45%", "100%", "已存在，跳过"}));
        QVERIFY(sorter.sortByColumn(TestRows::of(model), DownloadListModel::ColSize, idle));
        QCOMPARE(column(model, DownloadListModel::ColSize),
                 QStringList({"未知", "文件不存在", "20000", "1000", "999", "5", ""}));
        QVERIFY(sorter.sortByColumn(TestRows::of(model), DownloadListModel::ColSize, idle));
        QCOMPARE(column(model, DownloadListModel::ColSize),
                 QStringList({"", "5", "999", "1000", "20000", "文件不存在", "未知"}));
        // Text columns sort by their text, ignoring letter case.
        QVERIFY(sorter.sortByColumn(TestRows::of(model), DownloadListModel::ColType, idle));
        QVERIFY(!sorter.ascending());
        const QStringList types = column(model, DownloadListModel::ColType);
        for (int i = 1; i < types.size(); ++i)
            QVERIFY2(types.at(i - 1).toLower() >= types.at(i).toLower(), qPrintable(types.join(u',')));
        QVERIFY(recorder.messages.isEmpty());
    }

    void numbersSortByValueWhateverTheirWidth()
    {
        // Terabyte files have more digits than a gigabyte's; the speed counts only while a row downloads.
        DownloadListModel model;
        const QList<qint64> sizes{2'000'000'000'000, 999'999'999'999, 30, 1'500'000'000'000};
        for (int i = 0; i < sizes.size(); ++i) {
            DownloadRow row =
                makeRow(QStringLiteral("n%1").arg(i), i == 2 ? RowState::Waiting : RowState::Downloading);
            row.size = sizes.at(i);
            row.speed = 4 - i;
            TestRows::of(model).addRow(row);
        }
        HeaderSorter sorter;
        QVERIFY(sorter.sortByColumn(TestRows::of(model), DownloadListModel::ColSize, idle));
        QCOMPARE(column(model, DownloadListModel::ColSize),
                 QStringList({"2000000000000", "1500000000000", "999999999999", "30"}));
        QVERIFY(sorter.sortByColumn(TestRows::of(model), DownloadListModel::ColSpeed, idle));
        // The waiting row shows no speed and sorts first, as an empty cell.
        QCOMPARE(column(model, DownloadListModel::ColSize),
                 QStringList({"30", "1500000000000", "999999999999", "2000000000000"}));
    }

    void pdfCheckRenamesOtherPaperFormats()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        DownloadListModel model;
        TestRows::of(model).addRow(makeRow("caj", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("kdh", RowState::Done, folder, "PDF"));
        TestRows::of(model).addRow(makeRow("nh", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("real", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("failedcaj", RowState::Failed, folder));
        TestRows::of(model).addRow(makeRow("other", RowState::Done, folder, "caj"));
        TestRows::of(model).addRow(makeRow("taken", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("missing", RowState::Done, folder));
        TestRows::of(model).addRow(makeRow("junk", RowState::Done, folder));
        const QByteArray caj("\xC8\x00\x00\x00 rest of a caj file", 24);
        fntest::writeFile(folder + "caj.pdf", caj);
        fntest::writeFile(folder + "kdh.PDF", "KDH 1.0 body");
        fntest::writeFile(folder + "nh.pdf", QByteArray("HN\x00\x00 body", 9));
        fntest::writeFile(folder + "real.pdf", "%PDF-1.4");
        fntest::writeFile(folder + "failedcaj.pdf", caj);
        fntest::writeFile(folder + "other.caj", caj);
        fntest::writeFile(folder + "taken.pdf", caj);
        fntest::writeFile(folder + "taken.CAJ", "already here");
        fntest::writeFile(folder + "junk.pdf", "<html>");
        for (int i = 0; i < model.count(); ++i)
            own(model, model.idAt(i));
        // A row that ended on a file that was already there does not own it: its file is not renamed.
        TestRows::of(model).addRow(makeRow("skipped", RowState::Done, folder));
        fntest::writeFile(folder + "skipped.pdf", caj);

        QCOMPARE(CheckPdfFiles(TestRows::of(model)).renamed, 4);
        QCOMPARE(model.row(0).type, QStringLiteral("CAJ"));
        QCOMPARE(model.row(0).name, QStringLiteral("caj"));
        QCOMPARE(fntest::readFile(folder + "caj.CAJ"), caj);
        QVERIFY(!QFile::exists(folder + "caj.pdf"));
        QCOMPARE(model.row(1).type, QStringLiteral("KDH"));
        QVERIFY(QFile::exists(folder + "kdh.KDH"));
        QCOMPARE(model.row(2).type, QStringLiteral("NH"));
        QVERIFY(QFile::exists(folder + "nh.NH"));
        // A taken name gets a counter; the file already there is kept.
        QCOMPARE(model.row(6).type, QStringLiteral("CAJ"));
        QVERIFY(model.row(6).name != QStringLiteral("taken"));
        QVERIFY(model.row(6).name.startsWith(QStringLiteral("taken[")));
        QCOMPARE(fntest::readFile(folder + model.row(6).name + ".CAJ"), caj);
        QCOMPARE(fntest::readFile(folder + "taken.CAJ"), QByteArray("already here"));
        // Rows left alone.
        for (int i : {3, 4, 5, 7, 8, 9})
            QCOMPARE(model.row(i).type, i == 5 ? QStringLiteral("caj") : QStringLiteral("pdf"));
        QVERIFY(QFile::exists(folder + "failedcaj.pdf"));
        QCOMPARE(fntest::readFile(folder + "skipped.pdf"), caj);
        // A renamed file stays the row's own.
        QCOMPARE(model.row(0).owned.path, folder + "caj.CAJ");
        QVERIFY(IsStillOwned(model.row(0).owned));
    }

    void pdfCheckLeavesTheRowWhenTheFileCannotMove()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        DownloadListModel model;
        TestRows::of(model).addRow(makeRow("blocked", RowState::Done, folder));
        fntest::writeFile(folder + "blocked.pdf", QByteArray("\xC8\x00\x00\x00", 4));
        own(model, model.idAt(0));
        // A folder of the new name is not a taken file name, but nothing can be moved onto it.
        QVERIFY(QDir().mkdir(folder + "blocked.CAJ"));
        QCOMPARE(CheckPdfFiles(TestRows::of(model)).renamed, 0);
        QCOMPARE(model.row(0).type, QStringLiteral("pdf"));
        QCOMPARE(model.row(0).name, QStringLiteral("blocked"));
        QVERIFY(QFile::exists(folder + "blocked.pdf"));
    }
};

FN_TEST_MAIN_CORE(TestDownloadCommands)
#include "tst_downloadcommands.moc"
