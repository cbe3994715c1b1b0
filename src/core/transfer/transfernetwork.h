#pragma once

#include "core/transfer/downloader.h"
#include "core/transfer/scheduleroptions.h"

class QNetworkAccessManager;
class QNetworkCookieJar;
class QObject;
class TransferProxies;

// What the transfers go out through: one cookie jar for both methods (the login panel fills it), the
// single connection's manager with its proxy, and the manager the parallel slots share.
class TransferNetwork
{
public:
    // The jar and the managers are children of the owner, so they outlive every transfer it holds.
    TransferNetwork(SchedulerOptions &options, QObject *owner);

    QNetworkCookieJar *cookieJar() const { return m_cookieJar; }
    QNetworkAccessManager *manager(bool single) const { return single ? m_singleManager : m_slotManager; }

    // The proxy as the store keeps it, into the options.
    void loadProxy();
    // The options' proxy on the single connection (the parallel slots go direct).
    void applyProxy();

    // What a transfer of the method goes out with: the options' duplicate rule and limits.
    TransferOptions transferOptions(bool single) const;

private:
    SchedulerOptions &m_options;
    QNetworkCookieJar *m_cookieJar;
    QNetworkAccessManager *m_singleManager;
    QNetworkAccessManager *m_slotManager; // shared by the parallel slots
    TransferProxies *m_singleProxies;     // owned by the single connection's manager
};
