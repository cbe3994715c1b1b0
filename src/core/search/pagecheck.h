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
        QString fileAddress;
        PaperCells cells;
    };

    static constexpr int FirstShown = 5;

    bool readable = false;
    QString pageAddress;
    QString rulesName;
    QString rulesFile;
    SiteRules::Origin origin = SiteRules::Origin::BuiltIn;
    int paperCount = 0; // papers the page would add to an empty list
    QList<Paper> first; // the first of them, at most FirstShown
    bool nextFound = false;
    QStringList unmatched; // "field (selector)" of every selector that matched nothing
    QStringList rejected;  // the same for selectors the browser refused; no paper is read then
};

PageCheck CheckResultPage(const PageSnapshot &page);

// The check as lines of text, as the window shows it and the batch mode prints it.
QString pageCheckText(const PageCheck &check);
// Which rules apply, and where they come from.
QString rulesSourceText(const SiteRules &rules);
