#include "browser/webengineresultpage.h"

#include "core/search/resultpage.h"

#include <QTimer>
#include <QWebEnginePage>

void WebEngineResultPage::readPage(QObject *context, std::function<void(const PageSnapshot &)> done)
{
    QPointer<QObject> guard(context);
    if (!m_page) {
        QTimer::singleShot(0, context, [done] { done(PageSnapshot{}); });
        return;
    }
    m_page->runJavaScript(pageSnapshotScript(), [guard, done](const QVariant &result) {
        if (guard)
            done(snapshotFromScriptResult(result));
    });
}

void WebEngineResultPage::clickAnchor(int anchorIndex)
{
    if (m_page)
        m_page->runJavaScript(clickAnchorScript(anchorIndex));
}

bool WebEngineResultPage::isBusy() const
{
    return m_page && m_page->isLoading();
}
