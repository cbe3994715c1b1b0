#pragma once

#include "core/references/referencelist.h"

#include <QString>

// How a reference list went into the download list, for the answer the user gets.
struct ReferenceImportTally
{
    ReferenceFormat format = ReferenceFormat::Unknown;
    int added = 0;
    int alreadyListed = 0; // papers the download list held before, under any spelling of their DOI
    int merged = 0;        // later listings of a paper the list named before
    QList<ReferenceEntry> refused;
    int noWay = 0;                // papers none of whose ways makes an address
    bool findersRefused = false;  // the user's finders.json could not be used: no finder was asked
    bool resolverRefused = false; // the DOI resolver of the options makes no address: the default was used
};

// Refused entries named in the message itself; every one of them is in its details.
constexpr int RefusedEntriesShown = 20;

// "第 12 行：没有 DOI、arXiv 编号或网址（foo）"
QString RefusedEntryLine(const ReferenceEntry &entry);
// "已从 BibTeX 列表导入 3 篇文献。另有 1 篇已在下载列表中。" and the first refused entries.
QString ReferenceImportText(const ReferenceImportTally &tally);
// Every refused entry, one a line; empty when the message names them all.
QString ReferenceImportDetails(const ReferenceImportTally &tally);
// "无法读取文献列表：文件不存在或无法打开（…）"
QString ReferenceListFailureText(const ReferenceList &list);
