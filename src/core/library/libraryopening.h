#pragma once

#include <functional>

class PaperLibrary;
class QString;

// Opens the library and tells what the user must know: a damaged file that was set aside (the library
// is usable: a fresh one was made), or why it cannot be used at all. True when it is open.
bool openLibraryTelling(PaperLibrary &library,
                        const std::function<void(bool usable, const QString &message)> &tell);
