#include "core/settings/sharedoptions.h"

#include "core/common/filenames.h"
#include "core/settings/settingsstore.h"

#include <algorithm>
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
    int number = 0;
    if (parseStoredInt(ReadSetting(SectionSettings, settingkeys::DownloadMethod, QStringLiteral("2")),
                       &number))
        DownloadMethod = methodFromNumber(number);
}

void SharedOptions::loadDuplicateNamePolicy()
{
    DuplicateNamePolicy =
        policyFromText(TrimSpaces(ReadSetting(SectionDownload, DuplicateName, DefaultPolicy)));
}

void SharedOptions::loadProxy()
{
    ProxyAddress = ReadSetting(SectionSettings, settingkeys::ProxyAddress, QString());
    ProxyPort = ReadSetting(SectionSettings, settingkeys::ProxyPort, QString());
    int enabled = 0;
    if (parseStoredInt(ReadSetting(SectionSettings, settingkeys::ProxyEnabled, QStringLiteral("0")),
                       &enabled))
        ProxyEnabled = enabled == 1;
}

void SharedOptions::loadPromptSavePath()
{
    int prompt = 0;
    if (parseStoredInt(ReadSetting(SectionSettings, PromptSavePath, QStringLiteral("1")), &prompt))
        PromptSavePathOnExtract = prompt == 1;
}

void SharedOptions::loadRetries()
{
    int retries = 0;
    if (parseStoredInt(ReadSetting(SectionDownload, settingkeys::Retries, DefaultRetries), &retries))
        Retries = std::clamp(retries, MinRetries, MaxRetries);
}

void SharedOptions::loadFileNameTemplate()
{
    FileNameTemplate = ReadFileNameTemplate();
}

void SharedOptions::loadSkipHeld()
{
    SkipHeld = ReadSkipHeld();
}

void SharedOptions::loadFromStore()
{
    loadDownloadMethod();
    loadDuplicateNamePolicy();
    loadProxy();
    loadPromptSavePath();
    loadRetries();
    loadFileNameTemplate();
    loadSkipHeld();
}

void SharedOptions::storeDownloadMethod(::DownloadMethod method)
{
    DownloadMethod = method;
    WriteSetting(SectionSettings, settingkeys::DownloadMethod, QString::number(methodNumber(method)));
}

void SharedOptions::storeDuplicateNamePolicy(DuplicatePolicy policy)
{
    DuplicateNamePolicy = policy;
    WriteSetting(SectionDownload, DuplicateName, policyCaption(policy));
}

void SharedOptions::storeProxy(bool enabled, const QString &address, const QString &port)
{
    ProxyEnabled = enabled;
    ProxyAddress = address;
    ProxyPort = port;
    WriteSetting(SectionSettings, settingkeys::ProxyEnabled,
                 enabled ? QStringLiteral("1") : QStringLiteral("0"));
    WriteSetting(SectionSettings, settingkeys::ProxyAddress, address);
    WriteSetting(SectionSettings, settingkeys::ProxyPort, port);
}

void SharedOptions::storePromptSavePath(bool prompt)
{
    PromptSavePathOnExtract = prompt;
    WriteSetting(SectionSettings, PromptSavePath, prompt ? QStringLiteral("1") : QStringLiteral("0"));
}

void SharedOptions::storeSaveFolder(const QString &folder)
{
    DefaultSaveFolder = folder;
    WriteSetting(SectionSettings, SaveFolder, folder);
}

void SharedOptions::storeRetries(int retries)
{
    Retries = std::clamp(retries, MinRetries, MaxRetries);
    WriteSetting(SectionDownload, settingkeys::Retries, QString::number(Retries));
}

void SharedOptions::storeFileNameTemplate(const QString &nameTemplate)
{
    WriteSetting(SectionSettings, settingkeys::FileNameTemplate, nameTemplate);
    FileNameTemplate = nameTemplate.trimmed().isEmpty() ? DefaultFileNameTemplate : nameTemplate;
}

void SharedOptions::storeSkipHeld(bool skip)
{
    SkipHeld = skip;
    WriteSetting(SectionDownload, settingkeys::SkipHeld, skip ? QStringLiteral("1") : QStringLiteral("0"));
}

quint16 SharedOptions::proxyPortNumber() const
{
    bool ok = false;
    const int port = TrimSpaces(ProxyPort).toInt(&ok);
    return ok && port > 0 && port < 65536 ? static_cast<quint16>(port) : quint16(80);
}
