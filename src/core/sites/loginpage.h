#pragma once

#include <QByteArray>
#include <QUrl>

struct SiteRules;

// Whether a web page that came where a paper was expected is a login page: it holds a password field
// (`<input type="password">`, in any letter case and with any quoting), or it is the login page the
// site's rules name. Such a page asks the user to log in, not to pass a check.
bool LooksLikeLoginPage(const QByteArray &page, const QUrl &address, const SiteRules &rules);
