#pragma once

#include <QList>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWebEngineLoadingInfo;
class QWebEngineView;
class SilentWebPage;

// One INPUT element of the login page as the page script reports it.
struct LoginInput
{
    QString name;
    QString type;
};

// What the login fills and presses: input positions in document order.
struct LoginPlan
{
    QList<int> accountFields;
    QList<int> passwordFields;
    int submitIndex = -1; // -1: nothing is submitted
};

// The web login panel laid over the download list: a browser on the login page, the address, account
// and password, a test login, automatic login and a reload every minute that keeps the login alive.
// The waits are timers, so the window stays usable while a login runs.
class LoginPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int DefaultLoadWaitMs = 10000;
    static constexpr int DefaultPauseMs = 5000;
    static constexpr int BrowserTop = 84; // pixels below the panel's top edge

    explicit LoginPanel(QWidget *parent = nullptr);

    // Account, password and submit button of a login form, by the inputs' lower-cased names and types.
    static LoginPlan planLogin(const QList<LoginInput> &inputs);

    // Lengths of the waits: a page load or a submission, and the pause that lets the site set cookies.
    void setWaitLimits(int loadWaitMs, int pauseMs);

    // "浏览": opens the address and waits for it (at most the load wait).
    void go();
    // The login routine; true when it started. Quiet (withMessages false) for automatic logins.
    bool PanelLogin(bool withMessages);
    bool isLoggingIn() const { return m_loginRunning; }
    bool isNavigating() const { return m_navigating; }

    // Shows a page in the panel's browser (the selected row's link when the panel opens). Refused while
    // a login or a "浏览" waits for its page: the browser is theirs until they end.
    void openAddress(const QString &address);
    // "关闭(隐藏)".
    void closePanel();
    void stopTimers();

    bool fieldsComplete() const;

    // Where the address offered in 网址 comes from: asked each time the panel is shown with the box
    // empty, so the user finds the site's login page there instead of having to know its address.
    void setAddressOffer(std::function<QString()> offer) { m_addressOffer = std::move(offer); }

    QWebEngineView *WebBrowser1;
    QLineEdit *Text1;      // address
    QLineEdit *Text2;      // account
    QLineEdit *Text3;      // password
    QPushButton *Command2; // "浏览"
    QPushButton *Command5; // "测试登录"
    QCheckBox *Check2;     // "自动登录"
    QComboBox *Combo3;
    QCheckBox *Check1;     // "自动刷新(每分钟)"
    QPushButton *Command3; // "关闭(隐藏)"
    QLineEdit *TextPage;   // the address of the page on show, read-only as a browser shows it
    QTimer Timer2;

Q_SIGNALS:
    // The login page's title, for the window's status bar.
    void titleShown(const QString &title);
    void goFinished();
    void loginFinished();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // A wait that ends when the load it started has finished, or when its time is up. A finished load
    // of another address (the reload timer's, a row's link, a page's own navigation) does not end it.
    struct LoadWait
    {
        QTimer timer;
        std::function<void()> then;
        QUrl target; // the address the wait's own load asked for; empty: the next load to finish
        bool active = false;
    };

    void buildControls();
    // The address, account and password rows with their buttons and checks.
    void layOutFields(QGridLayout *grid);
    void placeBrowser();
    void startGo(std::function<void()> then);
    void startLoadWait(LoadWait &wait, const QUrl &target, std::function<void()> then);
    bool waiting() const { return m_goWait.active || m_submitWait.active || m_loginRunning; }
    void endLoadWait(LoadWait &wait);
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void fillForm();
    void applyPlan(const LoginPlan &plan);
    void startPause();
    void finishLogin();
    void onAutoLoginToggled(bool on);
    void onReloadToggled(bool on);

    std::function<QString()> m_addressOffer;
    SilentWebPage *m_page;
    QWidget *m_fields;
    LoadWait m_goWait;
    LoadWait m_submitWait;
    QTimer m_pause;
    int m_loadWaitMs = DefaultLoadWaitMs;
    int m_pauseMs = DefaultPauseMs;
    bool m_navigating = false;
    bool m_loginRunning = false;
};
