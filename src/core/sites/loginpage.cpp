#include "core/sites/loginpage.h"

#include "core/common/gbk.h"
#include "core/sites/siterules.h"

#include <QRegularExpression>

namespace {

bool holdsPasswordField(const QByteArray &page)
{
    // The page's markup is ASCII where it matters; Latin-1 keeps every byte, whatever the page's code page.
    static const QRegularExpression field(
        QStringLiteral(
            R"(<input\b[^>]*?\stype\s*=\s*(?:"\s*password\s*"|'\s*password\s*'|password(?=[\s/>])))"),
        QRegularExpression::CaseInsensitiveOption);
    return field.match(QString::fromLatin1(page)).hasMatch();
}

bool isRulesLoginPage(const QUrl &address, const SiteRules &rules)
{
    const QUrl login = rules.loginPageFor(address);
    if (login.isEmpty() || !address.isValid())
        return false;
    auto bare = [](const QUrl &url) {
        return url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo |
                            QUrl::StripTrailingSlash | QUrl::NormalizePathSegments);
    };
    const QUrl a = bare(address);
    const QUrl b = bare(login);
    return a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && a.port() == b.port() &&
           a.path() == b.path();
}

bool holdsForm(const QByteArray &page)
{
    static const QRegularExpression form(QStringLiteral(R"(<form[\s>/])"),
                                         QRegularExpression::CaseInsensitiveOption);
    return form.match(QString::fromLatin1(page)).hasMatch();
}

} // namespace

bool LooksLikeLoginPage(const QByteArray &page, const QUrl &address, const SiteRules &rules)
{
    return holdsPasswordField(page) || isRulesLoginPage(address, rules);
}

bool LooksLikeAWallPage(const QByteArray &page, const QUrl &address, const SiteRules &rules)
{
    // A site's own texts come in its own encoding: GBK or UTF-8.
    if (LooksLikeLoginPage(page, address, rules) || holdsForm(page))
        return true;
    return !rules.notPaperMarkers.isEmpty() &&
           (rules.marksNotPaper(gbk::decode(page)) || rules.marksNotPaper(QString::fromUtf8(page)));
}
