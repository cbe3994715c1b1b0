#include "ui/nothingtakentext.h"

#include "core/search/resultpage.h"
#include "core/sites/siterules.h"

namespace {
QString reasonText(const PageSnapshot &page, const PageYield &yield, bool walk)
{
    using Nothing = PageYield::Nothing;
    const QString noNext = walk ? QStringLiteral("，也没有下一页") : QString();
    switch (yield.nothing) {
    case Nothing::Unreadable:
        return QStringLiteral("无法读取当前网页，没有加入论文。");
    case Nothing::RefusedSelector:
        return rejectedSelectorsText(pageRules(page).file, page.rejected);
    case Nothing::NoPapers:
        return QStringLiteral("站点规则“%1”在本页没有找到论文%2，没有加入论文。")
            .arg(pageRules(page).name, noNext);
    case Nothing::AllListed:
        return QStringLiteral("本页的 %1 篇论文都已在列表中%2，没有新加入的论文。")
            .arg(yield.papers)
            .arg(noNext);
    case Nothing::None:
        break;
    }
    return {};
}
} // namespace

NothingTakenMessage nothingTakenMessage(const PageSnapshot &page, const PageYield &yield,
                                        const QList<SiteRulesError> &refused, bool walk)
{
    using Nothing = PageYield::Nothing;
    NothingTakenMessage message{MessageIcon::Information, reasonText(page, yield, walk)};
    if (yield.nothing == Nothing::Unreadable || yield.nothing == Nothing::RefusedSelector)
        message.icon = MessageIcon::Critical;
    // A rules file that could not be read may be the one meant for this page.
    if (yield.nothing == Nothing::NoPapers && !refused.isEmpty()) {
        message.icon = MessageIcon::Critical;
        message.text += QStringLiteral("\n未采用的规则文件：");
        for (const SiteRulesError &error : refused)
            message.text += u'\n' + error.message();
    }
    return message;
}

QString rejectedSelectorsText(const QString &file, const QStringList &fields)
{
    return QStringLiteral("站点规则文件 %1 中有浏览器不接受的选择器，本页没有加入论文：\n%2")
        .arg(SiteRulesFileLabel(file), fields.join(u'\n'));
}
