#pragma once

#include <QString>
#include <QUrl>

// An address the user typed for the search window's browser, as it will be opened: "example.org/x"
// reads as http, and only web addresses (http, https) and saved pages (file) are opened; a
// "javascript:" or "data:" address, or text that is no address at all, is refused with its reason.
struct GivenAddress
{
    enum class Refusal { None, Empty, NotAnAddress, Scheme };
    Refusal refusal = Refusal::None;
    QUrl url;       // what is opened, when nothing is refused
    QString scheme; // Scheme: the refused scheme ("javascript")
};

GivenAddress CheckGivenAddress(const QString &typed);
