#include "batch/rulescheck.h"

#include "batch/batchrun.h"
#include "browser/browserprofile.h"
#include "browser/webengineresultpage.h"
#include "core/search/pagecheck.h"
#include "core/search/resultpage.h"
#include "core/sites/siterules.h"

#include <cstdio>

RulesCheck::RulesCheck(const QUrl &page, QWebEngineProfile *profile, const SiteRulesCatalog *rules,
                       QObject *parent)
    : QObject(parent), m_address(page), m_page(new SilentWebPage(profile, this)),
      m_reader(std::make_unique<WebEngineResultPage>(m_page, rules))
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
}

void RulesCheck::start()
{
    m_loadLimit.start();
    m_page->load(m_address);
}

void RulesCheck::onLoaded(bool ok)
{
    if (m_ended || !m_loadLimit.isActive())
        return;
    m_loadLimit.stop();
    if (!ok)
        batchMessage(QStringLiteral("the page %1 did not load completely; reading what there is")
                         .arg(m_address.toString()));
    const QString source = rulesSourceText(m_reader->rules());
    m_reader->readPage(this, [this, source](const PageSnapshot &page) {
        const PageCheck check = CheckResultPage(page);
        const QString text = source + pageCheckText(check);
        std::fputs(text.toUtf8().constData(), stdout);
        std::fflush(stdout);
        end(check.paperCount > 0 ? 0 : NoPaper);
    });
}

void RulesCheck::end(int status)
{
    if (m_ended)
        return;
    m_ended = true;
    m_page->triggerAction(QWebEnginePage::Stop);
    Q_EMIT finished(status);
}
