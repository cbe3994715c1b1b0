#include "core/transfer/transfernetwork.h"

#include "core/settings/settingsstore.h"

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>

TransferNetwork::TransferNetwork(SchedulerOptions &options, QObject *owner)
    : m_options(options), m_cookieJar(new QNetworkCookieJar(owner)),
      m_singleManager(new QNetworkAccessManager(owner)), m_slotManager(new QNetworkAccessManager(owner))
{
    // Both methods send the cookies of one jar.
    for (QNetworkAccessManager *manager : {m_singleManager, m_slotManager}) {
        manager->setCookieJar(m_cookieJar);
        m_cookieJar->setParent(owner);
    }
}

void TransferNetwork::loadProxy()
{
    ProxySetting &proxy = m_options.proxy;
    proxy.host = ReadSetting(settingkeys::ProxyAddress);
    proxy.port = proxyPortFromText(ReadSetting(settingkeys::ProxyPort));
    int enabled = 0;
    if (ReadSettingNumber(settingkeys::ProxyEnabled, &enabled))
        proxy.enabled = enabled == 1;
}

void TransferNetwork::applyProxy()
{
    const ProxySetting &proxy = m_options.proxy;
    if (proxy.enabled)
        m_singleManager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, proxy.host, proxy.port));
    else
        m_singleManager->setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
}

TransferOptions TransferNetwork::transferOptions(bool single) const
{
    TransferOptions options;
    options.singleConnection = single;
    options.replaceExisting = m_options.policy == DuplicatePolicy::Overwrite;
    options.headerTimeoutMs = m_options.headerTimeoutMs;
    options.stallWindowMs = m_options.stallWindowMs;
    options.stallMinBytes = m_options.stallMinBytes;
    return options;
}
