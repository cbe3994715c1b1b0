#include "ui/pageaddressline.h"

#include "core/search/givenaddress.h"

#include <QWebEnginePage>

PageAddressLine::PageAddressLine(QWidget *parent) : QLineEdit(parent)
{
    setObjectName(QStringLiteral("PageAddress"));
    setReadOnly(true);
    setFrame(true);
}

void PageAddressLine::follow(QWebEnginePage *page)
{
    connect(page, &QWebEnginePage::urlChanged, this, [this](const QUrl &url) {
        // The display form leaves out any password in the address.
        setText(url.toString() == u"about:blank" ? QString() : url.toDisplayString());
        setCursorPosition(0);
    });
}

QRect PageAddressLine::placeAbove(const QRect &browser)
{
    const int height = std::min(sizeHint().height(), browser.height());
    setGeometry(browser.x(), browser.y(), browser.width(), height);
    return browser.adjusted(0, height, 0, 0);
}

QString givenAddressRefusalText(const GivenAddress &given, const QString &typed)
{
    switch (given.refusal) {
    case GivenAddress::Refusal::Scheme:
        return QStringLiteral("不能打开“%1:”网址：只能打开 http、https 网址或本机文件").arg(given.scheme);
    case GivenAddress::Refusal::NotAnAddress:
        return QStringLiteral("网址格式不对：%1").arg(typed.trimmed());
    case GivenAddress::Refusal::Empty:
    case GivenAddress::Refusal::None:
        break;
    }
    return {};
}
