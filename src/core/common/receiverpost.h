#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

namespace diskwork {

// Runs fn on the event loop's thread if receiver (an object of that thread) is still there by then. A
// worker must not look at a QPointer and post to what it points at: the object may go in between. The
// post goes to the application object, which outlives every receiver, and the check is made there.
void postToReceiver(const QPointer<QObject> &receiver, std::function<void()> fn);

} // namespace diskwork
