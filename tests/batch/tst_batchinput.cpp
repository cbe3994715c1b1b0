// Careless or hostile input to the batch mode and the paper library, run through the real program:
// passwords in links, several runs on one library, broken or formula-laden manifests, pipes given as
// files, exports that would overwrite each other, and a library left read-only.
#include "core/library/paperlibrary.h"
#include "faultserver.h"
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

FaultServer::Reply status(int code, const QByteArray &reason)
{
    FaultServer::Reply reply = FaultServer::pdf(10);
    reply.status = code;
    reply.reason = reason;
    return reply;
}

} // namespace

class TestBatchInput : public QObject
{
    Q_OBJECT

    FaultServer m_site;
    std::unique_ptr<QTemporaryDir> m_work;
    bool m_asNobody = false; // runs drop to an unprivileged user, for whom permissions count

    QString path(const QString &name) const { return m_work->filePath(name); }
    QString home() const { return path("home"); }
    QString libraryPath() const
    {
        return home() + "/data/Folionexus/墨枢Folionexus文献资料下载管理器/PaperLibrary.db";
    }
    QString link(const QString &site, const QString &userInfo = {}) const
    {
        const QString address = m_site.url(site).toString();
        return userInfo.isEmpty() ? address : QString(address).replace("://", "://" + userInfo + '@');
    }
    QString writeList(const QString &name, const QStringList &lines)
    {
        fntest::writeFile(path(name), lines.join('\n').toUtf8() + '\n');
        return path(name);
    }
    QByteArray libraryBytes() const
    {
        return fntest::readFile(libraryPath()) + fntest::readFile(libraryPath() + "-wal");
    }

    QProcess *launch(const QStringList &arguments)
    {
        auto *process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home());
        env.insert("XDG_DATA_HOME", home() + "/data");
        env.insert("XDG_CONFIG_HOME", home() + "/config");
        env.insert("XDG_CACHE_HOME", home() + "/cache");
        process->setProcessEnvironment(env);
        if (m_asNobody)
            process->setChildProcessModifier([] {
                if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                    ::_exit(99);
            });
        process->start(FOLIONEXUS_EXE, QStringList{"--batch"} + arguments);
        return process;
    }

    static RunResult finish(QProcess *process)
    {
        // The site answers from this thread, so the process is waited for with the event loop running.
        if (!QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; }, 90000))
            process->kill();
        process->waitForFinished();
        process->deleteLater();
        return {process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1,
                process->readAllStandardOutput(), process->readAllStandardError()};
    }

    RunResult run(const QStringList &arguments) { return finish(launch(arguments)); }

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

    void anAddressThatIsAPapersPageBringsItsFullTextAndMetadata()
    {
        FaultServer::Reply page;
        page.contentType = "text/html";
        page.body =
            "<html><head><meta name=citation_title content=\"Soil &amp; Water\"><meta name=citation_doi "
            "content=\"doi:10.5555/sw.1\"><meta name=citation_volume content=4><meta "
            "name=citation_pdf_url content=\"../files/1\"></head><body>Abstract</body></html>";
        m_site.setReply("/landing/1", page);
        m_site.setReply("/files/1", FaultServer::pdf(4000));
        const QString ris = path("papers.ris");
        const RunResult r =
            run({"--out", path("out"), "--input", writeList("links.txt", {link("/landing/1")}), "--ris", ris,
                 "--method", "1"});
        QCOMPARE(r.exitCode, 0);
        // Known by its address alone, the paper is named after the title its page declares.
        QVERIFY2(QFileInfo::exists(path("out/Soil & Water.pdf")), r.err.constData());
        const QString manifest = QString::fromUtf8(fntest::readFile(path("out/manifest.csv")));
        QVERIFY2(manifest.contains(",Done,") && manifest.contains(link("/files/1")), qPrintable(manifest));
        const QString exported = QString::fromUtf8(fntest::readFile(ris));
        for (const char *line : {"TI  - Soil & Water", "DO  - 10.5555/sw.1", "VL  - 4"})
            QVERIFY2(exported.contains(QString::fromUtf8(line)), qPrintable(exported));
    }

    void aPasswordInALinkIsUsedButNeverShownNorStored()
    {
        FaultServer::Reply challenge = status(401, "Unauthorized");
        challenge.extraHeaders = {{"WWW-Authenticate", "Basic realm=\"papers\""}};
        m_site.setReplies("/auth/a.pdf", {challenge, FaultServer::pdf(3000)});
        m_site.setReply("/gone.pdf", status(404, "Not Found"));
        const QString secret = "alice:s3cret";
        const QString list =
            writeList("links.txt", {"paper\t" + link("/auth/a.pdf", secret) + '\t' + link("/results", secret),
                                    link("/gone.pdf", secret), link("", secret)});
        const QString out = path("out");
        const RunResult r =
            run({"--input", list, "--out", out, "--ris", path("p.ris"), "--bibtex", path("p.bib")});
        QCOMPARE(r.exitCode, 2);
        // The request itself authenticated with it.
        QCOMPARE(fntest::readFile(out + "/paper.pdf"), FaultServer::pdf(3000).body);
        const QList<FaultServer::Request> asked = m_site.requests();
        QVERIFY(std::any_of(asked.cbegin(), asked.cend(), [](const FaultServer::Request &q) {
            return q.path == "/auth/a.pdf" && q.headers.value("authorization") == "Basic YWxpY2U6czNjcmV0";
        }));
        const QByteArray manifest = fntest::readFile(out + "/manifest.csv");
        QVERIFY(manifest.contains(m_site.url("/gone.pdf").toEncoded() + ",gone,pdf,Failed"));
        const RunResult listed = run({"--input", list, "--list"});
        const QList<std::pair<const char *, QByteArray>> shown{
            {"stdout", r.out},
            {"stderr", r.err},
            {"--list", listed.out + listed.err},
            {"manifest", manifest},
            {"RIS", fntest::readFile(path("p.ris"))},
            {"BibTeX", fntest::readFile(path("p.bib"))},
            {"library", libraryBytes()},
            {"file names", QDir(out).entryList(QDir::Files).join('/').toUtf8()}};
        for (const auto &[where, bytes] : shown)
            QVERIFY2(!bytes.isEmpty() && !bytes.contains("s3cret") && !bytes.contains("alice"), where);

        // On record under its address without the password, the paper is found again by the same link.
        m_site.clearRequests();
        const RunResult again = run({"--input", list, "--out", path("again"), "--skip-held"});
        QCOMPARE(again.exitCode, 2);
        QCOMPARE(m_site.requestCount("/auth/a.pdf"), 0);
        QVERIFY(fntest::readFile(path("again/manifest.csv")).contains("downloaded before"));
    }

    void severalRunsAtOnceKeepEveryRecord()
    {
        // Ten runs start together on a library none of them has made yet, and record as they go.
        constexpr int Runs = 10;
        constexpr int Papers = 5;
        QList<QProcess *> processes;
        for (int run = 0; run < Runs; ++run) {
            QStringList links;
            for (int n = 0; n < Papers; ++n) {
                const QString site = QString("/r%1/%2.pdf").arg(run).arg(n);
                m_site.setReply(site, FaultServer::pdf(1500 + n));
                links.append(link(site));
            }
            processes.append(launch({"--input", writeList(QString("l%1").arg(run), links), "--out",
                                     path(QString("out%1").arg(run))}));
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
        const QString manifestPath = path("resume/manifest.csv");
        QDir().mkpath(path("resume"));
        const auto row = [&](int n, const QString &name) {
            return link(QString("/x/%1.pdf").arg(n)) + ',' + name + ",pdf,Failed,,,,,\r\n";
        };
        const QString header = "address,name,type,state,size,path,source,sha256,reason\r\n";
        const QByteArray broken = (header + row(1, "one") + row(2, "tw\"o") + row(3, "three")).toUtf8();
        fntest::writeFile(manifestPath, broken);
        const RunResult r = run({"--resume", path("resume"), "--no-library"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("line 3"), r.err.constData());
        // Nothing was fetched and the manifest is as it was: no row is lost for good.
        QVERIFY(m_site.requests().isEmpty());
        QCOMPARE(fntest::readFile(manifestPath), broken);

        // A row listed twice is named, not silently merged.
        m_site.setReply("/x/1.pdf", FaultServer::pdf(1200));
        fntest::writeFile(manifestPath, (header + row(1, "one") + row(1, "uno")).toUtf8());
        const RunResult again = run({"--resume", path("resume"), "--no-library"});
        QCOMPARE(again.exitCode, 0);
        QVERIFY2(again.err.contains("line 3: passed over a row whose address is listed on line 2"),
                 again.err.constData());
    }

    void formulaCellsAreNeutralisedAndResumeReadsThemBack()
    {
        const QStringList titles{"=HYPERLINK(x)", "+1", "-2", "@SUM(A1)", "'=quoted"};
        QStringList lines;
        for (int i = 0; i < titles.size(); ++i) {
            const QString site = QString("/f/%1.pdf").arg(i);
            // The first one fails once, so the resumed run has something to fetch under its name.
            m_site.setReplies(
                site, {i == 0 ? status(404, "Not Found") : FaultServer::pdf(2000), FaultServer::pdf(2000)});
            lines.append(titles.at(i) + '\t' + link(site));
        }
        const QString out = path("out");
        const auto noFormulaCell = [&] {
            for (const QByteArray &cell :
                 fntest::readFile(out + "/manifest.csv").replace('\n', ',').split(',')) {
                if (!cell.isEmpty() && QByteArray("=+-@\t").contains(cell.at(0)))
                    return false;
            }
            return true;
        };
        QCOMPARE(run({"--input", writeList("l.txt", lines), "--out", out, "--no-library"}).exitCode, 2);
        QVERIFY(noFormulaCell());
        QCOMPARE(run({"--resume", out, "--no-library"}).exitCode, 0);
        QCOMPARE(m_site.requestCount("/f/0.pdf"), 2);
        QVERIFY(noFormulaCell());
        // Every file keeps the name its title gave, the one fetched again included.
        QStringList names{"manifest.csv"};
        for (const QString &title : titles)
            names.append(title + ".pdf");
        names.sort();
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), names);
    }

    void pipesAreRefusedAndStopSignalsAlwaysWork()
    {
        QDir().mkpath(path("resume"));
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(path("resume/manifest.csv")).constData(), 0600) == 0);
        for (const QStringList &source : {QStringList{"--input", path("fifo"), "--out", path("o")},
                                          QStringList{"--resume", path("resume")}}) {
            const RunResult r = run(source + QStringList{"--no-library"});
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains("不是普通文件") || r.err.contains("not a regular file"),
                     r.err.constData());
        }

        // A termination request ends a run at whatever moment it comes: starting, reading the list,
        // waiting for a server that never answers.
        FaultServer::Reply silent;
        silent.noAnswer = true;
        m_site.setReply("/silent.pdf", silent);
        const QString list = writeList("l.txt", {link("/silent.pdf")});
        for (int delayMs : {0, 30, 120, 400, 1500}) {
            QProcess *process = launch({"--input", list, "--out", path("o"), "--no-library"});
            QVERIFY(process->waitForStarted(10000));
            QTest::qWait(delayMs);
            ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
            QVERIFY2(QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; }, 10000),
                     qPrintable(QString("still running after SIGTERM at %1 ms").arg(delayMs)));
            QVERIFY(process->exitStatus() == QProcess::CrashExit || process->exitCode() == 128 + SIGTERM);
        }
        m_site.releaseAll();
    }

    // A run from a list of links starts no browser engine: while it waits on its link it has no child
    // process. A run from a result page starts one, as the page is shown to the engine.
    // A disk that fills up during a run ends it with the reason and a failing exit, instead of failing the
    // rest of the list: the papers not downloaded are listed as not tried, and a later run takes them once
    // there is room (a real mount: root only).
    void aFullDiskEndsTheRunAndLeavesTheRestForLater()
    {
        const QString out = path("out");
        QDir().mkpath(out);
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", out}) != 0)
            QSKIP("mounting a file system is not allowed here");
        auto unmount = qScopeGuard([&] { QProcess::execute("umount", {out}); });
        QStringList lines;
        const int sizes[] = {20000, 30000, 30000, 20000}; // the third does not fit
        for (int i = 0; i < 4; ++i) {
            m_site.setReply(QString("/full/%1.pdf").arg(i), FaultServer::pdf(sizes[i], char('a' + i)));
            lines.append(QString("d%1\t%2").arg(i).arg(link(QString("/full/%1.pdf").arg(i))));
        }
        const RunResult r =
            run({"--input", writeList("l.txt", lines), "--out", out, "--no-library", "--threads", "1"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("the disk is full"), r.err.constData());
        const QByteArray manifest = fntest::readFile(out + "/manifest.csv");
        QCOMPARE(manifest.count(",Done,"), 2);
        QCOMPARE(manifest.count(",NotAttempted,"), 2);
        QVERIFY(!manifest.contains(",Failed,"));
        const QStringList papers = QDir(out).entryList({"*.pdf", ".*"}, QDir::Files | QDir::Hidden);
        QCOMPARE(papers.size(), 2); // the papers done, and no part of another
        for (const QString &paper : papers)
            QVERIFY(QFile::remove(out + '/' + paper));
        QCOMPARE(run({"--resume", out, "--no-library", "--threads", "1"}).exitCode, 0);
        QCOMPARE(fntest::readFile(out + "/manifest.csv").count(",Done,"), 4);
        for (int i = 0; i < 4; ++i) {
            if (!papers.contains(QString("d%1.pdf").arg(i)))
                QCOMPARE(fntest::readFile(out + QString("/d%1.pdf").arg(i)),
                         FaultServer::pdf(sizes[i], char('a' + i)).body);
        }
    }

    void aListOfLinksStartsNoBrowser()
    {
        const auto children = [](qint64 parent) {
            QStringList names;
            for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
                const QByteArray stat = fntest::readFile("/proc/" + entry + "/stat");
                const qsizetype close = stat.lastIndexOf(')');
                // pid (comm) state ppid ...
                const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
                if (close > 0 && fields.size() > 1 && fields.at(1).toLongLong() == parent)
                    names.append(
                        QString::fromUtf8(stat.mid(stat.indexOf('(') + 1, close - stat.indexOf('(') - 1)));
            }
            return names;
        };
        FaultServer::Reply held;
        held.noAnswer = true;
        m_site.setReply("/held.pdf", held);
        QProcess *process =
            launch({"--input", writeList("l.txt", {link("/held.pdf")}), "--out", path("o"), "--no-library"});
        QVERIFY(process->waitForStarted(10000));
        QVERIFY(QTest::qWaitFor([&] { return m_site.requestCount("/held.pdf") == 1; }, 20000));
        QTest::qWait(500);
        QCOMPARE(children(process->processId()), QStringList());
        ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
        finish(process);

        FaultServer::Reply page = FaultServer::pdf(0);
        page.contentType = "text/html";
        page.body = "<html><body><a href=\"/held.pdf\">paper</a></body></html>";
        m_site.setReply("/results", page);
        process = launch({"--out", path("o2"), "--no-library", link("/results")});
        QVERIFY(process->waitForStarted(10000));
        QVERIFY(QTest::qWaitFor([&] { return children(process->processId()).contains("QtWebEngineProc"); },
                                60000));
        ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
        finish(process);
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
        QStringList arguments{"--input", writeList("links.txt", {link("/never.pdf")}), "--out", path("out"),
                              "--no-library"};
        if (!linkTo.isEmpty())
            QVERIFY(QFile::link(path(linkTo), path("link")));
        if (!ris.isEmpty())
            arguments << "--ris" << path(ris);
        if (!bibtex.isEmpty())
            arguments << "--bibtex" << path(bibtex);
        const RunResult r = run(arguments);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("name one file"), r.err.constData());
        QVERIFY(m_site.requests().isEmpty());
        QVERIFY(!QFileInfo::exists(path("out/manifest.csv")));
    }

    void aReadOnlyLibrarySaysWhichFileAndRecovers()
    {
        // Permissions bind only an ordinary user: as root, the runs drop to one.
        m_asNobody = ::geteuid() == 0;
        for (const QString &folder : {m_work->path(), home()})
            QVERIFY(!m_asNobody || ::chown(QFile::encodeName(folder).constData(), kNobody, kNobody) == 0);
        m_site.setReply("/ro/1.pdf", FaultServer::pdf(1800));
        const QString list = writeList("links.txt", {link("/ro/1.pdf")});
        const auto runInto = [&](const char *out) { return run({"--input", list, "--out", path(out)}); };
        QCOMPARE(runInto("first").exitCode, 0);
        QVERIFY(QFile::setPermissions(libraryPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const RunResult readOnly = runInto("second");
        QCOMPARE(readOnly.exitCode, 0);
        QVERIFY2(readOnly.err.contains(("“" + libraryPath() + "”是只读的").toUtf8()),
                 readOnly.err.constData());

        // Made writable again, it is written again, although its journal files were made read-only.
        QVERIFY(
            QFile::setPermissions(libraryPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const RunResult mended = runInto("third");
        QCOMPARE(mended.exitCode, 0);
        QVERIFY2(!mended.err.contains("文献资料库"), mended.err.constData());
        QVERIFY(libraryBytes().contains(path("third").toUtf8()));

        // A journal file that this user cannot mend is named as the one that blocks.
        if (!m_asNobody)
            return;
        const QString shm = libraryPath() + "-shm";
        fntest::writeFile(shm, QByteArray(32768, '\0'));
        QVERIFY(::chown(QFile::encodeName(shm).constData(), 0, 0) == 0 &&
                QFile::setPermissions(shm, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const RunResult blocked = runInto("fourth");
        QVERIFY2(blocked.err.contains(("“" + shm + "”是只读的").toUtf8()), blocked.err.constData());
    }
};

FN_TEST_MAIN_CORE(TestBatchInput)
#include "tst_batchinput.moc"
