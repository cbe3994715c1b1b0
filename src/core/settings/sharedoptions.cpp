#include "core/settings/sharedoptions.h"

#include "core/common/filenames.h"
#include "core/settings/settingsstore.h"

#include <algorithm>

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

SharedOptions &sharedOptions()
{
    static SharedOptions options;
    return options;
}

void SharedOptions::loadDownloadMethod()
{
    int number = 0;
    if (ReadSettingNumber(settingkeys::DownloadMethod, &number))
        DownloadMethod = methodFromNumber(number);
}

void SharedOptions::loadDuplicateNamePolicy()
{
    DuplicateNamePolicy = policyFromText(TrimSpaces(ReadSetting(DuplicateName)));
}

void SharedOptions::loadProxy()
{
    ProxyAddress = ReadSetting(settingkeys::ProxyAddress);
    ProxyPort = ReadSetting(settingkeys::ProxyPort);
    int enabled = 0;
    if (ReadSettingNumber(settingkeys::ProxyEnabled, &enabled))
        ProxyEnabled = enabled == 1;
}

void SharedOptions::loadPromptSavePath()
{
    int prompt = 0;
    if (ReadSettingNumber(PromptSavePath, &prompt))
        PromptSavePathOnExtract = prompt == 1;
}

void SharedOptions::loadRetries()
{
    int retries = 0;
    if (ReadSettingNumber(settingkeys::Retries, &retries))
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
    WriteSetting(settingkeys::DownloadMethod, QString::number(methodNumber(method)));
}

void SharedOptions::storeDuplicateNamePolicy(DuplicatePolicy policy)
{
    DuplicateNamePolicy = policy;
    WriteSetting(DuplicateName, policyCaption(policy));
}

void SharedOptions::storeProxy(bool enabled, const QString &address, const QString &port)
{
    ProxyEnabled = enabled;
    ProxyAddress = address;
    ProxyPort = port;
    WriteSetting(settingkeys::ProxyEnabled, flagText(enabled));
    WriteSetting(settingkeys::ProxyAddress, address);
    WriteSetting(settingkeys::ProxyPort, port);
}

void SharedOptions::storePromptSavePath(bool prompt)
{
    PromptSavePathOnExtract = prompt;
    WriteSetting(PromptSavePath, flagText(prompt));
}

void SharedOptions::storeSaveFolder(const QString &folder)
{
    DefaultSaveFolder = folder;
    WriteSetting(SaveFolder, folder);
}

void SharedOptions::storeRetries(int retries)
{
    Retries = std::clamp(retries, MinRetries, MaxRetries);
    WriteSetting(settingkeys::Retries, QString::number(Retries));
}

void SharedOptions::storeFileNameTemplate(const QString &nameTemplate)
{
    WriteSetting(settingkeys::FileNameTemplate, nameTemplate);
    FileNameTemplate = nameTemplate.trimmed().isEmpty() ? settingdefaults::FileNameTemplate : nameTemplate;
}

void SharedOptions::storeSkipHeld(bool skip)
{
    SkipHeld = skip;
    WriteSetting(settingkeys::SkipHeld, flagText(skip));
}

quint16 SharedOptions::proxyPortNumber() const
{
    return proxyPortFromText(ProxyPort);
}

quint16 proxyPortFromText(const QString &text)
{
    bool ok = false;
    const int port = TrimSpaces(text).toInt(&ok);
    return ok && port > 0 && port < 65536 ? static_cast<quint16>(port) : quint16(80);
}
