#include "demo/demopages.h"

#include <QUrl>

namespace {

const QString kSiteName = QStringLiteral("墨枢演示文献库");

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString page(const QString &title, const QString &body)
{
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<title>%1</title>\n<style>\n"
               "body{font-family:sans-serif;margin:0 2em 2em 2em;color:#222}\n"
               ".nav{background:#2f5d8a;padding:6px 10px;margin:0 -2em 1em -2em}\n"
               ".nav a{color:#fff;margin-right:1.5em;text-decoration:none}\n"
               ".paperlist table{border-collapse:collapse;width:100%}\n"
               ".paperlist td,.paperlist th{border-bottom:1px solid #ddd;padding:4px 6px;text-align:left}\n"
               ".pager a{margin:0 4px}\n.en{color:#555;font-size:90%}\n"
               "</style>\n</head>\n<body>\n"
               "<div class=\"nav\"><a href=\"/\">首页</a><a href=\"/search?q=\">全部文献</a>"
               "<a href=\"/login\">登录</a><a href=\"/about\">关于本站</a></div>\n"
               "<div class=\"header\"><a href=\"/\"><img src=\"/logo.svg\" width=\"240\" height=\"48\" "
               "alt=\"%2\"></a></div>\n%3</body>\n</html>\n")
        .arg(esc(title), kSiteName, body);
}

QString searchForm(const QString &query)
{
    return QStringLiteral("<form class=\"search\" action=\"/search\" method=\"get\">"
                          "<input type=\"text\" name=\"q\" value=\"%1\" size=\"40\"> "
                          "<input type=\"submit\" value=\"检索\"></form>\n")
        .arg(esc(query));
}

QString pagerLink(const QString &query, int page, const QString &text)
{
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(esc(DemoPages::searchPath(query, page)), text);
}

QString pager(const QString &query, int current, int pageCount)
{
    QString html = QStringLiteral("<div class=\"pager\">");
    if (current > 1) {
        html += pagerLink(query, 1, QStringLiteral("首页")) + QLatin1Char(' ');
        html += pagerLink(query, current - 1, QStringLiteral("&lt;")) + QLatin1Char(' ');
    }
    for (int n = 1; n <= pageCount; ++n)
        html +=
            (n == current ? QStringLiteral("<b>%1</b>").arg(n) : pagerLink(query, n, QString::number(n))) +
            QLatin1Char(' ');
    if (current < pageCount) {
        html += pagerLink(query, current + 1, QStringLiteral(" &gt; ")) + QLatin1Char(' ');
        html += pagerLink(query, pageCount, QStringLiteral("末页"));
    }
    return html + QStringLiteral("</div>\n");
}

QString paperRow(const DemoPaper &paper)
{
    return QStringLiteral("<tr><td>%1</td><td><a href=\"/paper/%1\">%2</a></td><td class=\"en\">%3</td>"
                          "<td>%4</td><td>%5</td><td>%6</td></tr>\n")
        .arg(QString::number(paper.number), esc(paper.title), esc(paper.englishTitle),
             esc(paper.authors.join(QStringLiteral("; "))), esc(paper.source), QString::number(paper.year));
}

// One paper of the definition-list layout: a term and the descriptions after it.
QString defsEntry(const DemoPaper &paper)
{
    QStringList authors;
    for (const QString &name : paper.authors)
        authors.append(QStringLiteral("<span class=\"author\">%1</span>").arg(esc(name)));
    const QString n = QString::number(paper.number);
    const QString badge =
        paper.number % 3 == 0 ? QStringLiteral(" <span class=\"badge\">开放获取</span>") : QString();
    const QString pdf =
        paper.number % 4 == 0
            ? QString()
            : QStringLiteral("<dd class=\"links\"><a class=\"pdf\" href=\"/paper/%1.pdf\">PDF</a>"
                             "</dd>\n")
                  .arg(n);
    return QStringLiteral(
               "<dt><a href=\"/paper/%1\">%2</a>%3</dt>\n"
               "<dd class=\"by\"><b>作者：</b>%4</dd>\n"
               "<dd class=\"meta\"><span class=\"date\">发表于 %5 年</span> · <span class=\"venue\">%6</span>"
               "</dd>\n%7")
        .arg(n, esc(paper.title), badge, authors.join(QStringLiteral(", ")), QString::number(paper.year),
             esc(paper.source), pdf);
}

} // namespace

namespace DemoPages {

QString searchPath(const QString &query, int page)
{
    QString path = QStringLiteral("/search?q=") + QString::fromLatin1(QUrl::toPercentEncoding(query));
    if (page > 1)
        path += QStringLiteral("&page=%1").arg(page);
    return path;
}

QString cardsSearchPath(const QString &query, int page)
{
    return QStringLiteral("/cards") + searchPath(query, page);
}

QString defsSearchPath(const QString &query, int page)
{
    return QStringLiteral("/defs") + searchPath(query, page);
}

QString home()
{
    return page(
        kSiteName,
        QStringLiteral(
            "<h1>%1</h1>\n%2"
            "<p>这是墨枢Folionexus自带的演示文献站点，运行在本机上。检索任意词语即可得到一组示例论文，"
            "在检索窗口中可以把结果页的论文加入列表并批量下载。演示帐号和密码都是 demo。</p>\n"
            "<p>This is the demo literature site that comes with Folionexus and runs on this computer. "
            "Search for anything to get a list of sample papers; the search window can add them to "
            "its list and download them in a batch. The demo account and password are both "
            "\"demo\".</p>\n"
            "<p><a href=\"/search?q=\">浏览全部文献</a> · <a href=\"/login\">登录</a></p>\n")
            .arg(kSiteName, searchForm(QString())));
}

QString results(const QString &query, int current, int pageCount, int total, const QList<DemoPaper> &papers)
{
    QString rows;
    for (const DemoPaper &paper : papers)
        rows += paperRow(paper);
    const QString shown =
        query.trimmed().isEmpty() ? QStringLiteral("全部文献") : QStringLiteral("检索词：%1").arg(esc(query));
    return page(
        QStringLiteral("检索结果 - ") + kSiteName,
        searchForm(query) +
            QStringLiteral("<p class=\"summary\">%1，共 %2 条结果，第 %3/%4 页</p>\n")
                .arg(shown, QString::number(total), QString::number(current), QString::number(pageCount)) +
            QStringLiteral("<div class=\"tablelist paperlist\">\n<table>\n"
                           "<tr><th>序号</th><th>题名</th><th>Title</th><th>作者</th><th>来源</th>"
                           "<th>年份</th></tr>\n") +
            rows + QStringLiteral("</table>\n</div>\n") + pager(query, current, pageCount));
}

QString cardResults(const QString &query, int current, int pageCount, int total,
                    const QList<DemoPaper> &papers)
{
    QString cards;
    for (const DemoPaper &paper : papers)
        cards += QStringLiteral(
                     "<article class=\"paper-card\">\n<h3><a href=\"/paper/%1\">%2</a></h3>\n"
                     "<div class=\"authors\">%3</div>\n<div class=\"meta\"><span class=\"year\">%4</span>"
                     " · <span class=\"venue\">%5</span></div>\n</article>\n")
                     .arg(QString::number(paper.number), esc(paper.title),
                          esc(paper.authors.join(QStringLiteral("; "))), QString::number(paper.year),
                          esc(paper.source));
    QString nav = QStringLiteral("<nav class=\"pages\">第 %1/%2 页").arg(current).arg(pageCount);
    if (current > 1)
        nav += QStringLiteral(" <a rel=\"prev\" href=\"%1\">上一页</a>")
                   .arg(esc(cardsSearchPath(query, current - 1)));
    if (current < pageCount)
        nav += QStringLiteral(" <a rel=\"next\" href=\"%1\">下一页</a>")
                   .arg(esc(cardsSearchPath(query, current + 1)));
    nav += QStringLiteral("</nav>\n");
    return page(
        QStringLiteral("检索结果 - ") + kSiteName,
        QStringLiteral("<p class=\"summary\">共 %1 条结果</p>\n<section class=\"cards\">\n").arg(total) +
            cards + QStringLiteral("</section>\n") + nav);
}

QString defsResults(const QString &query, int current, int pageCount, int total,
                    const QList<DemoPaper> &papers)
{
    QString entries;
    for (const DemoPaper &paper : papers)
        entries += defsEntry(paper);
    QString nav = QStringLiteral("<p class=\"pages\">第 %1/%2 页").arg(current).arg(pageCount);
    if (current < pageCount)
        nav += QStringLiteral(" <a class=\"next\" href=\"%1\">下一页 »</a>")
                   .arg(esc(defsSearchPath(query, current + 1)));
    nav += QStringLiteral("</p>\n");
    return page(QStringLiteral("检索结果 - ") + kSiteName,
                QStringLiteral("<p class=\"summary\">共 %1 条结果</p>\n<dl class=\"papers\">\n").arg(total) +
                    entries + QStringLiteral("</dl>\n") + nav);
}

QString paperDetail(const DemoPaper &paper)
{
    return page(paper.title + QStringLiteral(" - ") + kSiteName,
                QStringLiteral("<h1>%1</h1>\n<p class=\"en\">%2</p>\n<p>作者：%3</p>\n<p>来源：%4，%5</p>\n"
                               "<p><a href=\"/paper/%6.pdf\">下载全文</a></p>\n")
                    .arg(esc(paper.title), esc(paper.englishTitle),
                         esc(paper.authors.join(QStringLiteral("; "))), esc(paper.source),
                         QString::number(paper.year), QString::number(paper.number)));
}

QString landingPage(const DemoPaper &paper, const QString &fullTextTags)
{
    QString tags = QStringLiteral("<meta name=\"citation_title\" content=\"%1\">\n").arg(esc(paper.title));
    for (const QString &author : paper.authors)
        tags += QStringLiteral("<meta name=\"citation_author\" content=\"%1\">\n").arg(esc(author));
    const QString number = QString::number(paper.number);
    tags +=
        QStringLiteral("<meta name=\"citation_publication_date\" content=\"%1/03/01\">\n"
                       "<meta name=\"citation_journal_title\" content=\"%2\">\n"
                       "<meta name=\"DC.identifier\" content=\"doi:10.5555/demo.%3\">\n"
                       "<meta name=\"prism.volume\" content=\"%4\">\n"
                       "<meta name=\"citation_issue\" content=\"%5\">\n"
                       "<meta name=\"citation_firstpage\" content=\"%6\">\n"
                       "<meta name=\"citation_lastpage\" content=\"%7\">\n"
                       "<meta name=\"DC.publisher\" content=\"演示出版社\">\n"
                       "<meta name=\"citation_language\" content=\"zh\">\n"
                       "<meta name=\"citation_keywords\" content=\"演示; 文献\">\n"
                       "<meta name=\"DC.description\" content=\"%8\">\n")
            .arg(QString::number(paper.year), esc(paper.source), number, QString::number(paper.year - 1990),
                 QString::number(paper.number % 12 + 1), QString::number(paper.number * 10 + 1),
                 QString::number(paper.number * 10 + 9), esc(paper.englishTitle));
    tags += QStringLiteral("<meta property=\"og:title\" content=\"%1\">\n").arg(esc(paper.title));
    const QString head =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>%1 - %2</title>\n")
            .arg(esc(paper.title), kSiteName) +
        tags + fullTextTags + QStringLiteral("</head>\n");
    const QString body =
        QStringLiteral("<body>\n<h1>%1</h1>\n<p class=\"en\">%2</p>\n<p>作者：%3</p>\n"
                       "<p>来源：%4，%5</p>\n<h2>摘要</h2>\n<p>%2</p>\n</body>\n</html>\n")
            .arg(esc(paper.title), esc(paper.englishTitle), esc(paper.authors.join(QStringLiteral("; "))),
                 esc(paper.source), QString::number(paper.year));
    return head + body;
}

QString login(const QString &message)
{
    const QString note =
        message.isEmpty() ? QString() : QStringLiteral("<p class=\"error\">%1</p>\n").arg(esc(message));
    return page(QStringLiteral("登录 - ") + kSiteName,
                QStringLiteral("<h1>用户登录</h1>\n%1"
                               "<form class=\"login\" action=\"/login\" method=\"post\">\n"
                               "<p>帐号：<input type=\"text\" name=\"username\"></p>\n"
                               "<p>密码：<input type=\"password\" name=\"password\"></p>\n"
                               "<p><input type=\"submit\" value=\"登录\"></p>\n</form>\n")
                    .arg(note));
}

QString loggedIn(const QString &account)
{
    return page(QStringLiteral("已登录 - ") + kSiteName,
                QStringLiteral("<h1>已登录</h1>\n<p>欢迎，%1。现在可以下载全文了。</p>\n"
                               "<p><a href=\"/search?q=\">浏览全部文献</a></p>\n")
                    .arg(esc(account)));
}

QString loginRequired()
{
    return page(
        QStringLiteral("请先登录 - ") + kSiteName,
        QStringLiteral("<h1>请先登录</h1>\n<p>下载全文需要先登录。<a href=\"/login\">登录</a></p>\n"));
}

QString verification(const QString &back)
{
    return page(
        QStringLiteral("请完成验证 - ") + kSiteName,
        QStringLiteral("<h1>请完成验证</h1>\n"
                       "<p>检测到下载过于频繁。请点击下面的按钮完成验证，然后继续下载。</p>\n"
                       "<p class=\"en\">Please confirm that you are a person to go on downloading.</p>\n"
                       "<form class=\"verify\" action=\"/verify\" method=\"post\">\n"
                       "<input type=\"hidden\" name=\"back\" value=\"%1\">\n"
                       "<input type=\"hidden\" name=\"confirm\" value=\"1\">\n"
                       "<p><input type=\"submit\" id=\"verify\" value=\"完成验证\"></p>\n</form>\n")
            .arg(esc(back)));
}

QString verified(const QString &back)
{
    return page(QStringLiteral("验证成功 - ") + kSiteName,
                QStringLiteral("<h1>验证成功</h1>\n<p>现在可以继续下载了。<a href=\"%1\">返回</a></p>\n")
                    .arg(esc(back)));
}

QString tooManyRequests(int retryAfterSeconds)
{
    return page(QStringLiteral("429 Too Many Requests"),
                QStringLiteral("<h1>429 Too Many Requests</h1>\n<p>请求过于频繁，请 %1 秒后再试。</p>\n")
                    .arg(retryAfterSeconds));
}

QString rangeNotSatisfiable()
{
    return page(QStringLiteral("416 Range Not Satisfiable"),
                QStringLiteral("<h1>416 Range Not Satisfiable</h1>\n"));
}

QString about()
{
    return page(QStringLiteral("关于本站 - ") + kSiteName,
                QStringLiteral(
                    "<h1>关于本站</h1>\n<p>本站的论文均为演示用的示例文件，题名、作者和内容都是虚构的。</p>\n"
                    "<p>All papers on this site are made-up samples for trying the program out.</p>\n"));
}

QString notFound()
{
    return page(QStringLiteral("404 Not Found"),
                QStringLiteral("<h1>404 Not Found</h1>\n<p>页面不存在。</p>\n"));
}

QString methodNotAllowed()
{
    return page(QStringLiteral("405 Method Not Allowed"),
                QStringLiteral("<h1>405 Method Not Allowed</h1>\n"));
}

QByteArray logo()
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"240\" height=\"48\" viewBox=\"0 0 240 48\">"
           "<rect width=\"240\" height=\"48\" rx=\"6\" fill=\"#2f5d8a\"/>"
           "<text x=\"16\" y=\"31\" font-family=\"sans-serif\" font-size=\"18\" fill=\"#fff\">"
           "Folionexus Demo</text></svg>\n";
}

} // namespace DemoPages
