// The speed column of a downloading row follows the bytes over the program's clock, whether or not the
// answer said how long the file is, and falls when the bytes stop coming.
#include "commonseams.h"
#include "core/common/clock.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "testenv.h"
#include "testrows.h"

#include <QTemporaryDir>

namespace {

// The program's clock for the length of a test, whatever way the test ends.
struct ManualClockInstalled
{
    ManualClock clock;
    ManualClockInstalled() { ClockSeam::install(&clock); }
    ~ManualClockInstalled() { ClockSeam::install(nullptr); }
};

} // namespace

class TestRowSpeed : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void speedFollowsTheBytesAndFallsWhenTheyStop()
    {
        ManualClockInstalled installed;
        ManualClock &clock = installed.clock;
        FaultServer server;
        QVERIFY(server.listen());
        // Both send 4096 bytes and then nothing more; one of them never said how long it is.
        FaultServer::Reply sized = FaultServer::pdf(8192);
        sized.stallAfter = 4096;
        FaultServer::Reply unsized = FaultServer::pdf(8192);
        unsized.sendLength = false;
        unsized.stallAfter = 4096;
        server.setReply("/sized.pdf", sized);
        server.setReply("/unsized.pdf", unsized);

        QTemporaryDir dir;
        DownloadListModel model;
        DownloadScheduler scheduler(TestRows::of(model));
        scheduler.options().threadCount = 2;
        scheduler.options().retries = 0;
        QList<RowId> ids;
        for (const char *name : {"sized", "unsized"}) {
            DownloadRow row;
            row.key = server.url(QStringLiteral("/%1.pdf").arg(name)).toString();
            row.name = name;
            row.type = "pdf";
            row.folder = dir.path() + u'/';
            ids << TestRows::of(model).addRow(row);
        }
        scheduler.start();
        QTRY_VERIFY(scheduler.transfers().slot(1) && scheduler.transfers().slot(1)->hasBodyBytes() &&
                    scheduler.transfers().slot(2) && scheduler.transfers().slot(2)->hasBodyBytes());
        QTRY_COMPARE(model.find(ids.at(0))->downloaded, 4096);
        QCOMPARE(model.find(ids.at(1))->size, -1); // no length to show
        // All of it came within one instant of the clock: no speed can be told yet.
        QCOMPARE(model.find(ids.at(0))->speed, -1);
        QCOMPARE(model.find(ids.at(1))->speed, -1);

        clock.advanceMs(1000);
        scheduler.housekeeping()->tickHousekeeping();
        for (RowId id : ids) {
            QCOMPARE(model.find(id)->speed, 4096);
            QCOMPARE(model.cellText(model.positionOf(id), DownloadListModel::ColSpeed),
                     QStringLiteral("4.0 KB/s"));
        }
        clock.advanceMs(1000);
        scheduler.housekeeping()->tickHousekeeping();
        for (RowId id : ids)
            QCOMPARE(model.cellText(model.positionOf(id), DownloadListModel::ColSpeed),
                     QStringLiteral("0 B/s"));

        scheduler.StopDownloads();
        QCOMPARE(model.cellText(model.positionOf(ids.at(0)), DownloadListModel::ColSpeed), QString());
        server.releaseAll();
    }
};

FN_TEST_MAIN_CORE(TestRowSpeed)
#include "tst_rowspeed.moc"
