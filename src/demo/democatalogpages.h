#pragma once

#include "demo/demohttp.h"
#include "demo/demopaper.h"

#include <QList>
#include <QString>
#include <optional>

// The pages of the demo site's paper catalogue: "/search?q=...&page=N" (result pages with the paper
// list and a ">" next-page link, as cards under "/cards/search", or as a definition list under
// "/defs/search"), "/paper/N" (a paper's page),
// "/paper/N.pdf" (its file, answered according to the paper's kind) and, when set, the papers' landing
// pages with the full texts they name.
//
// Files (papers answered 200) carry an ETag and Accept-Ranges: a GET with one byte range is answered 206
// with those bytes, one past the end 416, and one whose If-Range names another validator gets the whole
// file.
class DemoCatalogPages
{
public:
    void setPageSize(int size);
    int pageSize() const { return m_pageSize; }
    void setPaperCount(int count);
    int paperCount() const { return m_paperCount; }
    int pageCount() const;
    // The cards layout: the home address is the first result page in cards ("/cards/search?q=").
    // Both layouts are always served.
    void setCardsLayout(bool cards) { m_cardsLayout = cards; }
    bool cardsLayout() const { return m_cardsLayout; }
    // The definition-list layout: the home address is the first result page as a <dl>
    // ("/defs/search?q="). Served always, like the others.
    void setDefsLayout(bool defs) { m_defsLayout = defs; }
    bool defsLayout() const { return m_defsLayout; }
    // Paper links answer the paper's own page (its landing page) instead of its file; the page names the
    // full text in one of the ways publishers do (landingFilePath) or, for paper 5, not at all.
    void setLandingPages(bool on) { m_landingPages = on; }
    bool landingPages() const { return m_landingPages; }
    // With landing pages, the pages of papers 6 to 12 of every 25 offer no full text that can be taken,
    // one way each, as paywalled publishers' pages do: none named, a javascript:, data: or file: address,
    // the page itself, the paper's plain page (a web page, not a file), an ftp: address.
    void setPaywall(bool on) { m_paywall = on; }
    bool paywall() const { return m_paywall; }
    // Paper files (the PDF kinds) of this many bytes instead of their own few kilobytes; 0 for those.
    void setPaperSize(qint64 bytes) { m_paperSize = bytes; }
    qint64 paperSize() const { return m_paperSize; }
    // Paper files sent at this many bytes a second each; 0 as fast as the connection goes.
    void setPaperRate(qint64 bytesPerSecond) { m_paperRate = bytesPerSecond; }
    qint64 paperRate() const { return m_paperRate; }
    // The file's bytes exactly as sent, at the size set.
    QByteArray paperBytes(int number) const;
    // The paper's page offers no full text that can be taken (paper 5, and the paywalled ones).
    bool offersNoFullText(int number) const;

    QString paperMediaType(int number) const; // Content-Type of the file's answer without parameters
    bool paperHasContentLength(int number) const;
    // The strong validator of its file: the same for the same bytes. Empty for a paper answered 404.
    QByteArray paperETag(int number) const;
    QList<int> papersOfKind(DemoPaperKind kind) const;

    // The paper number in "/paper/N" or "/paper/N.pdf"; 0 when the path is neither. Only the plain
    // decimal spelling counts, so each paper has one address.
    static int paperNumber(const QString &path, bool *file);
    // The path of the full text paper N's landing page names; empty for the page that names none.
    static QString landingFilePath(int number);
    // The paper whose full text is at the path while landing pages are on; 0 for none.
    int fullTextNumber(const QString &path) const;

    // "/search", "/cards/search" or "/defs/search".
    static bool isResultPath(const QString &path);
    DemoResponse resultPage(const QUrl &url) const;
    // The paper's landing page; `fileUrl` is the address of its full text, which one of the ways names
    // in full.
    DemoResponse landingPage(int number, const QUrl &fileUrl) const;
    // The paper's file as its kind has it sent, or the byte range the request asks for. *sent tells
    // what of the file a GET answered 200 or 206 carries; empty for every other answer.
    DemoResponse paperFile(int number, const DemoRequest &request, std::optional<DemoSpan> *sent) const;

private:
    int m_pageSize = 10;
    int m_paperCount = 25;
    bool m_cardsLayout = false;
    bool m_defsLayout = false;
    bool m_landingPages = false;
    bool m_paywall = false;
    qint64 m_paperSize = 0;
    qint64 m_paperRate = 0;
};
