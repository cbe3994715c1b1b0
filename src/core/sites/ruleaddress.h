#pragma once

#include <QRegularExpression>
#include <QString>

// Which addresses the rules may make: a paper's file is fetched over http(s) only.
namespace ruleaddress {

// An absolute http or https address with a host.
bool isHttpAddress(const QString &address);

// False for a replacement that names another scheme than http(s) at its start, and for one that
// leaves a relative reference where the pattern takes the start of the address. A ":" further on
// (a port, a user name, a bracketed IPv6 host, a query that quotes an address) names no scheme.
// Whatever a replacement makes is checked again for every address (SiteRules::fileAddress).
bool replacementLeavesHttp(const QRegularExpression &pattern, const QString &replacement);

} // namespace ruleaddress
