#include "core/settings/settingsstore.h"

#include "core/common/filenames.h"
#include "core/common/messenger.h"

#include <QCoreApplication>
#include <QSettings>
#include <QThreadPool>
#include <cmath>
#include <mutex>

namespace {

QSettings openStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Folionexus"), kAppTitle);
}

void writeNow(const QString &section, const QString &key, const QString &value)
{
    QSettings store = openStore();
    store.beginGroup(section);
    store.setValue(key, value);
    store.endGroup();
    store.sync();
}

// Writes handed over by WriteSettingSoon, one at a time and in the order given.
QThreadPool &laterWrites()
{
    static QThreadPool *pool = [] {
        auto *made = new QThreadPool;
        made->setMaxThreadCount(1);
        return made;
    }();
    return *pool;
}

// Every read and write of the store in this process comes after the writes handed over before it.
void waitForLaterWrites()
{
    laterWrites().waitForDone();
}

} // namespace

void WriteSettingSoon(const SettingKey &key, const QString &value)
{
    // The program's end waits for what is still on its way to the file.
    static std::once_flag atExit;
    if (QCoreApplication::instance())
        std::call_once(atExit, [] { qAddPostRoutine(waitForLaterWrites); });
    laterWrites().start([section = key.section, name = key.name, value] { writeNow(section, name, value); });
}

QString ReadSetting(const QString &section, const QString &key, const QString &defaultValue)
{
    waitForLaterWrites();
    QSettings store = openStore();
    store.beginGroup(section);
    const QVariant value = store.value(key);
    if (!value.isValid())
        return defaultValue;
    return value.toString();
}

void WriteSetting(const QString &section, const QString &key, const QString &value)
{
    waitForLaterWrites();
    writeNow(section, key, value);
}

QString ReadSetting(const SettingKey &key)
{
    return ReadSetting(key.section, key.name, key.defaultText);
}

void WriteSetting(const SettingKey &key, const QString &value)
{
    WriteSetting(key.section, key.name, value);
}

bool ReadSettingNumber(const SettingKey &key, int *value)
{
    return parseStoredInt(ReadSetting(key), value);
}

bool parseStoredInt(const QString &text, int *value)
{
    double number = 0;
    if (!LooksNumeric(text, &number) || std::abs(number) > 32767)
        return false;
    *value = static_cast<int>(std::lround(number));
    return true;
}

QString ReadFileNameTemplate()
{
    const QString text = ReadSetting(settingkeys::FileNameTemplate);
    return text.trimmed().isEmpty() ? settingdefaults::FileNameTemplate : text;
}

QString ReadDoiResolverTemplate()
{
    const QString text = ReadSetting(settingkeys::DoiResolver).trimmed();
    return text.isEmpty() ? settingdefaults::DoiResolver : text;
}

bool ReadSkipHeld()
{
    return ReadSetting(settingkeys::SkipHeld).trimmed() == QStringLiteral("1");
}

QString SettingsFilePath()
{
    waitForLaterWrites();
    return openStore().fileName();
}
