#include "app/windowsstart.h"

#include "core/common/messenger.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

bool windowsstart::hasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() || !qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    std::fputs("folionexus: no display is available (DISPLAY and WAYLAND_DISPLAY are unset).\n"
               "  Run it inside a virtual display:  xvfb-run -a folionexus\n",
               stderr);
    return false;
}

void windowsstart::prepareBrowserEnvironment()
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        std::fputs("folionexus: running as root, so the embedded browser runs without its sandbox\n", stderr);
    }
}

void windowsstart::nameApplication()
{
    QApplication::setOrganizationName(QStringLiteral("Folionexus"));
    QApplication::setApplicationName(kAppTitle);
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(FOLIONEXUS_VERSION_MAJOR)
                                            .arg(FOLIONEXUS_VERSION_MINOR)
                                            .arg(FOLIONEXUS_VERSION_PATCH));
    QApplication::setQuitOnLastWindowClosed(false);
}

QString windowsstart::modulePath()
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return QDir(QFileInfo(self.symLinkTarget()).absolutePath())
        .filePath(QStringLiteral(FOLIONEXUS_WINDOWS_MODULE));
}
