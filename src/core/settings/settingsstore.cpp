#include "core/settings/settingsstore.h"

#include "core/common/messenger.h"

#include <QSettings>

namespace {

QSettings openStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Folionexus"), kAppTitle);
}

} // namespace

QString ReadSetting(const QString &section, const QString &key, const QString &defaultValue)
{
    QSettings store = openStore();
    store.beginGroup(section);
    const QVariant value = store.value(key);
    if (!value.isValid())
        return defaultValue;
    return value.toString();
}

void WriteSetting(const QString &section, const QString &key, const QString &value)
{
    QSettings store = openStore();
    store.beginGroup(section);
    store.setValue(key, value);
    store.endGroup();
    store.sync();
}

QString ReadFileNameTemplate()
{
    using namespace settingkeys;
    const QString text = ReadSetting(SectionSettings, FileNameTemplate, DefaultFileNameTemplate);
    return text.trimmed().isEmpty() ? DefaultFileNameTemplate : text;
}

bool ReadSkipHeld()
{
    using namespace settingkeys;
    return ReadSetting(SectionDownload, SkipHeld, DefaultSkipHeld).trimmed() == QStringLiteral("1");
}

QString SettingsFilePath()
{
    return openStore().fileName();
}
