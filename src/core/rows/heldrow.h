#pragma once

#include "core/library/papermetadata.h"
#include "core/rows/ownedfile.h"

#include <QString>

struct DownloadRow;

// What the queue hears when it asks whether a waiting row's paper is already on disk from an earlier
// download.
struct HeldAnswer
{
    enum class Kind {
        NotHeld, // fetch it
        Pending, // the answer is being worked out: pass the row over for now
        Held,    // the file below is the paper, unchanged: the row ends done without a request
    };
    Kind kind = Kind::NotHeld;
    QString folder; // with Held: where the file is (ending in "/"), its name and its type
    QString name;
    QString type;
    qint64 size = -1;
    // Where the held file came from when a paper's own page named it, and what that page declared.
    QString landingPage;
    QString fileAddress;
    PaperMetadata declared;
};

// Asked by the scheduler for every waiting row it looks at. Answers must come at once: work that takes
// longer answers Pending and wakes the scheduler when the row can be asked again.
class HeldRowCheck
{
public:
    virtual ~HeldRowCheck() = default;
    virtual HeldAnswer check(const DownloadRow &row) = 0;
};

// Asked by the scheduler before it skips a row on a file already at the row's target or replaces one:
// whether the paper library holds that file as another address's paper. The answer is worked out ahead,
// while the row waits for a fresh look at its name, so that the decision itself asks nothing.
class ForeignFileCheck
{
public:
    virtual ~ForeignFileCheck() = default;
    // Asks what the library knows of the file at path now; the ticket answeredSince takes.
    virtual quint64 ask(const QString &path) = 0;
    // An answer for the path asked after the ticket was given is in.
    virtual bool answeredSince(const QString &path, quint64 ticket) const = 0;
    // Whether the plain file seen at path is another address's paper by the answer in. A file the
    // library was not asked about counts as one: it is neither skipped on nor replaced.
    virtual bool holdsForAnother(const QString &path, const FileIdentity &seen,
                                 const QString &address) const = 0;
};
