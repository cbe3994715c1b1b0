#pragma once

#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <type_traits>

namespace diskwork {

// Runs fn on the event loop's thread if receiver (an object of that thread) is still there by then. A
// worker must not look at a QPointer and post to what it points at: the object may go in between. The
// post goes to the application object, which outlives every receiver, and the check is made there.
void postToReceiver(const QPointer<QObject> &receiver, std::function<void()> fn);

// Runs work on the shared pool and hands what it returns to done on the receiver's thread, if the
// receiver is still there by then.
template <typename Work, typename Done> void workThenPost(QObject *receiver, Work work, Done done)
{
    QThreadPool::globalInstance()->start(
        [guard = QPointer<QObject>(receiver), work = std::move(work), done = std::move(done)]() mutable {
            auto result = std::make_shared<std::invoke_result_t<Work &>>(work());
            postToReceiver(guard, [done = std::move(done), result] { done(*result); });
        });
}

} // namespace diskwork
