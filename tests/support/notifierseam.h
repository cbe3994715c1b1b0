#pragma once

#include "desktop/desktopnotifier.h"

// The tests' door to the notifier: a bus of the test's own in place of the session bus.
struct NotifierSeam
{
    static void setBus(DesktopNotifier &notifier, const QDBusConnection &bus) { notifier.setBus(bus); }
};
