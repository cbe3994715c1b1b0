#include "core/library/programlibrary.h"

#include "core/library/paperlibrary.h"

namespace {
PaperLibrary *&current()
{
    static PaperLibrary *library = nullptr;
    return library;
}
} // namespace

PaperLibrary *programLibrary()
{
    return current();
}

void setProgramLibrary(PaperLibrary *library)
{
    current() = library;
}

bool openLibraryTelling(PaperLibrary &library,
                        const std::function<void(bool usable, const QString &message)> &tell)
{
    const PaperLibrary::OpenResult result = library.open();
    if (!result.message.isEmpty() && tell)
        tell(result.ok, result.message);
    return result.ok;
}
