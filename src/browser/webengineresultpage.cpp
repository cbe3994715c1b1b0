#include "browser/webengineresultpage.h"

#include "core/search/resultpage.h"
#include "core/sites/siterules.h"

#include <QTimer>
#include <QWebEnginePage>
#include <memory>

const SiteRules &WebEngineResultPage::rules() const
{
    return catalog().pick(m_page ? m_page->url() : QUrl());
}

void WebEngineResultPage::readPage(QObject *context, std::function<void(const PageSnapshot &)> done)
{
    QPointer<QObject> guard(context);
    if (!m_page) {
        QTimer::singleShot(0, context, [done] { done(PageSnapshot{}); });
        return;
    }
    auto used = std::make_shared<const SiteRules>(rules());
    m_page->runJavaScript(pageRulesScript(*used), m_world, [guard, done, used](const QVariant &result) {
        if (!guard)
            return;
        done(snapshotFromScriptResult(result, used));
    });
}

void WebEngineResultPage::clickAnchor(int anchorIndex)
{
    if (m_page)
        m_page->runJavaScript(clickAnchorScript(anchorIndex), m_world);
}

bool WebEngineResultPage::isBusy() const
{
    return m_page && m_page->isLoading();
}
