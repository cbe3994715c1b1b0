#pragma once

#include "core/transfer/downloader.h"
#include "core/transfer/scheduleroptions.h"

#include <array>

class QNetworkAccessManager;
class QNetworkCookieJar;
class QObject;
class TransferProxies;

// What the transfers go out through: one cookie jar for both methods (the login panel fills it), the
// single connection's manager with its proxy, and the two managers the parallel slots share. Each
// manager reads and writes its connections on a thread of its own: two of them keep two processors busy
// with six small papers at a time, where one thread would be the limit.
class TransferNetwork
{
public:
    // The jar and the managers are children of the owner, so they outlive every transfer it holds.
    TransferNetwork(SchedulerOptions &options, QObject *owner);

    QNetworkCookieJar *cookieJar() const { return m_cookieJar; }
    // The single connection's manager, or the one of parallel slot k (1 to 6).
    QNetworkAccessManager *manager(bool single, int slot = 1) const
    {
        return single ? m_singleManager : m_slotManagers[static_cast<size_t>(slot % 2)];
    }

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
    std::array<QNetworkAccessManager *, 2> m_slotManagers; // shared by the parallel slots
    TransferProxies *m_singleProxies;                      // owned by the single connection's manager
};
