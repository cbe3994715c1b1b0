#pragma once

#include "core/library/papermetadata.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class CandidateListModel;

// What the page script reads from the document on show: plain data, so the rules below run without a browser.
struct PageLink
{
    QString text;     // inner text
    QString address;  // resolved absolute address; empty when the anchor has none
    PaperCells cells; // the other cells of its table row under their column headers
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
    QList<PageDiv> divs;     // every DIV in document order
    QStringList anchorTexts; // inner text of every A of the document, in document order
};

// Limits on what a page may hand over about one paper.
constexpr int MaxPaperCells = 40;
constexpr int MaxHeaderLength = 200;

// Script run in the page; its result is read by snapshotFromScriptResult.
QString pageSnapshotScript();
// Script that clicks the A element at the given position of the document's anchors.
QString clickAnchorScript(int anchorIndex);

PageSnapshot snapshotFromScriptResult(const QVariant &result);

// Position of the first DIV whose class, lower-cased, is exactly "tablelist paperlist"; -1 when none.
int findPaperListDiv(const PageSnapshot &page);

// Takes the papers of the page into the list with the given save folder. Returns the number of rows added.
int ExtractResultPage(const PageSnapshot &page, CandidateListModel &list, const QString &saveFolder);

// Position of the first anchor whose text, lower-cased and trimmed of spaces, is exactly ">"; -1 when none.
int findNextPageLink(const QStringList &anchorTexts);
