#include "desktop/osname.h"
#include "testenv.h"

class TestOsName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nameOfVersionRecord_data()
    {
        QTest::addColumn<int>("platform");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<int>("suite");
        QTest::addColumn<int>("product");
        QTest::addColumn<uint>("edition");
        QTest::addColumn<int>("spMajor");
        QTest::addColumn<int>("spMinor");
        QTest::addColumn<QString>("expected");

        const QString v = QStringLiteral(" [Version: %1.%2.1234]");
        auto row = [&](const char *question, int platform, int major, int minor, int suite, int product,
                       uint edition, int spMajor, int spMinor, const QString &name) {
            QTest::newRow(question) << platform << major << minor << suite << product << edition << spMajor
                                    << spMinor << name + v.arg(major).arg(minor);
        };
        row("DOS family", 0, 1, 0, 0, 1, 0, 0, 0, "DOS");
        row("95", 1, 4, 0, 0, 1, 0, 0, 0, "Windows 95");
        row("98", 1, 4, 10, 0, 1, 0, 0, 0, "Windows 98");
        row("Me", 1, 4, 90, 0, 1, 0, 0, 0, "Windows Millennium Edition");
        row("unknown consumer minor is blank", 1, 4, 3, 0, 1, 0, 0, 0, "");
        row("unknown family", 7, 1, 2, 0, 1, 0, 0, 0, "Unknown System Version!");
        row("NT 3", 2, 3, 51, 0, 1, 0, 2, 0, "Windows NT 3.51");
        row("NT 4 never shows a service pack", 2, 4, 0, 0, 1, 0, 6, 0, "Windows NT 4.0");
        row("2000 advanced", 2, 5, 0, 2, 1, 0, 0, 0, "Windows 2000 Advanced");
        row("2000 data center", 2, 5, 0, 128, 1, 0, 0, 0, "Windows 2000 Data center");
        row("2000 other suite", 2, 5, 0, 3, 1, 0, 4, 0, "Windows 2000 Service Pack 4");
        row("XP professional", 2, 5, 1, 0, 1, 0, 3, 0, "Windows XP Professional Service Pack 3");
        row("XP home", 2, 5, 1, 512, 1, 0, 2, 1, "Windows XP Home Service Pack 2.1");
        row("XP other suite", 2, 5, 1, 256, 1, 0, 0, 0, "Windows XP");
        row("2003 standard", 2, 5, 2, 0, 3, 0, 0, 0, "Windows Server 2003 Standard");
        row("2003 enterprise", 2, 5, 2, 2, 3, 0, 0, 0, "Windows Server 2003 Enterprise");
        row("2003 data center", 2, 5, 2, 128, 3, 0, 0, 0, "Windows Server 2003 Data center");
        row("2003 web", 2, 5, 2, 1024, 3, 0, 0, 0, "Windows Server 2003 Web Edition");
        row("2003 other", 2, 5, 2, 16, 3, 0, 0, 0, "Windows Server 2003");
        row("5.3 blank but keeps its service pack", 2, 5, 3, 0, 1, 0, 1, 0, " Service Pack 1");
        row("Vista", 2, 6, 0, 0, 1, 3, 2, 0, "Windows Vista Home Premium Edition Service Pack 2");
        row("Server 2008", 2, 6, 0, 0, 3, 8, 0, 0,
            "Windows Server 2008 Server Datacenter Edition (full installation)");
        row("7 with SP1", 2, 6, 1, 0, 1, 1, 1, 0, "Windows 7 Ultimate Edition Service Pack 1");
        row("7 unknown edition keeps the space", 2, 6, 1, 0, 1, 11, 0, 0, "Windows 7 ");
        row("domain controller is not a server", 2, 6, 1, 0, 2, 4, 0, 0, "Windows 7 Enterprise Edition");
        row("2008 R2", 2, 6, 1, 0, 3, 10, 0, 0,
            "Windows Server 2008 R2 Server Enterprise Edition (full installation)");
        row("8 without edition", 2, 6, 2, 0, 3, 1, 0, 0, "Windows 8");
        row("8.1 is the edition word alone", 2, 6, 3, 0, 1, 28, 0, 0, "Ultimate Edition (N)");
        row("unlicensed", 2, 6, 3, 0, 1, kUnlicensedEdition, 0, 0, "Not activated product");
        row("10 as reported", 2, 10, 0, 0, 1, 4, 0, 0, "");
    }

    void nameOfVersionRecord()
    {
        QFETCH(int, platform);
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(int, suite);
        QFETCH(int, product);
        QFETCH(uint, edition);
        QFETCH(int, spMajor);
        QFETCH(int, spMinor);
        QFETCH(QString, expected);
        VersionRecord r;
        r.platformId = platform;
        r.major = major;
        r.minor = minor;
        r.build = 1234;
        r.suiteMask = suite;
        r.productType = product;
        r.editionCode = edition;
        r.servicePackMajor = spMajor;
        r.servicePackMinor = spMinor;
        QCOMPARE(OperatingSystemName(r), expected);
    }

    void everyEditionCodeOfTheTable()
    {
        int named = 0;
        for (uint code = 0; code <= 40; ++code)
            named += EditionWord(code).isEmpty() ? 0 : 1;
        QCOMPARE(named, 28); // 0 to 28 without 11
        QCOMPARE(EditionWord(12), QStringLiteral("Server Datacenter Edition (core installation)"));
        QCOMPARE(EditionWord(25), QStringLiteral("Small Business Server Premium Edition"));
    }

    void prettyNameFromOsRelease_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("double quoted")
            << QByteArray(
                   "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n")
            << QStringLiteral("Debian GNU/Linux 12 (bookworm)");
        QTest::newRow("single quoted")
            << QByteArray("PRETTY_NAME='Fedora Linux 39'\n") << QStringLiteral("Fedora Linux 39");
        QTest::newRow("bare value") << QByteArray("PRETTY_NAME=Arch\n") << QStringLiteral("Arch");
        QTest::newRow("escaped quote")
            << QByteArray("PRETTY_NAME=\"My \\\"Linux\\\" 1\"\n") << QStringLiteral("My \"Linux\" 1");
        QTest::newRow("NAME when no pretty name")
            << QByteArray("NAME=\"Alpine Linux\"\n") << QStringLiteral("Alpine Linux");
        QTest::newRow("empty file") << QByteArray() << QString();
    }

    void prettyNameFromOsRelease()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        QCOMPARE(PrettyNameFromOsRelease(file), expected);
    }

    void linuxNameHasTheVersionShape()
    {
        QCOMPARE(LinuxOperatingSystemName(QStringLiteral("Debian GNU/Linux 12 (bookworm)"),
                                          QStringLiteral("6.1.0-18-amd64\n")),
                 QStringLiteral("Debian GNU/Linux 12 (bookworm) [Version: 6.1.0-18-amd64]"));
        QCOMPARE(LinuxOperatingSystemName(QString(), QStringLiteral("6.1")),
                 QStringLiteral("Linux [Version: 6.1]"));
    }

    void descriptionNamesTheWidth()
    {
        QCOMPARE(DescribeSystem(QStringLiteral("X [Version: 1]"), 64),
                 QStringLiteral("X [Version: 1][64位]"));
        QCOMPARE(DescribeSystem(QStringLiteral("X"), 32), QStringLiteral("X[32位]"));
        QCOMPARE(DescribeSystem(QStringLiteral("X"), 0), QStringLiteral("X[32位]")); // width unknown
    }

    void runningSystemDescription()
    {
        const QString &d = OsDescription();
        QVERIFY(&OsDescription() == &d); // computed once for the run
        static const QRegularExpression shape(QStringLiteral("^.+ \\[Version: [^\\]]+\\]\\[(32|64)位\\]$"));
        QVERIFY2(shape.match(d).hasMatch(), qPrintable(d));
        if (sizeof(void *) == 8)
            QVERIFY(d.endsWith(QStringLiteral("[64位]")));
    }
};

FN_TEST_MAIN_CORE(TestOsName)
#include "tst_osname.moc"
