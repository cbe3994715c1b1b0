#include "demo/demologin.h"

#include "demo/demopages.h"

QString DemoLogin::sessionCookieName()
{
    return QStringLiteral("FNDEMO_SESSION");
}

DemoResponse DemoLogin::answer(const DemoRequest &request)
{
    const QByteArray form = request.form();
    const std::optional<QString> account = demoFormValue(form, "username");
    const std::optional<QString> password = demoFormValue(form, "password");
    if (!account && !password)
        return DemoResponse::html(200, DemoPages::login());
    if (account.value_or(QString()) != m_account || password.value_or(QString()) != m_password)
        return DemoResponse::html(200, DemoPages::login(QStringLiteral("帐号或密码错误，请重新输入。")));
    DemoResponse response = DemoResponse::html(200, DemoPages::loggedIn(m_account));
    m_sessions.insert(demoSetSessionCookie(response, sessionCookieName()));
    return response;
}

bool DemoLogin::refuses(const DemoRequest &request) const
{
    if (!m_requireLogin)
        return false;
    const QByteArray token = request.cookie(sessionCookieName().toLatin1());
    return token.isEmpty() || !m_sessions.contains(token);
}
