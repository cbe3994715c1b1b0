#include "demo/demosite.h"
#include "faultserver.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {

struct RunResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

// The program under test (another build can be named to compare).
QString program()
{
    return qEnvironmentVariable("FN_BATCH_PROGRAM", QStringLiteral(FOLIONEXUS_EXE));
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Splits CSV text as RFC 4180 reads it: quoted fields may hold commas, quotes and line breaks.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row.append(std::exchange(field, QString()));
        } else if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            row.append(std::exchange(field, QString()));
            rows.append(std::exchange(row, QStringList()));
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty()) {
        row.append(field);
        rows.append(row);
    }
    return rows;
}

int paperNumber(const QString &address)
{
    static const QRegularExpression number(QStringLiteral("/paper/(\\d+)\\.pdf$"));
    const QRegularExpressionMatch m = number.match(address);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QByteArray resultPage(const QList<QPair<QString, QString>> &links);

// The site's result page at /results, listing the links (and setting a cookie).
void serveResults(FaultServer &site, const QList<QPair<QString, QString>> &links,
                  const QByteArray &cookie = {})
{
    FaultServer::Reply page;
    page.contentType = "text/html; charset=utf-8";
    page.body = resultPage(links);
    if (!cookie.isEmpty())
        page.extraHeaders.append({QByteArray("Set-Cookie"), cookie});
    site.setReply(QStringLiteral("/results"), page);
}

QByteArray resultPage(const QList<QPair<QString, QString>> &links)
{
    QByteArray html = "<html><head><meta charset='utf-8'><title>results</title></head><body>"
                      "<div class='tablelist paperlist'><table>";
    for (const auto &[title, href] : links)
        html += "<tr><td><a href='" + href.toUtf8() + "'>" + title.toUtf8() + "</a></td></tr>";
    return html + "</table></div></body></html>";
}

} // namespace

class TestBatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void listPrintsCandidatesWithoutDownloading_data();
    void listPrintsCandidatesWithoutDownloading();
    void downloadsEveryPageAndCountsFailures_data();
    void downloadsEveryPageAndCountsFailures();
    void duplicatePolicyOverExistingFiles_data();
    void duplicatePolicyOverExistingFiles();
    void namesFromLinksWithoutDisplayOrSettings();
    void threadsAndIntervalPaceTheRequests_data();
    void threadsAndIntervalPaceTheRequests();
    void badArgumentsAreRefused_data();
    void badArgumentsAreRefused();
    void startPageThatCannotBeLoaded_data();
    void startPageThatCannotBeLoaded();
    void pageWithoutPapersGivesEmptyManifest();
    void proxyCarriesTheDownloads();
    void interruptStopsTransfersAndLeavesNoPartialFile_data();
    void interruptStopsTransfersAndLeavesNoPartialFile();
    void hostileAnswersNeverEndDone_data();
    void hostileAnswersNeverEndDone();
    void cookiesStayWithTheirHostAcrossRedirects_data();
    void cookiesStayWithTheirHostAcrossRedirects();
    void aKilledRunLeavesNothingThatPassesForAPaper();
    void aVerificationWallStopsTheRun();

private:
    RunResult run(const QStringList &arguments,
                  const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());
    QList<QStringList> manifestRows(const QString &folder);
    QString out(const QString &name = QStringLiteral("out")) const { return m_work->filePath(name); }

    DemoSite m_small; // 4 ordinary papers on two pages
    DemoSite m_full;  // 17 papers of every kind on two pages, two of them failing
    std::unique_ptr<QTemporaryDir> m_work;
};

void TestBatch::initTestCase()
{
    m_small.setPaperCount(4);
    m_small.setPageSize(2);
    m_full.setPaperCount(17);
    m_full.setPageSize(10);
    QVERIFY(m_small.listen());
    QVERIFY(m_full.listen());
    QVERIFY(QFileInfo(QStringLiteral(FOLIONEXUS_EXE)).isExecutable());
}

void TestBatch::init()
{
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
}

RunResult TestBatch::run(const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program(), QStringList{QStringLiteral("--batch")} + arguments);
    RunResult result;
    if (!process.waitForStarted(10000))
        return result;
    // The sites answer from this thread, so the process is waited for with the event loop running.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 90000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QList<QStringList> TestBatch::manifestRows(const QString &folder)
{
    const QList<QStringList> rows =
        parseCsv(QString::fromUtf8(fntest::readFile(folder + QStringLiteral("/manifest.csv"))));
    if (rows.isEmpty())
        return rows;
    if (rows.first() !=
        QStringList({QStringLiteral("address"), QStringLiteral("name"), QStringLiteral("type"),
                     QStringLiteral("state"), QStringLiteral("size"), QStringLiteral("path"),
                     QStringLiteral("source"), QStringLiteral("sha256"), QStringLiteral("reason"),
                     QStringLiteral("file_address"), QStringLiteral("pages"), QStringLiteral("pdf"),
                     QStringLiteral("identifier"), QStringLiteral("found_by")}))
        return {};
    return rows.mid(1);
}

void TestBatch::listPrintsCandidatesWithoutDownloading_data()
{
    QTest::addColumn<QString>("pages");
    QTest::addColumn<int>("expected");
    QTest::newRow("one page: its two papers") << QStringLiteral("one") << 2;
    QTest::newRow("all pages: the walk over > takes all four") << QStringLiteral("all") << 4;
}

void TestBatch::listPrintsCandidatesWithoutDownloading()
{
    QFETCH(QString, pages);
    QFETCH(int, expected);
    const QUrl start = m_small.searchUrl(QStringLiteral("x"));
    const RunResult r = run({QStringLiteral("--list"), QStringLiteral("--pages"), pages,
                             QStringLiteral("--out"), out(), start.toString()});
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), expected);
    for (int n = 1; n <= expected; ++n) {
        const QStringList fields = lines.at(n - 1).split(u'\t');
        QCOMPARE(fields.size(), 3);
        QCOMPARE(fields.at(0), m_small.paperTitle(n));
        QCOMPARE(fields.at(1), m_small.paperFileUrl(n).toString());
        // Papers 3 and 4 come from the second page.
        QCOMPARE(QUrl(fields.at(2)).query().contains(QStringLiteral("page=2")), n > 2);
    }
    QVERIFY2(!QFileInfo::exists(out()), "a listing creates no folder and downloads nothing");
}

void TestBatch::downloadsEveryPageAndCountsFailures_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("threads");
    QTest::addColumn<QString>("totals");
    QTest::addColumn<QList<int>>("failed");
    QTest::addColumn<QList<int>>("webPages");
    const int errorPage = 13;
    const int missing = 15;
    // An error page sent with 200 OK is no paper for either method: it fails, and the run says so.
    QTest::newRow("parallel slots, six threads")
        << QStringLiteral("2") << QStringLiteral("6")
        << QStringLiteral("总数：17|正在下载：0|等待：0|已完成：15|失败：2") << QList<int>{errorPage, missing}
        << QList<int>{errorPage};
    QTest::newRow("single connection") << QStringLiteral("1") << QStringLiteral("3")
                                       << QStringLiteral("总数：17|正在下载：0|等待：0|已完成：15|失败：2")
                                       << QList<int>{errorPage, missing} << QList<int>{errorPage};
}

void TestBatch::downloadsEveryPageAndCountsFailures()
{
    QFETCH(QString, method);
    QFETCH(QString, threads);
    QFETCH(QString, totals);
    QFETCH(QList<int>, failed);
    QFETCH(QList<int>, webPages);
    QCOMPARE(m_full.paperKind(webPages.first()), DemoPaperKind::ErrorPage);
    const RunResult r =
        run({QStringLiteral("--out"), out(), QStringLiteral("--method"), method, QStringLiteral("--threads"),
             threads, m_full.searchUrl(QStringLiteral("q")).toString()});
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.out.trimmed(), totals);

    const QList<QStringList> rows = manifestRows(out());
    QCOMPARE(rows.size(), 17);
    QList<int> failedSeen;
    for (const QStringList &row : rows) {
        QCOMPARE(row.size(), 14);
        const int n = paperNumber(row.at(0));
        QVERIFY2(n >= 1 && n <= 17, qPrintable(row.at(0)));
        QCOMPARE(QUrl(row.at(6)).query().contains(QStringLiteral("page=2")), n > 10);
        if (row.at(3) == u"Failed") {
            failedSeen.append(n);
            QVERIFY(row.at(4).isEmpty() && row.at(5).isEmpty() && row.at(7).isEmpty());
            if (webPages.contains(n))
                QVERIFY(
                    r.err.contains(m_full.paperFileUrl(n).toString() + QStringLiteral(" with a web page")));
            // The reason is in the record, and on the failure's progress line.
            const QString reason = webPages.contains(n) ? QStringLiteral("web page instead of a paper")
                                                        : QStringLiteral("HTTP 404 Not Found");
            QVERIFY2(row.at(8).startsWith(reason), qPrintable(row.at(8)));
            QVERIFY2(r.err.contains(QStringLiteral("(%1").arg(reason)), qPrintable(r.err));
            continue;
        }
        QCOMPARE(row.at(3), QStringLiteral("Done"));
        QCOMPARE(row.at(8), QString());
        // Whatever the kind, the file on disk is exactly what the site sent, and the manifest says so.
        const QByteArray sent = m_full.paperBytes(n);
        QCOMPARE(fntest::readFile(row.at(5)), sent);
        QCOMPARE(row.at(4), QString::number(sent.size()));
        QCOMPARE(row.at(7), sha256(sent));
        QCOMPARE(QFileInfo(row.at(5)).absolutePath() + u'/', QDir(out()).absolutePath() + u'/');
        QCOMPARE(QFileInfo(row.at(5)).suffix(), row.at(2));
    }
    QCOMPARE(failedSeen, failed);
    // Failed rows leave nothing behind: the folder holds the done files and the manifest only.
    QCOMPARE(filesIn(out()).size(), 17 - failed.size() + 1);
    QCOMPARE(r.err.count(QRegularExpression(QStringLiteral("(?m)^Done "))), 17 - failed.size());
    QCOMPARE(r.err.count(QRegularExpression(QStringLiteral("(?m)^Failed "))), failed.size());
}

void TestBatch::duplicatePolicyOverExistingFiles_data()
{
    QTest::addColumn<QString>("policy");
    QTest::newRow("skip keeps the old file and counts it done") << QStringLiteral("skip");
    QTest::newRow("overwrite replaces it") << QStringLiteral("overwrite");
    QTest::newRow("rename saves beside it with [001]") << QStringLiteral("rename");
}

void TestBatch::duplicatePolicyOverExistingFiles()
{
    QFETCH(QString, policy);
    const QString title = m_small.paperTitle(1);
    const QByteArray old = "an older copy";
    QDir().mkpath(out());
    fntest::writeFile(out() + u'/' + title + QStringLiteral(".pdf"), old);
    const RunResult r =
        run({QStringLiteral("--out"), out(), QStringLiteral("--pages"), QStringLiteral("one"),
             QStringLiteral("--policy"), policy, m_small.searchUrl(QStringLiteral("x")).toString()});
    QCOMPARE(r.exitCode, 0);
    const QList<QStringList> rows = manifestRows(out());
    QCOMPARE(rows.size(), 2);
    const QStringList first = rows.at(0);
    QCOMPARE(first.at(3), QStringLiteral("Done"));
    QCOMPARE(fntest::readFile(rows.at(1).at(5)), m_small.paperBytes(2));
    const QString existing = out() + u'/' + title + QStringLiteral(".pdf");
    if (policy == u"skip") {
        QCOMPARE(fntest::readFile(existing), old);
        QCOMPARE(first.at(5), existing);
        QCOMPARE(first.at(7), sha256(old));
        QVERIFY(r.err.contains(QStringLiteral("已存在，跳过")));
    } else if (policy == u"overwrite") {
        QCOMPARE(fntest::readFile(existing), m_small.paperBytes(1));
        QCOMPARE(first.at(1), title);
        QCOMPARE(filesIn(out()).size(), 3);
    } else {
        QCOMPARE(fntest::readFile(existing), old);
        QCOMPARE(first.at(1), title + QStringLiteral("[001]"));
        QCOMPARE(first.at(5), out() + u'/' + title + QStringLiteral("[001].pdf"));
        QCOMPARE(fntest::readFile(first.at(5)), m_small.paperBytes(1));
    }
}

void TestBatch::namesFromLinksWithoutDisplayOrSettings()
{
    // No display and no platform chosen: the run still works. Its settings store and browser leave
    // nothing in the user's folders.
    const QString home = out(QStringLiteral("home"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home);
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        env.insert(QString::fromLatin1(name), home + u'/' + QString::fromLatin1(name));
    QDir().mkpath(home);
    const QString nested = out(QStringLiteral("new/nested/folder"));
    // The paper library is the one thing a run keeps in the user's folders; without it, nothing is left.
    const RunResult r =
        run({QStringLiteral("--out"), nested, QStringLiteral("--names"), QStringLiteral("link"),
             QStringLiteral("--method"), QStringLiteral("1"), QStringLiteral("--no-library"),
             m_small.searchUrl(QStringLiteral("x")).toString()},
            env);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(filesIn(nested),
             QStringList({QStringLiteral("1.pdf"), QStringLiteral("2.pdf"), QStringLiteral("3.pdf"),
                          QStringLiteral("4.pdf"), QStringLiteral("manifest.csv")}));
    for (int n = 1; n <= 4; ++n)
        QCOMPARE(fntest::readFile(nested + QStringLiteral("/%1.pdf").arg(n)), m_small.paperBytes(n));
    QStringList left;
    QDirIterator it(home, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        left.append(it.next());
    QVERIFY2(left.isEmpty(), qPrintable(left.join(u'\n')));
}

void TestBatch::threadsAndIntervalPaceTheRequests_data()
{
    QTest::addColumn<QString>("threads");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<int>("minGapMs");
    QTest::addColumn<int>("maxGapMs");
    QTest::newRow("two threads start both files in one tick")
        << QStringLiteral("2") << QStringLiteral("0") << 0 << 700;
    QTest::newRow("one thread with 3 s between files")
        << QStringLiteral("1") << QStringLiteral("3") << 2800 << 6000;
}

void TestBatch::threadsAndIntervalPaceTheRequests()
{
    QFETCH(QString, threads);
    QFETCH(QString, interval);
    QFETCH(int, minGapMs);
    QFETCH(int, maxGapMs);
    QElapsedTimer clock;
    clock.start();
    QList<qint64> fileRequests;
    const QMetaObject::Connection served =
        connect(&m_small, &DemoSite::requestServed, this, [&](const QString &path, int) {
            if (path.endsWith(QStringLiteral(".pdf")))
                fileRequests.append(clock.elapsed());
        });
    const RunResult r = run({QStringLiteral("--out"), out(), QStringLiteral("--pages"), QStringLiteral("one"),
                             QStringLiteral("--threads"), threads, QStringLiteral("--interval"), interval,
                             m_small.searchUrl(QStringLiteral("x")).toString()});
    disconnect(served);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(fileRequests.size(), 2);
    const qint64 gap = fileRequests.at(1) - fileRequests.at(0);
    QVERIFY2(gap >= minGapMs && gap <= maxGapMs, qPrintable(QString::number(gap)));
}

void TestBatch::badArgumentsAreRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString url = QStringLiteral("http://127.0.0.1:9/search");
    const QString o = QStringLiteral("--out");
    QTest::newRow("no address") << QStringList{o, QStringLiteral("DIR")}
                                << QStringLiteral("address of a result page is missing");
    QTest::newRow("two addresses") << QStringList{o, QStringLiteral("DIR"), url, url}
                                   << QStringLiteral("only one result page");
    QTest::newRow("no folder") << QStringList{url} << QStringLiteral("--out DIR is required");
    QTest::newRow("seven threads") << QStringList{o, QStringLiteral("DIR"), QStringLiteral("--threads"),
                                                  QStringLiteral("7"), url}
                                   << QStringLiteral("--threads must be");
    QTest::newRow("threads not a number")
        << QStringList{o, QStringLiteral("DIR"), QStringLiteral("--threads"), QStringLiteral("x"), url}
        << QStringLiteral("--threads must be");
    QTest::newRow("negative interval")
        << QStringList{o, QStringLiteral("DIR"), QStringLiteral("--interval"), QStringLiteral("-1"), url}
        << QStringLiteral("--interval must be");
    QTest::newRow("method 3") << QStringList{o, QStringLiteral("DIR"), QStringLiteral("--method"),
                                             QStringLiteral("3"), url}
                              << QStringLiteral("--method must be one of 1|2");
    QTest::newRow("unknown policy") << QStringList{o, QStringLiteral("DIR"), QStringLiteral("--policy"),
                                                   QStringLiteral("keep"), url}
                                    << QStringLiteral("--policy must be one of skip|overwrite|rename");
    QTest::newRow("unknown pages") << QStringList{o, QStringLiteral("DIR"), QStringLiteral("--pages"),
                                                  QStringLiteral("two"), url}
                                   << QStringLiteral("--pages must be one of one|all");
    QTest::newRow("proxy without port")
        << QStringList{o, QStringLiteral("DIR"), QStringLiteral("--proxy"), QStringLiteral("host"), url}
        << QStringLiteral("--proxy must be HOST:PORT");
    QTest::newRow("not a web address")
        << QStringList{o, QStringLiteral("DIR"), QStringLiteral("ftp://example.org/")}
        << QStringLiteral("is not an http:// or https:// address");
    QTest::newRow("unknown option") << QStringList{o, QStringLiteral("DIR"), QStringLiteral("--fast"), url}
                                    << QStringLiteral("Unknown option 'fast'");
    QTest::newRow("folder under a file")
        << QStringList{o, QStringLiteral("FILE/sub"), url} << QStringLiteral("could not be created");
}

void TestBatch::badArgumentsAreRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    fntest::writeFile(out(QStringLiteral("FILE")), "a file, not a folder");
    for (QString &argument : arguments) {
        if (argument == u"DIR" || argument.startsWith(QStringLiteral("FILE")))
            argument = out(argument);
    }
    const RunResult r = run(arguments);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(r.err.contains(QStringLiteral("Usage:")) || message == u"could not be created");
    QVERIFY2(!QFileInfo::exists(out(QStringLiteral("DIR"))), "refused arguments create no folder");
}

void TestBatch::startPageThatCannotBeLoaded_data()
{
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("message");
    QTest::newRow("nobody listens") << true << QStringLiteral("connection refused");
    QTest::newRow("the page does not exist") << false << QStringLiteral("the server answered HTTP 404");
}

void TestBatch::startPageThatCannotBeLoaded()
{
    QFETCH(bool, refused);
    QFETCH(QString, message);
    QUrl start = m_small.homeUrl().resolved(QUrl(QStringLiteral("/no/such/page")));
    if (refused) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        start = QUrl(QStringLiteral("http://127.0.0.1:%1/search").arg(probe.serverPort()));
    }
    const RunResult r = run({QStringLiteral("--out"), out(), start.toString()});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(r.err.contains(start.toString()));
    QVERIFY(!QFileInfo::exists(out() + QStringLiteral("/manifest.csv")));
}

void TestBatch::pageWithoutPapersGivesEmptyManifest()
{
    const RunResult r = run({QStringLiteral("--out"), out(), m_small.homeUrl().toString()});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.contains(QStringLiteral("no papers found")), qPrintable(r.err));
    QCOMPARE(r.out.trimmed(), QStringLiteral("总数：0|正在下载：0|等待：0|已完成：0|失败：0"));
    QCOMPARE(fntest::readFile(out() + QStringLiteral("/manifest.csv")),
             QByteArray("address,name,type,state,size,path,source,sha256,reason,file_address,pages,pdf,"
                        "identifier,found_by\r\n"));
}

void TestBatch::proxyCarriesTheDownloads()
{
    // The papers sit on a host that only the proxy knows; the same local server plays both parts.
    FaultServer server;
    QVERIFY(server.listen());
    serveResults(server, {{QStringLiteral("甲"), QStringLiteral("http://papers.invalid/p/a")},
                          {QStringLiteral("乙"), QStringLiteral("http://papers.invalid/p/b")}});
    server.setReply(QStringLiteral("/p/a.pdf"), FaultServer::pdf(3000, 'a'));
    server.setReply(QStringLiteral("/p/b.pdf"), FaultServer::pdf(4000, 'b'));
    for (const QString &method : {QStringLiteral("1"), QStringLiteral("2")}) {
        const QString folder = out(QStringLiteral("method") + method);
        const RunResult r = run({QStringLiteral("--out"), folder, QStringLiteral("--method"), method,
                                 QStringLiteral("--proxy"), QStringLiteral("127.0.0.1:%1").arg(server.port()),
                                 server.url(QStringLiteral("/results")).toString()});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(fntest::readFile(folder + QStringLiteral("/甲.pdf")), FaultServer::pdf(3000, 'a').body);
        QCOMPARE(fntest::readFile(folder + QStringLiteral("/乙.pdf")), FaultServer::pdf(4000, 'b').body);
    }
    int proxied = 0;
    for (const FaultServer::Request &request : server.requests())
        proxied += request.proxied ? 1 : 0;
    QCOMPARE(proxied, 4);
}

void TestBatch::interruptStopsTransfersAndLeavesNoPartialFile_data()
{
    QTest::addColumn<QString>("method");
    QTest::newRow("parallel slots") << QStringLiteral("2");
    QTest::newRow("single connection") << QStringLiteral("1");
}

void TestBatch::interruptStopsTransfersAndLeavesNoPartialFile()
{
    QFETCH(QString, method);
    FaultServer site;
    QVERIFY(site.listen());
    serveResults(site, {{QStringLiteral("small"), QStringLiteral("/files/small")},
                        {QStringLiteral("large"), QStringLiteral("/files/large")}});
    site.setReply(QStringLiteral("/files/small.pdf"), FaultServer::pdf(2000));
    FaultServer::Reply large = FaultServer::pdf(20 * 1024 * 1024);
    large.trickleBytes = 4096;
    large.trickleMs = 20;
    site.setReply(QStringLiteral("/files/large.pdf"), large);

    QProcess process;
    process.start(program(),
                  {QStringLiteral("--batch"), QStringLiteral("--out"), out(), QStringLiteral("--method"),
                   method, site.url(QStringLiteral("/results")).toString()});
    QVERIFY(process.waitForStarted(10000));
    QByteArray err;
    // Interrupt once the small file is in and the large one is arriving.
    QTRY_VERIFY_WITH_TIMEOUT((err += process.readAllStandardError()).contains("Done    small.pdf") &&
                                 site.requestCount(QStringLiteral("/files/large.pdf")) == 1,
                             30000);
    QTest::qWait(500);
    QVERIFY(process.state() == QProcess::Running);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 20000);
    site.releaseAll();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()).trimmed(),
             QStringLiteral("总数：2|正在下载：0|等待：0|已完成：1|失败：1"));
    QCOMPARE(filesIn(out()), QStringList({QStringLiteral("manifest.csv"), QStringLiteral("small.pdf")}));
    const QList<QStringList> rows = manifestRows(out());
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).at(3), QStringLiteral("Done"));
    QCOMPARE(rows.at(1).at(3), QStringLiteral("Failed"));
}

void TestBatch::hostileAnswersNeverEndDone_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("fault");
    for (const char *method : {"1", "2"}) {
        for (const char *fault : {"type climbing out of the folder", "login page sent as a pdf",
                                  "long login page sent as html", "conflicting lengths", "cut gzip"})
            QTest::newRow(qPrintable(QStringLiteral("method %1, %2").arg(method).arg(fault)))
                << QString::fromLatin1(method) << QString::fromLatin1(fault);
    }
}

void TestBatch::hostileAnswersNeverEndDone()
{
    QFETCH(QString, method);
    QFETCH(QString, fault);
    FaultServer site;
    QVERIFY(site.listen());
    serveResults(site, {{QStringLiteral("paper"), QStringLiteral("/files/paper")}});
    const QByteArray victim = "a file outside the folder";
    fntest::writeFile(out(QStringLiteral("victim")), victim);
    FaultServer::Reply reply = FaultServer::pdf(20000);
    if (fault.startsWith(u"type")) {
        // Long enough to push the name out of the file name, then back up into the parent folder.
        QByteArray type = "/..";
        while (type.size() < 280)
            type += "/.";
        reply.contentType = type + "/victim";
    } else if (fault.contains(u"login page")) {
        reply.contentType = fault.contains(u"html") ? "text/html" : "application/pdf";
        reply.body = "<html><head><title>Login</title></head><body><form>please log in</form>";
        while (reply.body.size() < (fault.startsWith(u"long") ? 7000 : 880))
            reply.body += "<p>.</p>";
        reply.body += "</body></html>";
    } else if (fault == u"conflicting lengths") {
        reply.extraHeaders.append({QByteArray("Content-Length"), QByteArray("5")});
    } else {
        // A whole answer whose compressed stream stops half-way.
        QByteArray paper = "%PDF-1.4\n";
        for (int i = 0; paper.size() < 60000; ++i)
            paper += QByteArray::number(i * 2654435761u, 36);
        reply.body = FaultServer::compressed(paper).left(20000);
        reply.extraHeaders.append({QByteArray("Content-Encoding"), QByteArray("gzip")});
    }
    site.setReply(QStringLiteral("/files/paper.pdf"), reply);
    const RunResult r = run({QStringLiteral("--out"), out(), QStringLiteral("--method"), method,
                             QStringLiteral("--retries"), QStringLiteral("0"), QStringLiteral("--policy"),
                             QStringLiteral("overwrite"), site.url(QStringLiteral("/results")).toString()});
    QCOMPARE(fntest::readFile(out(QStringLiteral("victim"))), victim);
    if (fault.startsWith(u"type")) {
        // The paper itself is fine: it lands in the folder under its own name.
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(filesIn(out()), QStringList({QStringLiteral("manifest.csv"), QStringLiteral("paper.pdf")}));
        QCOMPARE(fntest::readFile(out() + QStringLiteral("/paper.pdf")), reply.body);
        return;
    }
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.out.trimmed(), QStringLiteral("总数：1|正在下载：0|等待：0|已完成：0|失败：1"));
    QCOMPARE(fntest::readFile(out(QStringLiteral("victim"))), victim);
    QCOMPARE(filesIn(out()), QStringList{QStringLiteral("manifest.csv")});
    const QList<QStringList> rows = manifestRows(out());
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).at(3), QStringLiteral("Failed"));
}

void TestBatch::cookiesStayWithTheirHostAcrossRedirects_data()
{
    QTest::addColumn<QString>("method");
    QTest::newRow("single connection") << QStringLiteral("1");
    QTest::newRow("parallel slots") << QStringLiteral("2");
}

void TestBatch::cookiesStayWithTheirHostAcrossRedirects()
{
    QFETCH(QString, method);
    FaultServer site;
    FaultServer mirror;
    QVERIFY(site.listen());
    QVERIFY2(mirror.listen(false, QStringLiteral("127.0.0.2")), "a second loopback address");
    serveResults(site, {{QStringLiteral("paper"), QStringLiteral("/files/paper")}}, "session=secret; Path=/");
    FaultServer::Reply moved;
    moved.status = 302;
    moved.reason = "Found";
    moved.body = "";
    moved.location = mirror.url(QStringLiteral("/files/paper.pdf")).toEncoded();
    site.setReply(QStringLiteral("/files/paper.pdf"), moved);
    mirror.setReply(QStringLiteral("/files/paper.pdf"), FaultServer::pdf(9000, 'm'));
    const RunResult r = run({QStringLiteral("--out"), out(), QStringLiteral("--method"), method,
                             site.url(QStringLiteral("/results")).toString()});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(fntest::readFile(out() + QStringLiteral("/paper.pdf")), FaultServer::pdf(9000, 'm').body);
    // The login cookie went to its own host, and not along the redirect to the other one.
    QCOMPARE(site.requests().last().headers.value("cookie"), QByteArray("session=secret"));
    QCOMPARE(mirror.requestCount(QStringLiteral("/files/paper.pdf")), 1);
    QVERIFY(!mirror.requests().last().headers.contains("cookie"));
}

void TestBatch::aKilledRunLeavesNothingThatPassesForAPaper()
{
    FaultServer site;
    QVERIFY(site.listen());
    serveResults(site, {{QStringLiteral("small"), QStringLiteral("/files/small")},
                        {QStringLiteral("large"), QStringLiteral("/files/large")}});
    site.setReply(QStringLiteral("/files/small.pdf"), FaultServer::pdf(2000));
    FaultServer::Reply large = FaultServer::pdf(8 * 1024 * 1024, 'L');
    large.trickleBytes = 4096;
    large.trickleMs = 20;
    site.setReply(QStringLiteral("/files/large.pdf"), large);

    QProcess process;
    process.start(program(),
                  {QStringLiteral("--batch"), QStringLiteral("--out"), out(), QStringLiteral("--threads"),
                   QStringLiteral("1"), site.url(QStringLiteral("/results")).toString()});
    QVERIFY(process.waitForStarted(10000));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += process.readAllStandardError()).contains("Done    small.pdf") &&
                                 site.requestCount(QStringLiteral("/files/large.pdf")) == 1,
                             30000);
    QTest::qWait(300);
    process.kill();
    QVERIFY(process.waitForFinished(10000));
    site.releaseAll();
    // Nothing stands under the large paper's name.
    QVERIFY2(!QFileInfo::exists(out() + QStringLiteral("/large.pdf")), qPrintable(filesIn(out()).join(u',')));

    site.setReply(QStringLiteral("/files/large.pdf"), FaultServer::pdf(300000, 'L'));
    const RunResult r = run({QStringLiteral("--out"), out(), QStringLiteral("--policy"),
                             QStringLiteral("skip"), site.url(QStringLiteral("/results")).toString()});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(fntest::readFile(out() + QStringLiteral("/large.pdf")), FaultServer::pdf(300000, 'L').body);
    QVERIFY(!r.err.contains(QStringLiteral("large.pdf  2 bytes")));
    // The killed run's temporary file is gone; only the papers and the manifest are left.
    QCOMPARE(filesIn(out()), QStringList({QStringLiteral("large.pdf"), QStringLiteral("manifest.csv"),
                                          QStringLiteral("small.pdf")}));
}

void TestBatch::aVerificationWallStopsTheRun()
{
    FaultServer site;
    QVERIFY(site.listen());
    serveResults(site, {{QStringLiteral("one"), QStringLiteral("/p/1")},
                        {QStringLiteral("two"), QStringLiteral("/p/2")},
                        {QStringLiteral("three"), QStringLiteral("/p/3")}});
    FaultServer::Reply wall;
    wall.contentType = "text/html";
    wall.body = "<!DOCTYPE html><html><body><h1>请完成验证</h1><form action=/verify></form></body></html>";
    for (int n = 1; n <= 3; ++n)
        site.setReply(QStringLiteral("/p/%1.pdf").arg(n), wall);
    const RunResult r = run({QStringLiteral("--out"), out(), QStringLiteral("--threads"), QStringLiteral("1"),
                             site.url(QStringLiteral("/results")).toString()});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(
        r.err.contains(
            QStringLiteral("verification page (%1)").arg(site.url(QStringLiteral("/p/2.pdf")).toString())),
        qPrintable(r.err));
    QCOMPARE(site.requestCount(QStringLiteral("/p/3.pdf")), 0);
    const QList<QStringList> rows = manifestRows(out());
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).at(3), QStringLiteral("Failed"));
    QVERIFY(rows.at(0).at(8).startsWith(QStringLiteral("web page instead of a paper")));
    QCOMPARE(rows.at(1).at(3), QStringLiteral("Failed"));
    QCOMPARE(rows.at(2).at(3), QStringLiteral("NotAttempted"));
    QCOMPARE(filesIn(out()), QStringList{QStringLiteral("manifest.csv")});
}

FN_TEST_MAIN_CORE(TestBatch)
#include "tst_batch.moc"
