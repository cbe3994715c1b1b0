#include "core/common/clock.h"
#include "core/queue/downloadlistmodel.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloader.h"
#include "core/transfer/downloadscheduler.h"
#include "core/transfer/partfile.h"
#include "faultserver.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrows.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

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

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        Clock::install(&m_clock);
        for (int i = 0; i < 8; ++i)
            m_server.setReply(QStringLiteral("/p%1.pdf").arg(i), FaultServer::pdf(6000 + i));
    }
    void cleanupTestCase() { Clock::install(nullptr); }

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
        m_scheduler->tickScheduler();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("覆盖"));
        // Later ticks write the store again only when the policy changed.
        WriteSetting(SectionDownload, DuplicateName.name, "marker");
        m_scheduler->tickScheduler();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("marker"));
        m_scheduler->options().policy = DuplicatePolicy::Rename;
        m_scheduler->tickScheduler();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("重命名"));
        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        m_scheduler->tickScheduler();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("覆盖"));
        // An owner that keeps the store untouched (the batch mode) still gets the policy applied.
        m_scheduler->options().storePolicy = false;
        m_scheduler->options().policy = DuplicatePolicy::Skip;
        m_scheduler->tickScheduler();
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, "unset"), QStringLiteral("覆盖"));
        m_scheduler->options().storePolicy = true;
        // An empty list switches the scheduler off.
        m_scheduler->start();
        m_scheduler->tickScheduler();
        QVERIFY(!m_scheduler->isRunning());
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
        m_scheduler->tickScheduler();
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

    void renameAndOverwriteNames()
    {
        m_scheduler->options().threadCount = 1;
        fntest::writeFile(folder() + "paper.pdf", "a");
        fntest::writeFile(folder() + "paper[001].pdf", "b");
        addRow("/p0.pdf", "paper");
        m_scheduler->tickScheduler();
        QCOMPARE(m_model->row(0).name, QStringLiteral("paper[002]"));
        QTRY_COMPARE(m_model->row(0).state, RowState::Done);
        QCOMPARE(QFileInfo(folder() + "paper[002].pdf").size(), 6000);

        m_scheduler->options().policy = DuplicatePolicy::Overwrite;
        addRow("/p1.pdf", "paper");
        m_clock.advanceMs(2000);
        m_scheduler->tickScheduler();
        QCOMPARE(m_model->row(1).name, QStringLiteral("paper"));
        QTRY_COMPARE(m_model->row(1).state, RowState::Done);
        QCOMPARE(QFileInfo(folder() + "paper.pdf").size(), 6001);
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
        m_scheduler->tickScheduler();
        QTRY_COMPARE(m_model->row(0).state, RowState::Done);
        const double finished = m_scheduler->pacing().LastFinishTime();
        QCOMPARE(finished, m_clock.secondsSinceMidnight());
        m_clock.advanceMs(5000);
        m_scheduler->tickScheduler();
        QCOMPARE(m_model->row(1).state, RowState::Waiting);
        m_clock.advanceMs(100);
        m_scheduler->tickScheduler();
        QCOMPARE(m_model->row(1).state, RowState::Downloading);
        QTRY_COMPARE(m_model->row(1).state, RowState::Done);

        // With interval 0 the next tick starts the next file.
        m_scheduler->options().intervalSeconds = 0;
        addRow("/p2.pdf", "c");
        m_clock.advanceMs(1);
        m_scheduler->tickScheduler();
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
        m_scheduler->tickScheduler();
        QVERIFY(m_scheduler->DownloadBusy());
        m_scheduler->tickScheduler(); // arrives during the transfer: nothing starts
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
        PartFile::setGroupWindow(300); // a flush that takes a while
        addRow("/p3.pdf", "whole");
        QSignalSpy finished(m_scheduler, &DownloadScheduler::queueFinished);
        m_clock.advanceMs(2000);
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
        PartFile::setGroupWindow(0);
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
        m_scheduler->tickScheduler();
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
        QCOMPARE(shown.last(), QVariantList({QVariant::fromValue(::DownloadMethod::Parallel), true, 0}));
        QCOMPARE(m_scheduler->options().threadCount, 1);
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
