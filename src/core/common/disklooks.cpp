#include "core/common/disklooks.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>

namespace {

std::atomic_int g_mainThreadLooks{0};

} // namespace

void countDiskLook()
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        ++g_mainThreadLooks;
}

int diskLooksOnMainThread()
{
    return g_mainThreadLooks.load();
}
