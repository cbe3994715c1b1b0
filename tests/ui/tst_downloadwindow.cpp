#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/targetfile.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/downloadscheduler.h"
#include "core/transfer/partfile.h"
#include "desktop/shellhelpers.h"
#include "faultserver.h"
#include "partfileseam.h"
#include "shellseam.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrows.h"
#include "testrun.h"
#include "ui/downloadwindow.h"
#include "ui/loginpanel.h"
#include "ui/messagebar.h"
#include "ui/optionswindow.h"
#include "windowseams.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeView>
#include <QWebEngineView>
#include <optional>

namespace {

DownloadRow makeRow(const QString &name, RowState state, const QString &folder = {})
{
    DownloadRow row;
    // Port 1 refuses at once, so a row the scheduler starts ends quickly and quietly.
    row.key = QStringLiteral("http://127.0.0.1:1/") + name;
    row.name = name;
    row.type = QStringLiteral("pdf");
    row.folder = folder;
    row.state = state;
    return row;
}

QStringList menuTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *item : menu->actions())
        texts << (item->isSeparator() ? QStringLiteral("-") : item->text());
    return texts;
}

QStringList comboTexts(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

} // namespace

class TestDownloadWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowIsComposedAsTheUserKnowsIt()
    {
        fFileDownload window(fntest::runObjects());
        QCOMPARE(window.objectName(), QStringLiteral("fFileDownload"));
        QCOMPARE(window.windowTitle(), QStringLiteral("文件下载 － 墨枢Folionexus文献资料下载管理器"));
        QVERIFY(window.testAttribute(Qt::WA_DeleteOnClose));

        QStringList menus;
        for (const QAction *m : window.menuBar()->actions())
            menus << m->text();
        QCOMPARE(menus, QStringList({"列表操作(&D)", "工具(&T)", "帮助(&H)"}));
        QCOMPARE(menuTexts(window.listMenu()), QStringList({"全选",
                                                            "全不选",
                                                            "随机排序列表(打乱)",
                                                            "自动调整列宽",
                                                            "-",
                                                            "重新下载",
                                                            "-",
                                                            "清除",
                                                            "清空",
                                                            "-",
                                                            "开始下载",
                                                            "停止下载",
                                                            "取消下载选中项",
                                                            "-",
                                                            "打开下载文件",
                                                            "打开所在文件夹",
                                                            "用记事本打开文件",
                                                            "导出",
                                                            "-",
                                                            "导入…",
                                                            "粘贴",
                                                            "-",
                                                            "退出本下载窗口"}));
        QCOMPARE(menuTexts(window.action("actExport")->menu()), QStringList({"RIS…", "BibTeX…", "CSV…"}));
        QCOMPARE(menuTexts(window.action("actRedownload")->menu()),
                 QStringList({"选中项", "出错项", "文件类型为HTM和HTML项", "PDF文件损坏项"}));
        QCOMPARE(menuTexts(window.action("actRemove")->menu()),
                 QStringList({"选中项", "全部出错项", "完成项"}));
        QCOMPARE(menuTexts(window.menuBar()->actions().at(1)->menu()),
                 QStringList({"设置", "检查PDF文件", "打开网页分析窗口", "文献库"}));
        QCOMPARE(menuTexts(window.menuBar()->actions().at(2)->menu()),
                 QStringList({"关于", "-", "作者网站－墨枢软件", "最新版本", "软件教程和问答", "软件定制",
                              "给软件作者建议"}));

        QCOMPARE(window.Label4->text(), QStringLiteral("下载列表："));
        QCOMPARE(window.Label1->text(), QStringLiteral("记录数：0"));
        QCOMPARE(window.Label7->text(), QStringLiteral("下载方式：2"));
        QCOMPARE(window.Command26->toolTip(), QStringLiteral("更改下载方式"));
        QCOMPARE(window.Command31->toolTip(), QStringLiteral("停止下载"));
        QCOMPARE(window.Label5->text(), QStringLiteral("两个文件下载间隔：        秒"));
        QCOMPARE(comboTexts(window.Combo1), QStringList({"1", "2", "3", "4", "5", "6"}));
        QCOMPARE(window.Combo1->currentText(), QStringLiteral("3")); // the stored position by default
        QCOMPARE(window.Combo2->count(), 61);
        QCOMPARE(window.Combo2->itemText(60), QStringLiteral("60"));
        QCOMPARE(window.Combo2->currentText(), QStringLiteral("0"));
        QCOMPARE(comboTexts(window.Combo4),
                 QStringList({"出错项", "文件类型为HTM和HTML项", "出错项和文件类型为HTM和HTML项"}));
        QCOMPARE(window.Combo4->currentIndex(), 0);
        QVERIFY(!window.Check4->isChecked() && !window.Check3->isChecked());
        QVERIFY(window.Option3->isChecked()); // rename is the stored default
        QCOMPARE(window.Command1->text(), QStringLiteral("网页登录"));
        QVERIFY(window.Shape1->isHidden());
        QVERIFY(window.PicWebBK->isHidden());
        QCOMPARE(window.ListView3->toolTip(), QStringLiteral("双击鼠标：下载当前项或者打开文件"));
        QCOMPARE(window.ListView3->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(window.ListView3->model()->columnCount(), 7);
        QVERIFY(!window.panelText(1).isEmpty());
        for (const char *name : {"Picture3", "Image1", "Picture1", "Label2", "Label8", "StatusBar1"})
            QVERIFY2(window.findChild<QWidget *>(name), name);
    }

    void controlsKeepTheSchedulerOptionsInStep()
    {
        fFileDownload window(fntest::runObjects());
        SchedulerOptions &options = SchedulerAccess::of(window.queue())->options();
        window.Combo1->setCurrentIndex(3);
        QCOMPARE(options.threadCount, 4);
        QCOMPARE(options.threadPosition, 3);
        window.Combo2->setCurrentIndex(5);
        QCOMPARE(options.intervalSeconds, 5);
        window.Option1->setChecked(true);
        QCOMPARE(options.policy, DuplicatePolicy::Skip);
        window.Option2->setChecked(true);
        QCOMPARE(options.policy, DuplicatePolicy::Overwrite);
        window.Check3->setChecked(true);
        QVERIFY(options.autoStart);

        // The switch shows the method, sets one thread and locks the list for the single connection.
        window.Command26->click();
        QCOMPARE(window.Label7->text(), QStringLiteral("下载方式：1"));
        QCOMPARE(window.Combo1->currentText(), QStringLiteral("1"));
        QVERIFY(!window.Combo1->isEnabled());
        QCOMPARE(options.threadCount, 1);
        window.Command26->click();
        QCOMPARE(window.Label7->text(), QStringLiteral("下载方式：2"));
        QVERIFY(window.Combo1->isEnabled());
    }

    // 切换 there and back gives the parallel method the thread count it had, also after the options
    // window put the single connection in force. That count is what the queue runs with and what the
    // window stores when it closes while the single connection is in force.
    void switchingBackKeepsTheThreadCount()
    {
        const auto freshProfile = [] {
            QFile::remove(SettingsFilePath());
            TestOptions::edit() = SharedOptions();
        };
        freshProfile();
        const auto leaveFresh = qScopeGuard(freshProfile); // the other tests load a fresh profile
        FaultServer server;
        QVERIFY(server.listen());
        FaultServer::Reply stalled = FaultServer::pdf(50000);
        stalled.stallAfter = 1000;
        QTemporaryDir dir;
        fntest::MessageRecorder recorder; // Yes to closing with rows left
        QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
        const auto closeOnFailure = qScopeGuard([&] { delete window.data(); });
        const SchedulerOptions &options = SchedulerAccess::of(window->queue())->options();
        window->Combo1->setCurrentIndex(3);
        window->Command26->click();
        QCOMPARE(window->Combo1->currentText(), QStringLiteral("1"));
        QCOMPARE(options.threadCount, 1);
        window->Command26->click();
        QCOMPARE(window->Label7->text(), QStringLiteral("下载方式：2"));
        QCOMPARE(window->Combo1->currentText(), QStringLiteral("4"));
        QVERIFY(window->Combo1->isEnabled());
        QCOMPARE(options.threadCount, 4);

        for (int i = 0; i < 6; ++i) {
            const QString path = QStringLiteral("/p%1.pdf").arg(i);
            server.setReply(path, stalled);
            DownloadRow row = makeRow(QStringLiteral("p%1").arg(i), RowState::Waiting, dir.path() + u'/');
            row.key = server.url(path).toString();
            window->queue()->enqueue(row);
        }
        window->Command4->click();
        QTRY_COMPARE(window->model()->totals().downloading, 4);
        QCOMPARE(SchedulerAccess::of(window->queue())->transfers().CountTransferSlots(), 4 + 1);
        window->Command31->click();
        server.releaseAll();

        window->Command26->click();
        QVERIFY(window->close());
        QTRY_VERIFY(window.isNull());
        QCOMPARE(ReadSetting(settingkeys::Threads), QStringLiteral("3"));
        fFileDownload next(fntest::runObjects());
        QCOMPARE(next.Combo1->currentText(), QStringLiteral("4"));

        // The way through the options window to one connection keeps it as well.
        OptionsWindow single(TestOptions::store());
        single.findChild<QRadioButton *>(QStringLiteral("methodOneOption"))->setChecked(true);
        single.confirm();
        next.takeSharedOptions();
        const SchedulerOptions &nextOptions = SchedulerAccess::of(next.queue())->options();
        QCOMPARE(nextOptions.method, DownloadMethod::Single);
        QCOMPARE(nextOptions.threadCount, 1);
        QCOMPARE(next.Label7->text(), QStringLiteral("下载方式：1"));
        QVERIFY(!next.Combo1->isEnabled());
        next.Command26->click();
        QCOMPARE(next.Combo1->currentText(), QStringLiteral("4"));
        QCOMPARE(nextOptions.threadCount, 4);

        // Several connections chosen in the options window again start with one transfer.
        for (const char *option : {"methodOneOption", "methodTwoOption"}) {
            OptionsWindow options(TestOptions::store());
            options.findChild<QRadioButton *>(QString::fromLatin1(option))->setChecked(true);
            options.confirm();
            next.takeSharedOptions();
        }
        QCOMPARE(next.Label7->text(), QStringLiteral("下载方式：2"));
        QVERIFY(next.Combo1->isEnabled());
        QCOMPARE(next.Combo1->currentText(), QStringLiteral("1"));
        QCOMPARE(nextOptions.threadCount, 1);
    }

    void rightClickSetsFourItemsFromTheSortGuard()
    {
        fFileDownload window(fntest::runObjects());
        window.prepareListMenu();
        QVERIFY(window.action("actRemove")->isEnabled());
        QVERIFY(window.action("actClearAll")->isEnabled());
        QVERIFY(window.action("actSelectAll")->isEnabled());
        QVERIFY(!window.action("actStop")->isEnabled());
        SchedulerAccess::of(window.queue())->start();
        window.prepareListMenu();
        QVERIFY(!window.action("actRemove")->isEnabled());
        QVERIFY(!window.action("actClearAll")->isEnabled());
        QVERIFY(!window.action("actSelectAll")->isEnabled());
        QVERIFY(window.action("actStop")->isEnabled());
        SchedulerAccess::of(window.queue())->StopDownloads();
    }

    void headerClicksSortOnlyWhileIdle()
    {
        fntest::MessageRecorder recorder;
        fFileDownload window(fntest::runObjects());
        DownloadListModel *model = window.model();
        for (const qint64 size : {999, 1000, -1}) {
            DownloadRow row = makeRow(QString::number(size), RowState::Done);
            row.size = size;
            if (size < 0)
                row.sizeNote = SizeNote::Unknown; // "未知"
            TestRows::of(*model).addRow(row);
        }
        SchedulerAccess::of(window.queue())->start();
        window.sortByHeader(DownloadListModel::ColSize);
        QCOMPARE(recorder.texts(), QStringList{"停止下载后方可排序！"});
        QCOMPARE(model->cellText(0, DownloadListModel::ColSize), QStringLiteral("999"));
        QVERIFY(!window.ListView3->header()->isSortIndicatorShown());
        SchedulerAccess::of(window.queue())->StopDownloads();

        recorder.clear();
        window.sortByHeader(DownloadListModel::ColSize);
        QVERIFY(recorder.messages.isEmpty());
        QCOMPARE(model->cellText(0, DownloadListModel::ColSize), QStringLiteral("未知"));
        QCOMPARE(model->cellText(1, DownloadListModel::ColSize), QStringLiteral("1000"));
        QCOMPARE(window.ListView3->header()->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(window.ListView3->header()->sortIndicatorSection(), int(DownloadListModel::ColSize));
    }

    void listCommandsThroughTheMenu()
    {
        fntest::MessageRecorder recorder;
        QTemporaryDir dir;
        fFileDownload window(fntest::runObjects());
        DownloadListModel *model = window.model();
        for (int i = 0; i < 5; ++i)
            TestRows::of(*model).addRow(
                makeRow(QString::number(i), i % 2 ? RowState::Failed : RowState::Done, dir.path() + "/"));
        QCOMPARE(window.Label1->text(), QStringLiteral("记录数：5"));

        window.action("actSelectAll")->trigger();
        QCOMPARE(window.selectedRows(), QList<int>({0, 1, 2, 3, 4}));
        QCOMPARE(window.selectedIds(), model->idsAt({0, 1, 2, 3, 4}));
        window.action("actSelectNone")->trigger();
        QVERIFY(window.selectedRows().isEmpty());
        QVERIFY(window.selectedIds().isEmpty());

        window.action("actRemoveFailed")->trigger();
        QCOMPARE(model->count(), 3);
        QCOMPARE(window.Label1->text(), QStringLiteral("记录数：3"));

        window.ListView3->selectionModel()->select(model->index(1, 0),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window.action("actRemoveSelected")->trigger();
        QCOMPARE(model->count(), 2);
        QCOMPARE(model->row(1).name, QStringLiteral("4"));

        recorder.answers = {MessageAnswer::No};
        window.action("actClearAll")->trigger();
        QCOMPARE(model->count(), 2);
        window.action("actClearAll")->trigger(); // answered Yes
        QCOMPARE(model->count(), 0);
        QCOMPARE(window.Label1->text(), QStringLiteral("记录数：0"));

        window.action("actShuffle")->trigger();
        QCOMPARE(recorder.texts().last(), QStringLiteral("随机排序完成！"));

        QSignalSpy search(&window, &fFileDownload::searchWindowRequested);
        QSignalSpy options(&window, &fFileDownload::optionsRequested);
        QSignalSpy about(&window, &fFileDownload::aboutRequested);
        window.action("actSearchWindow")->trigger();
        window.action("actSettings")->trigger();
        window.action("actAbout")->trigger();
        QCOMPARE(search.count() + options.count() + about.count(), 3);

        QStringList pages;
        ShellHooks hooks;
        hooks.openWebPage = [&pages](const QString &a) {
            pages << a;
            return true;
        };
        DownloadWindowSeam::setShellHooks(window, hooks);
        window.action("actMakerSite")->trigger();
        window.action("actSuggest")->trigger();
        QCOMPARE(pages.size(), 2);
        QVERIFY(pages.at(0).startsWith("https://") && pages.at(1).startsWith("https://"));
    }

    void doubleClickOnTheListFollowsTheRowState()
    {
        fntest::MessageRecorder recorder;
        QTemporaryDir dir;
        fFileDownload window(fntest::runObjects());
        window.resize(900, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        DownloadListModel *model = window.model();
        TestRows::of(*model).addRow(makeRow("gone", RowState::Done, dir.path() + "/"));
        DownloadRow broken = makeRow("broken", RowState::Failed, dir.path() + "/");
        broken.sizeNote = SizeNote::NotFound;
        TestRows::of(*model).addRow(broken);
        fntest::writeFile(dir.path() + "/broken.pdf", "%PD");

        auto doubleClickRow = [&](int row) {
            const QRect rect = window.ListView3->visualRect(model->index(row, 0));
            QTest::mouseClick(window.ListView3->viewport(), Qt::LeftButton, {}, rect.center());
            QTest::mouseDClick(window.ListView3->viewport(), Qt::LeftButton, {}, rect.center());
        };
        doubleClickRow(0);
        QTRY_COMPARE(recorder.texts(), QStringList{"文件不存在！"});
        doubleClickRow(1);
        QCOMPARE(model->row(1).state, RowState::Waiting);
        QVERIFY(model->cellText(1, DownloadListModel::ColSize).isEmpty());
        QVERIFY(QFile::exists(dir.path() + "/broken.pdf")); // a failed row wrote nothing: not its to delete
        QVERIFY(QFile::remove(dir.path() + "/broken.pdf"));

        // A click on a row whose file exists shows its path in the second panel.
        fntest::writeFile(dir.path() + "/gone.pdf", "%PDF");
        const QRect rect = window.ListView3->visualRect(model->index(0, 0));
        QTest::mouseClick(window.ListView3->viewport(), Qt::LeftButton, {}, rect.center());
        QTRY_COMPARE(window.panelText(2), dir.path() + "/gone.pdf");
        QTest::mouseClick(window.ListView3->viewport(), Qt::LeftButton, {},
                          window.ListView3->visualRect(model->index(1, 0)).center());
        QCOMPARE(window.panelText(2), QString());
    }

    void openCommandsReachTheDesktopWithoutADiskLookOnTheGuiThread()
    {
        fntest::MessageRecorder recorder;
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        QStringList asked;
        const ShellServices previous = ShellSeam::replace(
            {[&asked](const QUrl &url) { return asked << "url:" + url.toLocalFile(), true; },
             [&asked](const QString &program, const QStringList &arguments) {
                 return asked << "start:" + arguments.last(), true;
             },
             [&asked](const QString &uri) { return asked << "show:" + QUrl(uri).toLocalFile(), true; },
             {},
             {}});
        const auto restore = qScopeGuard([&previous] { ShellSeam::replace(previous); });
        fFileDownload window(fntest::runObjects());
        window.resize(900, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        DownloadListModel *model = window.model();
        TestRows::of(*model).addRow(makeRow("paper", RowState::Done, folder));
        fntest::writeFile(folder + "paper.pdf", "%PDF");
        window.ListView3->selectionModel()->setCurrentIndex(
            model->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const int looks = diskLooksOnMainThread();

        for (const char *action : {"actOpenFile", "actOpenFolder", "actOpenInEditor"})
            window.action(QLatin1String(action))->trigger();
        QTRY_COMPARE(asked.size(), 3);
        asked.sort();
        QCOMPARE(asked, QStringList({"show:" + folder + "paper.pdf", "start:" + folder + "paper.pdf",
                                     "url:" + folder + "paper.pdf"}));

        // The panel shows the path once the look is in; a click on it opens the file.
        asked.clear();
        QTest::mouseClick(window.ListView3->viewport(), Qt::LeftButton, {},
                          window.ListView3->visualRect(model->index(0, 0)).center());
        QTRY_COMPARE(window.panelText(2), folder + "paper.pdf");
        QTest::mouseClick(window.statusBar()->findChild<QLabel *>("Panel2"), Qt::LeftButton);
        QTRY_COMPARE(asked, QStringList{"url:" + folder + "paper.pdf"});
        QCOMPARE(diskLooksOnMainThread(), looks);
        QVERIFY(recorder.messages.isEmpty());
    }

    void automaticRedownloadRestartsTheRun()
    {
        fntest::MessageRecorder recorder;
        fFileDownload window(fntest::runObjects());
        DownloadListModel *model = window.model();
        TestRows::of(*model).addRow(makeRow("a", RowState::Failed));
        TestRows::of(*model).addRow(makeRow("b", RowState::Done));
        DownloadScheduler *scheduler = SchedulerAccess::of(window.queue());
        scheduler->housekeeping()->setOn(false); // the test drives the ticks

        scheduler->housekeeping()->tickHousekeeping();
        QVERIFY(!scheduler->isRunning());
        QCOMPARE(model->row(0).state, RowState::Failed);

        window.Check4->setChecked(true);
        window.Combo4->setCurrentIndex(0);
        scheduler->housekeeping()->tickHousekeeping();
        QVERIFY(scheduler->isRunning());
        QCOMPARE(model->row(0).state, RowState::Waiting);
        QCOMPARE(model->row(1).state, RowState::Done);
        QVERIFY(!window.Shape1->isHidden());
        scheduler->StopDownloads();
        QVERIFY(window.Shape1->isHidden());
        QVERIFY(recorder.messages.isEmpty());
    }

    void closingAsksOnlyWhileWorkRemains()
    {
        fntest::MessageRecorder recorder;
        {
            QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
            window->show();
            QSignalSpy closed(window.data(), &fFileDownload::windowClosed);
            QVERIFY(window->close());
            QVERIFY(recorder.messages.isEmpty());
            QCOMPARE(closed.count(), 1);
            QTRY_VERIFY(window.isNull()); // deleted on close
        }
        QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
        window->show();
        window->queue()->enqueue(makeRow("waiting", RowState::Waiting));
        QSignalSpy closed(window.data(), &fFileDownload::windowClosed);
        recorder.answers = {MessageAnswer::No};
        QVERIFY(!window->close());
        QCOMPARE(recorder.texts(), QStringList{"正在下载文件或者下载没有完成，要强制关闭窗口吗？"});
        QCOMPARE(recorder.messages.last().icon, MessageIcon::Question);
        QVERIFY(window->isVisible());
        QCOMPARE(closed.count(), 0);
        SchedulerAccess::of(window->queue())->start();
        QVERIFY(window->close()); // answered Yes
        QCOMPARE(closed.count(), 1);
        QTRY_VERIFY(window.isNull());
    }

    void closingWaitsForTheFilesOnTheirWayToTheDisk()
    {
        // A file whose last byte had arrived is flushed and moved into place after the close was agreed:
        // the window, and the list with it, goes only once the file has its row's name and outcome.
        PartFileSeam::setGroupWindow(600000); // the file waits for its flush until the test lets it go
        const auto restore = qScopeGuard([] {
            PartFileSeam::setGroupWindow(diskwork::DefaultGroupWindowMs);
            PartFile::flushSoon();
        });
        FaultServer server;
        QVERIFY(server.listen());
        FaultServer::Reply held = FaultServer::pdf(50000, 'h');
        held.stallAfter = 1000;
        server.setReply("/whole.pdf", FaultServer::pdf(3000, 'w'));
        server.setReply("/held.pdf", held);
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        fntest::MessageRecorder recorder; // the close is agreed
        QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
        window->show();
        RowId whole = RowId::None;
        for (const char *name : {"whole", "held"}) {
            DownloadRow row = makeRow(name, RowState::Waiting, folder);
            row.key = server.url(QStringLiteral("/%1.pdf").arg(QLatin1String(name))).toString();
            const RowId id = window->queue()->enqueue(row);
            whole = whole == RowId::None ? id : whole;
        }
        DownloadScheduler *scheduler = SchedulerAccess::of(window->queue());
        scheduler->options().method = DownloadMethod::Parallel;
        scheduler->options().threadCount = 2;
        window->queue()->start();
        QTRY_VERIFY_WITH_TIMEOUT(scheduler->picker().isCommitting(whole), 20000);
        std::optional<DownloadRow> atClose;
        connect(window.data(), &fFileDownload::windowClosed, this,
                [&] { atClose = *window->model()->find(whole); });

        QVERIFY(!window->close());
        QVERIFY(!atClose.has_value());
        QTRY_VERIFY_WITH_TIMEOUT((PartFile::flushSoon(), atClose.has_value()), 20000);
        QCOMPARE(atClose->state, RowState::Done);
        QCOMPARE(atClose->owned.path, folder + "whole.pdf");
        QCOMPARE(fntest::readFile(folder + "whole.pdf"), FaultServer::pdf(3000, 'w').body);
        QTRY_VERIFY(window.isNull());
        QCOMPARE(recorder.messages.size(), 1); // asked once
    }

    void aRedownloadEndsTheWordOfTheLastRun()
    {
        // The message bar said the run ended with its file done; once the row is back in the queue that
        // is no longer how the list stands.
        FaultServer server;
        QVERIFY(server.listen());
        server.setReply("/paper.pdf", FaultServer::pdf(3000));
        QTemporaryDir dir;
        fFileDownload window(fntest::runObjects());
        window.show();
        DownloadRow row = makeRow("paper", RowState::Waiting, dir.path() + "/");
        row.key = server.url("/paper.pdf").toString();
        window.queue()->enqueue(row);
        window.Command4->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.messageBar()->text().startsWith("下载结束：完成 1 个，失败 0 个"),
                                 20000);
        QVERIFY(window.panelText(3).startsWith("下载结束："));

        window.ListView3->selectionModel()->select(window.model()->index(0, 0),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window.action("actRedownloadSelected")->trigger();
        QCOMPARE(window.model()->row(0).state, RowState::Waiting);
        QVERIFY(!window.messageBar()->hasMessage());
        QVERIFY(window.panelText(3).isEmpty());
        QVERIFY(QFile::exists(dir.path() + "/paper.pdf")); // kept until its new copy takes its place
    }

    void layoutFollowsTheWindowSize()
    {
        const DownloadLayout layout = computeDownloadLayout(QSize(800, 600), 30, 25, 20, 62, 58);
        QCOMPARE(layout.bar, QRect(1, 1, 780, 62));
        QCOMPARE(layout.list, QRect(1, 63, 780, 600 - 63 - 20 - 30 - 25 - 9));
        QCOMPARE(layout.browser, QRect(0, 58, 777, layout.list.height() - 58 - 3));
        QCOMPARE(computeDownloadLayout(QSize(10, 10), 30, 25, 20, 62, 58).list.height(), 0);

        fFileDownload window(fntest::runObjects());
        window.resize(820, 580);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(window.Picture3->width(), window.frameGeometry().width() - 20);
        QCOMPARE(window.PicWebBK->geometry(), window.ListView3->geometry());
        const int centralHeight = window.centralWidget()->height();
        QCOMPARE(window.ListView3->geometry().bottom() + 1, centralHeight - 9);
        QCOMPARE(window.PicWebBK->WebBrowser1->width(), window.PicWebBK->width() - 3);

        window.resize(1000, 700);
        QTRY_COMPARE(window.Picture3->width(), window.frameGeometry().width() - 20);
        QCOMPARE(window.PicWebBK->geometry(), window.ListView3->geometry());
        const QRect before = window.ListView3->geometry();
        window.showMinimized();
        QCoreApplication::processEvents();
        QCOMPARE(window.ListView3->geometry(), before);
        window.showNormal();
        QTRY_COMPARE(window.ListView3->geometry(), before);
    }
};

FN_TEST_MAIN_GUI(TestDownloadWindow)
#include "tst_downloadwindow.moc"
