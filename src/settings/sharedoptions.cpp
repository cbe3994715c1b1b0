#include "settings/sharedoptions.h"

#include "common/filenames.h"
#include "settings/settingsstore.h"

#include <cmath>

using namespace settingkeys;

QString policyCaption(DuplicatePolicy policy)
{
    switch (policy) {
    case DuplicatePolicy::Skip:
        return QStringLiteral("跳过");
    case DuplicatePolicy::Overwrite:
        return QStringLiteral("覆盖");
    case DuplicatePolicy::Rename:
        break;
    }
    return QStringLiteral("重命名");
}

DuplicatePolicy policyFromText(const QString &text)
{
    if (text == policyCaption(DuplicatePolicy::Skip))
        return DuplicatePolicy::Skip;
    if (text == policyCaption(DuplicatePolicy::Overwrite))
        return DuplicatePolicy::Overwrite;
    return DuplicatePolicy::Rename;
}

bool parseStoredInt(const QString &text, int *value)
{
    double number = 0;
    if (!LooksNumeric(text, &number) || std::abs(number) > 32767)
        return false;
    *value = static_cast<int>(std::lround(number));
    return true;
}

SharedOptions &sharedOptions()
{
    static SharedOptions options;
    return options;
}

void SharedOptions::loadDownloadMethod()
{
    parseStoredInt(ReadSetting(SectionSettings, settingkeys::DownloadMethod, QStringLiteral("2")), &DownloadMethod);
}

void SharedOptions::loadDuplicateNamePolicy()
{
    DuplicateNamePolicy = ReadSetting(SectionDownload, DuplicateName, DefaultPolicy);
}

void SharedOptions::loadProxy()
{
    ProxyAddress = ReadSetting(SectionSettings, settingkeys::ProxyAddress, QString());
    ProxyPort = ReadSetting(SectionSettings, settingkeys::ProxyPort, QString());
    parseStoredInt(ReadSetting(SectionSettings, settingkeys::ProxyEnabled, QStringLiteral("0")), &ProxyEnabled);
}

void SharedOptions::loadPromptSavePath()
{
    parseStoredInt(ReadSetting(SectionSettings, PromptSavePath, QStringLiteral("1")), &PromptSavePathOnExtract);
}

void SharedOptions::loadFromStore()
{
    loadDownloadMethod();
    loadDuplicateNamePolicy();
    loadProxy();
    loadPromptSavePath();
}
