#pragma once

#include "core/search/pagesnapshot.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

struct SiteRules;

class CandidateListModel;

// Script run in the page with the rules' selectors and texts as JSON values; its result is read by
// snapshotFromScriptResult. The script's code is the same for every site.
QString pageRulesScript(const SiteRules &rules);
// Script that clicks the A element at the given position of the document's anchors.
QString clickAnchorScript(int anchorIndex);

PageSnapshot snapshotFromScriptResult(const QVariant &result);
// The same for a page read by the given rules: a page read by recipes has its values tidied and its
// file addresses made here.
PageSnapshot snapshotFromScriptResult(const QVariant &result, std::shared_ptr<const SiteRules> rules);

// The key a paper is listed under: its file address, else (format 2) its link; empty when it has
// neither or no title, and is no paper.
QString paperKey(const PageSnapshot &page, const PageLink &link);

// Position of the first DIV whose class, lower-cased, is exactly the given class lower-cased; -1 when none.
int findListDiv(const PageSnapshot &page, const QString &listClass);
// The same for "tablelist paperlist".
int findPaperListDiv(const PageSnapshot &page);

// The rules the page was read by; the built-in site's rules for a page read without any.
const SiteRules &pageRules(const PageSnapshot &page);

// The paper links of the page: those the rules read, or for a page read as its DIVs, the links of the one
// table of the first DIV whose class, lower-cased, is exactly "tablelist paperlist".
QList<PageLink> paperLinks(const PageSnapshot &page);
// The page's papers once each, in the page's order, with the key each is listed under: a link without a key,
// or with one an earlier link had, is left out.
struct KeyedLink
{
    PageLink link;
    QString key;
};
QList<KeyedLink> distinctPapers(const PageSnapshot &page);

// Takes the papers of the page into the list with the given save folder, file addresses made by the
// page's rules. Returns the number of rows added.
int ExtractResultPage(const PageSnapshot &page, CandidateListModel &list, const QString &saveFolder);

// Position of the first anchor whose text, lower-cased and trimmed of spaces, is exactly ">"; -1 when none.
int findNextPageLink(const QStringList &anchorTexts);
// Position among the document's anchors of the next-page link that the page's rules find; -1 when none.
int nextPageAnchor(const PageSnapshot &page);
