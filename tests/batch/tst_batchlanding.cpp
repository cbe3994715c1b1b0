// The batch mode on the demo site's landing pages, run through the real program: papers whose own page
// offers no full text to take fail on their own and never stop the run as a verification would (also
// when the rows between them are held or already there), a real verification page still does, and where
// a paper's full text came from is written for rows carried over by --resume and rows held from before.
#include "core/common/csv.h"
#include "demo/demosite.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct RunResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

// The manifest's columns that these runs look at.
enum Column { Address = 0, State = 3, Reason = 8, FileAddress = 9 };

// Manifest rows without the header, by address.
QHash<QString, QStringList> manifestRows(const QString &folder)
{
    csv::ParseError error;
    QList<csv::Record> records =
        csv::parse(QString::fromUtf8(fntest::readFile(folder + QStringLiteral("/manifest.csv"))), &error);
    QHash<QString, QStringList> rows;
    for (qsizetype i = 1; i < records.size(); ++i) {
        QStringList cells;
        for (const QString &cell : std::as_const(records.at(i).cells))
            cells.append(csv::restored(cell));
        rows.insert(cells.value(Address), cells);
    }
    return rows;
}

} // namespace

class TestBatchLanding : public QObject
{
    Q_OBJECT

    DemoSite m_site; // 25 papers behind their own pages
    std::unique_ptr<QTemporaryDir> m_work;
    QStringList m_requests;

    QString path(const QString &name) const { return m_work->filePath(name); }
    QString home() const { return path(QStringLiteral("home")); }

    RunResult run(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home() + QStringLiteral("/cache"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(FOLIONEXUS_EXE), QStringList{QStringLiteral("--batch")} + arguments);
        // The site answers from this thread, so the process is waited for with the event loop running.
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 120000))
            process.kill();
        process.waitForFinished();
        RunResult result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // The papers' links, one a line.
    QString linkList(int count)
    {
        QByteArray text;
        for (int n = 1; n <= count; ++n)
            text += m_site.paperFileUrl(n).toEncoded() + '\n';
        fntest::writeFile(path(QStringLiteral("links.txt")), text);
        return path(QStringLiteral("links.txt"));
    }

    // Every paper of the list has its row, none is left untried, and none met a verification.
    void checkEveryPaperTried(const RunResult &r, const QString &out, int count)
    {
        QVERIFY2(!r.err.contains(QStringLiteral("verification page")), qPrintable(r.err));
        const QHash<QString, QStringList> rows = manifestRows(out);
        QCOMPARE(rows.size(), count);
        for (int n = 1; n <= count; ++n) {
            const QStringList row = rows.value(m_site.paperFileUrl(n).toString());
            QVERIFY2(row.size() > FileAddress, qPrintable(QString::number(n)));
            QVERIFY2(row.at(State) != QStringLiteral("NotAttempted"), qPrintable(row.join(u',')));
            // The paper's page offered nothing to take; 13's full text is a page, 15's answers 404.
            const bool honest = m_site.catalog().offersNoFullText(n) || n == 13;
            if (honest) {
                QCOMPARE(row.at(State), QStringLiteral("Failed"));
                QVERIFY2(row.at(Reason).startsWith(QStringLiteral("no full text offered")) ||
                             row.at(Reason).startsWith(QStringLiteral("full text refused: ")),
                         qPrintable(row.join(u',')));
            } else if (n != 15) {
                QCOMPARE(row.at(State), QStringLiteral("Done"));
            }
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_site.catalog().setLandingPages(true);
        QVERIFY(m_site.listen());
        connect(&m_site, &DemoSite::requestServed, this,
                [this](const QString &served, int) { m_requests.append(served); });
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        QDir().mkpath(home());
        m_site.catalog().setPaywall(false);
        m_site.faults().setVerifyAfter(-1);
        m_site.faults().resetVerification();
        m_requests.clear();
    }

    // Paywalled papers side by side, and again with the papers between them held or already there: the
    // run goes through the list. A verification page that comes later still stops it.
    void papersWithoutAFullTextNeverStopTheRun()
    {
        m_site.catalog().setPaywall(true);
        const QString links = linkList(25);
        const QString out = path(QStringLiteral("out"));
        const QStringList stop{QStringLiteral("--on-verification"), QStringLiteral("stop")};
        RunResult r = run(QStringList{QStringLiteral("--input"), links, QStringLiteral("--out"), out} + stop);
        QCOMPARE(r.exitCode, 2); // some papers failed
        checkEveryPaperTried(r, out, 25);
        if (QTest::currentTestFailed())
            return;
        // Not tried again by itself: each paywalled paper's page was asked for once.
        for (int n = 5; n <= 12; ++n)
            QCOMPARE(m_requests.count(m_site.paperFileUrl(n).path()), 1);

        const QString held = path(QStringLiteral("held"));
        r = run(QStringList{QStringLiteral("--input"), links, QStringLiteral("--out"), held,
                            QStringLiteral("--skip-held")} +
                stop);
        QCOMPARE(r.exitCode, 2);
        checkEveryPaperTried(r, held, 25);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(manifestRows(held).value(m_site.paperFileUrl(4).toString()).at(Reason),
                 QStringLiteral("downloaded before"));

        r = run(QStringList{QStringLiteral("--input"), links, QStringLiteral("--out"), out,
                            QStringLiteral("--policy"), QStringLiteral("skip"),
                            QStringLiteral("--no-library")} +
                stop);
        QCOMPARE(r.exitCode, 2);
        checkEveryPaperTried(r, out, 25);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(manifestRows(out).value(m_site.paperFileUrl(4).toString()).at(Reason),
                 QStringLiteral("already there, skipped"));

        // From the fourth paper on the site asks for its check: the run stops, the rest untried.
        m_site.faults().setVerifyAfter(3);
        const QString checked = path(QStringLiteral("checked"));
        r = run(QStringList{QStringLiteral("--input"), links, QStringLiteral("--out"), checked,
                            QStringLiteral("--no-library"), QStringLiteral("--method"), QStringLiteral("1")} +
                stop);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("the site answers papers with a verification page")),
                 qPrintable(r.err));
        int untried = 0;
        for (const QStringList &row : manifestRows(checked))
            untried += row.at(State) == QStringLiteral("NotAttempted") ? 1 : 0;
        QVERIFY2(untried > 0, qPrintable(r.err));
    }

    // Rows carried over as done by --resume, from a manifest that names their full text or from an older
    // one that does not, and rows held from before, are written with the address their file came from.
    void theFullTextAddressIsWrittenForRowsCarriedOver()
    {
        const QString links = linkList(4);
        const QString out = path(QStringLiteral("out"));
        RunResult r = run({QStringLiteral("--input"), links, QStringLiteral("--out"), out});
        QCOMPARE(r.exitCode, 0);
        const auto checkFileAddresses = [this](const QString &folder, const QString &state) {
            const QHash<QString, QStringList> rows = manifestRows(folder);
            QCOMPARE(rows.size(), 4);
            for (int n = 1; n <= 4; ++n) {
                const QStringList row = rows.value(m_site.paperFileUrl(n).toString());
                QCOMPARE(row.value(State), QStringLiteral("Done"));
                QCOMPARE(row.value(Reason), state);
                QCOMPARE(row.value(FileAddress), m_site.landingFileUrl(n).toString());
            }
        };
        checkFileAddresses(out, QString());
        if (QTest::currentTestFailed())
            return;

        m_requests.clear();
        r = run({QStringLiteral("--resume"), out});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(m_requests.isEmpty());
        checkFileAddresses(out, QString());
        if (QTest::currentTestFailed())
            return;

        // A manifest without the column: the library knows.
        QString manifest = QString::fromUtf8(fntest::readFile(out + QStringLiteral("/manifest.csv")));
        QStringList lines = manifest.split(QStringLiteral("\r\n"));
        for (QString &line : lines)
            line = line.section(u',', 0, 7);
        fntest::writeFile(out + QStringLiteral("/manifest.csv"), lines.join(QStringLiteral("\r\n")).toUtf8());
        r = run({QStringLiteral("--resume"), out});
        QCOMPARE(r.exitCode, 0);
        checkFileAddresses(out, QString());
        if (QTest::currentTestFailed())
            return;

        const QString held = path(QStringLiteral("held"));
        r = run(
            {QStringLiteral("--input"), links, QStringLiteral("--out"), held, QStringLiteral("--skip-held")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(m_requests.filter(QStringLiteral("/fulltext/")).isEmpty());
        checkFileAddresses(held, QStringLiteral("downloaded before"));
        if (QTest::currentTestFailed())
            return;
    }
};

FN_TEST_MAIN_CORE(TestBatchLanding)
#include "tst_batchlanding.moc"
