// The system clock's time of day is the local one, in whatever zone the system is set to, and follows a
// change of zone.
#include "core/common/clock.h"
#include "testenv.h"

#include <QTest>
#include <QTime>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

class TestClock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void timeOfDayIsLocalAndFollowsTheZone()
    {
        const QByteArray before = qgetenv("TZ");
        // Zones far east and west of Greenwich, so that the local day starts on another day than UTC's.
        for (const char *zone : {"<+13>-13", "<-11>11", "UTC0"}) {
            qputenv("TZ", zone);
            ::tzset();
            QTest::qSleep(1100); // past the time a looked-up offset is kept
            const double expected = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
            const double seen = Clock::current().secondsSinceMidnight();
            double apart = std::abs(seen - expected);
            apart = std::min(apart, 86400 - apart); // across midnight
            QVERIFY2(apart < 2,
                     qPrintable(QStringLiteral("%1: %2 against %3").arg(zone).arg(seen).arg(expected)));
            QVERIFY(seen >= 0 && seen < 86400);
        }
        if (before.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", before);
        ::tzset();
    }
};

FN_TEST_MAIN_CORE(TestClock)
#include "tst_clock.moc"
