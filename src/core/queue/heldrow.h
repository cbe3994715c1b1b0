#pragma once

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
};

// Asked by the scheduler for every waiting row it looks at. Answers must come at once: work that takes
// longer answers Pending and wakes the scheduler when the row can be asked again.
class HeldRowCheck
{
public:
    virtual ~HeldRowCheck() = default;
    virtual HeldAnswer check(const DownloadRow &row) = 0;
};
