#include "ui/loginpanel.h"

#include "browser/browserprofile.h"
#include "core/common/messenger.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QWebEngineLoadingInfo>
#include <QWebEngineView>
#include <utility>

namespace {

const QString kMissingLogin = QStringLiteral("必须先设置登录网址、登录帐号、登录密码！");
const QString kBlank = QStringLiteral("about:blank");

// 40 twips at 15 twips per pixel, rounded.
constexpr int kBrowserInset = 3;

const QString kListInputs =
    QStringLiteral("(function(){var r=[];var a=document.getElementsByTagName('INPUT');"
                   "for(var "
                   "i=0;i<a.length;i++){try{r.push([String(a[i].name||''),String(a[i].getAttribute('type')||"
                   "a[i].type||'')]);}"
                   "catch(e){r.push(['',''])}}return r;})()");

QString jsString(const QString &text)
{
    // A one-element JSON array is valid script; its element is the text, escaped.
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json) + QStringLiteral("[0]");
}

QString jsIndexes(const QList<int> &indexes)
{
    QStringList parts;
    for (int i : indexes)
        parts << QString::number(i);
    return u'[' + parts.join(u',') + u']';
}

} // namespace

LoginPanel::LoginPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PicWebBK"));
    setAutoFillBackground(true);
    buildControls();

    Timer2.setObjectName(QStringLiteral("Timer2"));
    Timer2.setInterval(60000);
    // A reload in the middle of a login would replace the page the login is waiting for; the login
    // itself loads the page anew, which keeps the session alive as well.
    connect(&Timer2, &QTimer::timeout, this, [this] {
        if (!waiting())
            WebBrowser1->reload();
    });

    for (LoadWait *wait : {&m_goWait, &m_submitWait}) {
        wait->timer.setSingleShot(true);
        connect(&wait->timer, &QTimer::timeout, this, [this, wait] { endLoadWait(*wait); });
    }
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, &LoginPanel::finishLogin);

    m_page = new SilentWebPage(programProfile(), WebBrowser1);
    WebBrowser1->setPage(m_page);
    // Pages may ask to close the window; the panel's browser stays (no handler for windowCloseRequested).
    connect(m_page, &QWebEnginePage::loadingChanged, this, &LoginPanel::onLoadingChanged);
    // The page on show may be a verification page, not the login address in 网址: its own address is shown.
    connect(m_page, &QWebEnginePage::urlChanged, this, [this](const QUrl &url) {
        TextPage->setText(url.toString() == kBlank ? QString() : url.toDisplayString());
        TextPage->setCursorPosition(0);
    });
    connect(m_page, &QWebEnginePage::titleChanged, this, [this](const QString &title) {
        if (title.trimmed().toLower() != kBlank)
            Q_EMIT titleShown(title);
    });
    m_page->load(QUrl(kBlank));
}

void LoginPanel::buildControls()
{
    m_fields = new QWidget(this);
    auto *grid = new QGridLayout(m_fields);
    grid->setContentsMargins(4, 3, 4, 3);
    grid->setVerticalSpacing(3);
    auto named = [](auto *widget, const char *name) {
        widget->setObjectName(QLatin1String(name));
        return widget;
    };
    Text1 = named(new QLineEdit(m_fields), "Text1");
    Text2 = named(new QLineEdit(m_fields), "Text2");
    Text3 = named(new QLineEdit(m_fields), "Text3");
    Text3->setEchoMode(QLineEdit::Password);
    Command2 = named(new QPushButton(QStringLiteral("浏览"), m_fields), "Command2");
    Command5 = named(new QPushButton(QStringLiteral("测试登录"), m_fields), "Command5");
    Check2 = named(new QCheckBox(QStringLiteral("自动登录"), m_fields), "Check2");
    Combo3 = named(new QComboBox(m_fields), "Combo3");
    Combo3->addItem(QStringLiteral("下载到网页文件(htm/html/asp)文件"));
    Combo3->setCurrentIndex(0);
    Check1 = named(new QCheckBox(QStringLiteral("自动刷新(每分钟)"), m_fields), "Check1");
    Command3 = named(new QPushButton(QStringLiteral("关闭(隐藏)"), m_fields), "Command3");
    TextPage = named(new QLineEdit(m_fields), "TextPage");
    TextPage->setReadOnly(true);

    layOutFields(grid);

    WebBrowser1 = new QWebEngineView(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->move(0, BrowserTop);

    connect(Command2, &QPushButton::clicked, this, &LoginPanel::go);
    connect(Command5, &QPushButton::clicked, this, [this] { PanelLogin(true); });
    connect(Command3, &QPushButton::clicked, this, &LoginPanel::closePanel);
    connect(Check2, &QCheckBox::toggled, this, &LoginPanel::onAutoLoginToggled);
    connect(Check1, &QCheckBox::toggled, this, &LoginPanel::onReloadToggled);
}

void LoginPanel::layOutFields(QGridLayout *grid)
{
    auto label = [this](const QString &text) { return new QLabel(text, m_fields); };
    grid->addWidget(label(QStringLiteral("网址：")), 0, 0);
    grid->addWidget(Text1, 0, 1, 1, 3);
    grid->addWidget(Command2, 0, 4);
    grid->addWidget(Command5, 0, 5);
    grid->addWidget(Command3, 0, 7);
    grid->addWidget(label(QStringLiteral("帐号：")), 1, 0);
    grid->addWidget(Text2, 1, 1);
    grid->addWidget(label(QStringLiteral("密码：")), 1, 2);
    grid->addWidget(Text3, 1, 3);
    grid->addWidget(Check2, 1, 4);
    grid->addWidget(label(QStringLiteral("自动登录条件：")), 1, 5);
    grid->addWidget(Combo3, 1, 6);
    grid->addWidget(Check1, 1, 7);
    grid->addWidget(label(QStringLiteral("当前页面：")), 2, 0);
    grid->addWidget(TextPage, 2, 1, 1, 7);
    grid->setColumnStretch(1, 2);
    grid->setColumnStretch(3, 2);
}

void LoginPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeBrowser();
}

void LoginPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_addressOffer && Text1->text().trimmed().isEmpty())
        Text1->setText(m_addressOffer());
}

void LoginPanel::placeBrowser()
{
    m_fields->setGeometry(0, 0, width(), BrowserTop);
    const int top = WebBrowser1->y();
    WebBrowser1->setGeometry(0, top, std::max(0, width() - kBrowserInset),
                             std::max(0, height() - top - kBrowserInset));
}

void LoginPanel::setWaitLimits(int loadWaitMs, int pauseMs)
{
    m_loadWaitMs = loadWaitMs;
    m_pauseMs = pauseMs;
}

bool LoginPanel::fieldsComplete() const
{
    return !Text1->text().trimmed().isEmpty() && !Text2->text().trimmed().isEmpty() &&
           !Text3->text().trimmed().isEmpty();
}

LoginPlan LoginPanel::planLogin(const QList<LoginInput> &inputs)
{
    static const QStringList accountNames{"userid", "user", "username", "useruid"};
    static const QStringList passwordNames{"pass", "password", "passwd"};
    LoginPlan plan;
    int filled = 0;
    for (int i = 0; i < inputs.size(); ++i) {
        const QString name = inputs.at(i).name.toLower();
        if (accountNames.contains(name)) {
            plan.accountFields << i;
            ++filled;
        }
        if (passwordNames.contains(name)) {
            plan.passwordFields << i;
            ++filled;
        }
        if (inputs.at(i).type.toLower() == u"submit" && filled >= 2) {
            plan.submitIndex = i;
            break;
        }
    }
    return plan;
}

void LoginPanel::go()
{
    startGo({});
}

void LoginPanel::startGo(std::function<void()> then)
{
    const QString address = Text1->text().trimmed();
    if (address.isEmpty()) {
        if (then)
            then();
        return;
    }
    Command2->setEnabled(false);
    m_navigating = true;
    const QUrl target = QUrl::fromUserInput(address);
    startLoadWait(m_goWait, target, [this, then = std::move(then)] {
        Command2->setEnabled(true);
        Q_EMIT goFinished();
        if (then)
            then();
    });
    m_page->load(target);
}

void LoginPanel::openAddress(const QString &address)
{
    if (waiting())
        return;
    m_navigating = true;
    m_page->load(QUrl::fromUserInput(address));
}

void LoginPanel::startLoadWait(LoadWait &wait, const QUrl &target, std::function<void()> then)
{
    wait.then = std::move(then);
    wait.target = target;
    wait.active = true;
    wait.timer.start(m_loadWaitMs);
}

void LoginPanel::endLoadWait(LoadWait &wait)
{
    if (!wait.active)
        return;
    wait.active = false;
    wait.timer.stop();
    if (auto then = std::exchange(wait.then, {}))
        then();
}

namespace {
bool sameAddress(const QUrl &a, const QUrl &b)
{
    const auto form = QUrl::StripTrailingSlash | QUrl::NormalizePathSegments | QUrl::RemoveFragment;
    return a.adjusted(form) == b.adjusted(form);
}
} // namespace

void LoginPanel::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
        return;
    m_navigating = false;
    // The page's requested address stays the one asked for when the site redirects it elsewhere.
    for (LoadWait *wait : {&m_goWait, &m_submitWait}) {
        if (wait->active && (wait->target.isEmpty() || sameAddress(m_page->requestedUrl(), wait->target) ||
                             sameAddress(info.url(), wait->target)))
            endLoadWait(*wait);
    }
}

bool LoginPanel::PanelLogin(bool withMessages)
{
    if (!fieldsComplete()) {
        if (withMessages)
            showMessage(MessageIcon::Critical, kMissingLogin);
        return false;
    }
    if (m_loginRunning)
        return false;
    m_loginRunning = true;
    Command5->setEnabled(false);
    startGo([this] { fillForm(); });
    return true;
}

void LoginPanel::fillForm()
{
    QPointer<LoginPanel> self(this);
    m_page->runJavaScript(kListInputs, [self](const QVariant &result) {
        if (!self)
            return;
        if (result.typeId() != QMetaType::QVariantList) {
            self->startPause(); // no document to work on
            return;
        }
        QList<LoginInput> inputs;
        for (const QVariant &item : result.toList()) {
            const QVariantList pair = item.toList();
            inputs.append({pair.value(0).toString(), pair.value(1).toString()});
        }
        self->applyPlan(planLogin(inputs));
    });
}

void LoginPanel::applyPlan(const LoginPlan &plan)
{
    const QString script =
        QStringLiteral(
            "(function(){var a=document.getElementsByTagName('INPUT');"
            "function put(list,v){list.forEach(function(i){try{a[i].value=v;}catch(e){}});}"
            "put(%1,%2);put(%3,%4);var s=%5;if(s>=0){try{a[s].click();}catch(e){}}return true;})()")
            .arg(jsIndexes(plan.accountFields), jsString(Text2->text().trimmed()),
                 jsIndexes(plan.passwordFields), jsString(Text3->text().trimmed()),
                 QString::number(plan.submitIndex));
    if (plan.submitIndex >= 0) {
        m_navigating = true;
        startLoadWait(m_submitWait, QUrl(), [this] { startPause(); });
        m_page->runJavaScript(script);
        return;
    }
    m_page->runJavaScript(script);
    startPause();
}

void LoginPanel::startPause()
{
    // Gives the site time to set its login cookies.
    m_pause.start(m_pauseMs);
}

void LoginPanel::finishLogin()
{
    m_loginRunning = false;
    Command5->setEnabled(true);
    Q_EMIT loginFinished();
}

void LoginPanel::onAutoLoginToggled(bool on)
{
    if (on && !fieldsComplete()) {
        showMessage(MessageIcon::Critical, kMissingLogin);
        Check2->setChecked(false);
    }
}

void LoginPanel::onReloadToggled(bool on)
{
    if (on)
        Timer2.start();
    else
        Timer2.stop();
}

void LoginPanel::closePanel()
{
    hide();
    if (!Check1->isChecked())
        m_page->load(QUrl(kBlank));
    if (!Check1->isChecked() && !Check2->isChecked())
        Text1->clear();
}

void LoginPanel::stopTimers()
{
    Timer2.stop();
}
