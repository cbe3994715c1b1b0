#pragma once

#include <QString>

class fCover;

// What the windows program does before its windows, shared by its two parts: the program itself, which
// shows the startup window at once, and the module it loads then, with everything that needs the browser
// engine (the engine's libraries take longer to load than the startup window takes to show).
namespace windowsstart {

// Whether a display can be had; false after saying on stderr how to get one.
bool hasDisplay();
// Chromium's sandbox cannot start as root; the browser then runs without it.
void prepareBrowserEnvironment();
// The application's names, version and quit rule (after the application object is made).
void nameApplication();
// The module beside this program (in a build and once installed alike).
QString modulePath();

// The module's entry points, looked up by these names (C linkage):
// int folionexus_windowless(int argc, char **argv): a batch run or the demo site alone, -1 for any other
//     command line;
// int folionexus_windows_main(int argc, char **argv): the whole windows program, options read first;
// void *folionexus_windows_begin(fCover *cover): the windows' run on the shown startup window, with the
//     application object made and the command line empty (null when it cannot start: the program ends);
// void folionexus_windows_end(void *run): the run's end, once the event loop has returned.
using WindowlessEntry = int (*)(int, char **);
using MainEntry = int (*)(int, char **);
using BeginEntry = void *(*)(fCover *);
using EndEntry = void (*)(void *);

} // namespace windowsstart
