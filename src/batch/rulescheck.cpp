#include "batch/rulescheck.h"

#include "batch/batchrun.h"
#include "browser/browserprofile.h"
#include "browser/webengineresultpage.h"
#include "core/common/receiverpost.h"
#include "core/search/pagecheck.h"
#include "core/search/resultpage.h"
#include "core/search/savedpage.h"
#include "core/sites/siterules.h"

#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <cstdio>

void RulesCheck::Offline::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QString scheme = info.requestUrl().scheme();
    if (scheme != u"data" && scheme != u"about")
        info.block(true);
}

RulesCheck::RulesCheck(const QUrl &page, QWebEngineProfile *profile, const SiteRulesCatalog *rules,
                       QObject *parent)
    : QObject(parent), m_address(page), m_profile(profile), m_page(new SilentWebPage(profile, this)),
      m_reader(std::make_unique<WebEngineResultPage>(m_page, *rules))
{
    m_loadLimit.setSingleShot(true);
    m_loadLimit.setInterval(LoadLimitMs);
    connect(&m_loadLimit, &QTimer::timeout, this, [this] {
        batchMessage(QStringLiteral("the page %1 did not load within %2 seconds")
                         .arg(m_address.toString())
                         .arg(LoadLimitMs / 1000));
        end(NoPaper);
    });
    connect(m_page, &QWebEnginePage::loadFinished, this, &RulesCheck::onLoaded);
}

RulesCheck::~RulesCheck()
{
    m_reader.reset();
    if (!m_savedPage.isEmpty())
        m_profile->setUrlRequestInterceptor(nullptr);
}

void RulesCheck::start()
{
    m_loadLimit.start();
    if (m_savedPage.isEmpty()) {
        m_page->load(m_address);
        return;
    }
    diskwork::workThenPost(
        this, [path = m_savedPage] { return ReadSavedPage(path); },
        [this](const SavedPage &saved) { loadSavedPage(saved.html, saved.error); });
}

void RulesCheck::loadSavedPage(const QString &html, const QString &error)
{
    if (!error.isEmpty()) {
        batchMessage(error);
        return end(1);
    }
    // The copy stands in an empty page at the address it was saved from: links resolve against it and
    // the rules picked for it apply, while its own scripts stay off and nothing is fetched.
    m_savedHtml = html;
    m_profile->setUrlRequestInterceptor(&m_offline);
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    m_page->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, false);
    // The page's icon is fetched past the request interceptor.
    m_page->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    m_reader->setScriptWorld(QWebEngineScript::ApplicationWorld);
    m_page->setHtml(QStringLiteral("<!DOCTYPE html><html><head></head><body></body></html>"), m_address);
}

void RulesCheck::onLoaded(bool ok)
{
    if (m_ended || !m_loadLimit.isActive())
        return;
    m_loadLimit.stop();
    if (m_savedPage.isEmpty()) {
        if (!ok)
            batchMessage(QStringLiteral("the page %1 did not load completely; reading what there is")
                             .arg(m_address.toString()));
        return readAndTell();
    }
    m_page->runJavaScript(replaceDocumentScript(m_savedHtml), QWebEngineScript::ApplicationWorld,
                          [this](const QVariant &) { readAndTell(); });
    m_savedHtml.clear();
}

void RulesCheck::readAndTell()
{
    m_reader->readPage(this, [this](const PageSnapshot &page) {
        const PageCheck check = CheckResultPage(page, m_all || m_json ? -1 : PageCheck::FirstShown);
        tell(check);
        end(check.paperCount > 0 ? 0 : NoPaper);
    });
}

void RulesCheck::tell(const PageCheck &check)
{
    if (m_json) {
        const QByteArray json = pageCheckJson(check);
        std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout);
    } else {
        const QString text = rulesSourceText(m_reader->rules()) + pageCheckText(check);
        std::fputs(text.toUtf8().constData(), stdout);
    }
    std::fflush(stdout);
}

void RulesCheck::end(int status)
{
    if (m_ended)
        return;
    m_ended = true;
    m_loadLimit.stop();
    m_page->triggerAction(QWebEnginePage::Stop);
    Q_EMIT finished(status);
}
