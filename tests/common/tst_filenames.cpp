#include "common/filenames.h"
#include "common/gbk.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TestFileNames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanFileName_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the nine forbidden characters vanish") << "a\\b/c:d*e?f<g>h|i\"j" << "abcdefghij";
        QTest::newRow("edge dots go") << "..name.." << "name";
        QTest::newRow("spaces shield edge dots") << " .x. " << ".x.";
        QTest::newRow("title and subtitle joined on CR LF") << "Title\r\nSubtitle" << "TitleSubtitle";
        QTest::newRow("lone CR, LF and NUL removed") << QString::fromUtf16(u"a\rb\nc\0d", 7) << "abcd";
        QTest::newRow("tab kept") << "a\tb" << "a\tb";
        QTest::newRow("only removed characters") << "??**" << "";
        QTest::newRow("inner dots stay") << "v1.2 final" << "v1.2 final";
    }
    void cleanFileName()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(CleanFileName(input), expected);
    }

    void cleanFileNameCutsAt250CodePageBytes()
    {
        const QString title(200, QChar(0x4E2D)); // 中, two bytes each
        const QString cut = CleanFileName(title);
        QCOMPARE(cut.size(), 125);
        QCOMPARE(gbk::encode(cut).size(), 250);

        // An ASCII letter first: 1 + 124 * 2 = 249 bytes, the 125th character would split at byte 250.
        const QString odd = u'a' + title;
        QCOMPARE(CleanFileName(odd).size(), 125);
        QCOMPARE(gbk::encode(CleanFileName(odd)).size(), 249);

        // The cut comes before the trim: trailing spaces at the cut are lost.
        const QString spaced = QString(248, u'x') + QStringLiteral("  yy");
        QCOMPARE(CleanFileName(spaced), QString(248, u'x'));

        // Characters outside GBK survive (no '?' substitution) and are never split.
        const QString emoji = QString(124, u'x') + QStringLiteral("😀😀");
        const QString kept = CleanFileName(emoji);
        QVERIFY(kept.endsWith(QStringLiteral("😀")));
        QVERIFY(!kept.contains(u'?'));
    }

    void gbkRoundTrip()
    {
        const QString text = QStringLiteral("中文 paper 論文 😀");
        QCOMPARE(gbk::decode(gbk::encode(text)), text);
        QCOMPARE(gbk::encode(QStringLiteral("中")), QByteArray("\xD6\xD0"));
        QCOMPARE(gbk::decode(QByteArray("\xB3\xC9\xB9\xA6")), QStringLiteral("成功"));
    }

    void longTitleBecomesACreatableFile()
    {
        QTemporaryDir dir;
        const QString name = FitNameForDisk(CleanFileName(QString(200, QChar(0x6587))), QStringLiteral("pdf"));
        QVERIFY(name.toUtf8().size() + 5 + 4 <= 255);
        QFile file(dir.path() + u'/' + name + QStringLiteral("[999].pdf"));
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
        // Short names are left alone; a four-byte character is never split.
        QCOMPARE(FitNameForDisk(QStringLiteral("paper"), QStringLiteral("pdf")), QStringLiteral("paper"));
        const QString cut = FitNameForDisk(QString(100, u'x') + QString(100, QChar(0xD83D)).replace(
                                               QChar(0xD83D), QStringLiteral("😀")),
                                           QStringLiteral("pdf"));
        QVERIFY(cut.toUtf8().size() <= 245);
        QVERIFY(!cut.back().isHighSurrogate());
    }

    void fileNameFromPath()
    {
        QCOMPARE(FileNameFromPath(QStringLiteral("http://server/a/paper.pdf"), true), QStringLiteral("paper"));
        QCOMPARE(FileNameFromPath(QStringLiteral("http://server/a/paper.pdf"), false), QStringLiteral("paper.pdf"));
        QCOMPARE(FileNameFromPath(QStringLiteral("bare"), true), QStringLiteral("bare"));
        QCOMPARE(FileNameFromPath(QStringLiteral("c:\\d\\ x.y.pdf "), true), QStringLiteral("x.y"));
        QCOMPARE(FileNameFromPath(QStringLiteral("http://s/view?id=3"), true), QStringLiteral("view?id=3"));
    }

    void splitFileName()
    {
        QString base;
        QCOMPARE(SplitFileName(QStringLiteral("/d/report.backup"), &base), QStringLiteral("backup"));
        QCOMPARE(base, QStringLiteral("report"));
        QCOMPARE(SplitFileName(QStringLiteral("/d/report.archive"), &base), QString());
        QCOMPARE(base, QStringLiteral("report.archive"));
        QCOMPARE(SplitFileName(QStringLiteral("/d/noext"), &base), QString());
        QCOMPARE(base, QStringLiteral("noext"));
    }

    void makeUniquePath()
    {
        QTemporaryDir dir;
        const QString d = dir.path() + u'/';
        QCOMPARE(MakeUniquePath(d + "a.pdf"), d + "a.pdf");
        fntest::writeFile(d + "a.pdf", "x");
        QCOMPARE(MakeUniquePath(d + "a.pdf"), d + "a[0001].pdf");
        fntest::writeFile(d + "a[0001].pdf", "x");
        QCOMPARE(MakeUniquePath(d + "a.pdf"), d + "a[0002].pdf");

        fntest::writeFile(d + "a[x].pdf", "x");
        QCOMPARE(MakeUniquePath(d + "a[x].pdf"), d + "a[x][0001].pdf");
        fntest::writeFile(d + "noext", "x");
        QCOMPARE(MakeUniquePath(d + "noext"), d + "noext[0001]");

        // A numbered name that exists comes back bare when the bare name is free.
        fntest::writeFile(d + "b[0003].pdf", "x");
        QCOMPARE(MakeUniquePath(d + "b[0003].pdf"), d + "b.pdf");

        // A folder of that name does not count as taken.
        QDir(d).mkdir("folder.pdf");
        QCOMPARE(MakeUniquePath(d + "folder.pdf"), d + "folder.pdf");

        // No separator: returned unchanged even when it exists.
        QDir::setCurrent(dir.path());
        QCOMPARE(MakeUniquePath(QStringLiteral("a.pdf")), QStringLiteral("a.pdf"));

        // Long base names are cut to 100 characters before counting.
        const QString longBase(120, u'n');
        fntest::writeFile(d + longBase + ".pdf", "x");
        QCOMPARE(MakeUniquePath(d + longBase + ".pdf"), d + QString(100, u'n') + ".pdf");
    }

    void renameWithExtension()
    {
        QTemporaryDir dir;
        const QString d = dir.path() + u'/';
        fntest::writeFile(d + "a.pdf", "%PDF");
        RenameResult same = RenameWithExtension(d + "a.pdf", QStringLiteral("PDF"));
        QCOMPARE(same.path, d + "a.pdf");
        QVERIFY(!same.moved);

        fntest::writeFile(d + "a.CAJ", "taken");
        RenameResult moved = RenameWithExtension(d + "a.pdf", QStringLiteral("CAJ"));
        QVERIFY(moved.moved);
        QCOMPARE(moved.path, d + "a[0001].CAJ");
        QVERIFY(!QFile::exists(d + "a.pdf"));
        QCOMPARE(fntest::readFile(d + "a.CAJ"), QByteArray("taken"));

        fntest::writeFile(d + "plain", "x");
        QCOMPARE(RenameWithExtension(d + "plain", QStringLiteral("PDF")).path, d + "plain.PDF");

        RenameResult failed = RenameWithExtension(d + "missing.pdf", QStringLiteral("CAJ"));
        QVERIFY(!failed.ok);
        QCOMPARE(failed.path, d + "missing.pdf");
    }

    void existenceTests()
    {
        QTemporaryDir dir;
        fntest::writeFile(dir.path() + "/f", "x");
        QVERIFY(FileExists(dir.path() + "/f"));
        QVERIFY(!FileExists(dir.path()));
        QVERIFY(FolderExists(dir.path()));
        QVERIFY(!FolderExists(dir.path() + "/f"));
        QVERIFY(!FileExists(QString()));
        QVERIFY(!FileExists(dir.path() + "/nothing"));
    }

    void siteRootOf_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("root");
        QTest::newRow("path dropped") << "http://server/x/y" << "http://server";
        QTest::newRow("host only") << "http://server" << "http://server";
        QTest::newRow("slash right after scheme") << "file:///x" << "file:///x";
        QTest::newRow("no scheme") << "server/x" << "server";
        QTest::newRow("slash at third character") << "ab/x" << "ab/x";
        QTest::newRow("port kept") << "http://127.0.0.1:8080/p.pdf" << "http://127.0.0.1:8080";
    }
    void siteRootOf()
    {
        QFETCH(QString, address);
        QFETCH(QString, root);
        QCOMPARE(SiteRootOf(address), root);
    }

    void numbersAsTyped()
    {
        double v = 0;
        QVERIFY(LooksNumeric(QStringLiteral(" 7 "), &v));
        QCOMPARE(v, 7.0);
        QVERIFY(LooksNumeric(QStringLiteral("-1.5e2"), &v));
        QCOMPARE(v, -150.0);
        QVERIFY(!LooksNumeric(QStringLiteral("80a")));
        QVERIFY(!LooksNumeric(QString()));
        QVERIFY(!LooksNumeric(QStringLiteral("x")));
    }
};

FN_TEST_MAIN_CORE(TestFileNames)
#include "tst_filenames.moc"
