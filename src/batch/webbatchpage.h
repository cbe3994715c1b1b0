#pragma once

#include "batch/batchmode.h"
#include "batch/batchpage.h"

#include <memory>

class QWebEngineProfile;
class SilentWebPage;
class SiteRulesCatalog;
class WebEngineResultPage;

// A run's page in the browser engine, in a profile of its own that is off the record: the run leaves no
// cookies, cache or history behind.
class WebBatchPage : public BatchPage
{
    Q_OBJECT

public:
    explicit WebBatchPage(const SiteRulesCatalog *rules, QObject *parent = nullptr);
    ~WebBatchPage() override;

    ResultPageBrowser *reader() override;
    void load(const QUrl &address) override;
    void stop() override;
    void shareCookies(DownloadSession *session) override;

private:
    QWebEngineProfile *m_profile;
    SilentWebPage *m_page;
    std::unique_ptr<WebEngineResultPage> m_reader;
};

// The browser engine's part of the batch mode.
const BatchBrowser &webBatchBrowser();
