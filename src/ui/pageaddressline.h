#pragma once

#include <QLineEdit>

struct GivenAddress;
class QWebEnginePage;

// The address of the page on show, above a browser, read-only as a browser's address bar shows it
// while the page is not the user's to retype.
class PageAddressLine : public QLineEdit
{
    Q_OBJECT

public:
    explicit PageAddressLine(QWidget *parent = nullptr);

    // Follows the page's address from now on.
    void follow(QWebEnginePage *page);
    // Takes the top of the browser's rectangle (in the parent's coordinates) and gives back the rest.
    QRect placeAbove(const QRect &browser);
};

// Why an address the user typed is not opened: "不能打开“javascript:”网址：只能打开 http、https
// 网址或本机文件", "网址格式不对：……"; empty when it is opened.
QString givenAddressRefusalText(const GivenAddress &given, const QString &typed);
