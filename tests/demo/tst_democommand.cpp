// The demo site as a command: its switches, serving until stopped, and the port it keeps across starts.

#include "demo/demositecommand.h"
#include "democlient.h"
#include "testenv.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace democlient;

class TestDemoCommand : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void commandLineSwitchesAreChecked()
    {
        const auto read = [](const QStringList &arguments, QString *error) {
            QCommandLineParser parser;
            parser.addOptions(demoSiteOptions());
            parser.parse(QStringList{u"folionexus"_qs} + arguments);
            return readDemoSiteSwitches(parser, error);
        };
        QString error;
        const std::optional<DemoSiteSwitches> all =
            read({u"--demo-login"_qs, u"--demo-limit=30"_qs, u"--demo-flaky"_qs, u"100"_qs,
                  u"--demo-verify"_qs, u"0"_qs, u"--demo-layout"_qs, u"cards"_qs},
                 &error);
        QVERIFY(all);
        DemoSite site;
        applyDemoSiteSwitches(site, *all);
        QVERIFY(site.login().requireLogin());
        QCOMPARE((QList<int>{site.faults().paperLimit(), site.faults().flakyPercent(),
                             site.faults().verifyAfter()}),
                 (QList<int>{30, 100, 0}));
        QCOMPARE(site.homeUrl().path(), u"/cards/search"_qs);
        QCOMPARE(read({}, &error)->verifyAfter, -1);
        // A limit of 0 would refuse every paper; more than 100 %, fractions and words make no sense.
        for (const QString &bad :
             {u"--demo-limit=0"_qs, u"--demo-flaky=101"_qs, u"--demo-flaky=2.5"_qs, u"--demo-verify=-1"_qs,
              u"--demo-limit=ten"_qs, u"--demo-layout=grid"_qs}) {
            QVERIFY2(!read({bad}, &error), qPrintable(bad));
            QVERIFY2(error.contains(bad.section(u'=', 0, 0)), qPrintable(error));
        }
    }

    // Papers of a size and a pace chosen on the command line: whole PDFs of that size, each sent no
    // faster than asked, while the other files keep their own bodies.
    void papersTakeTheSizeAndPaceAsked()
    {
        QCOMPARE(readByteCount(u"2M"_qs), 2LL * 1024 * 1024);
        QCOMPARE(readByteCount(u" 512kb "_qs), 512LL * 1024);
        QCOMPARE(readByteCount(u"1.5G"_qs), 3LL * 512 * 1024 * 1024);
        QCOMPARE(readByteCount(u"6000"_qs), 6000);
        for (const QString &bad : {u""_qs, u"M"_qs, u"-2M"_qs, u"2X"_qs, u"two"_qs})
            QVERIFY2(!readByteCount(bad), qPrintable(bad));
        QCommandLineParser parser;
        parser.addOptions(demoSiteOptions());
        parser.parse({u"folionexus"_qs, u"--demo-paper-size"_qs, u"300K"_qs, u"--demo-rate=1M"_qs});
        QString error;
        const std::optional<DemoSiteSwitches> switches = readDemoSiteSwitches(parser, &error);
        QVERIFY2(switches, qPrintable(error));
        QCOMPARE(switches->paperSize, 300 * 1024);
        QCOMPARE(switches->paperRate, 1024 * 1024);
        for (const QStringList &bad : {QStringList{u"--demo-paper-size=1K"_qs}, {u"--demo-rate=10"_qs}}) {
            QCommandLineParser refused;
            refused.addOptions(demoSiteOptions());
            refused.parse(QStringList{u"folionexus"_qs} + bad);
            QVERIFY2(!readDemoSiteSwitches(refused, &error), qPrintable(bad.join(u' ')));
            QVERIFY2(error.contains(bad.first().section(u'=', 0, 0)), qPrintable(error));
        }

        DemoSite site;
        applyDemoSiteSwitches(site, *switches);
        QVERIFY(site.listen());
        QNetworkAccessManager nam;
        QElapsedTimer clock;
        clock.start();
        const Fetched pdf = get(nam, site.paperFileUrl(1));
        const qint64 tookMs = clock.elapsed();
        QCOMPARE(pdf.status, 200);
        QVERIFY2(pdf.body.size() >= 300 * 1024 && pdf.body.size() <= 300 * 1024 + 1,
                 qPrintable(QString::number(pdf.body.size())));
        QVERIFY(pdf.body.startsWith("%PDF-") && pdf.body.trimmed().endsWith("%%EOF"));
        QCOMPARE(pdf.body, site.paperBytes(1));
        QVERIFY2(tookMs >= 250, qPrintable(QString::number(tookMs))); // 300 KB at 1 MB/s: about 0.3 s
        // A file in a reader's own format stays as it was.
        const int caj = site.catalog().papersOfKind(DemoPaperKind::Caj).value(0);
        QVERIFY(caj > 0);
        QVERIFY(site.paperBytes(caj).size() < 12000);
    }

    void commandServesUntilStopped()
    {
        QCOMPARE(runDemoSiteCommand(70000) != 0, true);
        // Bad arguments end the command before it serves anything.
        for (const QStringList &bad :
             {QStringList{u"--port"_qs, u"x"_qs}, QStringList{u"--demo-flaky"_qs, u"200"_qs},
              QStringList{u"--demo-speed"_qs, u"1"_qs}, QStringList{u"extra"_qs}})
            QCOMPARE(runDemoSiteCommand(QStringList{u"folionexus"_qs, u"--demo-site"_qs} + bad), 2);

        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();

        struct sigaction before = {};
        ::sigaction(SIGTERM, nullptr, &before);

        const QString outPath = m_dir.filePath(u"stdout.txt"_qs);
        std::fflush(stdout);
        const int savedOut = ::dup(1);
        FILE *out = std::fopen(outPath.toLocal8Bit().constData(), "w");
        QVERIFY(out);
        ::dup2(::fileno(out), 1);

        // The home page, then one paper twice: the switches given on the command line hold.
        QList<int> statuses;
        QNetworkAccessManager nam;
        std::function<void()> next = [&] {
            static const QStringList paths = {u"/"_qs, u"/paper/1.pdf"_qs, u"/paper/1.pdf"_qs};
            QNetworkReply *reply = nam.get(
                QNetworkRequest(QUrl(u"http://127.0.0.1:%1%2"_qs.arg(port).arg(paths.at(statuses.size())))));
            connect(reply, &QNetworkReply::finished, &nam, [&, reply] {
                statuses.append(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
                reply->deleteLater();
                if (statuses.size() < paths.size())
                    next();
                else
                    std::raise(SIGTERM);
            });
        };
        QTimer::singleShot(0, &nam, next);
        // Stops the run even if the signal never gets through, so the test fails rather than hangs.
        QTimer::singleShot(30000, qApp, &QCoreApplication::quit);
        const int code = runDemoSiteCommand({u"folionexus"_qs, u"--demo-site"_qs, u"--port"_qs,
                                             QString::number(port), u"--demo-limit"_qs, u"1"_qs});

        std::fflush(stdout);
        ::dup2(savedOut, 1);
        ::close(savedOut);
        std::fclose(out);

        QCOMPARE(code, 0);
        QCOMPARE(statuses, (QList<int>{200, 200, 429}));
        QCOMPARE(fntest::readFile(outPath), u"Demo site: http://127.0.0.1:%1/\n"_qs.arg(port).toUtf8());
        struct sigaction after = {};
        ::sigaction(SIGTERM, nullptr, &after);
        QVERIFY2(after.sa_handler == before.sa_handler, "the stop handler must not outlive the command");
    }

    // The site comes back on the port of the last start while that port is free; a taken port, or a file
    // that holds no port, gives a free one, which is remembered in its place.
    void theSiteKeepsItsPortAcrossStarts()
    {
        QTemporaryDir dir;
        const QString file = dir.path() + u"/state/demo-port"_qs;
        quint16 first = 0;
        {
            DemoSite site;
            QVERIFY(site.listenAtRememberedPort(file));
            first = site.port();
            QCOMPARE(fntest::readFile(file).trimmed(), QByteArray::number(first));
        }
        {
            DemoSite again;
            QVERIFY(again.listenAtRememberedPort(file));
            QCOMPARE(again.port(), first);
        }
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, first));
        {
            DemoSite moved;
            QVERIFY(moved.listenAtRememberedPort(file));
            QVERIFY(moved.port() != first);
            QCOMPARE(fntest::readFile(file).trimmed(), QByteArray::number(moved.port()));
        }
        for (const QByteArray &junk :
             {QByteArray("http"), QByteArray("80"), QByteArray("70000"), QByteArray()}) {
            fntest::writeFile(file, junk);
            DemoSite site;
            QVERIFY(site.listenAtRememberedPort(file));
            QVERIFY(site.port() >= 1024);
            QCOMPARE(fntest::readFile(file).trimmed(), QByteArray::number(site.port()));
        }
    }
};

FN_TEST_MAIN_CORE(TestDemoCommand)
#include "tst_democommand.moc"
