#include "core/common/backgroundthread.h"

#include <sched.h>

void MarkBackgroundThread()
{
    static thread_local bool marked = false;
    if (marked)
        return;
    marked = true;
#ifdef SCHED_BATCH
    // A worker woken while the event loop's thread or the network's runs would otherwise often take
    // that thread's place at once; on a machine of two cores that stalls the chain every paper passes
    // through. Failing leaves the thread as it was.
    const sched_param normal{};
    ::sched_setscheduler(0, SCHED_BATCH, &normal);
#endif
}
