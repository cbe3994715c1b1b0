#include "faultserver.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
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

FaultServer::Reply htmlReply(const QByteArray &body)
{
    FaultServer::Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = body;
    return reply;
}

QByteArray resultPage(const QList<QPair<QString, QString>> &links, const QByteArray &next = {})
{
    QByteArray html = "<html><head><meta charset='utf-8'><title>results</title></head><body>"
                      "<div class='tablelist paperlist'><table>";
    for (const auto &[title, href] : links)
        html += "<tr><td><a href='" + href.toUtf8() + "'>" + title.toUtf8() + "</a></td></tr>";
    html += "</table></div>";
    if (!next.isEmpty())
        html += "<div class='pager'><a href='" + next + "'>&gt;</a></div>";
    return html + "</body></html>";
}

// The characters that must never reach a terminal or a file name as they are, UTF-8 encoded.
const QList<QByteArray> kRawControls{"\x1b",     "\x07",         "\x08",         "\x7f",        "\xc2\x9b",
                                     "\xc2\x85", "\xe2\x80\xae", "\xe2\x81\xa6", "\xe2\x80\x8f"};

QByteArray firstRawControl(const QByteArray &bytes)
{
    for (const QByteArray &c : kRawControls) {
        if (bytes.contains(c))
            return c.toHex();
    }
    return {};
}

} // namespace

class TestBatchTrust : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_site.listen()); }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        m_site.clearRequests();
    }

    void circularNextPagesEndTheWalk_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("papers");
        QTest::addColumn<QString>("revisitedFrom");
        QTest::newRow("1 -> 2 -> 1: does the walk stop where it began?") << "/c1" << 2 << "/c2";
        QTest::newRow("a page whose > leads to itself: does the walk stop at once?")
            << "/self" << 1 << "/self";
        QTest::newRow("1 -> 2 -> 3 -> 2: does a loop further on stop too?") << "/l1" << 3 << "/l3";
    }
    void circularNextPagesEndTheWalk()
    {
        QFETCH(QString, start);
        QFETCH(int, papers);
        QFETCH(QString, revisitedFrom);
        m_site.setReply("/c1", htmlReply(resultPage({{"one", "/p/1"}}, "/c2")));
        m_site.setReply("/c2", htmlReply(resultPage({{"two", "/p/2"}}, "/c1")));
        m_site.setReply("/self", htmlReply(resultPage({{"only", "/p/9"}}, "/self")));
        m_site.setReply("/l1", htmlReply(resultPage({{"a", "/p/a"}}, "/l2")));
        m_site.setReply("/l2", htmlReply(resultPage({{"b", "/p/b"}}, "/l3")));
        m_site.setReply("/l3", htmlReply(resultPage({{"c", "/p/c"}}, "/l2")));

        const RunResult r = run({"--list", "--pages", "all", "--out", out(), m_site.url(start).toString()});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count('\n'), papers);
        QVERIFY2(r.err.contains("leads back to a page already taken"), r.err.constData());
        QVERIFY2(r.err.contains(m_site.url(revisitedFrom).toEncoded()), r.err.constData());
    }

    void pageTextNeverReachesTheTerminalOrTheDiskRaw()
    {
        const QString escape = QStringLiteral("\x1b]0;owned\x07Sneaky\x1b[2J\x08\x7f title");
        const QString bidi = QStringLiteral("report\u202Efdp.exe\u2066x\u2069\u200F");
        const QString c1 = QStringLiteral("c1\u009b31m\u0085end");
        m_site.setReply("/results", htmlReply(resultPage({{escape, "/p/esc"},
                                                          {bidi, "/p/bidi"},
                                                          {c1, "/p/c1"},
                                                          {QStringLiteral(". . ."), "/p/dots"},
                                                          {QStringLiteral(". .hidden"), "/p/lead"}})));
        for (const char *name : {"esc", "bidi", "c1", "dots", "lead"})
            m_site.setReply(QStringLiteral("/p/%1.pdf").arg(name), FaultServer::pdf(1500));
        const QString results = m_site.url("/results").toString();

        const RunResult list = run({"--list", "--pages", "one", "--out", out(), results});
        QCOMPARE(list.exitCode, 0);
        QCOMPARE(list.out.count('\n'), 5);
        QVERIFY2(firstRawControl(list.out).isEmpty(), firstRawControl(list.out).constData());
        QVERIFY(list.out.contains("Sneaky"));
        QVERIFY(list.out.contains("\xef\xbf\xbd")); // U+FFFD marks where a control was

        const RunResult r = run({"--pages", "one", "--out", out(), results});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(firstRawControl(r.err).isEmpty(), firstRawControl(r.err).constData());
        QVERIFY2(firstRawControl(r.out).isEmpty(), firstRawControl(r.out).constData());
        const QStringList files = QDir(out()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(QSet<QString>(files.begin(), files.end()),
                 (QSet<QString>{"]0;ownedSneaky[2J title.pdf", "reportfdp.exex.pdf", "c131mend.pdf",
                                "dots.pdf", "hidden.pdf", "manifest.csv"}));
        const QByteArray manifest = fntest::readFile(out("manifest.csv"));
        QVERIFY2(firstRawControl(manifest).isEmpty(), firstRawControl(manifest).constData());
        QCOMPARE(manifest.count("\r\n"), 6);
    }

    void aLinkAtTheManifestIsReplacedNotFollowed()
    {
        m_site.setReply("/results", htmlReply(resultPage({{"paper", "/p/x"}})));
        m_site.setReply("/p/x.pdf", FaultServer::pdf(2000));
        QVERIFY(QDir().mkpath(out()));
        const QString outside = m_work->filePath("outside.txt");
        fntest::writeFile(outside, "precious");
        QVERIFY(::symlink(QFile::encodeName(outside).constData(),
                          QFile::encodeName(out("manifest.csv")).constData()) == 0);

        const RunResult r = run({"--pages", "one", "--out", out(), m_site.url("/results").toString()});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(fntest::readFile(outside), QByteArray("precious"));
        const QFileInfo manifest(out("manifest.csv"));
        QVERIFY(!manifest.isSymLink());
        QVERIFY(manifest.isFile());
        QVERIFY(fntest::readFile(out("manifest.csv")).startsWith("address,name,type,state"));
        QVERIFY(fntest::readFile(out("manifest.csv")).contains(",Done,"));
        // Nothing of the temporary file stays behind.
        QCOMPARE(QDir(out()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
                 (QStringList{"manifest.csv", "paper.pdf"}));
    }

    void aLinkAtAPapersNameIsNeverThePaper()
    {
        // Under skip, a link planted where a paper would go is not the paper: the paper is fetched under
        // a free name, and the manifest measures and hashes that file, never what the link points at.
        const FaultServer::Reply paper = FaultServer::pdf(3000, 'l');
        m_site.setReply("/p/linked.pdf", paper);
        QVERIFY(QDir().mkpath(out()));
        const QString outside = m_work->filePath("secret.pdf");
        fntest::writeFile(outside, "%PDF-1.4 not the paper, and not the program's to read");
        QVERIFY(QFile::link(outside, out("paper.pdf")));
        const QString list = m_work->filePath("links.txt");
        fntest::writeFile(list, "paper\t" + m_site.url("/p/linked.pdf").toEncoded() + "\n");

        const RunResult r = run({"--input", list, "--out", out(), "--policy", "skip", "--no-library"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(m_site.requestCount("/p/linked.pdf"), 1);
        QCOMPARE(fntest::readFile(out("paper[001].pdf")), paper.body);
        QVERIFY(QFileInfo(out("paper.pdf")).isSymLink());
        QCOMPARE(fntest::readFile(outside),
                 QByteArray("%PDF-1.4 not the paper, and not the program's to read"));
        const QByteArray manifest = fntest::readFile(out("manifest.csv"));
        QVERIFY2(manifest.contains(",Done,3000," + QFile::encodeName(out("paper[001].pdf")) + ","),
                 manifest.constData());
        QVERIFY(manifest.contains(QCryptographicHash::hash(paper.body, QCryptographicHash::Sha256).toHex()));
        QVERIFY(!manifest.contains("already there"));
        QVERIFY(!manifest.contains(QFile::encodeName(outside)));
    }

    void hangUpEndsARunLikeTerminate_data()
    {
        QTest::addColumn<bool>("ignoredAtStart");
        QTest::newRow("a hang-up: does the run stop and record what it did?") << false;
        QTest::newRow("started under nohup: does the run go on after a hang-up?") << true;
    }
    void hangUpEndsARunLikeTerminate()
    {
        QFETCH(bool, ignoredAtStart);
        m_site.setReply("/results", htmlReply(resultPage({{"small", "/f/small"}, {"large", "/f/large"}})));
        m_site.setReply("/f/small.pdf", FaultServer::pdf(2000));
        FaultServer::Reply large = FaultServer::pdf(20 * 1024 * 1024);
        large.trickleBytes = 4096;
        large.trickleMs = 20;
        m_site.setReply("/f/large.pdf", large);

        QProcess process;
        if (ignoredAtStart)
            process.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
        process.start(QStringLiteral(FOLIONEXUS_EXE),
                      {"--batch", "--out", out(), "--method", "2", m_site.url("/results").toString()});
        QVERIFY(process.waitForStarted(10000));
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += process.readAllStandardError()).contains("Done    small.pdf") &&
                                     m_site.requestCount("/f/large.pdf") == 1,
                                 30000);
        ::kill(static_cast<pid_t>(process.processId()), SIGHUP);
        if (ignoredAtStart) {
            QTest::qWait(1500);
            QCOMPARE(process.state(), QProcess::Running);
            ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        }
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 20000);
        m_site.releaseAll();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + (ignoredAtStart ? SIGTERM : SIGHUP));
        QVERIFY((err + process.readAllStandardError()).contains("interrupted; stopping"));
        QCOMPARE(QDir(out()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{"manifest.csv", "small.pdf"}));
        QVERIFY(fntest::readFile(out("manifest.csv")).contains(",Failed,"));
    }

private:
    RunResult run(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral(FOLIONEXUS_EXE), QStringList{"--batch"} + arguments);
        RunResult result;
        if (!process.waitForStarted(10000))
            return result;
        // The site answers from this thread: wait with the event loop running.
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 90000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }

    QString out(const QString &name = {}) const
    {
        return m_work->filePath(QStringLiteral("out")) + (name.isEmpty() ? QString() : u'/' + name);
    }

    std::unique_ptr<QTemporaryDir> m_work;
    FaultServer m_site;
};

FN_TEST_MAIN_CORE(TestBatchTrust)
#include "tst_batchtrust.moc"
