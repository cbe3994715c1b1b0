#include "core/transfer/transfernetwork.h"

#include "core/settings/settingsstore.h"

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>

// The proxy a transfer goes out through: the one the options name, else the application's. A direct
// connection is answered as the application's default rather than as "no proxy": both reach the server
// directly, but Qt reads an answer's header from a socket without a buffer, a byte per system call,
// when it is told "no proxy", and the header of every small paper then costs some hundred calls.
class TransferProxies : public QNetworkProxyFactory
{
public:
    void setExplicit(const QNetworkProxy &proxy) { m_explicit = proxy; }

    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        if (m_explicit.type() != QNetworkProxy::DefaultProxy)
            return {m_explicit};
        QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(query);
        if (proxies.isEmpty())
            proxies.append(QNetworkProxy(QNetworkProxy::NoProxy));
        for (QNetworkProxy &proxy : proxies) {
            // The socket asks the application again, and its answer for the host is direct.
            if (proxy.type() == QNetworkProxy::NoProxy)
                proxy = QNetworkProxy(QNetworkProxy::DefaultProxy);
        }
        return proxies;
    }

private:
    QNetworkProxy m_explicit{QNetworkProxy::DefaultProxy};
};

TransferNetwork::TransferNetwork(SchedulerOptions &options, QObject *owner)
    : m_options(options), m_cookieJar(new QNetworkCookieJar(owner)),
      m_singleManager(new QNetworkAccessManager(owner)), m_slotManagers{new QNetworkAccessManager(owner),
                                                                        new QNetworkAccessManager(owner)},
      m_singleProxies(new TransferProxies)
{
    // Both methods send the cookies of one jar.
    for (QNetworkAccessManager *manager : {m_singleManager, m_slotManagers[0], m_slotManagers[1]}) {
        manager->setCookieJar(m_cookieJar);
        m_cookieJar->setParent(owner);
    }
    // The managers own their factories.
    m_singleManager->setProxyFactory(m_singleProxies);
    for (QNetworkAccessManager *manager : m_slotManagers)
        manager->setProxyFactory(new TransferProxies);
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
        m_singleProxies->setExplicit(QNetworkProxy(QNetworkProxy::HttpProxy, proxy.host, proxy.port));
    else
        m_singleProxies->setExplicit(QNetworkProxy(QNetworkProxy::DefaultProxy));
}

TransferOptions TransferNetwork::transferOptions(bool single) const
{
    TransferOptions options;
    options.singleConnection = single;
    options.replaceExisting = m_options.policy == DuplicatePolicy::Overwrite;
    options.headerTimeoutMs = m_options.headerTimeoutMs;
    options.stallWindowMs = m_options.stallWindowMs;
    options.stallMinBytes = m_options.stallMinBytes;
    options.siteRules = m_options.siteRules;
    options.pdfChecker = m_options.pdfChecker;
    return options;
}
