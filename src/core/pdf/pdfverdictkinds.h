#pragma once

// What the structure check of a PDF can find, as plain numbers shared by the check's own process and
// the program (no Qt here: the checker links only the PDF library).
namespace pdfverdict {

enum class State {
    Whole = 0,     // opens without repair
    Repaired = 1,  // the cross-reference data had to be rebuilt, but every page and content stream reads
    Encrypted = 2, // a password protects the pages
    Damaged = 3,   // not a paper a reader can open as it is
    NotChecked = 4 // the check could not come to a verdict (time, memory, the checker itself)
};

enum class Damage {
    None = 0,
    NotPdf = 1,      // no PDF header at the start
    CannotOpen = 2,  // no trailer or catalogue, even with repair
    NoPages = 3,     // the page tree holds no page
    MissingData = 4, // a page or content stream refers to an object that is not in the file
    BadStream = 5,   // a content stream cannot be decoded
    CutShort = 6,    // no end-of-file marker after the last object
    BadPageTree = 7, // the page tree loops or is not a tree
};

enum class Unchecked {
    None = 0,
    TimedOut = 1,      // the check took longer than it may
    OutOfMemory = 2,   // the check needed more memory than it may
    CheckerFailed = 3, // the checking process could not be started or ended without an answer
    Unreadable = 4,    // the file could not be read
};

} // namespace pdfverdict
