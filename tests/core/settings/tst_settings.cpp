#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "testenv.h"

#include <QFile>

using namespace settingkeys;

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QFile::remove(SettingsFilePath());
        sharedOptions() = SharedOptions();
    }

    void freshProfileGivesTheDefaults()
    {
        QVERIFY(SettingsFilePath().startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))));
        SharedOptions &o = sharedOptions();
        o.loadFromStore();
        QCOMPARE(o.DownloadMethod, ::DownloadMethod::Parallel);
        QCOMPARE(o.DuplicateNamePolicy, DuplicatePolicy::Rename);
        QCOMPARE(o.ProxyEnabled, false);
        QCOMPARE(o.ProxyAddress, QString());
        QCOMPARE(o.ProxyPort, QString());
        QCOMPARE(o.PromptSavePathOnExtract, 1);
        QCOMPARE(o.DefaultSaveFolder, QString()); // read only by the chooser
        QCOMPARE(ReadSetting(SectionDownload, Threads, DefaultThreadsPosition), QStringLiteral("2"));
    }

    void valuesPersistAsTextUnderSections()
    {
        WriteSetting(SectionSettings, settingkeys::DownloadMethod, QStringLiteral("1"));
        WriteSetting(SectionSettings, settingkeys::ProxyAddress, QStringLiteral("proxy.example"));
        WriteSetting(SectionDownload, DuplicateName, QStringLiteral("跳过"));
        QCOMPARE(ReadSetting(SectionSettings, settingkeys::DownloadMethod, "2"), QStringLiteral("1"));
        // The same key in another section is another value.
        QCOMPARE(ReadSetting(SectionDownload, settingkeys::DownloadMethod, "x"), QStringLiteral("x"));
        sharedOptions().loadFromStore();
        QCOMPARE(sharedOptions().DownloadMethod, ::DownloadMethod::Single);
        QCOMPARE(sharedOptions().ProxyAddress, QStringLiteral("proxy.example"));
        QCOMPARE(sharedOptions().DuplicateNamePolicy, DuplicatePolicy::Skip);
        // Written to disk at once: a second store object sees it.
        QSettings raw(SettingsFilePath(), QSettings::IniFormat);
        QCOMPARE(raw.value(SectionSettings + "/" + settingkeys::DownloadMethod).toString(),
                 QStringLiteral("1"));
    }

    void paperLibraryOptionsReadAsTypedValues()
    {
        QCOMPARE(ReadFileNameTemplate(), QStringLiteral("{标题}"));
        QCOMPARE(ReadSkipHeld(), false);
        WriteSetting(SectionSettings, FileNameTemplate, QStringLiteral("{年份}-{作者}-{标题}"));
        WriteSetting(SectionDownload, SkipHeld, QStringLiteral("1"));
        QCOMPARE(ReadFileNameTemplate(), QStringLiteral("{年份}-{作者}-{标题}"));
        QCOMPARE(ReadSkipHeld(), true);
        // A blank template would name every file alike; anything but "1" leaves skipping off.
        WriteSetting(SectionSettings, FileNameTemplate, QStringLiteral("   "));
        WriteSetting(SectionDownload, SkipHeld, QStringLiteral("yes"));
        QCOMPARE(ReadFileNameTemplate(), QStringLiteral("{标题}"));
        QCOMPARE(ReadSkipHeld(), false);
        // The existing keys are untouched by the new ones.
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName, DefaultPolicy), QStringLiteral("重命名"));
    }

    void retryCountIsKeptInTheDownloadSection_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("retries");
        QTest::newRow("never stored: three") << QString() << 3;
        QTest::newRow("a count") << "7" << 7;
        QTest::newRow("none at all") << "0" << 0;
        QTest::newRow("above the most: the most") << "50" << 20;
        QTest::newRow("below none: none") << "-2" << 0;
        QTest::newRow("not a number: as it was") << "many" << 3;
    }
    void retryCountIsKeptInTheDownloadSection()
    {
        QFETCH(QString, stored);
        QFETCH(int, retries);
        if (!stored.isNull())
            WriteSetting(SectionDownload, Retries, stored);
        sharedOptions().loadFromStore();
        QCOMPARE(sharedOptions().Retries, retries);

        sharedOptions().storeRetries(5);
        QCOMPARE(ReadSetting(SectionDownload, Retries, DefaultRetries), QStringLiteral("5"));
        QCOMPARE(ReadSetting(SectionSettings, Retries, QStringLiteral("<unset>")), QStringLiteral("<unset>"));
        sharedOptions() = SharedOptions();
        sharedOptions().loadRetries();
        QCOMPARE(sharedOptions().Retries, 5);
    }

    void unreadableNumbersKeepTheValue()
    {
        sharedOptions().DownloadMethod = ::DownloadMethod::Single;
        WriteSetting(SectionSettings, settingkeys::DownloadMethod, QStringLiteral("two"));
        WriteSetting(SectionSettings, settingkeys::ProxyEnabled, QStringLiteral("yes"));
        sharedOptions().loadFromStore();
        QCOMPARE(sharedOptions().DownloadMethod, ::DownloadMethod::Single);
        QCOMPARE(sharedOptions().ProxyEnabled, false);
    }

    void policyFromStoredText_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("policy");
        QTest::newRow("skip") << "跳过" << int(DuplicatePolicy::Skip);
        QTest::newRow("overwrite") << "覆盖" << int(DuplicatePolicy::Overwrite);
        QTest::newRow("rename") << "重命名" << int(DuplicatePolicy::Rename);
        QTest::newRow("anything else renames") << "skip" << int(DuplicatePolicy::Rename);
        QTest::newRow("empty renames") << "" << int(DuplicatePolicy::Rename);
    }
    void policyFromStoredText()
    {
        QFETCH(QString, stored);
        QFETCH(int, policy);
        QCOMPARE(int(policyFromText(stored)), policy);
        QCOMPARE(policyFromText(policyCaption(DuplicatePolicy(policy))), DuplicatePolicy(policy));
    }
};

FN_TEST_MAIN_CORE(TestSettings)
#include "tst_settings.moc"
