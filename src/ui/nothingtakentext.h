#pragma once

#include "core/common/messenger.h"
#include "core/search/pageyield.h"

#include <QList>
#include <QString>
#include <QStringList>

struct PageSnapshot;
struct SiteRulesError;

// What the search window says when a page gives the list nothing: why, under which rules, and the
// rules files that could not be read (their rules play no part). For a walk over the pages, nothing
// means no fresh paper and no next page either.
struct NothingTakenMessage
{
    MessageIcon icon = MessageIcon::Information;
    QString text;
};
NothingTakenMessage nothingTakenMessage(const PageSnapshot &page, const PageYield &yield,
                                        const QList<SiteRulesError> &refused, bool walk);

// A rules file whose selectors the browser refused on the page: the file and the fields.
QString rejectedSelectorsText(const QString &file, const QStringList &fields);
