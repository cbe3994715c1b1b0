#include "core/common/receiverpost.h"

#include <QCoreApplication>

namespace diskwork {

void postToReceiver(const QPointer<QObject> &receiver, std::function<void()> fn)
{
    QObject *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(
        application,
        [receiver, fn = std::move(fn)] {
            if (receiver)
                fn();
        },
        Qt::QueuedConnection);
}

} // namespace diskwork
