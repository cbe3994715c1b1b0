#include "batch/webbatchpage.h"

#include "batch/batchoptions.h"
#include "batch/batchrun.h"
#include "batch/rulescheck.h"
#include "browser/browserprofile.h"
#include "browser/cookiemirror.h"
#include "browser/webengineresultpage.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <unistd.h>

namespace {

// "connection refused (net::ERR_CONNECTION_REFUSED)" from the browser's error name.
QString loadErrorText(const QWebEngineLoadingInfo &info)
{
    const QString name = info.errorString();
    if (name.isEmpty())
        return QStringLiteral("loading was stopped");
    const QString prefix = QStringLiteral("net::ERR_");
    if (!name.startsWith(prefix))
        return name;
    QString words = name.mid(prefix.size()).toLower();
    words.replace(u'_', u' ');
    return QStringLiteral("%1 (%2)").arg(words, name);
}

// Why a page's loading failed; empty when it loaded.
QString loadFailure(const QWebEngineLoadingInfo &info)
{
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain && info.errorCode() >= 400)
        return QStringLiteral("the server answered HTTP %1").arg(info.errorCode());
    if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus)
        return loadErrorText(info);
    return QString();
}

// No window is ever shown: the browser draws off screen (also where a display is set, since a
// forwarded display that has gone away must not break an unattended run).
void prepareHeadlessBrowser()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    // Chromium's sandbox cannot start as root.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        batchMessage(QStringLiteral("running as root, so the embedded browser runs without its sandbox"));
    }
}

std::unique_ptr<QCoreApplication> makeBrowserApplication(int &argc, char **argv)
{
    prepareHeadlessBrowser();
    // The browser's report of its graphics set-up means nothing to a run without a screen.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return std::make_unique<QGuiApplication>(argc, argv);
}

int checkRulesPage(const BatchOptions &options, const SiteRulesCatalog &rules)
{
    QWebEngineProfile checkProfile;
    RulesCheck check(options.checkRulesPage, &checkProfile, &rules);
    if (!options.checkSavedPage.isEmpty())
        check.setSavedPage(options.checkSavedPage);
    check.setOutput(options.checkAll, options.checkJson);
    QObject::connect(&check, &RulesCheck::finished, QCoreApplication::instance(),
                     [](int status) { QCoreApplication::exit(status); });
    QMetaObject::invokeMethod(&check, &RulesCheck::start, Qt::QueuedConnection);
    return QCoreApplication::exec();
}

} // namespace

WebBatchPage::WebBatchPage(const SiteRulesCatalog *rules, QObject *parent)
    : BatchPage(parent), m_profile(new QWebEngineProfile(this)), m_page(new SilentWebPage(m_profile, this)),
      m_reader(std::make_unique<WebEngineResultPage>(m_page, *rules))
{
    connect(m_page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus)
            Q_EMIT loadEnded(loadFailure(info));
    });
    connect(m_page, &QWebEnginePage::loadFinished, this, &BatchPage::documentComplete);
}

WebBatchPage::~WebBatchPage()
{
    // The page goes before its profile.
    m_reader.reset();
    delete m_page;
}

ResultPageBrowser *WebBatchPage::reader()
{
    return m_reader.get();
}

void WebBatchPage::load(const QUrl &address)
{
    m_page->load(address);
}

void WebBatchPage::stop()
{
    m_page->triggerAction(QWebEnginePage::Stop);
}

void WebBatchPage::shareCookies(DownloadSession *session)
{
    mirrorBrowserCookies(session, m_profile);
}

const BatchBrowser &webBatchBrowser()
{
    static const BatchBrowser browser{
        makeBrowserApplication,
        checkRulesPage,
        [](const SiteRulesCatalog *rules) -> BatchPage * { return new WebBatchPage(rules); },
    };
    return browser;
}
