#pragma once

struct PageSnapshot;
class CandidateListModel;

// What a page read offers the candidate list, known before anything is asked of the user: the papers
// its rules find, those not listed yet, whether it leads on to a next page, and why nothing can be
// taken from it.
struct PageYield
{
    enum class Nothing {
        None,            // there are papers the list does not hold yet
        Unreadable,      // no document could be read
        RefusedSelector, // the browser refused a selector of the page's rules: no paper is read
        NoPapers,        // the page's rules find no paper on it
        AllListed,       // every paper of the page is in the list already
    };
    int papers = 0;
    int fresh = 0;
    bool nextPage = false;
    Nothing nothing = Nothing::None;

    // A walk over the pages has work: fresh papers here, or a next page to go on to.
    bool walkHasWork() const
    {
        return nothing == Nothing::None ||
               (nextPage && (nothing == Nothing::NoPapers || nothing == Nothing::AllListed));
    }
};

PageYield MeasurePageYield(const PageSnapshot &page, const CandidateListModel &list);
