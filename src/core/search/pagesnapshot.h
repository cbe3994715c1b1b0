#pragma once

#include "core/library/papermetadata.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

struct SiteRules;

// What the page script reads from the document on show: plain data, so the rules below run without a browser.
struct PageLink
{
    QString text;     // inner text
    QString address;  // resolved absolute address; empty when the anchor has none
    PaperCells cells; // the other cells of its table row under their column headers
    // Format 2: the file address the rules made (empty: none, the paper is taken by its link, whose
    // page names the full text).
    QString fileAddress;
};

struct PageDiv
{
    QString className;          // the class attribute as written (empty when absent)
    int tableCount = 0;         // TABLE elements anywhere inside
    QList<PageLink> tableLinks; // the A elements inside its table, only read when there is exactly one table
};

struct PageSnapshot
{
    bool valid = false; // false when no document could be read
    QString documentAddress;
    QList<PageDiv> divs;     // every DIV in document order (a page read without a site's rules)
    QStringList anchorTexts; // inner text of every A of the document, in document order

    // A page read by a site's rules: the rules, the papers' links in document order, the next-page link
    // as a position among the document's anchors (-1: none), the fields whose selectors matched nothing
    // and those the browser refused. A page with a refused selector yields no paper.
    std::shared_ptr<const SiteRules> rules;
    bool itemsRead = false;
    QList<PageLink> items;
    // Read by rules of format 2: the items are every paper item found (also those without a link or a
    // title), and recipeHits the number of items each recipe gave a value for, in the rules' order of
    // recipes.
    bool recipesRead = false;
    QList<int> recipeHits;
    int nextAnchor = -1;
    QStringList unmatched;
    QStringList rejected;
};

// Limits on what a page may hand over about one paper.
constexpr int MaxPaperCells = 40;
constexpr int MaxHeaderLength = 200;
