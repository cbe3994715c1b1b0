// The windows program as a user starts it: the startup window first, then the part with the browser
// engine, loaded from beside the program; without that part it says so and ends.
#include "testenv.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QProcessEnvironment offscreen()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

} // namespace

class TestWindowsStart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Started without options, the program shows its startup window and then loads the engine's part,
    // which serves the demo site as the default start does, and Qt has nothing to say about the engine
    // being loaded late.
    void theEngineComesAfterTheStartupWindow()
    {
        QProcess program;
        program.setProcessEnvironment(offscreen());
        program.start(QStringLiteral(FOLIONEXUS_EXE), {});
        QVERIFY(program.waitForStarted(10000));
        QByteArray out;
        const QRegularExpression site(QStringLiteral("Demo literature site: (\\S+)"));
        QRegularExpressionMatch found;
        QVERIFY(QTest::qWaitFor(
            [&] {
                out += program.readAllStandardOutput();
                found = site.match(QString::fromUtf8(out));
                return found.hasMatch() || program.state() == QProcess::NotRunning;
            },
            60000));
        QVERIFY2(found.hasMatch(), out.constData());

        QNetworkAccessManager network;
        QNetworkReply *home = network.get(QNetworkRequest(QUrl(found.captured(1))));
        QSignalSpy finished(home, &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(home->error(), QNetworkReply::NoError);
        QVERIFY(home->readAll().contains("Folionexus"));
        home->deleteLater();

        QVERIFY(program.state() == QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(30000));
        const QByteArray err = program.readAllStandardError();
        QVERIFY2(!err.contains("initialized from a plugin"), err.constData());
        QVERIFY2(!err.contains("must be set before"), err.constData());
    }

    // Copied without its module, the program shows its startup window, says what it could not load and
    // ends with a failure instead of waiting with a window that can do nothing.
    void withoutItsModuleItEnds()
    {
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("folionexus-windows"));
        QVERIFY(QFile::copy(QStringLiteral(FOLIONEXUS_WINDOWS_EXE), copy));
        QProcess program;
        program.setProcessEnvironment(offscreen());
        program.start(copy, {});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 1);
        QVERIFY(program.readAllStandardError().contains("module could not be loaded"));
    }
};

FN_TEST_MAIN_CORE(TestWindowsStart)
#include "tst_windowsstart.moc"
