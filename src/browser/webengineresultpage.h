#pragma once

#include "core/search/addallwalk.h"

#include <QPointer>

class QWebEnginePage;

// The add-all walk's view of a QWebEnginePage: the document is read by a script that returns plain data.
class WebEngineResultPage : public ResultPageBrowser
{
public:
    explicit WebEngineResultPage(QWebEnginePage *page) : m_page(page) {}

    void readPage(QObject *context, std::function<void(const PageSnapshot &)> done) override;
    void clickAnchor(int anchorIndex) override;
    bool isBusy() const override;

private:
    QPointer<QWebEnginePage> m_page;
};
