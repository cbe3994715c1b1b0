#pragma once

#include "demo/demopaper.h"

#include <QList>
#include <QString>

// The HTML pages of the demo literature site. Every page carries the site's navigation bar and logo
// link, so a page always has links besides the paper list.
namespace DemoPages {

QString home();

// Result page `page` of `pageCount` for `query`, listing `papers`. The paper list is the one
// <div class="tablelist paperlist"> of the page and holds exactly one table; the pager below it has
// a next-page link with the text ">" on every page but the last.
QString results(const QString &query, int page, int pageCount, int total, const QList<DemoPaper> &papers);

// The same result page in the cards layout: each paper an <article class="paper-card"> with the title
// link in its <h3> and the authors, year and venue in elements of their own; the next page is the
// link with rel="next" and the text "下一页".
QString cardResults(const QString &query, int page, int pageCount, int total, const QList<DemoPaper> &papers);

// The same result page as a definition list <dl class="papers">: each paper a <dt> holding the title
// link (and, for some, a badge) and the <dd>s after it up to the next <dt>: the authors one
// <span class="author"> each after a label, the date as "发表于 YEAR 年" and the venue, and a PDF link
// <a class="pdf"> of its own (every paper but each fourth); the next page is the link of class "next".
QString defsResults(const QString &query, int page, int pageCount, int total, const QList<DemoPaper> &papers);

QString paperDetail(const DemoPaper &paper);
// The paper's own page as publishers write it, naming its full text and metadata in the standard tags
// of its head (fullText empty: a page that names none).
QString landingPage(const DemoPaper &paper, const QString &fullTextTags);

// The login form: inputs "username", "password" and a submit input, in this order.
QString login(const QString &message = QString());
QString loggedIn(const QString &account);
// Answer to a paper request without a login while the site requires one.
QString loginRequired();
// The page put in front of paper files until the visitor confirms; its form (GET or POST to
// /verify, fields "back" and "confirm", a submit button) leads back to `back` when submitted.
QString verification(const QString &back);
QString verified(const QString &back);
QString tooManyRequests(int retryAfterSeconds);
QString rangeNotSatisfiable();
QString about();
QString notFound();
QString methodNotAllowed();

QString searchPath(const QString &query, int page);
QString cardsSearchPath(const QString &query, int page);
QString defsSearchPath(const QString &query, int page);

// The site's logo, an SVG image.
QByteArray logo();

} // namespace DemoPages
