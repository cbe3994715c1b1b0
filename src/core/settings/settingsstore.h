#pragma once

#include "core/settings/settingkeys.h"

#include <QString>

// The per-user store: text values addressed by section and key under the program's title.
QString ReadSetting(const QString &section, const QString &key, const QString &defaultValue);
void WriteSetting(const QString &section, const QString &key, const QString &value);

// The same for a key of the table: the stored text, or the key's default when the file has none.
QString ReadSetting(const SettingKey &key);
void WriteSetting(const SettingKey &key, const QString &value);
// The same write on a worker, for callers on the event loop's thread that must not wait for the file (its
// flush may queue behind the disk's other writes). Every later read or write of the store in this process,
// and the program's end, wait for it.
void WriteSettingSoon(const SettingKey &key, const QString &value);
// A whole-number key; false (and the value untouched) when the stored text is not a number.
bool ReadSettingNumber(const SettingKey &key, int *value);

// The paper library's options as typed values: a blank template gives the default, and skipping is on
// only when the stored text is "1".
QString ReadFileNameTemplate();
bool ReadSkipHeld();
// The DOI resolver's template as stored; a blank one gives the default. Checked where it is used.
QString ReadDoiResolverTemplate();

// Path of the INI file that holds the store (for the README and for tests).
QString SettingsFilePath();

// Whole number as the store holds it; false when the text is not a number.
bool parseStoredInt(const QString &text, int *value);
