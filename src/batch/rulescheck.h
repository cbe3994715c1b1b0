#pragma once

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>
#include <memory>

class QWebEngineProfile;
class SiteRulesCatalog;
class SilentWebPage;
class WebEngineResultPage;
struct PageCheck;

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

    // A saved copy of the page to read instead, as if it stood at the page's address. Nothing goes out
    // to the network for it and none of its scripts runs.
    void setSavedPage(const QString &path) { m_savedPage = path; }
    // Every paper in full instead of the first five; JSON instead of lines of text (every paper).
    void setOutput(bool all, bool json)
    {
        m_all = all;
        m_json = json;
    }

    void start();

Q_SIGNALS:
    void finished(int status);

private:
    // Lets no request of the saved page out.
    class Offline : public QWebEngineUrlRequestInterceptor
    {
    public:
        void interceptRequest(QWebEngineUrlRequestInfo &info) override;
    };

    void loadSavedPage(const QString &html, const QString &error);
    void onLoaded(bool ok);
    void readAndTell();
    void tell(const PageCheck &check);
    void end(int status);

    QUrl m_address;
    QWebEngineProfile *m_profile;
    SilentWebPage *m_page;
    std::unique_ptr<WebEngineResultPage> m_reader;
    QTimer m_loadLimit;
    QString m_savedPage;
    QString m_savedHtml;
    Offline m_offline;
    bool m_all = false;
    bool m_json = false;
    bool m_ended = false;
};
