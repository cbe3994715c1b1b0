#pragma once

#include "core/search/addallwalk.h"

#include <QPointer>

class QWebEnginePage;
class SiteRulesCatalog;
struct SiteRules;

// The add-all walk's view of a QWebEnginePage: the document is read by a script that returns plain data,
// following the rules that the catalog picks for the page's address.
class WebEngineResultPage : public ResultPageBrowser
{
public:
    // The catalog is the caller's and outlives the reader.
    WebEngineResultPage(QWebEnginePage *page, const SiteRulesCatalog &catalog)
        : m_page(page), m_catalog(catalog)
    {
    }

    void readPage(QObject *context, std::function<void(const PageSnapshot &)> done) override;
    void clickAnchor(int anchorIndex) override;
    bool isBusy() const override;

    // The rules for the page on show.
    const SiteRules &rules() const;
    const SiteRulesCatalog &catalog() const { return m_catalog; }

    // The script world the page is read in: the page's own (the default), or one of the program's for
    // a page whose own scripts are off.
    void setScriptWorld(quint32 world) { m_world = world; }

private:
    QPointer<QWebEnginePage> m_page;
    const SiteRulesCatalog &m_catalog;
    quint32 m_world = 0; // QWebEngineScript::MainWorld
};
