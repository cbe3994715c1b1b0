// Starts as the program does and says whether the browser engine's report would reach the terminal.
#include "app/qtlanguage.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <cstdio>

int main(int argc, char **argv)
{
    quietBrowserEngineLog();
    QCoreApplication app(argc, argv);
    const QLoggingCategory engine("qt.webenginecontext");
    std::printf("%d\n", engine.isInfoEnabled() ? 1 : 0);
    return 0;
}
