#pragma once

#include <QByteArray>
#include <QUrl>

struct SiteRules;

// Whether a web page that came where a paper was expected is a login page: it holds a password field
// (`<input type="password">`, in any letter case and with any quoting), or it is the login page the
// site's rules name. Such a page asks the user to log in, not to pass a check.
bool LooksLikeLoginPage(const QByteArray &page, const QUrl &address, const SiteRules &rules);

// Whether such a page may be a wall the site puts up before its papers: a login page, a page that holds
// a form (a check to pass, a login to give), or one that the site's rules mark as no paper. A page that
// asks nothing of the user (a note that the full text is not there, an error page) is none.
bool LooksLikeAWallPage(const QByteArray &page, const QUrl &address, const SiteRules &rules);
