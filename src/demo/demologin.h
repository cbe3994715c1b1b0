#pragma once

#include "demo/demohttp.h"

#include <QSet>
#include <QString>

// The demo site's account and the sessions its login opens. "/login" is a form with "username" and
// "password" (GET or POST); a login with the account's values sets the session cookie.
class DemoLogin
{
public:
    // Paper files are served only to a client that has logged in.
    void setRequireLogin(bool require) { m_requireLogin = require; }
    bool requireLogin() const { return m_requireLogin; }
    void setAccount(const QString &account) { m_account = account; }
    QString account() const { return m_account; }
    void setPassword(const QString &password) { m_password = password; }
    QString password() const { return m_password; }
    static QString sessionCookieName();
    // Forgets every login, as when the site's sessions lapse.
    void clearSessions() { m_sessions.clear(); }

    // The answer to "/login": the form, or the result of the login its fields ask for.
    DemoResponse answer(const DemoRequest &request);
    // The site requires a login and the request carries no session that one opened.
    bool refuses(const DemoRequest &request) const;

private:
    bool m_requireLogin = false;
    QString m_account = QStringLiteral("demo");
    QString m_password = QStringLiteral("demo");
    QSet<QByteArray> m_sessions;
};
