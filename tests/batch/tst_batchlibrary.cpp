// The batch mode with the paper library, run through the real program: a list of links instead of a
// result page, a resumed run, papers held from an earlier run, exports, name templates, and two runs at
// once on one library.
#include "core/common/filenames.h"
#include "core/library/paperlibrary.h"
#include "demo/demosite.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct RunResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Manifest rows without the header (fields never hold line breaks or quotes in these runs).
QList<QStringList> manifestRows(const QString &folder)
{
    QList<QStringList> rows;
    const QStringList lines = QString::fromUtf8(fntest::readFile(folder + QStringLiteral("/manifest.csv")))
                                  .split(QStringLiteral("\r\n"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines.at(i).isEmpty())
            rows.append(lines.at(i).split(u','));
    }
    return rows;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestBatchLibrary : public QObject
{
    Q_OBJECT

    DemoSite m_site; // 4 papers on two pages
    std::unique_ptr<QTemporaryDir> m_work;
    QStringList m_fileRequests;

    QString path(const QString &name) const { return m_work->filePath(name); }
    // Each test has its own user folders, so its library starts empty.
    QString home() const { return path(QStringLiteral("home")); }
    QString libraryPath() const
    {
        return home() + QStringLiteral("/data/Folionexus/墨枢Folionexus文献资料下载管理器/PaperLibrary.db");
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home() + QStringLiteral("/cache"));
        return env;
    }

    QProcess *launch(const QStringList &arguments)
    {
        auto *process = new QProcess(this);
        process->setProcessEnvironment(environment());
        process->start(QStringLiteral(FOLIONEXUS_EXE), QStringList{QStringLiteral("--batch")} + arguments);
        return process;
    }

    static RunResult finish(QProcess *process)
    {
        RunResult result;
        // The site answers from this thread, so the process is waited for with the event loop running.
        if (!QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; }, 90000))
            process->kill();
        process->waitForFinished();
        result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        result.out = QString::fromUtf8(process->readAllStandardOutput());
        result.err = QString::fromUtf8(process->readAllStandardError());
        process->deleteLater();
        return result;
    }

    RunResult run(const QStringList &arguments) { return finish(launch(arguments)); }

    QString linkList(const QString &name, const QByteArray &text)
    {
        fntest::writeFile(path(name), text);
        return path(name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_site.setPaperCount(4);
        m_site.setPageSize(2);
        QVERIFY(m_site.listen());
        connect(&m_site, &DemoSite::requestServed, this,
                [this](const QString &path, int) { m_fileRequests.append(path); });
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(m_work->isValid());
        QDir().mkpath(home());
        m_fileRequests.clear();
    }

    void aListOfLinksRunsWithoutAPage()
    {
        const QString list = linkList(
            QStringLiteral("links.txt"),
            m_site.paperTitle(1).toUtf8() + '\t' + m_site.paperFileUrl(1).toEncoded() + "\n" +
                m_site.paperFileUrl(2).toEncoded() + "\r\n" + "not a link at all\n" + "# note\n" +
                m_site.paperFileUrl(4).toEncoded() + '\t' + "extra" + '\t' + "fields" + '\t' + "x\n");
        const QString out = path(QStringLiteral("out"));
        const RunResult r = run(
            {QStringLiteral("--input"), list, QStringLiteral("--out"), out, QStringLiteral("--no-library")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.trimmed(), QStringLiteral("总数：2|正在下载：0|等待：0|已完成：2|失败：0"));
        // The lines not taken are named with their numbers.
        QVERIFY2(r.err.contains(QStringLiteral("line 3: names no DOI, arXiv id or web address")),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("line 5: has more than three tab-separated fields")),
                 qPrintable(r.err));
        QCOMPARE(filesIn(out).size(), 3);
        QCOMPARE(fntest::readFile(out + QStringLiteral("/2.pdf")), m_site.paperBytes(2));
        QCOMPARE(fntest::readFile(out + u'/' + m_site.paperTitle(1) + QStringLiteral(".pdf")),
                 m_site.paperBytes(1));
        // No result page was asked for and no browser was started: nothing is left in the user's folders.
        for (const QString &served : std::as_const(m_fileRequests))
            QVERIFY2(served.endsWith(QStringLiteral(".pdf")), qPrintable(served));
        QDirIterator left(home(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                          QDirIterator::Subdirectories);
        QVERIFY2(!left.hasNext(), qPrintable(left.next()));

        // --list prints the papers of the list as it prints those of a page.
        const RunResult listed =
            run({QStringLiteral("--input"), list, QStringLiteral("--list"), QStringLiteral("--no-library")});
        QCOMPARE(listed.exitCode, 0);
        QCOMPARE(listed.out.split(u'\n', Qt::SkipEmptyParts).size(), 2);

        const RunResult missing = run({QStringLiteral("--input"), path(QStringLiteral("none.txt")),
                                       QStringLiteral("--out"), out, QStringLiteral("--no-library")});
        QCOMPARE(missing.exitCode, 1);
        QVERIFY(missing.err.contains(QStringLiteral("none.txt")));
    }

    void aResumedRunFetchesOnlyWhatIsNotDone()
    {
        const QString out = path(QStringLiteral("resume"));
        QDir().mkpath(out);
        fntest::writeFile(out + QStringLiteral("/kept.pdf"), "the first run's file");
        const QString header = QStringLiteral("address,name,type,state,size,path,source,sha256\r\n");
        const QString manifest =
            header + m_site.paperFileUrl(1).toString() + QStringLiteral(",kept,pdf,Done,20,") + out +
            QStringLiteral("/kept.pdf,,x\r\n") + m_site.paperFileUrl(2).toString() +
            QStringLiteral(",my own name,pdf,Failed,,,,\r\n") + m_site.paperFileUrl(4).toString() +
            QStringLiteral(",../../escape,pdf,Downloading,,,,\r\n") +
            QStringLiteral("javascript:alert(1),bad,pdf,Waiting,,,,\r\n");
        fntest::writeFile(out + QStringLiteral("/manifest.csv"), manifest.toUtf8());

        const RunResult r = run({QStringLiteral("--resume"), out, QStringLiteral("--no-library")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains(QStringLiteral("javascript:alert(1)")), qPrintable(r.err));
        // Only the two rows that were not done were asked for, under their names, in the same folder.
        QCOMPARE(m_fileRequests.size(), 2);
        QVERIFY(!m_fileRequests.contains(m_site.paperFileUrl(1).path()));
        QCOMPARE(fntest::readFile(out + QStringLiteral("/my own name.pdf")), m_site.paperBytes(2));
        // A name from the manifest is cleaned as any name: no folder, no hidden file.
        QCOMPARE(fntest::readFile(out + QStringLiteral("/escape.pdf")), m_site.paperBytes(4));
        QCOMPARE(fntest::readFile(out + QStringLiteral("/kept.pdf")), QByteArray("the first run's file"));
        QCOMPARE(QDir(path(QString())).entryList(QDir::Files).size(), 0);
        // The new manifest lists all three, done.
        const QList<QStringList> rows = manifestRows(out);
        QCOMPARE(rows.size(), 3);
        for (const QStringList &row : rows)
            QCOMPARE(row.at(3), QStringLiteral("Done"));
        QCOMPARE(rows.at(0).at(7), sha256("the first run's file"));

        // Nothing left to do: a resumed run of a finished folder fetches nothing and ends well.
        m_fileRequests.clear();
        const RunResult again = run({QStringLiteral("--resume"), out, QStringLiteral("--no-library")});
        QCOMPARE(again.exitCode, 0);
        QVERIFY(m_fileRequests.isEmpty());

        const RunResult noManifest =
            run({QStringLiteral("--resume"), path(QStringLiteral("empty")), QStringLiteral("--no-library")});
        QCOMPARE(noManifest.exitCode, 1);
        QVERIFY(noManifest.err.contains(QStringLiteral("manifest")));
        // A file that is not a manifest is refused as a whole, naming where it breaks.
        const QString other = path(QStringLiteral("other"));
        QDir().mkpath(other);
        fntest::writeFile(other + QStringLiteral("/manifest.csv"),
                          "\"unclosed,quote\r\nhttp://x/1.pdf,a,pdf,Failed\r\n");
        const RunResult notAManifest =
            run({QStringLiteral("--resume"), other, QStringLiteral("--no-library")});
        QCOMPARE(notAManifest.exitCode, 1);
        QVERIFY2(notAManifest.err.contains(QStringLiteral("line 1: a quoted cell that is never closed")),
                 qPrintable(notAManifest.err));
        fntest::writeFile(other + QStringLiteral("/manifest.csv"), "title,author\r\nx,y\r\n");
        const RunResult otherCsv = run({QStringLiteral("--resume"), other, QStringLiteral("--no-library")});
        QCOMPARE(otherCsv.exitCode, 1);
        QVERIFY2(otherCsv.err.contains(QStringLiteral("header line")), qPrintable(otherCsv.err));
    }

    void heldPapersAreSkippedAcrossRunsAndFoldersButNotWhenChanged()
    {
        const QString page = m_site.searchUrl(QStringLiteral("x")).toString();
        const QString first = path(QStringLiteral("first"));
        RunResult r =
            run({QStringLiteral("--out"), first, QStringLiteral("--pages"), QStringLiteral("one"), page});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(filesIn(first).size(), 3);

        // What the result page told about the papers is in the library with their files.
        {
            PaperLibrary library(libraryPath());
            QVERIFY(library.open().ok);
            const std::optional<PaperRecord> one = library.record(m_site.paperFileUrl(1).toString());
            QVERIFY(one);
            QCOMPARE(one->metadata.title, m_site.paperTitle(1));
            QCOMPARE(one->metadata.authors(), m_site.paper(1).authors.join(QStringLiteral("; ")));
            QCOMPARE(one->metadata.year(), QString::number(m_site.paper(1).year));
            QCOMPARE(one->held.sha256, sha256(m_site.paperBytes(1)));
            QCOMPARE(one->held.filePath, first + u'/' + m_site.paperTitle(1) + QStringLiteral(".pdf"));
        }

        m_fileRequests.clear();
        const QString second = path(QStringLiteral("second"));
        r = run({QStringLiteral("--out"), second, QStringLiteral("--pages"), QStringLiteral("one"),
                 QStringLiteral("--skip-held"), page});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.trimmed(), QStringLiteral("总数：2|正在下载：0|等待：0|已完成：2|失败：0"));
        QVERIFY2(r.err.contains(QStringLiteral("已下载过")), qPrintable(r.err));
        for (const QString &served : std::as_const(m_fileRequests))
            QVERIFY2(!served.endsWith(QStringLiteral(".pdf")), qPrintable(served));
        // The manifest names the files where they are.
        const QList<QStringList> rows = manifestRows(second);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).at(5), first + u'/' + m_site.paperTitle(1) + QStringLiteral(".pdf"));
        QCOMPARE(filesIn(second), QStringList{QStringLiteral("manifest.csv")});

        // A file changed since: fetched again. Without the flag every paper is fetched.
        fntest::writeFile(first + u'/' + m_site.paperTitle(1) + QStringLiteral(".pdf"), "changed");
        m_fileRequests.clear();
        const QString third = path(QStringLiteral("third"));
        r = run({QStringLiteral("--out"), third, QStringLiteral("--pages"), QStringLiteral("one"),
                 QStringLiteral("--skip-held"), page});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(m_fileRequests.filter(QStringLiteral(".pdf")), QStringList{m_site.paperFileUrl(1).path()});
        QCOMPARE(fntest::readFile(third + u'/' + m_site.paperTitle(1) + QStringLiteral(".pdf")),
                 m_site.paperBytes(1));
        m_fileRequests.clear();
        r = run({QStringLiteral("--out"), path(QStringLiteral("fourth")), QStringLiteral("--pages"),
                 QStringLiteral("one"), page});
        QCOMPARE(m_fileRequests.filter(QStringLiteral(".pdf")).size(), 2);
    }

    void exportsAndTemplateNames()
    {
        const QString out = path(QStringLiteral("out"));
        const QString ris = path(QStringLiteral("papers.ris"));
        const QString bib = path(QStringLiteral("papers.bib"));
        const RunResult r =
            run({QStringLiteral("--out"), out, QStringLiteral("--pages"), QStringLiteral("one"),
                 QStringLiteral("--names"), QStringLiteral("template:{年份}-{作者}-{标题}"),
                 QStringLiteral("--ris"), ris, QStringLiteral("--bibtex"), bib,
                 m_site.searchUrl(QStringLiteral("x")).toString()});
        QCOMPARE(r.exitCode, 0);
        const QString name =
            QStringLiteral("%1-%2-%3")
                .arg(m_site.paper(1).year)
                .arg(m_site.paper(1).authors.join(QStringLiteral("; ")), m_site.paperTitle(1));
        QCOMPARE(fntest::readFile(out + u'/' + name + QStringLiteral(".pdf")), m_site.paperBytes(1));

        // The reference files hold both papers with their files and hashes (their formats are checked
        // field by field where they are made).
        const QString risText = QString::fromUtf8(fntest::readFile(ris));
        QCOMPARE(risText.count(QStringLiteral("ER  - ")), 2);
        QVERIFY(risText.contains(QStringLiteral("TI  - ") + m_site.paperTitle(2)));
        QVERIFY(risText.contains(QStringLiteral("SHA-256: ") + sha256(m_site.paperBytes(1))));
        QVERIFY(risText.contains(out + u'/' + name + QStringLiteral(".pdf")));
        const QString bibText = QString::fromUtf8(fntest::readFile(bib));
        QCOMPARE(bibText.count(QRegularExpression(QStringLiteral("(?m)^@"))), 2);
        QVERIFY(bibText.contains(QString::number(m_site.paper(2).year)));

        // The same without the library: the metadata comes from the page the run read.
        const QString ris2 = path(QStringLiteral("again.ris"));
        QCOMPARE(run({QStringLiteral("--out"), path(QStringLiteral("out2")), QStringLiteral("--pages"),
                      QStringLiteral("one"), QStringLiteral("--no-library"), QStringLiteral("--ris"), ris2,
                      m_site.searchUrl(QStringLiteral("x")).toString()})
                     .exitCode,
                 0);
        const QString again = QString::fromUtf8(fntest::readFile(ris2));
        QVERIFY(again.contains(QStringLiteral("AU  - ") + m_site.paper(1).authors.first()));
        QVERIFY(again.contains(QStringLiteral("SHA-256: ") + sha256(m_site.paperBytes(2))));
    }

    void whatALandingPageDeclaresNamesTheFile_data()
    {
        QTest::addColumn<QString>("method");
        QTest::newRow("single connection") << QStringLiteral("1");
        QTest::newRow("parallel slots") << QStringLiteral("2");
    }
    void whatALandingPageDeclaresNamesTheFile()
    {
        // Every paper link answers the paper's own page (--demo-landing), which declares the DOI, volume,
        // issue and date; the result page gives the title and year, a bare link nothing but its address.
        QFETCH(QString, method);
        m_site.catalog().setLandingPages(true);
        const auto plainAgain = qScopeGuard([this] { m_site.catalog().setLandingPages(false); });
        const QString names = QStringLiteral("template:{年份}-{DOI}-{卷}-{期}-{标题}");
        const auto nameOf = [this](int n) {
            const DemoPaper p = m_site.paper(n);
            return CleanFileName(QStringLiteral("%1-10.5555_demo.%2-%3-%4-%5")
                                     .arg(p.year)
                                     .arg(n)
                                     .arg(p.year - 1990)
                                     .arg(n % 12 + 1)
                                     .arg(p.title)) +
                   QStringLiteral(".pdf");
        };
        const QString out = path(QStringLiteral("out"));
        RunResult r = run({QStringLiteral("--out"), out, QStringLiteral("--pages"), QStringLiteral("one"),
                           QStringLiteral("--method"), method, QStringLiteral("--names"), names,
                           QStringLiteral("--no-library"), m_site.searchUrl(QStringLiteral("x")).toString()});
        QCOMPARE(r.exitCode, 0);
        for (int n : {1, 2})
            QVERIFY2(fntest::readFile(out + u'/' + nameOf(n)) == m_site.paperBytes(n),
                     qPrintable(filesIn(out).join(u'|') + u'\n' + r.err));

        // Known by its address alone, the paper is named from its page; a name that is taken is numbered.
        const QString bare = path(QStringLiteral("bare"));
        QDir().mkpath(bare);
        fntest::writeFile(bare + u'/' + nameOf(4), "another program's");
        const QString list =
            linkList(QStringLiteral("links.txt"),
                     m_site.paperFileUrl(3).toEncoded() + '\n' + m_site.paperFileUrl(4).toEncoded() + '\n');
        r = run({QStringLiteral("--out"), bare, QStringLiteral("--input"), list, QStringLiteral("--method"),
                 method, QStringLiteral("--names"), names, QStringLiteral("--no-library")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(fntest::readFile(bare + u'/' + nameOf(3)) == m_site.paperBytes(3),
                 qPrintable(filesIn(bare).join(u'|') + u'\n' + r.err));
        QCOMPARE(fntest::readFile(bare + u'/' + nameOf(4)), QByteArray("another program's"));
        const QString numbered = nameOf(4).chopped(4) + QStringLiteral("[001].pdf");
        QVERIFY2(fntest::readFile(bare + u'/' + numbered) == m_site.paperBytes(4),
                 qPrintable(filesIn(bare).join(u'|')));
    }

    void twoRunsAtOnceShareTheLibrary()
    {
        const QString page = m_site.searchUrl(QStringLiteral("x")).toString();
        QProcess *a = launch({QStringLiteral("--out"), path(QStringLiteral("a")), page});
        QProcess *b = launch({QStringLiteral("--out"), path(QStringLiteral("b")), page});
        const RunResult ra = finish(a);
        const RunResult rb = finish(b);
        QCOMPARE(ra.exitCode, 0);
        QCOMPARE(rb.exitCode, 0);
        // Either run may have waited for the other's write; one that waited too long says so plainly.
        for (const QString &err : {ra.err, rb.err}) {
            if (err.contains(QStringLiteral("文献资料库")))
                QVERIFY2(err.contains(QStringLiteral("正被另一个正在运行的本程序使用")), qPrintable(err));
        }
        PaperLibrary library(libraryPath());
        const PaperLibrary::OpenResult opened = library.open();
        QVERIFY2(opened.ok && opened.setAsidePath.isEmpty(), qPrintable(opened.message));
        QCOMPARE(library.paperCount(), 4);
        for (int n = 1; n <= 4; ++n) {
            const std::optional<HeldFile> held = library.heldFile(m_site.paperFileUrl(n).toString());
            QVERIFY(held);
            QCOMPARE(held->sha256, sha256(m_site.paperBytes(n)));
        }
    }

    void aDamagedLibraryIsSetAsideAndTheRunGoesOn()
    {
        QDir().mkpath(QFileInfo(libraryPath()).absolutePath());
        fntest::writeFile(libraryPath(), QByteArray(8192, 'x'));
        const QString out = path(QStringLiteral("out"));
        const RunResult r = run({QStringLiteral("--out"), out, QStringLiteral("--pages"),
                                 QStringLiteral("one"), m_site.searchUrl(QStringLiteral("x")).toString()});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains(QStringLiteral("文献资料库文件已损坏，已改名保存为")), qPrintable(r.err));
        const QStringList aside = QDir(QFileInfo(libraryPath()).absolutePath())
                                      .entryList({QStringLiteral("PaperLibrary.db.damaged-*")}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        PaperLibrary library(libraryPath());
        QVERIFY(library.open().ok);
        QCOMPARE(library.paperCount(), 2);
    }

    void anotherProgramsDatabaseIsLeftAloneAndTheRunGoesOn()
    {
        // The library's name is a link to a database some other program keeps.
        const QString theirs = path(QStringLiteral("their.sqlite"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("theirs"));
            db.setDatabaseName(theirs);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT)")));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO items (name) VALUES ('theirs')")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("theirs"));
        QDir().mkpath(QFileInfo(libraryPath()).absolutePath());
        QVERIFY(QFile::link(theirs, libraryPath()));
        const QByteArray before = fntest::readFile(theirs);
        const QString list =
            linkList(QStringLiteral("links.txt"),
                     m_site.paperFileUrl(1).toEncoded() + '\n' + m_site.paperFileUrl(2).toEncoded() + '\n');
        const QString out = path(QStringLiteral("out"));
        const RunResult r = run({QStringLiteral("--input"), list, QStringLiteral("--out"), out});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains(QStringLiteral("无法打开文献资料库“%1”").arg(libraryPath())),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("另一个程序的数据库")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("the run goes on without the paper library")),
                 qPrintable(r.err));
        QCOMPARE(fntest::readFile(out + QStringLiteral("/2.pdf")), m_site.paperBytes(2));
        QCOMPARE(fntest::readFile(theirs), before);
        QVERIFY(QFileInfo(libraryPath()).isSymLink());
        QCOMPARE(QDir(path(QString())).entryList({QStringLiteral("their.sqlite*")}, QDir::Files),
                 QStringList{QStringLiteral("their.sqlite")});

        // A run that cannot go on without it ends before it starts, as with any library it cannot use.
        const RunResult held = run(
            {QStringLiteral("--input"), list, QStringLiteral("--out"), out, QStringLiteral("--skip-held")});
        QCOMPARE(held.exitCode, 1);
        QVERIFY2(held.err.contains(QStringLiteral("--skip-held needs the paper library")),
                 qPrintable(held.err));
        QCOMPARE(fntest::readFile(theirs), before);
    }

    void aLibraryHeldByAnotherProgramIsWaitedForAndSaidSo()
    {
        {
            PaperLibrary library(libraryPath());
            QVERIFY(library.open().ok);
        }
        QByteArray links;
        for (int n = 1; n <= 4; ++n)
            links += m_site.paperFileUrl(n).toEncoded() + '\n';
        const QString list = linkList(QStringLiteral("links.txt"), links);
        QString err;
        QProcess *process = nullptr;
        {
            // Another program takes the write lock and keeps it until the run has said so.
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            db.setDatabaseName(libraryPath());
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE")));
            process = launch(
                {QStringLiteral("--input"), list, QStringLiteral("--out"), path(QStringLiteral("out"))});
            QTRY_VERIFY2_WITH_TIMEOUT(
                (err += QString::fromUtf8(process->readAllStandardError()))
                    .contains(
                        QStringLiteral("the paper library is busy: another program is writing to it; the "
                                       "run's records wait and will be written when it frees")),
                qPrintable(err), 60000);
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("COMMIT")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        const RunResult r = finish(process);
        err += r.err;
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(err.contains(
                     QStringLiteral("the paper library is free again; the records that waited are written")),
                 qPrintable(err));
        QVERIFY2(!err.contains(QStringLiteral("没有记入")), qPrintable(err));
        // Every record went in once the library was free: what the run saw and what it downloaded.
        PaperLibrary library(libraryPath());
        QVERIFY(library.open().ok);
        QCOMPARE(library.paperCount(), 4);
        for (int n = 1; n <= 4; ++n) {
            const std::optional<HeldFile> held = library.heldFile(m_site.paperFileUrl(n).toString());
            QVERIFY(held);
            QCOMPARE(held->sha256, sha256(m_site.paperBytes(n)));
        }
    }

    void argumentsThatDoNotGoTogether_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString url = QStringLiteral("http://127.0.0.1:9/search");
        QTest::newRow("skip held without the library")
            << QStringList{"--out", "DIR", "--skip-held", "--no-library", url}
            << "--skip-held needs the paper library";
        QTest::newRow("a page and a list")
            << QStringList{"--out", "DIR", "--input", "x.txt", url}
            << "give one of a result page address, --input FILE or --resume DIR";
        QTest::newRow("a list and a resume")
            << QStringList{"--input", "x.txt", "--resume", "DIR"} << "give one of a result page address";
        QTest::newRow("resume into another folder")
            << QStringList{"--resume", "DIR", "--out", "OTHER"} << "--resume DIR saves into DIR";
        QTest::newRow("an empty template") << QStringList{"--out", "DIR", "--names", "template:", url}
                                           << "--names template: needs a template";
        QTest::newRow("names of an unknown kind") << QStringList{"--out", "DIR", "--names", "year", url}
                                                  << "--names must be one of title|link|template:...";
    }
    void argumentsThatDoNotGoTogether()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const RunResult r = run(arguments);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }
};

FN_TEST_MAIN_CORE(TestBatchLibrary)
#include "tst_batchlibrary.moc"
