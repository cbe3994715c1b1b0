#include "core/search/pageyield.h"

#include "core/search/candidatelistmodel.h"
#include "core/search/resultpage.h"

PageYield MeasurePageYield(const PageSnapshot &page, const CandidateListModel &list)
{
    using Nothing = PageYield::Nothing;
    PageYield yield;
    if (!page.valid) {
        yield.nothing = Nothing::Unreadable;
        return yield;
    }
    if (!page.rejected.isEmpty()) {
        yield.nothing = Nothing::RefusedSelector;
        return yield;
    }
    // Counted as the list takes them: a paper listed twice on the page is one.
    for (const KeyedLink &paper : distinctPapers(page)) {
        ++yield.papers;
        if (!list.containsKey(paper.key))
            ++yield.fresh;
    }
    yield.nextPage = nextPageAnchor(page) >= 0;
    if (yield.fresh == 0)
        yield.nothing = yield.papers == 0 ? Nothing::NoPapers : Nothing::AllListed;
    return yield;
}
