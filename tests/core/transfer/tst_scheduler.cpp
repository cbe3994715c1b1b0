#include "commonseams.h"
#include "core/common/clock.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/targetfile.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloader.h"
#include "core/transfer/downloadscheduler.h"
#include "core/transfer/partfile.h"
#include "faultserver.h"
#include "partfileseam.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

using namespace settingkeys;

class TestScheduler : public QObject
{
    Q_OBJECT

    FaultServer m_server;
    ManualClock m_clock;
    QTemporaryDir *m_dir = nullptr;
    DownloadListModel *m_model = nullptr;
    DownloadScheduler *m_scheduler = nullptr;

    QString folder() const { return m_dir->path() + u'/'; }

    void addRow(const QString &path, const QString &name)
    {
        DownloadRow row;
        row.key = m_server.url(path).toString();
        row.name = name;
        row.type = "pdf";
        row.folder = m_dir->path(); // without the trailing slash: the scheduler adds it
        QVERIFY(TestRows::of(*m_model).addRow(row) != RowId::None);
    }

    // A tick that had to ask for a folder's names or a fresh look at a file name is taken again once
    // the answer is in, as the next tick would.
    void tick()
    {
        for (int i = 0; i < 4; ++i) {
            m_scheduler->tickScheduler();
            if (!m_scheduler->picker().names().busy())
                return;
            QTRY_VERIFY(!m_scheduler->picker().names().busy());
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        ClockSeam::install(&m_clock);
        for (int i = 0; i < 8; ++i)
            m_server.setReply(QStringLiteral("/p%1.pdf").arg(i), FaultServer::pdf(6000 + i));
    }
    void cleanupTestCase() { ClockSeam::install(nullptr); }

    void init()
    {
        QFile::remove(SettingsFilePath());
        TestOptions::edit() = SharedOptions();
        m_dir = new QTemporaryDir;
        m_model = new DownloadListModel;
        m_scheduler = new DownloadScheduler(TestRows::of(*m_model));
        m_scheduler->windowLoaded();
        m_clock.advanceMs(1000); // ticks within the same instant as the last finish wait
    }
    void cleanup()
    {
        delete m_scheduler;
        delete m_model;
        delete m_dir;
    }

    void loadReadsTheStoredOptions()
    {
        // A fresh profile: method 2, three threads, rename.
        QCOMPARE(m_scheduler->method(), ::DownloadMethod::Parallel);
        QCOMPARE(m_scheduler->options().threadCount, 3);
        QCOMPARE(m_scheduler->options().policy, DuplicatePolicy::Rename);
        QVERIFY(m_scheduler->housekeeping()->isOn());
        QVERIFY(!m_scheduler->isRunning());

        WriteSetting(SectionDownload, Threads.name, "9");
        WriteSetting(SectionDownload, DuplicateName.name, "跳过");
        QSignalSpy shown(m_scheduler, &DownloadScheduler::methodShown);
        m_scheduler->windowLoaded();
        QCOMPARE(m_scheduler->options().threadCount, 1); // a position beyond the list leaves "1"
        QCOMPARE(m_scheduler->options().policy, DuplicatePolicy::Skip);
        QCOMPARE(shown.last().at(0).value<::DownloadMethod>(), ::DownloadMethod::Parallel);

        WriteSetting(SectionSettings, settingkeys::DownloadMethod.name, "1");
        WriteSetting(SectionDownload, Threads.name, "4");
        m_scheduler->windowLoaded();
        QCOMPARE(shown.last(), QVariantList({QVariant::fromValue(::DownloadMethod::Single), false, 0}));
        QCOMPARE(m_scheduler->options().threadCount, 1);
        // Closing with method 1 stores position 0.
        m_scheduler->windowClosing();
        QCOMPARE(ReadSetting(SectionDownload, Threads.name, "x"), QStringLiteral("0"));
    }

    void policyIsStoredOnlyByATick()
    {
        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("unset"));
        tick();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("覆盖"));
        // Later ticks write the store again only when the policy changed.
        WriteSetting(SectionDownload, DuplicateName.name, "marker");
        tick();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("marker"));
        m_scheduler->options().policy = DuplicatePolicy::Rename;
        tick();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("重命名"));
        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        tick();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("覆盖"));
        // An owner that keeps the store untouched (the batch mode) still gets the policy applied.
        m_scheduler->options().storePolicy = false;
        m_scheduler->options().policy = DuplicatePolicy::Skip;
        tick();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("覆盖"));
        m_scheduler->options().storePolicy = true;
        // An empty list switches the scheduler off.
        m_scheduler->start();
        tick();
        QVERIFY(!m_scheduler->isRunning());
    }

    // The store's file is locked by another writer for a while: the tick that stores a changed policy
    // returns at once, and the next read of the store waits for the write and sees it.
    void aTickStoresThePolicyWithoutWaitingForTheFile()
    {
        QDir().mkpath(QFileInfo(SettingsFilePath()).absolutePath());
        QLockFile other(SettingsFilePath() + QStringLiteral(".lock"));
        QVERIFY(other.tryLock());
        std::thread release([&other] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            other.unlock();
        });
        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        QElapsedTimer timer;
        timer.start();
        m_scheduler->tickScheduler();
        const qint64 tickMs = timer.elapsed();
        const QString stored = ReadSetting(SectionDownload, DuplicateName.name, "unset");
        const qint64 readMs = timer.elapsed();
        release.join();
        QVERIFY2(tickMs < 1000, qPrintable(QString::number(tickMs)));
        QVERIFY2(readMs >= 1000, qPrintable(QString::number(readMs)));
        QCOMPARE(stored, QStringLiteral("覆盖"));
    }

    void skipMarksExistingFilesAndStartsTheNext()
    {
        m_scheduler->options().policy = DuplicatePolicy::Skip;
        m_scheduler->options().threadCount = 1;
        for (int i = 0; i < 3; ++i) {
            fntest::writeFile(folder() + QStringLiteral("p%1.pdf").arg(i), QByteArray(100 + i, 'e'));
            addRow(QStringLiteral("/p%1.pdf").arg(i), QStringLiteral("p%1").arg(i));
        }
        addRow("/p3.pdf", "p3");
        tick();
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(m_model->row(i).state, RowState::Done);
            QCOMPARE(m_model->cellText(i, DownloadListModel::ColSize), QString::number(100 + i));
            QCOMPARE(m_model->cellText(i, DownloadListModel::ColPercent), QStringLiteral("已存在，跳过"));
            QCOMPARE(m_model->row(i).folder, folder());
        }
        QCOMPARE(m_model->row(3).state, RowState::Downloading);
        QTRY_COMPARE(m_model->row(3).state, RowState::Done);
        QCOMPARE(QFileInfo(folder() + "p3.pdf").size(), 6003);
    }

    // The search for the next row passes over the rows that ended; one of them sent back to wait (by a
    // fresh download, a sort, or a removal that moves it up) is found again.
    void rowsThatWaitAgainAreFoundWhereverTheyStand()
    {
        m_scheduler->options().threadCount = 1;
        m_server.clearRequests();
        for (int i = 0; i < 4; ++i)
            addRow(QStringLiteral("/p%1.pdf").arg(i), QStringLiteral("p%1").arg(i));
        const auto runUntilAllDone = [this] {
            for (int round = 0; round < 8 && !m_model->检测是否下载列表完毕(); ++round) {
                m_clock.advanceMs(1000);
                tick();
                QTRY_VERIFY(!m_scheduler->DownloadBusy());
            }
            QVERIFY(m_model->检测是否下载列表完毕());
        };
        runUntilAllDone();
        const RowWriter rows = TestRows::of(*m_model);
        const RowId first = m_model->idAt(0);
        rows.setState(first, RowState::Waiting);
        runUntilAllDone();
        QCOMPARE(m_server.requestCount("/p0.pdf"), 2);
        rows.sortRowsByText([](const DownloadRow &r) { return r.name; }, false); // p3 first
        rows.setState(m_model->idAt(3), RowState::Waiting);                      // p0, now last
        rows.setState(m_model->idAt(0), RowState::Waiting);                      // p3
        runUntilAllDone();
        QCOMPARE(m_server.requestCount("/p0.pdf"), 3);
        QCOMPARE(m_server.requestCount("/p3.pdf"), 2);
        rows.setState(m_model->idAt(2), RowState::Waiting); // p1
        rows.removeRow(m_model->idAt(0));
        runUntilAllDone();
        QCOMPARE(m_server.requestCount("/p1.pdf"), 2);
        QCOMPARE(m_server.requestCount("/p2.pdf"), 1);
    }

    // Files wait a moment for others to share their flush, but not the last ones of a run, with either
    // method.
    void theLastFilesOfARunAreNotHeldForOthers()
    {
        PartFileSeam::setGroupWindow(60000);
        for (int method : {1, 2}) {
            m_scheduler->options().method = methodFromNumber(method);
            addRow(QStringLiteral("/p%1.pdf").arg(4 + method), QStringLiteral("last%1").arg(method));
            m_clock.advanceMs(1000);
            tick();
            QTRY_COMPARE_WITH_TIMEOUT(m_model->row(m_model->count() - 1).state, RowState::Done, 10000);
        }
        PartFileSeam::setGroupWindow(10);
    }

    void renameAndOverwriteNames()
    {
        m_scheduler->options().threadCount = 1;
        fntest::writeFile(folder() + "paper.pdf", "a");
        fntest::writeFile(folder() + "paper[001].pdf", "b");
        addRow("/p0.pdf", "paper");
        tick();
        QCOMPARE(m_model->row(0).name, QStringLiteral("paper[002]"));
        QTRY_COMPARE(m_model->row(0).state, RowState::Done);
        QCOMPARE(QFileInfo(folder() + "paper[002].pdf").size(), 6000);

        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        addRow("/p1.pdf", "paper");
        m_clock.advanceMs(2000);
        tick();
        QCOMPARE(m_model->row(1).name, QStringLiteral("paper"));
        QTRY_COMPARE(m_model->row(1).state, RowState::Done);
        QCOMPARE(QFileInfo(folder() + "paper.pdf").size(), 6001);
    }

    void namesComeFromTheFolderAsItStands_data()
    {
        QTest::addColumn<DuplicatePolicy>("policy");
        QTest::newRow("skip") << DuplicatePolicy::Skip;
        QTest::newRow("overwrite") << DuplicatePolicy::Overwrite;
        QTest::newRow("rename") << DuplicatePolicy::Rename;
    }
    void namesComeFromTheFolderAsItStands()
    {
        // Another program's files: one there before the folder was listed, one written and one removed
        // after it was listed, one written while its row downloads. A file is skipped on only as it
        // stands, replaced only under overwrite, no row ends done without its file, and no row's start
        // looks at the disk on the main thread.
        QFETCH(DuplicatePolicy, policy);
        m_scheduler->options().policy = policy;
        m_scheduler->options().threadCount = 4;
        m_scheduler->options().retries = 0;
        FaultServer::Reply slow = FaultServer::pdf(20000);
        slow.trickleBytes = 4000;
        slow.trickleMs = 100;
        m_server.setReply("/slow.pdf", slow);
        m_server.clearRequests();
        fntest::writeFile(folder() + "before.pdf", QByteArray(100, 'b'));
        fntest::writeFile(folder() + "gone.pdf", QByteArray(102, 'g'));
        QTRY_VERIFY(m_scheduler->picker().names().listed(folder()));
        fntest::writeFile(folder() + "after.pdf", QByteArray(101, 'a'));
        QFile::remove(folder() + "gone.pdf");
        addRow("/p0.pdf", "before");
        addRow("/p1.pdf", "after");
        addRow("/p2.pdf", "gone");
        addRow("/slow.pdf", "during");
        const int mainLooks = diskLooksOnMainThread();
        m_scheduler->start();
        QTRY_VERIFY(m_model->row(3).downloaded > 0);
        fntest::writeFile(folder() + "during.pdf", QByteArray(103, 'd'));
        QTRY_VERIFY_WITH_TIMEOUT(m_model->检测是否下载列表完毕(), 10000);
        QCOMPARE(diskLooksOnMainThread(), mainLooks);

        const auto fileOf = [this](int i) { return fntest::readFile(rowFilePath(m_model->row(i))); };
        const QStringList others{"before", "after", "gone", "during"};
        switch (policy) {
        case DuplicatePolicy::Skip:
            for (int i : {0, 1}) {
                QCOMPARE(m_model->row(i).state, RowState::Done);
                QCOMPARE(m_model->cellText(i, DownloadListModel::ColPercent), QStringLiteral("已存在，跳过"));
                QCOMPARE(m_model->row(i).size, 100 + i);
                QCOMPARE(fileOf(i).size(), 100 + i);
            }
            QCOMPARE(m_server.requestCount("/p0.pdf") + m_server.requestCount("/p1.pdf"), 0);
            QCOMPARE(m_model->row(2).state, RowState::Done);
            QCOMPARE(fileOf(2).size(), 6002);
            // The name was taken while the paper came: the other program's file stays, the row is no paper.
            QCOMPARE(m_model->row(3).state, RowState::Failed);
            QCOMPARE(fntest::readFile(folder() + "during.pdf"), QByteArray(103, 'd'));
            break;
        case DuplicatePolicy::Overwrite:
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(m_model->row(i).state, RowState::Done);
                QCOMPARE(m_model->row(i).name, others[i]);
                QCOMPARE(fileOf(i).size(), i < 3 ? 6000 + i : 20000);
            }
            break;
        case DuplicatePolicy::Rename:
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(m_model->row(i).state, RowState::Done);
                QCOMPARE(fileOf(i).size(), i < 3 ? 6000 + i : 20000);
                if (i !=
                    2) // a name freed after the listing may be passed over until the folder is listed again
                    QCOMPARE(m_model->row(i).name, others[i] + "[001]");
            }
            QCOMPARE(fntest::readFile(folder() + "before.pdf"), QByteArray(100, 'b'));
            QCOMPARE(fntest::readFile(folder() + "after.pdf"), QByteArray(101, 'a'));
            QCOMPARE(fntest::readFile(folder() + "during.pdf"), QByteArray(103, 'd'));
            break;
        }
    }

    void aFileJustWrittenByAnotherRowIsTakenAtOnce()
    {
        // The second row starts as soon as the first one's file is in place, before the folder is
        // listed again: under overwrite it still never replaces the file another row of the list wrote.
        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        m_scheduler->options().threadCount = 1;
        addRow("/p4.pdf", "twin");
        addRow("/p5.pdf", "twin");
        m_scheduler->start();
        QTRY_VERIFY(m_model->检测是否下载列表完毕());
        QCOMPARE(m_model->row(1).name, QStringLiteral("twin[001]"));
        QCOMPARE(fntest::readFile(folder() + "twin.pdf").size(), 6004);
        QCOMPARE(fntest::readFile(folder() + "twin[001].pdf").size(), 6005);
    }

    void aFolderMadeAfterItWasListed()
    {
        // Rows bound for a folder that is not there are not held back for ever; once another program
        // makes it and puts a file in it, that file is seen.
        m_scheduler->options().policy = DuplicatePolicy::Skip;
        m_scheduler->options().retries = 0;
        DownloadRow row;
        row.key = m_server.url("/p0.pdf").toString();
        row.name = "x";
        row.type = "pdf";
        row.folder = folder() + "later/";
        QVERIFY(TestRows::of(*m_model).addRow(row) != RowId::None);
        m_scheduler->start();
        QTRY_COMPARE(m_model->row(0).state, RowState::Failed);
        QVERIFY(!QFileInfo::exists(row.folder));

        QDir(folder()).mkdir("later");
        fntest::writeFile(row.folder + "x.pdf", QByteArray(33, 'x'));
        row.key = m_server.url("/p1.pdf").toString();
        QVERIFY(TestRows::of(*m_model).addRow(row) != RowId::None);
        m_scheduler->start();
        QTRY_COMPARE(m_model->row(1).state, RowState::Done);
        QCOMPARE(m_model->row(1).size, 33);
        QCOMPARE(fntest::readFile(row.folder + "x.pdf"), QByteArray(33, 'x'));
    }

    void intervalCountsFromTheLastFinish_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("single connection") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void intervalCountsFromTheLastFinish()
    {
        QFETCH(int, method);
        m_scheduler->options().method = ::methodFromNumber(method);
        m_scheduler->options().threadCount = 1;
        m_scheduler->options().intervalSeconds = 5;
        addRow("/p0.pdf", "a");
        addRow("/p1.pdf", "b");
        m_clock.advanceMs(6000);
        tick();
        QTRY_COMPARE(m_model->row(0).state, RowState::Done);
        const double finished = m_scheduler->pacing().LastFinishTime();
        QCOMPARE(finished, m_clock.secondsSinceMidnight());
        m_clock.advanceMs(5000);
        tick();
        QCOMPARE(m_model->row(1).state, RowState::Waiting);
        m_clock.advanceMs(100);
        tick();
        QCOMPARE(m_model->row(1).state, RowState::Downloading);
        QTRY_COMPARE(m_model->row(1).state, RowState::Done);

        // With interval 0 the next tick starts the next file.
        m_scheduler->options().intervalSeconds = 0;
        addRow("/p2.pdf", "c");
        m_clock.advanceMs(1);
        tick();
        QCOMPARE(m_model->row(2).state, RowState::Downloading);
        QTRY_COMPARE(m_model->row(2).state, RowState::Done);
    }

    void singleConnectionIsOneAtATime()
    {
        m_scheduler->options().method = ::DownloadMethod::Single;

        FaultServer::Reply slow = FaultServer::pdf(8000);
        slow.trickleBytes = 2000;
        slow.trickleMs = 50;
        m_server.setReply("/slow1.pdf", slow);
        addRow("/slow1.pdf", "a");
        addRow("/p1.pdf", "b");
        m_clock.advanceMs(2000);
        tick();
        QVERIFY(m_scheduler->DownloadBusy());
        tick(); // arrives during the transfer: nothing starts
        QCOMPARE(m_model->row(1).state, RowState::Waiting);
        QTRY_COMPARE(m_model->row(0).state, RowState::Done);
        QVERIFY(!m_scheduler->DownloadBusy());
    }

    void aStopLetsAWholeFileReachItsNameBeforeTheRunEnds_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("one connection") << 1;
        QTest::newRow("slots") << 2;
    }
    void aStopLetsAWholeFileReachItsNameBeforeTheRunEnds()
    {
        // The slot is free while the file goes to the disk, but the run is not over until it is there.
        QFETCH(int, method);
        m_scheduler->options().method = methodFromNumber(method);
        m_scheduler->options().threadCount = 1;
        PartFileSeam::setGroupWindow(300); // a flush that takes a while
        addRow("/p3.pdf", "whole");
        QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
        m_clock.advanceMs(2000);
        QTRY_VERIFY(m_scheduler->picker().names().listed(folder()));
        m_scheduler->start();
        m_scheduler->tickScheduler();
        Downloader *transfer =
            method == 1 ? m_scheduler->transfers().singleTransfer() : m_scheduler->transfers().slot(1);
        QVERIFY(transfer);
        QSignalSpy body(transfer, &Downloader::bodyReceived);
        QVERIFY(body.wait(5000));
        QVERIFY(m_scheduler->transfers().anyTransferLive());
        m_scheduler->StopDownloads();
        QCOMPARE(finished.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        PartFileSeam::setGroupWindow(0);
        QCOMPARE(m_model->row(0).state, RowState::Done);
        QCOMPARE(fntest::readFile(folder() + QStringLiteral("whole.pdf")).size(), 6003);
    }

    void housekeepingStopsFinishedListsAndRestartsAutomatically()
    {
        QSignalSpy running(m_scheduler, &DownloadScheduler::runningChanged);
        QSignalSpy totals(m_scheduler->housekeeping(), &Housekeeping::totalsChanged);
        DownloadRow done;
        done.key = "done";
        done.state = RowState::Done;
        TestRows::of(*m_model).addRow(done);
        m_scheduler->start();
        m_scheduler->housekeeping()->tickHousekeeping();
        QVERIFY(!m_scheduler->isRunning());
        QVERIFY(!totals.isEmpty());
        QCOMPARE(m_model->totalsText(), QStringLiteral("总数：1|正在下载：0|等待：0|已完成：1|失败：0"));

        // A stop fails the running rows; automatic start picks up rows not yet downloaded.
        FaultServer::Reply stall = FaultServer::pdf(90000);
        stall.stallAfter = 100;
        m_server.setReply("/stall.pdf", stall);
        addRow("/stall.pdf", "stall");
        addRow("/p4.pdf", "later");
        m_scheduler->options().threadCount = 1;
        m_clock.advanceMs(2000);
        m_scheduler->start();
        tick();
        QCOMPARE(m_model->row(1).state, RowState::Downloading);
        m_scheduler->housekeeping()->tickHousekeeping();
        QVERIFY(m_scheduler->DownloadBusy());
        m_scheduler->StopDownloads();
        QCOMPARE(m_model->row(1).state, RowState::Failed);
        QVERIFY(!m_scheduler->isRunning());
        m_scheduler->housekeeping()->tickHousekeeping();
        QVERIFY(!m_scheduler->isRunning()); // automatic start is off
        m_scheduler->options().autoStart = true;
        m_scheduler->housekeeping()->tickHousekeeping();
        QVERIFY(m_scheduler->isRunning());
        QVERIFY(running.count() >= 3);
        m_server.releaseAll();
    }

    void switchChangesTheMethodForThisRunOnly()
    {
        QSignalSpy shown(m_scheduler, &DownloadScheduler::methodShown);
        m_scheduler->start();
        m_scheduler->switchMethod();
        QCOMPARE(shown.last(), QVariantList({QVariant::fromValue(::DownloadMethod::Single), false, 0}));
        QVERIFY(!m_scheduler->isRunning());
        m_scheduler->switchMethod();
        // The parallel method comes back with the three threads of a fresh profile.
        QCOMPARE(shown.last(), QVariantList({QVariant::fromValue(::DownloadMethod::Parallel), true, 2}));
        QCOMPARE(m_scheduler->options().threadCount, 3);
        QCOMPARE(ReadSetting(SectionSettings, settingkeys::DownloadMethod.name, "unset"),
                 QStringLiteral("unset"));
    }

    void closeAsksOnlyWhileWorkRemains()
    {
        QVERIFY(!m_scheduler->closeNeedsConfirmation());
        addRow("/p0.pdf", "w");
        QVERIFY(m_scheduler->closeNeedsConfirmation()); // a waiting row, scheduler off
        TestRows::of(*m_model).setState(m_model->idAt(0), RowState::Failed);
        QVERIFY(!m_scheduler->closeNeedsConfirmation());
        m_scheduler->start();
        QVERIFY(m_scheduler->closeNeedsConfirmation());
    }
};

FN_TEST_MAIN_CORE(TestScheduler)
#include "tst_scheduler.moc"
