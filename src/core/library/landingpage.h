#pragma once

#include "core/library/papermetadata.h"

#include <QByteArray>
#include <QUrl>

// What a paper's own web page (its landing page) declares in the standard tags of its head: where its
// full text is, and the paper's metadata.
struct LandingPage
{
    // The full text's address, resolved against the page; empty when the page names none that may be
    // fetched (only http and https are).
    QUrl fullText;
    // The page named a full text on another scheme (file:, data:, javascript:, ...), which is refused.
    bool refusedTarget = false;
    // That address's scheme in lower case ("javascript"); empty when it has none that reads as one (an
    // http address without a host, or an address that is not one at all).
    QString refusedScheme;
    // The metadata the page declares, as cells under the headers the library knows.
    PaperMetadata metadata;
    // The page carries scholarly metadata tags at all (citation_*, Dublin Core, PRISM).
    bool declaresPaper = false;

    bool namesFullText() const { return fullText.isValid() && !fullText.isEmpty(); }
};

// Headers under which the landing page's metadata is kept (besides the ones the result pages use).
namespace landingcell {
inline const QString Authors = QStringLiteral("作者");
inline const QString Date = QStringLiteral("日期");
inline const QString Source = QStringLiteral("来源");
inline const QString Conference = QStringLiteral("会议");
inline const QString Doi = QStringLiteral("DOI");
inline const QString Volume = QStringLiteral("卷");
inline const QString Issue = QStringLiteral("期");
inline const QString FirstPage = QStringLiteral("起始页");
inline const QString LastPage = QStringLiteral("结束页");
inline const QString Publisher = QStringLiteral("出版者");
inline const QString Language = QStringLiteral("语言");
inline const QString Abstract = QStringLiteral("摘要");
inline const QString Keywords = QStringLiteral("关键词");
} // namespace landingcell

// At most this much of a page is read: the tags sit in its head, and a huge page costs no more.
constexpr qsizetype LandingPageReadLimit = 2 * 1024 * 1024;

// Reads the page (its first LandingPageReadLimit bytes, up to the end of its head) for
// <meta name|property="citation_pdf_url"> and then <link rel="alternate" type="application/pdf">, the
// first of each kind winning, and for the citation_*, DC.*, dc.*, prism.* and og:title metadata.
LandingPage ReadLandingPage(const QByteArray &page, const QUrl &pageAddress);

// The declared metadata added to what a result page gave: every cell the paper has keeps its text, the
// declared ones fill what is empty (title included) and add the rest.
PaperMetadata MergedMetadata(const PaperMetadata &kept, const PaperMetadata &declared);
