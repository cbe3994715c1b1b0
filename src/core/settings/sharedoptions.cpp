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

void OptionStore::loadDownloadMethod()
{
    int number = 0;
    if (ReadSettingNumber(settingkeys::DownloadMethod, &number))
        m_options.DownloadMethod = methodFromNumber(number);
}

void OptionStore::loadDuplicateNamePolicy()
{
    m_options.DuplicateNamePolicy = policyFromText(TrimSpaces(ReadSetting(DuplicateName)));
}

void OptionStore::loadProxy()
{
    SharedOptions &o = m_options;
    o.ProxyAddress = ReadSetting(settingkeys::ProxyAddress);
    o.ProxyPort = ReadSetting(settingkeys::ProxyPort);
    int enabled = 0;
    if (ReadSettingNumber(settingkeys::ProxyEnabled, &enabled))
        o.ProxyEnabled = enabled == 1;
}

void OptionStore::loadPromptSavePath()
{
    int prompt = 0;
    if (ReadSettingNumber(PromptSavePath, &prompt))
        m_options.PromptSavePathOnExtract = prompt == 1;
}

void OptionStore::loadRetries()
{
    int retries = 0;
    if (ReadSettingNumber(settingkeys::Retries, &retries))
        m_options.Retries = std::clamp(retries, SharedOptions::MinRetries, SharedOptions::MaxRetries);
}

void OptionStore::loadFileNameTemplate()
{
    m_options.FileNameTemplate = ReadFileNameTemplate();
}

void OptionStore::loadSkipHeld()
{
    m_options.SkipHeld = ReadSkipHeld();
}

void OptionStore::loadSaveFolder()
{
    const QString stored = ReadSetting(SaveFolder);
    if (!stored.trimmed().isEmpty())
        m_options.DefaultSaveFolder = stored;
}

void OptionStore::loadFromStore()
{
    loadDownloadMethod();
    loadDuplicateNamePolicy();
    loadProxy();
    loadPromptSavePath();
    loadRetries();
    loadFileNameTemplate();
    loadSkipHeld();
}

void OptionStore::storeDownloadMethod(::DownloadMethod method)
{
    m_options.DownloadMethod = method;
    WriteSetting(settingkeys::DownloadMethod, QString::number(methodNumber(method)));
}

void OptionStore::storeDuplicateNamePolicy(DuplicatePolicy policy)
{
    m_options.DuplicateNamePolicy = policy;
    WriteSetting(DuplicateName, policyCaption(policy));
}

void OptionStore::storeProxy(bool enabled, const QString &address, const QString &port)
{
    SharedOptions &o = m_options;
    o.ProxyEnabled = enabled;
    o.ProxyAddress = address;
    o.ProxyPort = port;
    WriteSetting(settingkeys::ProxyEnabled, flagText(enabled));
    WriteSetting(settingkeys::ProxyAddress, address);
    WriteSetting(settingkeys::ProxyPort, port);
}

void OptionStore::storePromptSavePath(bool prompt)
{
    m_options.PromptSavePathOnExtract = prompt;
    WriteSetting(PromptSavePath, flagText(prompt));
}

void OptionStore::storeSaveFolder(const QString &folder)
{
    m_options.DefaultSaveFolder = folder;
    WriteSetting(SaveFolder, folder);
}

void OptionStore::storeRetries(int retries)
{
    m_options.Retries = std::clamp(retries, SharedOptions::MinRetries, SharedOptions::MaxRetries);
    WriteSetting(settingkeys::Retries, QString::number(m_options.Retries));
}

void OptionStore::storeFileNameTemplate(const QString &nameTemplate)
{
    WriteSetting(settingkeys::FileNameTemplate, nameTemplate);
    m_options.FileNameTemplate =
        nameTemplate.trimmed().isEmpty() ? settingdefaults::FileNameTemplate : nameTemplate;
}

void OptionStore::storeSkipHeld(bool skip)
{
    m_options.SkipHeld = skip;
    WriteSetting(settingkeys::SkipHeld, flagText(skip));
}

void OptionStore::setMethodInForce(::DownloadMethod method)
{
    m_options.DownloadMethod = method;
}

void OptionStore::setUseOriginalFileName(bool fromLinks)
{
    m_options.UseOriginalFileName = fromLinks;
}

quint16 SharedOptions::proxyPortNumber() const
{
    return proxyPortFromText(ProxyPort);
}

quint16 proxyPortFromText(const QString &text)
{
    return isProxyPort(text) ? static_cast<quint16>(TrimSpaces(text).toInt()) : quint16(80);
}

bool isProxyPort(const QString &text)
{
    bool ok = false;
    const int port = TrimSpaces(text).toInt(&ok);
    return ok && port > 0 && port < 65536;
}
