#include "settings/settingsstore.h"

#include "common/messenger.h"

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

QString SettingsFilePath()
{
    return openStore().fileName();
}
