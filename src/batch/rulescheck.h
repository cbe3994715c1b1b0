#pragma once

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <memory>

class QWebEngineProfile;
class SiteRulesCatalog;
class SilentWebPage;
class WebEngineResultPage;

// Loads one page, reads it by the rules the catalog picks and prints what they find on standard output.
// Ends with 0 when the page lists at least one paper, 3 when it lists none or does not load.
class RulesCheck : public QObject
{
    Q_OBJECT

public:
    static constexpr int NoPaper = 3;
    static constexpr int LoadLimitMs = 30000;

    RulesCheck(const QUrl &page, QWebEngineProfile *profile, const SiteRulesCatalog *rules,
               QObject *parent = nullptr);
    ~RulesCheck() override;

    void start();

Q_SIGNALS:
    void finished(int status);

private:
    void onLoaded(bool ok);
    void end(int status);

    QUrl m_address;
    SilentWebPage *m_page;
    std::unique_ptr<WebEngineResultPage> m_reader;
    QTimer m_loadLimit;
    bool m_ended = false;
};
