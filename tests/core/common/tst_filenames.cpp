#include "core/common/filenames.h"
#include "core/common/gbk.h"
#include "core/common/safetext.h"
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
        QTest::newRow("the nine forbidden characters vanish") << "a\\b/c:d*e?f<g>h|i\"j"
                                                              << "abcdefghij";
        QTest::newRow("edge dots go") << "..name.."
                                      << "name";
        QTest::newRow("spaces shield edge dots") << " .x. "
                                                 << ".x.";
        QTest::newRow("title and subtitle joined on CR LF") << "Title\r\nSubtitle"
                                                            << "TitleSubtitle";
        QTest::newRow("lone CR, LF and NUL removed") << QString::fromUtf16(u"a\rb\nc\0d", 7) << "abcd";
        QTest::newRow("tab kept") << "a\tb"
                                  << "a\tb";
        QTest::newRow("only removed characters") << "??**"
                                                 << "";
        QTest::newRow("inner dots stay") << "v1.2 final"
                                         << "v1.2 final";
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
        const QString name =
            FitNameForDisk(CleanFileName(QString(200, QChar(0x6587))), QStringLiteral("pdf"));
        QVERIFY(name.toUtf8().size() + 5 + 4 <= 255);
        QFile file(dir.path() + u'/' + name + QStringLiteral("[999].pdf"));
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
        // Short names are left alone; a four-byte character is never split.
        QCOMPARE(FitNameForDisk(QStringLiteral("paper"), QStringLiteral("pdf")), QStringLiteral("paper"));
        const QString cut = FitNameForDisk(
            QString(100, u'x') + QString(100, QChar(0xD83D)).replace(QChar(0xD83D), QStringLiteral("😀")),
            QStringLiteral("pdf"));
        QVERIFY(cut.toUtf8().size() <= 245);
        QVERIFY(!cut.back().isHighSurrogate());
    }

    void fileNameFromPath()
    {
        QCOMPARE(FileNameFromPath(QStringLiteral("http://server/a/paper.pdf"), true),
                 QStringLiteral("paper"));
        QCOMPARE(FileNameFromPath(QStringLiteral("http://server/a/paper.pdf"), false),
                 QStringLiteral("paper.pdf"));
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

    void makeUniquePathFitsTheDisk_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("first");
        const QString wen(QChar(0x6587));                       // 3 bytes of UTF-8
        const QString smile = QString::fromUcs4(U"\U0001F600"); // 4 bytes, a surrogate pair
        QTest::newRow("83 Chinese characters: does [0001] still fit 255 bytes?")
            << wen.repeated(83) + ".pdf" << wen.repeated(81) + "[0001].pdf";
        QTest::newRow("four-byte characters: is the byte cut made between them?")
            << wen.repeated(60) + smile.repeated(17) + ".pdf"
            << wen.repeated(60) + smile.repeated(16) + "[0001].pdf";
        QTest::newRow("the 100-character cut: does it keep a four-byte character whole?")
            << "a" + smile.repeated(60) + ".pdf"
            << "a" + smile.repeated(49) + ".pdf";
        QTest::newRow("no extension, 255 bytes: does the counter fit?")
            << wen.repeated(85) << wen.repeated(83) + "[0001]";
        QTest::newRow("mixed widths: is the cut at a character boundary?")
            << "ab" + wen.repeated(82) + ".pdf"
            << "ab" + wen.repeated(81) + "[0001].pdf";
        QTest::newRow("an extension as long as the name: does the name still fit?")
            << "a." + QString(252, u'e') << "[0001]." + QString(248, u'e');
        QTest::newRow("a counter alone: is the answer never the hidden .pdf?") << "[0001].pdf"
                                                                               << "[0001][0001].pdf";
    }
    void makeUniquePathFitsTheDisk()
    {
        QFETCH(QString, existing);
        QFETCH(QString, first);
        QTemporaryDir dir;
        const QString d = dir.path() + u'/';
        QVERIFY(existing.toUtf8().size() <= MaxFileNameBytes);
        fntest::writeFile(d + existing, "x");
        QVERIFY(FileExists(d + existing));
        QString taken = existing;
        for (int n = 1; n <= 3; ++n) {
            const QString path = MakeUniquePath(d + taken);
            QVERIFY(path.startsWith(d));
            const QString name = path.mid(d.size());
            QVERIFY2(name.toUtf8().size() <= MaxFileNameBytes,
                     qPrintable(QString::number(name.toUtf8().size())));
            QCOMPARE(QString::fromUtf8(name.toUtf8()), name); // no character cut in half
            if (n == 1)
                QCOMPARE(name, first);
            QVERIFY(!FileExists(path));
            QFile file(path);
            QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString())); // the disk takes it
            file.close();
            taken = name;
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 4);
    }

    void controlCharactersAtTheEdges_data()
    {
        QTest::addColumn<uint>("code");
        QTest::addColumn<bool>("unsafe");
        const QList<QPair<uint, bool>> edges{
            {0x00, true},   {0x1B, true},    {0x1F, true},    {0x20, false},   {0x7E, false},
            {0x7F, true},   {0x80, true},    {0x9F, true},    {0xA0, false},   {0x061B, false},
            {0x061C, true}, {0x200D, false}, {0x200E, true},  {0x200F, true},  {0x2029, false},
            {0x202A, true}, {0x202E, true},  {0x202F, false}, {0x2065, false}, {0x2066, true},
            {0x2069, true}, {0x206A, false}, {0x6587, false}, {0x1F600, false}};
        for (const auto &[code, unsafe] : edges)
            QTest::addRow("U+%04X %s", code, unsafe ? "kept out" : "kept") << code << unsafe;
    }
    void controlCharactersAtTheEdges()
    {
        QFETCH(uint, code);
        QFETCH(bool, unsafe);
        const QString c = QString::fromUcs4(reinterpret_cast<const char32_t *>(&code), 1);
        QCOMPARE(IsUnsafeControl(code), unsafe);
        QCOMPARE(StripUnsafeControls("a" + c + "b"), unsafe ? QStringLiteral("ab") : "a" + c + "b");
        const QString shown = unsafe
                                  ? (code == 0x09 || code == 0x0A || code == 0x0D ? QStringLiteral(" ")
                                                                                  : QStringLiteral("\uFFFD"))
                                  : c;
        QCOMPARE(ShowableText("a" + c + "b"), "a" + shown + "b");
    }

    void showableTextForTerminals()
    {
        QCOMPARE(ShowableText(QStringLiteral("a\tb\r\nc")), QStringLiteral("a b  c"));
        QCOMPARE(ShowableText(QStringLiteral("\x1b]0;t\x07x")), QStringLiteral("\uFFFD]0;t\uFFFDx"));
        // A lone surrogate is left as it is; a pair is one character.
        const QString lone(QChar(0xD83D));
        QCOMPARE(StripUnsafeControls(lone + "x"), lone + "x");
        QCOMPARE(StripUnsafeControls(QString::fromUcs4(U"\U0001F600\u202E")),
                 QString::fromUcs4(U"\U0001F600"));
    }

    void credentialsLeaveAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("user alone, a port, no path") << "HTTPS://alice@host:8080"
                                                     << "HTTPS://host:8080";
        QTest::newRow("an @ in the password") << "http://a:p@ss@host/x?y=1"
                                              << "http://host/x?y=1";
        QTest::newRow("an @ in the path or query") << "http://h/x@y.pdf?m=a@b#c@d"
                                                   << "http://h/x@y.pdf?m=a@b#c@d";
        QTest::newRow("a backslash ends the host as a slash does") << "http://u:p@h\\x@y.pdf"
                                                                   << "http://h\\x@y.pdf";
        QTest::newRow("every address of a message, one inside another")
            << "GET http://u:1@a/x?to=http://v:2@b/ failed: see c@d"
            << "GET http://a/x?to=http://b/ failed: see c@d";
    }
    void credentialsLeaveAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(WithoutCredentials(text), shown);
        QCOMPARE(WithoutCredentials(shown), shown);
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
        QTest::newRow("path dropped") << "http://server/x/y"
                                      << "http://server";
        QTest::newRow("host only") << "http://server"
                                   << "http://server";
        QTest::newRow("slash right after scheme") << "file:///x"
                                                  << "file:///x";
        QTest::newRow("no scheme") << "server/x"
                                   << "server";
        QTest::newRow("slash at third character") << "ab/x"
                                                  << "ab/x";
        QTest::newRow("port kept") << "http://127.0.0.1:8080/p.pdf"
                                   << "http://127.0.0.1:8080";
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
