#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "testenv.h"
#include "testoptions.h"

#include <QFile>
#include <QSet>

using namespace settingkeys;

class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QFile::remove(SettingsFilePath());
        TestOptions::edit() = SharedOptions();
    }

    void freshProfileGivesTheDefaults()
    {
        QVERIFY(SettingsFilePath().startsWith(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"))));
        TestOptions::store().loadFromStore();
        const SharedOptions &o = TestOptions::store().options();
        QCOMPARE(o.DownloadMethod, ::DownloadMethod::Parallel);
        QCOMPARE(o.DuplicateNamePolicy, DuplicatePolicy::Rename);
        QCOMPARE(o.ProxyEnabled, false);
        QCOMPARE(o.ProxyAddress, QString());
        QCOMPARE(o.ProxyPort, QString());
        QCOMPARE(o.PromptSavePathOnExtract, 1);
        QCOMPARE(o.DefaultSaveFolder, QString()); // read only by the chooser
        QCOMPARE(ReadSetting(SectionDownload, Threads.name, Threads.defaultText), QStringLiteral("2"));
    }

    void everyKeyHasItsOwnPlaceAndAReadableDefault()
    {
        QSet<QString> places;
        for (const SettingKey *key : settingkeys::all()) {
            const QString place = key->section + u'/' + key->name;
            QVERIFY2(!places.contains(place), qPrintable(place));
            places.insert(place);
            int number = 0;
            if (key->type == SettingType::WholeNumber || key->type == SettingType::Flag)
                QVERIFY2(parseStoredInt(key->defaultText, &number), qPrintable(place));
            if (key->type == SettingType::Choice)
                QCOMPARE(policyCaption(policyFromText(key->defaultText)), key->defaultText);
        }
        // A file without a value reads as the values a fresh run starts with.
        SharedOptions &loaded = TestOptions::edit();
        loaded.DownloadMethod = ::DownloadMethod::Single;
        loaded.DuplicateNamePolicy = DuplicatePolicy::Skip;
        loaded.ProxyEnabled = true;
        loaded.PromptSavePathOnExtract = false;
        loaded.Retries = 11;
        loaded.FileNameTemplate = QStringLiteral("{作者}");
        loaded.SkipHeld = true;
        TestOptions::store().loadFromStore();
        const SharedOptions fresh;
        QCOMPARE(loaded.DownloadMethod, fresh.DownloadMethod);
        QCOMPARE(loaded.DuplicateNamePolicy, fresh.DuplicateNamePolicy);
        QCOMPARE(loaded.ProxyEnabled, fresh.ProxyEnabled);
        QCOMPARE(loaded.PromptSavePathOnExtract, fresh.PromptSavePathOnExtract);
        QCOMPARE(loaded.Retries, fresh.Retries);
        QCOMPARE(loaded.FileNameTemplate, fresh.FileNameTemplate);
        QCOMPARE(loaded.SkipHeld, fresh.SkipHeld);
    }

    void valuesPersistAsTextUnderSections()
    {
        WriteSetting(SectionSettings, settingkeys::DownloadMethod.name, QStringLiteral("1"));
        WriteSetting(SectionSettings, settingkeys::ProxyAddress.name, QStringLiteral("proxy.example"));
        WriteSetting(SectionDownload, DuplicateName.name, QStringLiteral("跳过"));
        QCOMPARE(ReadSetting(SectionSettings, settingkeys::DownloadMethod.name, "2"), QStringLiteral("1"));
        // The same key in another section is another value.
        QCOMPARE(ReadSetting(SectionDownload, settingkeys::DownloadMethod.name, "x"), QStringLiteral("x"));
        TestOptions::store().loadFromStore();
        QCOMPARE(TestOptions::store().options().DownloadMethod, ::DownloadMethod::Single);
        QCOMPARE(TestOptions::store().options().ProxyAddress, QStringLiteral("proxy.example"));
        QCOMPARE(TestOptions::store().options().DuplicateNamePolicy, DuplicatePolicy::Skip);
        // Written to disk at once: a second store object sees it.
        QSettings raw(SettingsFilePath(), QSettings::IniFormat);
        QCOMPARE(raw.value(SectionSettings + "/" + settingkeys::DownloadMethod.name).toString(),
                 QStringLiteral("1"));
    }

    void paperLibraryOptionsReadAsTypedValues()
    {
        QCOMPARE(ReadFileNameTemplate(), QStringLiteral("{标题}"));
        QCOMPARE(ReadSkipHeld(), false);
        WriteSetting(SectionSettings, FileNameTemplate.name, QStringLiteral("{年份}-{作者}-{标题}"));
        WriteSetting(SectionDownload, SkipHeld.name, QStringLiteral("1"));
        QCOMPARE(ReadFileNameTemplate(), QStringLiteral("{年份}-{作者}-{标题}"));
        QCOMPARE(ReadSkipHeld(), true);
        // A blank template would name every file alike; anything but "1" leaves skipping off.
        WriteSetting(SectionSettings, FileNameTemplate.name, QStringLiteral("   "));
        WriteSetting(SectionDownload, SkipHeld.name, QStringLiteral("yes"));
        QCOMPARE(ReadFileNameTemplate(), QStringLiteral("{标题}"));
        QCOMPARE(ReadSkipHeld(), false);
        // The existing keys are untouched by the new ones.
        QCOMPARE(ReadSetting(SectionDownload, DuplicateName.name, DuplicateName.defaultText),
                 QStringLiteral("重命名"));
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
            WriteSetting(SectionDownload, Retries.name, stored);
        TestOptions::store().loadFromStore();
        QCOMPARE(TestOptions::store().options().Retries, retries);

        TestOptions::store().storeRetries(5);
        QCOMPARE(ReadSetting(SectionDownload, Retries.name, Retries.defaultText), QStringLiteral("5"));
        QCOMPARE(ReadSetting(SectionSettings, Retries.name, QStringLiteral("<unset>")),
                 QStringLiteral("<unset>"));
        TestOptions::edit() = SharedOptions();
        TestOptions::store().loadRetries();
        QCOMPARE(TestOptions::store().options().Retries, 5);
    }

    void unreadableNumbersKeepTheValue()
    {
        TestOptions::edit().DownloadMethod = ::DownloadMethod::Single;
        WriteSetting(SectionSettings, settingkeys::DownloadMethod.name, QStringLiteral("two"));
        WriteSetting(SectionSettings, settingkeys::ProxyEnabled.name, QStringLiteral("yes"));
        TestOptions::store().loadFromStore();
        QCOMPARE(TestOptions::store().options().DownloadMethod, ::DownloadMethod::Single);
        QCOMPARE(TestOptions::store().options().ProxyEnabled, false);
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
