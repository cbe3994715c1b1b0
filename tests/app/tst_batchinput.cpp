// Careless or hostile input to the batch mode and the paper library, run through the real program:
// passwords in links, several runs on one library, broken or formula-laden manifests, pipes given as
// files, exports that would overwrite each other, and a library left read-only.
#include "faultserver.h"
#include "library/paperlibrary.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct RunResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

constexpr uid_t kNobody = 65534;

} // namespace

class TestBatchInput : public QObject
{
    Q_OBJECT

    FaultServer m_site;
    std::unique_ptr<QTemporaryDir> m_work;
    bool m_asNobody = false; // runs drop to an unprivileged user, for whom permissions count

    QString path(const QString &name) const { return m_work->filePath(name); }
    QString home() const { return path(QStringLiteral("home")); }
    QString libraryPath() const
    {
        return home() + QStringLiteral("/data/Folionexus/墨枢Folionexus文献资料下载管理器/PaperLibrary.db");
    }
    QString link(const QString &site, const QString &userInfo = {}) const
    {
        QString address = m_site.url(site).toString();
        return userInfo.isEmpty()
                   ? address
                   : address.replace(QStringLiteral("://"), QStringLiteral("://") + userInfo + u'@');
    }
    QString writeList(const QString &name, const QStringList &lines)
    {
        fntest::writeFile(path(name), lines.join(u'\n').toUtf8() + '\n');
        return path(name);
    }

    QProcess *launch(const QStringList &arguments)
    {
        auto *process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home() + QStringLiteral("/cache"));
        process->setProcessEnvironment(env);
        if (m_asNobody)
            process->setChildProcessModifier([] {
                if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                    ::_exit(99);
            });
        process->start(QStringLiteral(FOLIONEXUS_EXE), QStringList{QStringLiteral("--batch")} + arguments);
        return process;
    }

    static RunResult finish(QProcess *process, int limitMs = 90000)
    {
        RunResult result;
        // The site answers from this thread, so the process is waited for with the event loop running.
        if (!QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; }, limitMs))
            process->kill();
        process->waitForFinished();
        result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        result.out = process->readAllStandardOutput();
        result.err = process->readAllStandardError();
        process->deleteLater();
        return result;
    }

    RunResult run(const QStringList &arguments) { return finish(launch(arguments)); }

    // Every file of the library as it lies on disk, journal files included.
    QByteArray libraryBytes() const
    {
        return fntest::readFile(libraryPath()) + fntest::readFile(libraryPath() + QStringLiteral("-wal"));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_site.listen()); }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        QDir().mkpath(home());
        m_site.clearRequests();
        m_asNobody = false;
    }

    void aPasswordInALinkIsUsedButNeverShownNorStored()
    {
        FaultServer::Reply challenge;
        challenge.status = 401;
        challenge.reason = "Unauthorized";
        challenge.contentType = "text/html";
        challenge.body = "<html>log in</html>";
        challenge.extraHeaders = {{"WWW-Authenticate", "Basic realm=\"papers\""}};
        m_site.setReplies(QStringLiteral("/auth/a.pdf"), {challenge, FaultServer::pdf(3000)});
        FaultServer::Reply missing = FaultServer::pdf(10);
        missing.status = 404;
        missing.reason = "Not Found";
        m_site.setReply(QStringLiteral("/gone.pdf"), missing);
        const QString secretLink = link(QStringLiteral("/auth/a.pdf"), QStringLiteral("alice:s3cret"));
        const QString list = writeList(QStringLiteral("links.txt"),
                                       {QStringLiteral("paper\t") + secretLink + u'\t' +
                                            link(QStringLiteral("/results"), QStringLiteral("alice:s3cret")),
                                        link(QStringLiteral("/gone.pdf"), QStringLiteral("alice:s3cret")),
                                        link(QString(), QStringLiteral("alice:s3cret"))});
        const QString out = path(QStringLiteral("out"));
        const RunResult r =
            run({QStringLiteral("--input"), list, QStringLiteral("--out"), out, QStringLiteral("--ris"),
                 path(QStringLiteral("p.ris")), QStringLiteral("--bibtex"), path(QStringLiteral("p.bib"))});
        QCOMPARE(r.exitCode, 2);
        // The request itself authenticated with it.
        QCOMPARE(fntest::readFile(out + QStringLiteral("/paper.pdf")), FaultServer::pdf(3000).body);
        const QList<FaultServer::Request> asked = m_site.requests();
        QVERIFY(std::any_of(asked.cbegin(), asked.cend(), [](const FaultServer::Request &q) {
            return q.path == "/auth/a.pdf" && q.headers.value("authorization") == "Basic YWxpY2U6czNjcmV0";
        }));
        const RunResult listed = run({QStringLiteral("--input"), list, QStringLiteral("--list")});
        QCOMPARE(listed.exitCode, 0);
        const QList<std::pair<const char *, QByteArray>> shown{
            {"stdout", r.out},
            {"stderr", r.err},
            {"--list", listed.out + listed.err},
            {"manifest", fntest::readFile(out + QStringLiteral("/manifest.csv"))},
            {"RIS", fntest::readFile(path(QStringLiteral("p.ris")))},
            {"BibTeX", fntest::readFile(path(QStringLiteral("p.bib")))},
            {"library", libraryBytes()},
            {"file names", QDir(out).entryList(QDir::Files).join(u'/').toUtf8()}};
        for (const auto &[where, bytes] : shown) {
            QVERIFY2(!bytes.isEmpty(), where);
            for (const char *secret : {"s3cret", "alice"})
                QVERIFY2(!bytes.contains(secret), qPrintable(QStringLiteral("%1 in %2").arg(secret, where)));
        }
        QVERIFY(fntest::readFile(out + QStringLiteral("/manifest.csv"))
                    .contains(m_site.url(QStringLiteral("/gone.pdf")).toEncoded() + ",gone,pdf,Failed"));

        // The paper is on record under its address without the password, and found again by the same
        // link: a run that skips held papers does not ask for it again.
        m_site.clearRequests();
        const RunResult again = run({QStringLiteral("--input"), list, QStringLiteral("--out"),
                                     path(QStringLiteral("again")), QStringLiteral("--skip-held")});
        QCOMPARE(again.exitCode, 2);
        QCOMPARE(m_site.requestCount(QStringLiteral("/auth/a.pdf")), 0);
        QVERIFY2(fntest::readFile(path(QStringLiteral("again/manifest.csv"))).contains("downloaded before"),
                 again.err.constData());
    }

    void severalRunsAtOnceKeepEveryRecord()
    {
        // Six runs start together on a library none of them has made yet, and record as they go.
        constexpr int Runs = 10;
        constexpr int Papers = 5;
        QList<QProcess *> processes;
        for (int run = 0; run < Runs; ++run) {
            QStringList links;
            for (int n = 0; n < Papers; ++n) {
                const QString site = QStringLiteral("/r%1/%2.pdf").arg(run).arg(n);
                m_site.setReply(site, FaultServer::pdf(1500 + n));
                links.append(link(site));
            }
            const QString list = writeList(QStringLiteral("list%1.txt").arg(run), links);
            processes.append(launch({QStringLiteral("--input"), list, QStringLiteral("--out"),
                                     path(QStringLiteral("out%1").arg(run))}));
        }
        for (QProcess *process : std::as_const(processes)) {
            const RunResult r = finish(process);
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(!r.err.contains("文献资料库"), r.err.constData());
        }
        PaperLibrary library(libraryPath());
        QVERIFY(library.open().ok);
        QCOMPARE(library.downloadedRecords().size(), Runs * Papers);
    }

    void aManifestThatBreaksIsRefusedWithItsLine()
    {
        const QString folder = path(QStringLiteral("resume"));
        QDir().mkpath(folder);
        const QByteArray header = "address,name,type,state,size,path,source,sha256,reason\r\n";
        const QByteArray manifest = header + link(QStringLiteral("/x/1.pdf")).toUtf8() +
                                    ",one,pdf,Failed,,,,,\r\n" + link(QStringLiteral("/x/2.pdf")).toUtf8() +
                                    ",tw\"o,pdf,Failed,,,,,\r\n" + link(QStringLiteral("/x/3.pdf")).toUtf8() +
                                    ",three,pdf,Failed,,,,,\r\n";
        fntest::writeFile(folder + QStringLiteral("/manifest.csv"), manifest);
        const RunResult r = run({QStringLiteral("--resume"), folder, QStringLiteral("--no-library")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("line 3"), r.err.constData());
        // Nothing was fetched and the manifest is as it was: no row is lost for good.
        QVERIFY(m_site.requests().isEmpty());
        QCOMPARE(fntest::readFile(folder + QStringLiteral("/manifest.csv")), manifest);

        // A row listed twice is named, not silently merged.
        m_site.setReply(QStringLiteral("/x/1.pdf"), FaultServer::pdf(1200));
        const QByteArray twice = header + link(QStringLiteral("/x/1.pdf")).toUtf8() +
                                 ",one,pdf,Failed,,,,,\r\n" + link(QStringLiteral("/x/1.pdf")).toUtf8() +
                                 ",uno,pdf,Failed,,,,,\r\n";
        fntest::writeFile(folder + QStringLiteral("/manifest.csv"), twice);
        const RunResult again = run({QStringLiteral("--resume"), folder, QStringLiteral("--no-library")});
        QCOMPARE(again.exitCode, 0);
        QVERIFY2(again.err.contains("line 3: passed over a row whose address is listed on line 2"),
                 again.err.constData());
    }

    void formulaCellsAreNeutralisedAndResumeReadsThemBack()
    {
        const QStringList titles{QStringLiteral("=HYPERLINK(x)"), QStringLiteral("+1"), QStringLiteral("-2"),
                                 QStringLiteral("@SUM(A1)"), QStringLiteral("'=quoted")};
        QStringList lines;
        for (int i = 0; i < titles.size(); ++i) {
            const QString site = QStringLiteral("/f/%1.pdf").arg(i);
            FaultServer::Reply busy = FaultServer::pdf(10);
            busy.status = 404;
            // The first one fails once, so the resumed run has something to fetch under its name.
            m_site.setReplies(site, i == 0 ? QList<FaultServer::Reply>{busy, FaultServer::pdf(2000)}
                                           : QList<FaultServer::Reply>{FaultServer::pdf(2000 + i)});
            lines.append(titles.at(i) + u'\t' + link(site));
        }
        const QString out = path(QStringLiteral("out"));
        const RunResult first = run({QStringLiteral("--input"), writeList(QStringLiteral("l.txt"), lines),
                                     QStringLiteral("--out"), out, QStringLiteral("--no-library")});
        QCOMPARE(first.exitCode, 2);
        const auto noFormulaCell = [&](const QByteArray &manifest) {
            for (const QByteArray &row : manifest.split('\n')) {
                for (const QByteArray &cell : row.split(',')) {
                    if (!cell.isEmpty() && QByteArray("=+-@\t").contains(cell.at(0)))
                        return false;
                }
            }
            return true;
        };
        QVERIFY(noFormulaCell(fntest::readFile(out + QStringLiteral("/manifest.csv"))));

        const RunResult resumed = run({QStringLiteral("--resume"), out, QStringLiteral("--no-library")});
        QCOMPARE(resumed.exitCode, 0);
        QCOMPARE(m_site.requestCount(QStringLiteral("/f/0.pdf")), 2);
        // Every file keeps the name its title gave, the fetched one included.
        QStringList names;
        for (const QString &title : titles)
            names.append(title + QStringLiteral(".pdf"));
        names.append(QStringLiteral("manifest.csv"));
        names.sort();
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), names);
        QVERIFY(noFormulaCell(fntest::readFile(out + QStringLiteral("/manifest.csv"))));
    }

    void pipesAreRefusedAndStopSignalsAlwaysWork()
    {
        const QString fifo = path(QStringLiteral("fifo"));
        const QString resume = path(QStringLiteral("resume"));
        QDir().mkpath(resume);
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(resume + QStringLiteral("/manifest.csv")).constData(), 0600) == 0);
        for (const QStringList &arguments : {QStringList{QStringLiteral("--input"), fifo,
                                                         QStringLiteral("--out"), path(QStringLiteral("o"))},
                                             QStringList{QStringLiteral("--resume"), resume}}) {
            const RunResult r =
                finish(launch(arguments + QStringList{QStringLiteral("--no-library")}), 20000);
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains("不是普通文件") || r.err.contains("not a regular file"),
                     r.err.constData());
        }

        // A termination request ends a run at whatever moment it comes: starting, reading, waiting for a
        // server that never answers.
        FaultServer::Reply silent;
        silent.noAnswer = true;
        m_site.setReply(QStringLiteral("/silent.pdf"), silent);
        const QString list = writeList(QStringLiteral("l.txt"), {link(QStringLiteral("/silent.pdf"))});
        for (int delayMs : {0, 30, 120, 400, 1500}) {
            QProcess *process = launch({QStringLiteral("--input"), list, QStringLiteral("--out"),
                                        path(QStringLiteral("o")), QStringLiteral("--no-library")});
            QVERIFY(process->waitForStarted(10000));
            QTest::qWait(delayMs);
            ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
            QVERIFY2(QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; }, 10000),
                     qPrintable(QStringLiteral("still running after SIGTERM at %1 ms").arg(delayMs)));
            QVERIFY(process->exitStatus() == QProcess::CrashExit || process->exitCode() == 128 + SIGTERM);
            process->deleteLater();
        }
        m_site.releaseAll();
    }

    void exportsNeverLandOnAnotherFileOfTheRun_data()
    {
        QTest::addColumn<QString>("ris");
        QTest::addColumn<QString>("bibtex");
        QTest::addColumn<QString>("linkTo"); // a link made at "link" pointing here, when not empty
        QTest::newRow("--ris naming the manifest") << "out/manifest.csv"
                                                   << ""
                                                   << "";
        QTest::newRow("--bibtex naming the manifest by another spelling") << ""
                                                                          << "./out/../out//manifest.csv"
                                                                          << "";
        QTest::newRow("both naming one file") << "refs"
                                              << "refs"
                                              << "";
        QTest::newRow("both naming one file by two spellings") << "refs"
                                                               << "x/../refs"
                                                               << "";
        QTest::newRow("--ris naming a link to the other") << "link"
                                                          << "refs"
                                                          << "refs";
        QTest::newRow("--bibtex naming a link to the manifest") << ""
                                                                << "link"
                                                                << "out/manifest.csv";
        QTest::newRow("--ris naming the list of links") << "links.txt"
                                                        << ""
                                                        << "";
    }
    void exportsNeverLandOnAnotherFileOfTheRun()
    {
        QFETCH(QString, ris);
        QFETCH(QString, bibtex);
        QFETCH(QString, linkTo);
        const QString list = writeList(QStringLiteral("links.txt"), {link(QStringLiteral("/never.pdf"))});
        QDir().mkpath(path(QStringLiteral("x")));
        if (!linkTo.isEmpty())
            QVERIFY(QFile::link(path(linkTo), path(QStringLiteral("link"))));
        QStringList arguments{QStringLiteral("--input"), list, QStringLiteral("--out"),
                              path(QStringLiteral("out")), QStringLiteral("--no-library")};
        if (!ris.isEmpty())
            arguments << QStringLiteral("--ris") << path(ris);
        if (!bibtex.isEmpty())
            arguments << QStringLiteral("--bibtex") << path(bibtex);
        const RunResult r = run(arguments);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("name one file"), r.err.constData());
        QVERIFY(m_site.requests().isEmpty());
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("out/manifest.csv"))));
    }

    void aReadOnlyLibrarySaysWhichFileAndRecovers()
    {
        // Permissions bind only an ordinary user: as root, the runs drop to one.
        m_asNobody = ::geteuid() == 0;
        for (const QString &folder : {m_work->path(), home()}) {
            if (m_asNobody)
                QVERIFY(::chown(QFile::encodeName(folder).constData(), kNobody, kNobody) == 0);
        }
        m_site.setReply(QStringLiteral("/ro/1.pdf"), FaultServer::pdf(1800));
        const QString list = writeList(QStringLiteral("links.txt"), {link(QStringLiteral("/ro/1.pdf"))});
        if (m_asNobody)
            QVERIFY(::chown(QFile::encodeName(list).constData(), kNobody, kNobody) == 0);
        const auto runInto = [&](const char *out) {
            return run({QStringLiteral("--input"), list, QStringLiteral("--out"), path(QLatin1String(out))});
        };
        QCOMPARE(runInto("first").exitCode, 0);
        QVERIFY(QFile::setPermissions(libraryPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

        const RunResult readOnly = runInto("second");
        QCOMPARE(readOnly.exitCode, 0);
        QVERIFY2(readOnly.err.contains(("“" + libraryPath() + "”是只读的").toUtf8()),
                 readOnly.err.constData());

        // Made writable again, it is written again, although the journal files were made read-only.
        QVERIFY(
            QFile::setPermissions(libraryPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const RunResult mended = runInto("third");
        QCOMPARE(mended.exitCode, 0);
        QVERIFY2(!mended.err.contains("文献资料库"), mended.err.constData());
        QVERIFY(libraryBytes().contains(path(QStringLiteral("third")).toUtf8()));

        // A journal file that this user cannot mend is named as the one that blocks.
        if (!m_asNobody)
            return;
        const QString shm = libraryPath() + QStringLiteral("-shm");
        fntest::writeFile(shm, QByteArray(32768, '\0'));
        QVERIFY(::chown(QFile::encodeName(shm).constData(), 0, 0) == 0);
        QVERIFY(QFile::setPermissions(shm, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const RunResult blocked = runInto("fourth");
        QVERIFY2(blocked.err.contains(("“" + shm + "”是只读的").toUtf8()), blocked.err.constData());
    }
};

FN_TEST_MAIN_CORE(TestBatchInput)
#include "tst_batchinput.moc"
