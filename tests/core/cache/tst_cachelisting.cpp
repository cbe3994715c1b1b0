#include "cachefixture.h"
#include "core/cache/cacheentry.h"
#include "core/cache/cachelisting.h"
#include "core/cache/filetype.h"
#include "core/cache/folderwalk.h"
#include "core/cache/forcedelete.h"

#include <QSignalSpy>

using namespace cachefixture;
using Command = CacheCommands::Command;

namespace {

void runAndWait(CacheCommands &commands, Command command, const QList<bool> &selected = {})
{
    QSignalSpy finished(&commands, &CacheCommands::commandFinished);
    commands.run(command, selected);
    QVERIFY(finished.wait(20000));
    QVERIFY(!commands.busy());
}

QStringList texts(const QList<CacheRow> &rows)
{
    QStringList result;
    for (const CacheRow &row : rows)
        result.append(row.text);
    return result;
}

QStringList column(const QList<CacheRow> &rows, int index)
{
    QStringList result;
    for (const CacheRow &row : rows)
        result.append(index == 1 ? row.type : index == 2 ? row.sizeText() : row.path);
    return result;
}

} // namespace

class TestCacheListing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fileType_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("type");
        QTest::newRow("query after the name is cut") << "http://server/dir/paper.pdf?id=3"
                                                     << "pdf";
        QTest::newRow("only the part between two schemes counts")
            << "http://server/page.aspx?u=http://other/x.pdf"
            << "aspx";
        QTest::newRow("address ending in a folder") << "https://server/dir/"
                                                    << "";
        QTest::newRow("extension of 7 characters is no type") << "/tmp/report.abcdefg"
                                                              << "";
        QTest::newRow("extension of 6 characters is a type") << "/tmp/report.abcdef"
                                                             << "abcdef";
        QTest::newRow("backslash path, fragment cut") << "C:\\a\\b\\page.HTM#top"
                                                      << "HTM";
        QTest::newRow("no dot") << "/home/alice/.cache/x/0123456789abcdef_0"
                                << "";
        QTest::newRow("scheme in capitals") << "HTTP://server/a.JPG"
                                            << "JPG";
        QTest::newRow("dot only in the host") << "http://www.server.com"
                                              << "com";
        QTest::newRow("equals sign stops") << "http://s/a.php=x.y"
                                           << "php";
    }
    void fileType()
    {
        QFETCH(QString, text);
        QFETCH(QString, type);
        QCOMPARE(从文件名和网址提取文件类型(text), type);
    }

    void entryKeysGiveAddresses()
    {
        QCOMPARE(cacheentry::addressFromKey("1/0/http://127.0.0.1:18777/index.html"),
                 QStringLiteral("http://127.0.0.1:18777/index.html"));
        QCOMPARE(cacheentry::addressFromKey("1/0/_dk_http://a.com http://a.com https://a.com/x.pdf"),
                 QStringLiteral("https://a.com/x.pdf"));
        QCOMPARE(cacheentry::keyLengthFromHeader(entryBytes("1/0/http://x/").left(24)), qint64(13));
        QByteArray wrongMagic = entryBytes("1/0/http://x/");
        wrongMagic[0] = 'X';
        QCOMPARE(cacheentry::keyLengthFromHeader(wrongMagic), qint64(-1));
        QVERIFY(cacheentry::isEntryFileName(QStringLiteral("0123456789abcdef_0")));
        QVERIFY(!cacheentry::isEntryFileName(QStringLiteral("0123456789abcdef_1")));
        QVERIFY(!cacheentry::isEntryFileName(QStringLiteral("index")));
    }

    void myCacheListsEntriesWithSizesAndPaths()
    {
        Machine m;
        const QString cache = m.cacheOf(QStringLiteral("alice"));
        mkdirs(cache + "/index-dir");
        mkdirs(m.outside());
        fntest::writeFile(cache + "/00000000000000a1_0",
                          entryBytes("1/0/http://site/papers/a.pdf?id=1", "12345"));
        fntest::writeFile(cache + "/00000000000000a1_1", "second stream");
        fntest::writeFile(cache + "/00000000000000b2_0", entryBytes("1/0/https://site/Cookie/login.aspx"));
        fntest::writeFile(cache + "/00000000000000c3_0", "not an entry at all, no header");
        fntest::writeFile(cache + "/index", "index");
        fntest::writeFile(cache + "/index-dir/the-real-index", "index");
        // An entry-looking link to an entry outside is never read.
        fntest::writeFile(m.outside() + "/planted", entryBytes("1/0/http://evil/planted.exe"));
        link(m.outside() + "/planted", cache + "/00000000000000d4_0");

        const CacheListing listing = GetCacheURLList(m.locations().myCache);
        QCOMPARE(texts(listing.rows),
                 (QStringList{"http://site/papers/a.pdf?id=1", "https://site/Cookie/login.aspx"}));
        QCOMPARE(column(listing.rows, 1), (QStringList{"pdf", "aspx"}));
        const QString first = cache + "/00000000000000a1_0";
        QCOMPARE(listing.rows.at(0).path, first);
        QCOMPARE(listing.rows.at(0).size, QFileInfo(first).size());
        QCOMPARE(listing.counter, QStringLiteral("共有2 个文件"));
        QCOMPARE(listing.tag, QStringLiteral("我的缓存"));
    }

    void myCacheEmptyMissingOrUnreadable()
    {
        Machine m;
        const AnchoredPath mine = m.locations().myCache;
        CacheListing listing = GetCacheURLList(mine);
        QVERIFY(listing.rows.isEmpty());
        QCOMPARE(listing.counter, QStringLiteral("共有0 个文件"));

        mkdirs(mine.path());
        QCOMPARE(GetCacheURLList(mine).counter, QStringLiteral("共有0 个文件"));

        // A cache folder replaced by a link is refused as an error, not walked.
        mkdirs(m.outside());
        fntest::writeFile(m.outside() + "/00000000000000a1_0", entryBytes("1/0/http://evil/x.pdf"));
        QVERIFY(QDir(mine.path()).removeRecursively());
        link(m.outside(), mine.path());
        listing = GetCacheURLList(mine);
        QVERIFY(listing.rows.isEmpty());
        QCOMPARE(listing.counter, QStringLiteral("出错!!!共有0 个文件"));

        // So is a file where the folder should be.
        QVERIFY(QFile::remove(mine.path()));
        fntest::writeFile(mine.path(), "a file");
        QCOMPARE(GetCacheURLList(mine).counter, QStringLiteral("出错!!!共有0 个文件"));
    }

    void allUsersListingFindsEveryCacheAndNoLink()
    {
        Machine m;
        const QString alice = m.cacheOf("alice"), bob = m.cacheOf("bob");
        mkdirs(alice + "/index-dir");
        mkdirs(bob + "/deep/er");
        mkdirs(bob + "/RECYCLER");
        mkdirs(m.homes() + "/carol/.cache"); // no browser cache
        mkdirs(m.outside() + "/dave-cache");
        fntest::writeFile(alice + "/00000000000000a1_0", entryBytes("1/0/http://a/x.pdf", "1234567"));
        fntest::writeFile(alice + "/index-dir/the-real-index", "123456789");
        fntest::writeFile(bob + "/deep/er/notes.txt", "1234567890");
        fntest::writeFile(bob + "/RECYCLER/kept.bin", "x");
        fntest::writeFile(bob + "/pagefile.sys", "never listed");
        fntest::writeFile(m.outside() + "/secret.dat", "outside");
        link(m.outside() + "/secret.dat", bob + "/linked-file");
        link(m.outside(), bob + "/linked-folder");
        // dave's cache folder is reached through a link: not a cache of this machine's users.
        mkdirs(m.homes() + "/dave");
        link(m.outside(), m.homes() + "/dave/.cache");
        // erin's home itself is a link.
        link(m.outside(), m.homes() + "/erin");

        const CacheListing listing = listAllUsersCaches(HomeRoots{{m.homes()}, {}}, kRelative);
        QCOMPARE(listing.UserFolders, (QStringList{m.homes() + "/alice", m.homes() + "/bob",
                                                   m.homes() + "/carol", m.homes() + "/dave"}));
        QCOMPARE(listing.userRows, (QList<QPair<QString, QString>>{{"alice", alice}, {"bob", bob}}));
        QCOMPARE(listing.CacheFolders,
                 (QStringList{alice + "/index-dir", bob + "/RECYCLER", bob + "/deep", bob + "/deep/er"}));
        QCOMPARE(listing.folderRows, listing.CacheFolders);
        QCOMPARE(texts(listing.rows), (QStringList{"用户:alice", "用户:alice", "用户:bob", "用户:bob"}));
        QCOMPARE(column(listing.rows, 3),
                 (QStringList{alice + "/00000000000000a1_0", alice + "/index-dir/the-real-index",
                              bob + "/RECYCLER/kept.bin", bob + "/deep/er/notes.txt"}));
        QCOMPARE(column(listing.rows, 2), (QStringList{QString::number(24 + 18 + 7), "9", "1", "10"}));
        QCOMPARE(column(listing.rows, 1), (QStringList{"", "", "bin", "txt"}));
        QCOMPARE(listing.counter, QStringLiteral("共有4 个文件"));
        QCOMPARE(listing.tag, QStringLiteral("所有缓存"));
    }

    void homesGivenOneByOne()
    {
        Machine m;
        mkdirs(m.homes() + "/root/" + kRelative);
        fntest::writeFile(m.homes() + "/root/" + kRelative + "/f", "x");
        const CacheListing listing = listAllUsersCaches(HomeRoots{{}, {m.homes() + "/root/"}}, kRelative);
        QCOMPARE(listing.userRows.size(), 1);
        QCOMPARE(listing.userRows.at(0).first, QStringLiteral("root"));
        QCOMPARE(texts(listing.rows), QStringList{"用户:root"});
    }

    void recyclerIsSkippedOnlyAtTheRoot()
    {
        QStringList folders;
        搜索纯目录(AnchoredPath{QStringLiteral("/"), {}}, folders, false);
        QVERIFY(!folders.isEmpty());
        for (const QString &folder : folders) {
            QVERIFY(folder.startsWith(u'/') && folder.count(u'/') == 1);
            QVERIFY(folder.compare(QStringLiteral("/recycler"), Qt::CaseInsensitive) != 0);
        }
        QVERIFY(folders.contains(QStringLiteral("/tmp")));
    }

    void sortAlternatesAndSizesCompareAsNumbers()
    {
        Machine m;
        CacheCommands commands(m.locations());
        const QString cache = m.cacheOf("alice");
        mkdirs(cache);
        const QList<QPair<QByteArray, int>> entries{{"1/0/http://s/b.PDF", 10},
                                                    {"1/0/http://s/a.htm", 9},
                                                    {"1/0/http://s/c.pdf", 100},
                                                    {"1/0/http://s/d.gif", 0}};
        int n = 0;
        for (const auto &[key, bodyLength] : entries)
            fntest::writeFile(cache + QStringLiteral("/%1_0").arg(++n, 16, 10, QLatin1Char('0')),
                              entryBytes(key, QByteArray(bodyLength, 'x')));
        runAndWait(commands, Command::ViewMine);
        const int header = 24 + 18;
        auto sizes = [&] {
            QList<int> result;
            for (const CacheRow &row : commands.rows())
                result.append(static_cast<int>(row.size) - header);
            return result;
        };
        commands.sortByColumn(kSizeColumn); // first click: descending
        QCOMPARE(sizes(), (QList<int>{100, 10, 9, 0}));
        const QList<qsizetype> order = commands.sortByColumn(kSizeColumn);
        QCOMPARE(sizes(), (QList<int>{0, 9, 10, 100}));
        QCOMPARE(order, (QList<qsizetype>{3, 2, 1, 0}));
        commands.sortByColumn(1); // descending again, by text, letter case ignored, ties keep their order
        QCOMPARE(column(commands.rows(), 1), (QStringList{"PDF", "pdf", "htm", "gif"}));
        commands.sortByColumn(1);
        QCOMPARE(column(commands.rows(), 1), (QStringList{"gif", "htm", "PDF", "pdf"}));

        QList<CacheRow> withEmpty{{"x", "", -1, ""}, {"y", "", 9, ""}, {"z", "", 10, ""}};
        sortCacheRows(withEmpty, kSizeColumn, false);
        QCOMPARE(texts(withEmpty), (QStringList{"x", "y", "z"}));
    }

    void deletingMyCacheKeepsCookies()
    {
        Machine m;
        const QString cache = m.cacheOf("alice");
        mkdirs(cache);
        fntest::writeFile(cache + "/00000000000000a1_0", entryBytes("1/0/http://s/a.pdf"));
        fntest::writeFile(cache + "/00000000000000a1_1", "stream 2");
        fntest::writeFile(cache + "/00000000000000a1_s", "sparse");
        fntest::writeFile(cache + "/00000000000000b2_0", entryBytes("1/0/http://s/COOKIE.aspx"));
        fntest::writeFile(cache + "/00000000000000c3_0", entryBytes("1/0/http://s/c.js"));
        fntest::writeFile(cache + "/00000000000000d4_0", entryBytes("1/0/http://s/d.css"));
        QVERIFY(QFile::setPermissions(cache + "/00000000000000d4_0", QFile::ReadOwner));
        CacheCommands commands(m.locations());
        runAndWait(commands, Command::ViewMine);
        QCOMPARE(commands.rows().size(), 4);

        // Nothing selected: nothing deleted, the listing repeated.
        runAndWait(commands, Command::DeleteSelected, {false, false, false, false});
        QCOMPARE(commands.rows().size(), 4);
        // Only the last row selected.
        runAndWait(commands, Command::DeleteSelected, {false, false, false, true});
        QVERIFY(!exists(cache + "/00000000000000d4_0"));
        QCOMPARE(texts(commands.rows()),
                 (QStringList{"http://s/a.pdf", "http://s/COOKIE.aspx", "http://s/c.js"}));

        runAndWait(commands, Command::DeleteAll);
        QCOMPARE(texts(commands.rows()), QStringList{"http://s/COOKIE.aspx"});
        QCOMPARE(commands.counter(), QStringLiteral("共有1 个文件"));
        QCOMPARE(QDir(cache).entryList(QDir::Files), QStringList{"00000000000000b2_0"});
    }

    void deletingAllUsersCachesKeepsTextFilesAndTheCacheFolders()
    {
        Machine m;
        const QString alice = m.cacheOf("alice"), bob = m.cacheOf("bob");
        mkdirs(alice + "/a/b/c");
        mkdirs(alice + "/empty/inner");
        mkdirs(bob + "/keep");
        fntest::writeFile(alice + "/a/b/c/deep.bin", "x");
        fntest::writeFile(alice + "/a/top.bin", "x");
        fntest::writeFile(alice + "/readonly.bin", "x");
        QVERIFY(QFile::setPermissions(alice + "/readonly.bin", QFile::ReadOwner));
        QVERIFY(QFile::setPermissions(alice + "/a/b/c", QFile::ReadOwner | QFile::ExeOwner));
        fntest::writeFile(bob + "/keep/Notes.TXT", "kept");
        fntest::writeFile(bob + "/readme.txt", "kept");
        fntest::writeFile(bob + "/data_0", "gone");

        CacheCommands commands(m.locations());
        runAndWait(commands, Command::ViewAll);
        QCOMPARE(commands.rows().size(), 6);
        runAndWait(commands, Command::DeleteAll);

        QVERIFY(QFileInfo(alice).isDir());
        QVERIFY(QFileInfo(bob).isDir());
        QCOMPARE(QDir(alice).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{});
        QVERIFY(exists(bob + "/keep/Notes.TXT"));
        QVERIFY(exists(bob + "/readme.txt"));
        QVERIFY(!exists(bob + "/data_0"));
        QCOMPARE(texts(commands.rows()), (QStringList{"用户:bob", "用户:bob"}));
        QCOMPARE(commands.CacheFolders(), QStringList{bob + "/keep"});
    }

    void emptyFoldersGoInnermostFirstEvenWithNothingSelected()
    {
        Machine m;
        const QString alice = m.cacheOf("alice");
        mkdirs(alice + "/x/y/z");
        mkdirs(alice + "/w");
        fntest::writeFile(alice + "/w/file.bin", "x");
        CacheCommands commands(m.locations());
        runAndWait(commands, Command::ViewAll);
        QCOMPARE(commands.CacheFolders(),
                 (QStringList{alice + "/w", alice + "/x", alice + "/x/y", alice + "/x/y/z"}));
        runAndWait(commands, Command::DeleteSelected, {false});
        QVERIFY(exists(alice + "/w/file.bin"));
        QVERIFY(!exists(alice + "/x"));
        QCOMPARE(commands.CacheFolders(), QStringList{alice + "/w"});

        // A listing of the current user's cache keeps the folders of the last all-users listing.
        mkdirs(alice + "/v");
        runAndWait(commands, Command::ViewMine);
        QCOMPARE(commands.CacheFolders(), QStringList{alice + "/w"});
    }

    void linksNeverLeadADeletionOutside()
    {
        Machine m;
        const QString bob = m.cacheOf("bob");
        const QString outside = m.outside();
        mkdirs(bob + "/sub");
        mkdirs(bob + "/chain/inner");
        mkdirs(outside + "/folder/inner");
        fntest::writeFile(outside + "/victim.dat", "victim");
        fntest::writeFile(outside + "/folder/a.bin", "victim");
        fntest::writeFile(outside + "/folder/inner/b.bin", "victim");
        fntest::writeFile(outside + "/readonly-victim", "victim");
        QVERIFY(QFile::setPermissions(outside + "/readonly-victim", QFile::ReadOwner));
        fntest::writeFile(bob + "/sub/a.bin", "cached");
        fntest::writeFile(bob + "/chain/inner/b.bin", "cached");
        link(outside + "/victim.dat", bob + "/victim-link");
        link(outside + "/folder", bob + "/linked-folder");
        // A second name of an outside file inside the cache.
        QVERIFY(::link(QFile::encodeName(outside + "/readonly-victim").constData(),
                       QFile::encodeName(bob + "/hardlink").constData()) == 0);

        CacheCommands commands(m.locations("bob"));
        runAndWait(commands, Command::ViewAll);
        QCOMPARE(column(commands.rows(), 3),
                 (QStringList{bob + "/hardlink", bob + "/chain/inner/b.bin", bob + "/sub/a.bin"}));

        // Between listing and deletion the listed folders become links to the outside.
        QVERIFY(QDir(bob + "/sub").removeRecursively());
        link(outside + "/folder", bob + "/sub");
        QVERIFY(QDir(bob + "/chain").removeRecursively());
        mkdirs(bob + "/chain");
        link(outside + "/folder/inner", bob + "/chain/inner");
        runAndWait(commands, Command::DeleteAll);

        QCOMPARE(fntest::readFile(outside + "/victim.dat"), QByteArray("victim"));
        QCOMPARE(fntest::readFile(outside + "/folder/a.bin"), QByteArray("victim"));
        QCOMPARE(fntest::readFile(outside + "/folder/inner/b.bin"), QByteArray("victim"));
        QCOMPARE(fntest::readFile(outside + "/readonly-victim"), QByteArray("victim"));
        QCOMPARE(QFile::permissions(outside + "/readonly-victim") & QFile::WriteOwner, QFile::Permissions());
        QVERIFY(QFileInfo(outside + "/folder/inner").isDir());
        QVERIFY(!exists(bob + "/hardlink"));

        // The whole user cache folder swapped for a link.
        runAndWait(commands, Command::ViewAll);
        fntest::writeFile(bob + "/extra.bin", "cached");
        runAndWait(commands, Command::ViewAll);
        QVERIFY(QDir(bob).removeRecursively());
        link(outside + "/folder", bob);
        runAndWait(commands, Command::DeleteAll);
        QCOMPARE(fntest::readFile(outside + "/folder/a.bin"), QByteArray("victim"));
        QVERIFY(commands.rows().isEmpty());
    }

    void commandsRunOffTheCallersThreadAndCanBeAbandoned()
    {
        Machine m;
        for (int user = 0; user < 20; ++user) {
            const QString cache = m.cacheOf(QStringLiteral("user%1").arg(user));
            for (int folder = 0; folder < 10; ++folder) {
                mkdirs(cache + QStringLiteral("/f%1").arg(folder));
                for (int file = 0; file < 10; ++file)
                    fntest::writeFile(cache + QStringLiteral("/f%1/%2.bin").arg(folder).arg(file), "x");
            }
        }
        {
            CacheCommands commands(m.locations());
            QSignalSpy changed(&commands, &CacheCommands::listChanged);
            commands.run(Command::ViewAll);
            // The caller gets control back at once; the list changes later, in its own event loop.
            QVERIFY(commands.busy());
            QVERIFY(commands.rows().isEmpty());
            QCOMPARE(changed.size(), 0);
            QVERIFY(changed.wait(20000));
            QCOMPARE(commands.rows().size(), 2000);
            QCOMPARE(commands.counter(), QStringLiteral("共有2000 个文件"));

            // Commands asked for while one runs follow in order.
            QSignalSpy finished(&commands, &CacheCommands::commandFinished);
            commands.run(Command::ViewMine);
            commands.run(Command::ViewAll);
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
            QCOMPARE(finished.at(0).at(0).value<Command>(), Command::ViewMine);
            QCOMPARE(commands.tag(), QStringLiteral("所有缓存"));

            // Going away in the middle of a deletion neither waits for it nor breaks it off.
            commands.run(Command::DeleteAll);
        }
        QVERIFY(QFileInfo(m.cacheOf("user0")).isDir());
    }

    void forceDeleteStaysBelowItsRoots()
    {
        Machine m;
        const QString alice = m.cacheOf("alice");
        mkdirs(alice + "/sub");
        mkdirs(m.outside());
        fntest::writeFile(m.outside() + "/victim", "victim");
        fntest::writeFile(alice + "/sub/file", "x");
        const QList<AnchoredPath> roots{m.locations().myCache};
        QVERIFY(!强制删除(roots, m.outside() + "/victim"));
        QVERIFY(!强制删除(roots, alice + "/../../../../../../outside/victim"));
        QVERIFY(!强制删除(roots, alice + "/sub/../../../../../../../outside/victim"));
        QVERIFY(!强制删除(roots, alice));
        QVERIFY(!强制删除(roots, alice + "/sub")); // folders are not files
        QVERIFY(exists(m.outside() + "/victim"));
        QVERIFY(强制删除(roots, alice + "/sub/file"));
        删除空文件夹(roots, {alice, alice + "/sub", alice + "/.."});
        QVERIFY(QFileInfo(alice).isDir());
        QVERIFY(!exists(alice + "/sub"));
    }
};

FN_TEST_MAIN_CORE(TestCacheListing)
#include "tst_cachelisting.moc"
