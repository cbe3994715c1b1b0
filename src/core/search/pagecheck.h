#pragma once

#include "core/library/papermetadata.h"
#include "core/sites/siterules.h"

#include <QList>
#include <QString>
#include <QStringList>

struct PageSnapshot;

// What a site's rules find on a page, for the user who writes or mends them.
struct PageCheck
{
    struct Paper
    {
        QString title;
        QString fileAddress; // the address the paper is listed under
        PaperCells cells;
        QString link;        // the paper link (empty when the item has only a file address)
        bool byLink = false; // no file address was made: the paper's own page is read for the full text
    };

    // A recipe of rules of format 2 and the number of items it gave a value for.
    struct RecipeCount
    {
        QString field;
        QString selector;
        int items = 0;
    };

    static constexpr int FirstShown = 5;

    bool readable = false;
    QString pageAddress;
    QString rulesName;
    QString rulesFile;
    SiteRules::Origin origin = SiteRules::Origin::BuiltIn;
    int format = SiteRules::FormatVersion;
    int paperCount = 0; // papers the page would add to an empty list
    QList<Paper> first; // the first of them, at most the number asked for
    bool nextFound = false;
    QStringList unmatched; // "field (selector)" of every selector that matched nothing
    QStringList rejected;  // the same for selectors the browser refused; no paper is read then

    // Format 2: the paper items found, those among the papers taken by their link alone, the items with
    // no link (and no file address) and those with no title, and what each recipe found.
    int itemCount = 0;
    int byLinkCount = 0;
    int linklessCount = 0;
    int untitledCount = 0;
    QList<RecipeCount> recipes;
};

// What the rules find on the page, with the first `shown` papers in full (every one when negative).
PageCheck CheckResultPage(const PageSnapshot &page, int shown = PageCheck::FirstShown);

// The check as lines of text, as the window shows it and the batch mode prints it.
QString pageCheckText(const PageCheck &check);
// The check as a JSON document (UTF-8): one object per paper with its title, link, file address and
// fields (lists where the page gave several values), and what each recipe found. No control character
// stands in it unescaped.
QByteArray pageCheckJson(const PageCheck &check);
// Which rules apply, and where they come from.
QString rulesSourceText(const SiteRules &rules);
