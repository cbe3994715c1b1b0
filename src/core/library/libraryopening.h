#pragma once

#include "core/library/paperlibrary.h"

#include <functional>

class QObject;
class QString;
class QThread;

// Opens the library and tells what the user must know: a damaged file that was set aside (the library
// is usable: a fresh one was made), or why it cannot be used at all. True when it is open.
bool openLibraryTelling(PaperLibrary &library,
                        const std::function<void(bool usable, const QString &message)> &tell);

// Opens the library on a thread of its own and hands it over, open, to the receiver's thread, so that
// thread does not wait on the disk (the folder made, a damaged file set aside, the schema brought up to
// date, the pages checked) meanwhile. done runs on the receiver's thread with the result; the library is
// usable there when it is ok. Both the library and the receiver outlive the opener, whose end waits for
// an opening still under way.
class LibraryOpener
{
public:
    using Done = std::function<void(const PaperLibrary::OpenResult &)>;

    LibraryOpener(PaperLibrary &library, QObject *receiver, Done done);
    ~LibraryOpener();
    LibraryOpener(const LibraryOpener &) = delete;
    LibraryOpener &operator=(const LibraryOpener &) = delete;

private:
    QThread *m_thread = nullptr;
};
